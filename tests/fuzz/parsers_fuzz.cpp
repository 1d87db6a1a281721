// Fuzz target for the parsers of outside input other than the firmware file. Byte 0 chooses the
// parser (modulo 3); the rest is its input:
//   0  the port driver's stored inquiry data that NT 4 discovery walks. Byte 1, bits 0-1: how many
//      drive letters (d, e, f; 0 counts as 1) answer with the rest as their inquiry data; bit 2:
//      the capabilities query fails.
//   1  a simulation scenario (the rest as text, cut at a NUL), with byte 1 giving the size of
//      the reason buffer (0..63).
//   2  the terminal program's command line: the rest split at NUL bytes into arguments.
// Each checks what its callers rely on; AddressSanitizer reports any access outside a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/console/options.h"
#include "drive/drive.h"
#include "drive/nt_pass_through_transport.h"
#include "sim/nt_port.h"
#include "tests/support/system_os.h"
#include "sim/scenario.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "parsers_fuzz: %s\n", what);
  std::abort();
}

// The records discovery takes from the heap, counted.
class CountingOs final : public platform::WindowsOsWrapper {
 public:
  using WindowsOsWrapper::WindowsOsWrapper;
  void* heapAlloc(size_t size) override {
    ++recordsHeld;
    return std::calloc(1, size);
  }
  void heapFree(void* block) override {
    if (block != nullptr) --recordsHeld;
    std::free(block);
  }
  int recordsHeld = 0;
};

bool TerminatedWithin(const char* field, size_t size, size_t maxLength) {
  const size_t length = strnlen(field, size);
  return length < size && length <= maxLength;
}

// NT 4 discovery over the same stored inquiry data on one to three letters.
void FuzzStoredInquiryData(const uint8_t* data, size_t size) {
  if (size < 1) return;
  const int letters = (data[0] & 3) == 0 ? 1 : data[0] & 3;
  const bool capabilitiesFail = (data[0] & 4) != 0;
  const std::vector<uint8_t> bytes(data + 1, data + size);

  const std::unique_ptr<platform::WindowsOs> system = testsupport::NewSystemOs();
  CountingOs counting(*system);
  sim::NtPort port;
  sim::NtPortOs os(counting, port);
  NtPassThroughTransport nt4(os, true);
  const int& recordsHeld = counting.recordsHeld;
  for (int i = 0; i < letters; ++i) {
    const char letter = static_cast<char>('d' + i);
    port.Attach(letter, nullptr);
    port.SetRawInquiryData(letter, bytes);
    port.SetCapabilitiesFail(letter, capabilitiesFail);
  }
  DriveList drives;
  std::memset(&drives, 0xA5, sizeof drives);
  nt4.Discover(drives);
  if (drives.count > kMaxDrives) Fail("more than 8 drives listed");
  if (static_cast<int>(drives.count) != recordsHeld) Fail("a record is held but not listed");
  for (uint32_t i = 0; i < drives.count; ++i) {
    const DriveRecord* record = drives.records[i];
    if (record == nullptr) Fail("an empty slot is listed");
    if (!TerminatedWithin(record->identity, sizeof record->identity, 24)) {
      Fail("identity longer than 24 characters or not terminated");
    }
    if (!TerminatedWithin(record->revision, sizeof record->revision, 4)) {
      Fail("revision longer than 4 characters or not terminated");
    }
    const char letter = port.LetterOf(record->deviceHandle);
    if (letter < 'd' || letter >= 'd' + letters) Fail("a record without its letter's handle");
    if (port.WasClosed(record->deviceHandle)) Fail("a listed drive's handle is closed");
    if (capabilitiesFail && (record->alignmentMask != 0 || record->maxTransferLength != 0)) {
      Fail("capabilities set although their query failed");
    }
  }
  // Every letter's handle is either listed or closed.
  for (platform::Handle handle : port.openedHandles()) {
    bool listed = false;
    for (uint32_t i = 0; i < drives.count; ++i) listed |= drives.records[i]->deviceHandle == handle;
    if (!listed && !port.WasClosed(handle)) Fail("an unlisted letter's handle is left open");
  }
  nt4.ReleaseDrives(drives);
  if (recordsHeld != 0) Fail("records left after the list was released");
  for (platform::Handle handle : port.openedHandles()) {
    if (!port.WasClosed(handle)) Fail("a handle is left open after the list was released");
  }
}

void FuzzScenario(const uint8_t* data, size_t size) {
  if (size < 1) return;
  const size_t errorSize = data[0] % 64;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);  // cut at a NUL
  // A buffer of exactly errorSize bytes, so that a write past it is caught.
  std::vector<char> error(errorSize + 1, '\x7F');
  char* reason = errorSize != 0 ? error.data() : nullptr;
  sim::Scenario scenario;
  std::memset(&scenario, 0xA5, sizeof scenario);
  const bool ok = sim::ParseScenario(text.c_str(), scenario, reason, errorSize);
  if (error[errorSize] != '\x7F') Fail("the reason was written past its buffer");
  if (errorSize != 0 && strnlen(reason, errorSize) == errorSize) Fail("reason not terminated");
  if (ok) {
    if (errorSize != 0 && reason[0] != '\0') Fail("a reason after success");
    if (scenario.deviceCount > sim::kMaxScenarioDevices) Fail("more than 16 scenario devices");
    for (uint32_t i = 0; i < scenario.deviceCount; ++i) {
      if (scenario.devices[i] != sim::DeviceKind::kSupported &&
          scenario.devices[i] != sim::DeviceKind::kOtherOptical &&
          scenario.devices[i] != sim::DeviceKind::kDisk) {
        Fail("a device of no known kind");
      }
    }
    if (text.c_str()[0] == '\0' && (scenario.deviceCount != 1 || sim::HasFaults(scenario.faults))) {
      Fail("an empty scenario is not the default");
    }
  } else if (errorSize > 1 && reason[0] == '\0') {
    Fail("a failure without a reason");
  }
}

void FuzzCommandLine(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"fwloader"};
  const char* p = reinterpret_cast<const char*>(data);
  const char* end = p + size;
  while (p < end && args.size() < 64) {
    const char* nul = static_cast<const char*>(std::memchr(p, '\0', static_cast<size_t>(end - p)));
    const char* argEnd = nul != nullptr ? nul : end;
    args.emplace_back(p, argEnd);
    p = argEnd + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);

  ConsoleOptions options;
  std::string error;
  const bool ok =
      ParseConsoleOptions(static_cast<int>(args.size()), argv.data(), options, error);
  if (!ok) {
    if (error.empty()) Fail("a usage error without a reason");
    return;
  }
  // Every value came from the command line whole: an argument of its own, the part after the
  // "=" of --name=VALUE, or the rest of a short option's argument (-fVALUE).
  const auto isArgument = [&args](const std::string& value) {
    for (size_t i = 1; i < args.size(); ++i) {
      const std::string& arg = args[i];
      if (arg == value) return true;
      if (arg.size() <= value.size() + 1 ||
          arg.compare(arg.size() - value.size(), value.size(), value) != 0) {
        continue;
      }
      const char before = arg[arg.size() - value.size() - 1];
      const bool longForm = arg.compare(0, 2, "--") == 0 && before == '=';
      const bool shortForm = arg[0] == '-' && arg[1] != '-';
      if (longForm || shortForm) return true;
    }
    return false;
  };
  for (const std::string* value : {&options.firmwareFile, &options.traceFile,
                                   &options.simFlashFile, &options.device}) {
    if (!value->empty() && !isArgument(*value)) Fail("an option value that is no argument");
  }
  if (!options.scenario.empty() && !isArgument("--simulate=" + options.scenario)) {
    Fail("a scenario that is no --simulate= argument");
  }
  if (!options.scenario.empty() && !options.simulate) Fail("a scenario without --simulate");
  if (!options.simFlashFile.empty() && !options.simulate) Fail("--sim-flash without --simulate");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  switch (data[0] % 3) {
    case 0:
      FuzzStoredInquiryData(data + 1, size - 1);
      break;
    case 1:
      FuzzScenario(data + 1, size - 1);
      break;
    default:
      FuzzCommandLine(data + 1, size - 1);
      break;
  }
  return 0;
}
