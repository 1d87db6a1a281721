// A stand-in WNASPI32.dll for end-to-end runs of the Windows program: it exports the two ASPI
// entry points and hosts simulated drives on a sim::AspiManager instead of reaching hardware.
// It is a test fixture and is never installed beside the real program.
//
// Environment, read once at the first call:
//   FWLOADER_SIM        the scenario (sim/scenario.h), e.g. "drives=kdr+other,write-fail=3:6";
//                       unset or empty: one healthy supported drive
//   FWLOADER_SIM_FLASH  a file that receives the first supported drive's 512 KiB flash each time
//                       it has finished programming (seen at the next command, or when the
//                       library is released)
//   FWLOADER_SIM_PACE_MS  milliseconds each SCSI command takes (default 0), so that a run lasts
//                       long enough to be watched
//
// The drive's programming follows the real clock, as the program's own pauses and polls do.
// A scenario that does not parse gives an ASPI manager that failed to start (SS_FAILED_INIT),
// with the reason on standard error.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/aspi.h"
#include "platform/win32/win32_os.h"
#include "sim/aspi_manager.h"
#include "sim/clock.h"
#include "sim/kdr_drive.h"
#include "sim/scenario.h"
#include "sim/scenario_devices.h"

namespace {

constexpr uint8_t kTargetsPerAdapter = 8;
// Programming shortened from the drive model's default so that a run takes seconds, not ten.
constexpr uint32_t kProgramMs = 2000;
constexpr uint32_t kFinishMs = 300;

struct Bus {
  sim::SteadyClock clock;
  std::unique_ptr<sim::ScenarioDevices> devices;
  sim::KdrDrive* flashDrive = nullptr;  // the first supported drive
  std::unique_ptr<platform::WindowsOs> os = platform::NewWin32Os();  // the events of commands
  sim::AspiManager manager;
  bool failedInit = false;
  std::string flashPath;
  uint32_t dumpedCommits = 0;
  DWORD paceMs = 0;
};

CRITICAL_SECTION g_lock;
Bus* g_bus = nullptr;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

Bus* BuildBus() {
  auto* bus = new Bus;
  bus->manager.SetEvents(*bus->os);
  bus->flashPath = Env("FWLOADER_SIM_FLASH");
  bus->paceMs = static_cast<DWORD>(std::strtoul(Env("FWLOADER_SIM_PACE_MS").c_str(), nullptr, 10));

  const std::string text = Env("FWLOADER_SIM");
  sim::Scenario scenario{};
  char error[160] = "";
  if (!sim::ParseScenario(text.c_str(), scenario, error, sizeof error)) {
    std::fprintf(stderr, "WNASPI32 stand-in: FWLOADER_SIM \"%s\": %s\n", text.c_str(), error);
    bus->failedInit = true;
    return bus;
  }
  sim::KdrDriveConfig config;
  config.programMs = kProgramMs;
  config.finishMs = kFinishMs;
  bus->devices = std::make_unique<sim::ScenarioDevices>(scenario, bus->clock, config);
  bus->flashDrive = bus->devices->supportedDrive();
  // One adapter per eight devices, targets 0 to 7, in scenario order: the discovery order.
  uint8_t unique[16];
  sim::SetHaUnique(unique, 0x0001, kTargetsPerAdapter, 0x10000);
  for (uint32_t i = 0; i < bus->devices->count(); ++i) {
    if (i % kTargetsPerAdapter == 0) bus->manager.AddAdapter(unique);
    bus->manager.AddTarget(static_cast<uint8_t>(i / kTargetsPerAdapter),
                           static_cast<uint8_t>(i % kTargetsPerAdapter), &bus->devices->at(i));
  }
  return bus;
}

Bus& TheBus() {
  if (g_bus == nullptr) g_bus = BuildBus();
  return *g_bus;
}

// Writes the flash once per finished programming, so that the file shows the last image the
// drive took. Called after every command, and when the library is released: the program stops
// polling as soon as the drive reports all bytes done, and the drive ends programming a little
// later.
void DumpFlashAfterProgramming(Bus& bus) {
  sim::KdrDrive* drive = bus.flashDrive;
  if (drive == nullptr || bus.flashPath.empty()) return;
  if (drive->commits() == bus.dumpedCommits || drive->programming()) return;
  if (!drive->DumpFlash(bus.flashPath)) {
    std::fprintf(stderr, "WNASPI32 stand-in: cannot write %s\n", bus.flashPath.c_str());
  }
  bus.dumpedCommits = drive->commits();
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo(void) {
  EnterCriticalSection(&g_lock);
  Bus& bus = TheBus();
  const DWORD info = bus.failedInit ? DWORD{SS_FAILED_INIT} << 8 : bus.manager.GetSupportInfo();
  LeaveCriticalSection(&g_lock);
  return info;
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* srb) {
  EnterCriticalSection(&g_lock);
  Bus& bus = TheBus();
  DWORD status;
  if (bus.failedInit) {
    status = SS_FAILED_INIT;
    if (srb != nullptr) static_cast<uint8_t*>(srb)[1] = SS_FAILED_INIT;
  } else {
    if (bus.paceMs > 0 && srb != nullptr && static_cast<uint8_t*>(srb)[0] == SC_EXEC_SCSI_CMD) {
      Sleep(bus.paceMs);
    }
    status = bus.manager.SendCommand(srb);
    DumpFlashAfterProgramming(bus);
  }
  LeaveCriticalSection(&g_lock);
  return status;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&g_lock);
  } else if (reason == DLL_PROCESS_DETACH) {
    if (g_bus != nullptr) DumpFlashAfterProgramming(*g_bus);
    if (reserved == nullptr) {
      // Unloaded by FreeLibrary (not at process exit): the simulated bus goes with it.
      delete g_bus;
      g_bus = nullptr;
      DeleteCriticalSection(&g_lock);
    }
  }
  return TRUE;
}
