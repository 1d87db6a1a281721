// fwloader for Linux: the dialog logic behind a terminal front end, against the drives at
// /dev/sr* or, with --simulate, against simulated drives.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/console/console_ui.h"
#include "app/console/options.h"
#include "app/console/output_files.h"
#include "app/console/terminal_text.h"
#include "app/real_services.h"
#include "app/update_dialog.h"
#include "drive/command_trace.h"
#include "drive/linux/sg_io_transport.h"
#include "engine/flash_updater.h"
#include "fw_version.h"
#include "platform/linux/capabilities.h"
#include "platform/platform.h"
#include "sim/clock.h"
#include "sim/nt_port.h"
#include "sim/scenario.h"
#include "sim/scenario_devices.h"
#include "sim/simulated_time.h"

namespace {

constexpr int kExitUpdated = 0;
constexpr int kExitFailed = 1;
constexpr int kExitSetUp = 2;
constexpr int kExitNotStarted = 3;

ConsoleUi* ui = nullptr;

int ConsoleMessageBox(void*, const char* text, const char* caption, uint32_t style) {
  return ui->MessageBox(text, caption, style);
}

// In simulation the computer is never restarted: the request is only reported.
bool SimulatedShutdownPrivilege() { return true; }
bool SimulatedExitWindows(uint32_t flags) {
  ui->Say("Simulation: the computer would restart now (ExitWindowsEx flags " +
          std::to_string(flags) + "); it is not restarted.");
  return true;
}

// Real drives are reached natively, whatever Windows family the seam reports.
DriveTransport& NativeTransport(uint8_t, uint8_t) { return SgIoTransport(); }

// WRITE BUFFER through SG_IO needs root or CAP_SYS_RAWIO.
bool MaySendWriteBuffer() { return platform::HoldsCapability(platform::kCapSysRawio); }

// Standard input, output and error that were closed when the program started are opened on
// /dev/null first: otherwise the next file opened (the trace) would take their number, and the
// log lines or the dialog would be written into it. False when that cannot be done.
bool KeepStandardStreamsOpen() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened < 0) return false;
    if (opened != fd) {
      const bool moved = dup2(opened, fd) == fd;
      close(opened);
      if (!moved) return false;
    }
  }
  return true;
}

// Ctrl-C must not kill the program in the middle of an update, which would leave the drive
// with half an image or stop the reports while it programs its flash. It is taken as the Close
// command instead: outside a run it ends the program, during a run it asks "Terminate???".
//
// SIGTERM and SIGHUP (a dropped session) ask for termination without a question: the run stops
// at its next check, and once the drive is programming the program waits for it and reports.
// A closed pipe on standard output or error loses that text, never the run: SIGPIPE is ignored.
// The handlers only record the signal; the command loop acts on it.
std::atomic<bool> interruptSeen{false};
std::atomic<int> terminationSignal{0};
std::atomic<int> terminationCount{0};

extern "C" void OnInterrupt(int) { interruptSeen = true; }

extern "C" void OnTermination(int signo) {
  terminationSignal = signo;
  terminationCount.fetch_add(1);
}

void TakeSignals() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  action.sa_handler = OnTermination;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
}

// Runs the Close command for a Ctrl-C seen since the last call; true when there was one.
bool CloseOnInterrupt(UpdateDialog& dialog, ConsoleUi& screen) {
  if (!interruptSeen.exchange(false)) return false;
  if (dialog.RunActive()) {
    screen.Say("Ctrl-C: an update is in progress; Close asks whether to terminate it.");
  }
  dialog.OnClose();
  return true;
}

// Acts on SIGTERM and SIGHUP seen since the last call, each as a confirmed "Terminate???";
// true once one has been seen. A repeated signal changes nothing: the drive is left to finish.
bool TerminateOnSignal(UpdateDialog& dialog, ConsoleUi& screen) {
  static int handled = 0;
  const int seen = terminationCount.load();
  if (seen == handled) return handled != 0;
  handled = seen;
  const std::string name = terminationSignal.load() == SIGHUP ? "SIGHUP" : "SIGTERM";
  if (dialog.RunActive()) {
    screen.Say("Terminated by " + name + ": the update stops at its next check; a drive that is "
               "already programming its flash is left to finish, and fwloader waits for it.");
  } else {
    screen.Say("Terminated by " + name + ".");
  }
  dialog.TerminateWithoutAsking();
  return true;
}

void WaitForRunEnd(UpdateDialog& dialog, ConsoleUi& screen) {
  while (dialog.RunActive()) {
    TerminateOnSignal(dialog, screen);
    CloseOnInterrupt(dialog, screen);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// The simulated drive's flash, written close-on-exec like every file the program opens.
bool WriteFlashFile(const std::string& path, const std::vector<uint8_t>& flash) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < flash.size()) {
    const ssize_t wrote = write(fd, flash.data() + done, flash.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
  return close(fd) == 0 && done == flash.size();
}

// A command typed on the terminal, handled as the dialog's controls would.
void HandleCommand(const std::string& line, UpdateDialog& dialog, ConsoleUi& screen) {
  if (line.empty()) {
    dialog.OnOk();  // Enter
    if (dialog.RunActive()) screen.Say("(a run is in progress: Enter does not close the dialog)");
    return;
  }
  char c = static_cast<char>(line[0] | 0x20);
  if (line[0] >= '1' && line[0] <= '9') {
    size_t index = 0;
    if (!DriveIndexFromCommand(line, screen.State(kDriveList).entries.size(), index)) {
      screen.Say("No such drive in the list.");
      return;
    }
    screen.SelectComboEntry(kDriveList, static_cast<int>(index));
    dialog.OnDriveSelected();
  } else if (c == 'u') {
    if (!screen.State(kUpgradeButton).enabled) {
      screen.Say("Upgrade is disabled.");
      return;
    }
    dialog.OnUpgrade();
  } else if (c == 'a') {
    dialog.OnSysCommand(kAboutCommand);
  } else if (c == 'c' || c == 'q') {
    dialog.OnClose();
  } else if (c == 'd') {
    screen.DrawDialog();
  } else {
    screen.Say("Keys: a number selects a drive, u Upgrade, a About, c Close, d redraw, Enter OK.");
  }
}

}  // namespace

int main(int argc, char** argv) {
  TakeSignals();
  if (!KeepStandardStreamsOpen()) return kExitSetUp;
  ConsoleOptions options;
  std::string error;
  if (!ParseConsoleOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "fwloader: %s\n%s", TerminalText(error).c_str(), ConsoleUsage());
    return kExitSetUp;
  }
  if (options.help) {
    std::fputs(ConsoleUsage(), stderr);
    return 0;
  }
  if (options.version) {
    std::fputs("fwloader " FW_VERSION_TEXT "\n", stderr);
    return 0;
  }

  sim::Scenario scenario{};
  if (options.simulate) {
    char reason[160];
    if (!sim::ParseScenario(options.scenario.c_str(), scenario, reason, sizeof reason)) {
      std::fprintf(stderr, "fwloader: --simulate: %s\n", reason);
      return kExitSetUp;
    }
  }
  // The files written must not be the firmware file, which the run reads after the trace has
  // been opened, nor each other.
  const std::string firmwareFile =
      options.firmwareFile.empty() ? kDefaultFirmwareFile : options.firmwareFile;
  if (!CheckOutputFiles(firmwareFile, options.traceFile, options.simFlashFile, error)) {
    std::fprintf(stderr, "fwloader: %s\n", TerminalText(error).c_str());
    return kExitSetUp;
  }
  std::FILE* trace = nullptr;
  if (!options.traceFile.empty()) {
    trace = std::fopen(options.traceFile.c_str(), "we");  // not inherited by a restart command
    if (trace == nullptr) {
      std::fprintf(stderr, "fwloader: cannot write the trace file %s\n",
                   TerminalText(options.traceFile).c_str());
      return kExitSetUp;
    }
    drive::SetCommandTrace(trace);
  }

  ConsoleUi screen(isatty(STDIN_FILENO) != 0, isatty(STDERR_FILENO) != 0);
  screen.AnswerSafelyOnceSet(&terminationCount);
  ui = &screen;
  platform::Os& os = platform::os();
  os = platform::RealOs();
  os.messageBox = ConsoleMessageBox;

  // Simulated drives answer on drive letters c, d, ... in scenario order. Their programming
  // takes a few seconds of the simulation's clock, which the program's sleeps and tick count
  // follow too: real time, or faster by the scenario's time scale.
  sim::ScaledClock clock(options.simulate ? scenario.timeScale : 1);
  sim::KdrDriveConfig driveConfig;
  driveConfig.programMs = 1500;
  driveConfig.finishMs = 300;
  std::unique_ptr<sim::ScenarioDevices> devices;
  std::unique_ptr<sim::NtPort> port;
  if (options.simulate) {
    devices = std::make_unique<sim::ScenarioDevices>(scenario, clock, driveConfig);
    port = std::make_unique<sim::NtPort>();
    for (uint32_t i = 0; i < devices->count(); ++i) {
      port->Attach(static_cast<char>('c' + i), &devices->at(i));
    }
    port->Install(os);
    sim::InstallSimulatedTime(os, clock);
    os.acquireShutdownPrivilege = SimulatedShutdownPrivilege;
    os.exitWindows = SimulatedExitWindows;
    screen.Say("Simulation: " + std::to_string(devices->count()) +
               " simulated device(s) in place of /dev/sr*.");
  } else if (!MaySendWriteBuffer()) {
    screen.Say("Note: this process is neither root nor holds CAP_SYS_RAWIO, so Linux will refuse "
               "the WRITE BUFFER commands of an update: the update will fail. Run fwloader as "
               "root (or with --simulate to try it on a simulated drive).");
  }

  int status;
  {
    // The drives: /dev/sr* through SG_IO, or the simulated ones behind the seam's drive letters.
    DialogServices services = RealDialogServices();
    if (!options.simulate) services.transportFor = NativeTransport;
    UpdateDialog dialog(screen, services);
    if (!options.firmwareFile.empty()) dialog.firmwarePreset = options.firmwareFile.c_str();
    dialog.OnInitDialog();
    screen.DrawDialog();

    screen.StartInput();
    bool interactive = isatty(STDIN_FILENO) != 0;
    while (screen.EndResult() < 0) {
      if (TerminateOnSignal(dialog, screen) || !interactive) {
        // Nobody to ask, or told to end: close once the run has ended, or at once if none started.
        WaitForRunEnd(dialog, screen);
        dialog.OnClose();
        break;
      }
      std::string line;
      bool endOfInput = false;
      if (CloseOnInterrupt(dialog, screen)) continue;
      if (screen.NextCommand(line, 100, endOfInput)) {
        HandleCommand(line, dialog, screen);
      } else if (endOfInput) {
        WaitForRunEnd(dialog, screen);
        dialog.OnClose();
      }
    }
    WaitForRunEnd(dialog, screen);
    dialog.OnDestroy();

    if (dialog.runsStarted == 0) {
      status = kExitNotStarted;
    } else {
      status = dialog.LastOutcome() == UpdateOutcome::kSucceeded ? kExitUpdated : kExitFailed;
    }
    screen.Say(status == kExitUpdated   ? "fwloader: the update succeeded."
               : status == kExitFailed  ? "fwloader: the update failed."
                                        : "fwloader: no update was started.");
  }

  if (!options.simFlashFile.empty()) {
    sim::KdrDrive* drive = devices->supportedDrive();
    if (drive == nullptr) {
      screen.Say("fwloader: no simulated supported drive, so no flash was written.");
    } else if (!WriteFlashFile(options.simFlashFile, drive->flash())) {
      std::fprintf(stderr, "fwloader: cannot write the simulated flash to %s\n",
                   TerminalText(options.simFlashFile).c_str());
      status = kExitSetUp;
    }
  }
  if (trace != nullptr) {
    drive::SetCommandTrace(nullptr);
    std::fclose(trace);
  }
  ui = nullptr;
  return status;
}
