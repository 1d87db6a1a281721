// fwloader for Linux: its own front end over the update engine, against the drives at /dev/sr*
// or, with --simulate, against simulated drives.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/console/engine_texts.h"
#include "app/console/firmware_check.h"
#include "app/console/json_text.h"
#include "app/console/options.h"
#include "app/console/output_files.h"
#include "app/console/phase_view.h"
#include "app/console/signals.h"
#include "app/console/terminal_text.h"
#include "app/console/tool_output.h"
#include "app/console/update_command.h"
#include "app/console/update_report.h"
#include "app/update_dialog.h"
#include "drive/command_trace.h"
#include "drive/linux/sg_io_transport.h"
#include "drive/numbered_transport.h"
#include "fw_version.h"
#include "platform/linux/capabilities.h"
#include "platform/linux/kernel.h"
#include "platform/linux/linux_os.h"
#include "platform/os.h"
#include "sim/clock.h"
#include "sim/device_transport.h"
#include "sim/scenario.h"
#include "sim/scenario_devices.h"
#include "sim/simulated_time.h"

namespace {

// The program's operating system: the Linux binding (under simulation on the simulation's
// clock), with the engine's message boxes kept with its other texts and not shown: the terminal
// says things in the tool's words. The engine's only yes/no questions offer to restart the
// computer, which Linux does not need for an optical drive: they are answered No, silently.
class ConsoleOs final : public platform::OsWrapper {
 public:
  ConsoleOs(platform::Os& target, EngineTexts& texts) : OsWrapper(target), texts_(texts) {}
  int messageBox(void*, const char* text, const char*, uint32_t style) override {
    texts_.AddMessage(text);
    if ((style & 0x0F) == platform::kMbYesNo) return platform::kIdNo;
    if ((style & 0x0F) == platform::kMbOkCancel) return platform::kIdCancel;
    return platform::kIdOk;
  }

 private:
  EngineTexts& texts_;
};

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

// The simulated drive's flash, into the file opened for it at start.
bool WriteFlashFile(int fd, const std::vector<uint8_t>& flash) {
  if (fd < 0) return false;
  size_t done = 0;
  while (done < flash.size()) {
    const ssize_t wrote = write(fd, flash.data() + done, flash.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
  return done == flash.size();
}

// The trace file, closed on every way out (after the transports that write it).
struct TraceFile {
  std::FILE* file = nullptr;
  std::unique_ptr<drive::CommandTrace> trace;
  ~TraceFile() {
    if (file != nullptr) std::fclose(file);
  }
};

// The descriptor of the --sim-flash file, opened at start and closed on every way out.
struct FlashFile {
  int fd = -1;
  ~FlashFile() {
    if (fd >= 0) close(fd);
  }
};

// --simulate's drives: the scenario's devices as /dev/sr0, /dev/sr1, ... in scenario order,
// behind the transport that executes each command on them. Their programming takes a few
// seconds of the simulation's clock, which the program's sleeps and tick count follow too.
struct SimulatedDrives {
  SimulatedDrives(platform::Os& os, const sim::Scenario& scenario, sim::Clock& clock)
      : devices(scenario, clock, DriveConfig()), transport(os, devices.all()) {}

  static sim::KdrDriveConfig DriveConfig() {
    sim::KdrDriveConfig config;
    config.programMs = 1500;
    // The program counts the update as done only when a poll lands in this last stretch; a
    // second of the clock keeps several polls inside it even when the clock runs 20 times as
    // fast.
    config.finishMs = 1000;
    return config;
  }

  sim::ScenarioDevices devices;
  sim::DeviceTransport transport;
};

// The command line. False when the program ends here, with `status` its exit status: a usage
// error (one line naming it on standard error, and the document with --json), --help or
// --version.
bool ReadCommandLine(int argc, char** argv, ConsoleOptions& options, int& status) {
  std::string error;
  if (!ParseConsoleOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "fwloader: %s\nTry 'fwloader --help' for more information.\n",
                 TerminalText(error).c_str());
    if (JsonAsked(argc, argv)) ResultOutput(true).Emit(UsageErrorJson(error));
    status = kExitSetUp;
    return false;
  }
  if (!options.help && !options.version) return true;
  if (options.json) {
    ResultOutput(true).Emit(options.help ? HelpJson() : VersionJson());
    status = 0;
    return false;
  }
  std::fputs(options.help ? ConsoleUsage() : "fwloader " FW_VERSION_TEXT "\n", stdout);
  status = std::fflush(stdout) == 0 ? 0 : kExitSetUp;
  return false;
}

// A failure before the run says why on standard error, and with --json in the document.
int SetUpError(const ResultOutput& output, const char* command, const std::string& message) {
  std::fprintf(stderr, "fwloader: %s\n", TerminalText(message).c_str());
  output.Emit(SetUpErrorJson(command, message));
  return kExitSetUp;
}

// A malformed --simulate value is a usage error like a malformed option.
int ScenarioError(const ResultOutput& output, const char* reason) {
  const std::string message = std::string("option '--simulate': ") + reason;
  std::fprintf(stderr, "fwloader: %s\nTry 'fwloader --help' for more information.\n",
               TerminalText(message).c_str());
  output.Emit(UsageErrorJson(message));
  return kExitSetUp;
}

// Before anything reaches a drive: the firmware file as the loaders take it (a file they refuse
// gets no command sent, not even the first START STOP UNIT), and on real drives the capability
// that Linux requires for WRITE BUFFER (without it an update would stop half way). -1 when the
// update may go on; otherwise the exit status.
int RefusalBeforeDrives(platform::Os& os, const std::string& firmwareFile,
                        const ConsoleOptions& options, const ResultOutput& output,
                        FirmwareSummary& summary) {
  if (!CheckFirmwareFile(os, firmwareFile, summary)) {
    std::fprintf(stderr, "fwloader: the firmware file %s is refused: %s\n",
                 TerminalText(firmwareFile).c_str(), TerminalText(summary.message).c_str());
    if (!summary.reason.empty()) std::fprintf(stderr, "fwloader: %s\n", summary.reason.c_str());
    std::fprintf(stderr, "fwloader: nothing was sent to any drive.\n");
    output.Emit(JsonEnvelope("update", kExitFileRefused)
                    .AddRaw("file", SummaryJson(summary).Text())
                    .AddRaw("update", JsonObject()
                                          .Add("file", firmwareFile)
                                          .Add("outcome", "file refused")
                                          .Text())
                    .AddRaw("error", FileErrorJson(summary).Text())
                    .Text());
    return kExitFileRefused;
  }
  if (!options.simulate && !MaySendWriteBuffer()) {
    return SetUpError(output, "update",
                      "an update needs root or CAP_SYS_RAWIO, which Linux requires for WRITE "
                      "BUFFER; nothing was sent (--list and --check work without them; "
                      "--simulate rehearses an update)");
  }
  return -1;
}

// --device: the one drive the update may use, as its number (-1: any). False when it is not a
// supported drive, said on the screen and in the document.
bool ChosenDevice(const ConsoleOptions& options, NumberedTransport& devices, PhaseView& view,
                  const ResultOutput& output, int& onlyDevice) {
  onlyDevice = -1;
  if (options.device.empty()) return true;
  std::string refusal;
  if (CheckChosenDevice(devices, options.device, onlyDevice, refusal)) return true;
  view.Say("fwloader: " + refusal + "; nothing was sent to it.");
  std::fputs("fwloader: no update was started.\n", stdout);
  output.Emit(JsonEnvelope("update", kExitNotStarted)
                  .AddRaw("update", JsonObject()
                                        .Add("device", options.device)
                                        .Add("outcome", "not started")
                                        .Text())
                  .AddRaw("error", JsonObject().Add("message", refusal).Text())
                  .Text());
  return false;
}

// --sim-flash: the simulated supported drive's flash after the run. False when it could not be
// written.
bool SaveSimulatedFlash(const std::string& path, int fd, SimulatedDrives& simulated,
                        PhaseView& view) {
  sim::KdrDrive* drive = simulated.devices.supportedDrive();
  if (drive == nullptr) {
    view.Say("fwloader: no simulated supported drive, so no flash was written.");
    return true;
  }
  if (WriteFlashFile(fd, drive->flash())) return true;
  std::fprintf(stderr, "fwloader: cannot write the simulated flash to %s\n",
               TerminalText(path).c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  TakeSignals();
  if (!KeepStandardStreamsOpen()) return kExitSetUp;
  ConsoleOptions options;
  int status = 0;
  if (!ReadCommandLine(argc, argv, options, status)) return status;
  const ResultOutput output(options.json);

  // The scenario's time scale is part of the operating system as the program sees it, built
  // before anything else: the program's sleeps and tick count follow the simulation's clock,
  // real time or faster. --check reaches no drive and reads no scenario.
  sim::Scenario scenario{};
  char reason[160] = "";
  const bool scenarioRead =
      !options.simulate || options.check ||
      sim::ParseScenario(options.scenario.c_str(), scenario, reason, sizeof reason);
  const bool simulate = options.simulate && !options.check && scenarioRead;
  sim::ScaledClock clock(simulate ? scenario.timeScale : 1);
  ViewStyle style =
      StyleFor(isatty(STDERR_FILENO) != 0, std::getenv("TERM"), std::getenv("NO_COLOR"));
  winsize window{};
  if (style.redraw && ioctl(STDERR_FILENO, TIOCGWINSZ, &window) == 0) style.columns = window.ws_col;
  PhaseView view(style, [](const std::string& text) {
                   std::fputs(text.c_str(), stderr);
                   std::fflush(stderr);
                 });
  // The engine's texts, its message boxes among them (copied into the trace, if there is one).
  EngineTexts engineTexts;
  platform::SystemKernel kernel;
  platform::LinuxOs linuxOs(kernel);
  sim::SimulatedTimeOs simulatedTime(linuxOs, clock);
  ConsoleOs os(simulate ? static_cast<platform::Os&>(simulatedTime) : linuxOs, engineTexts);

  const std::string firmwareFile =
      options.firmwareFile.empty() ? kDefaultFirmwareFile : options.firmwareFile;
  if (options.check) return RunCheck(os, firmwareFile, output);
  if (!scenarioRead) return ScenarioError(output, reason);
  // The files written must not be the firmware file, which the run reads after the trace has
  // been opened, nor each other.
  std::string error;
  if (!CheckOutputFiles(firmwareFile, options.traceFile, options.simFlashFile, error)) {
    return SetUpError(output, CommandOf(options), error);
  }
  FirmwareSummary summary;
  if (!options.list) {
    const int refused = RefusalBeforeDrives(os, firmwareFile, options, output, summary);
    if (refused >= 0) return refused;
  }
  // Both output files are opened now, so that one that cannot be written (a FIFO nothing
  // reads, a device, a directory) is refused before any drive is asked anything.
  TraceFile trace;
  FlashFile flashFile;
  if (!options.traceFile.empty()) {
    const int fd = OpenOutputFile(options.traceFile, "--trace", error);
    trace.file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (trace.file == nullptr) {
      if (fd >= 0) close(fd);
      return SetUpError(output, CommandOf(options),
                        error.empty() ? "cannot write the trace file " + options.traceFile : error);
    }
    trace.trace = std::make_unique<drive::CommandTrace>(trace.file);
    engineTexts.CopyTo(trace.file);
  }
  if (!options.simFlashFile.empty()) {
    flashFile.fd = OpenOutputFile(options.simFlashFile, "--sim-flash", error);
    if (flashFile.fd < 0) return SetUpError(output, CommandOf(options), error);
  }

  // /dev/srN: the kernel's devices through SG_IO, or the simulated ones in scenario order.
  std::unique_ptr<SimulatedDrives> simulated;
  drive::SgIoTransport kernelDrives(os, kernel);
  NumberedTransport* devices = &kernelDrives;
  if (simulate) {
    simulated = std::make_unique<SimulatedDrives>(os, scenario, clock);
    devices = &simulated->transport;
    view.Say("Simulation: " + std::to_string(simulated->devices.count()) +
               " simulated device(s) in place of /dev/sr*.");
  }
  devices->SetTrace(trace.trace.get());
  platform::Kernel* systemDrives = simulate ? nullptr : &kernel;
  if (options.list) return RunList(*devices, output, systemDrives);
  int onlyDevice = -1;
  if (!ChosenDevice(options, *devices, view, output, onlyDevice)) return kExitNotStarted;

  const UpdateReport report = RunUpdateCommand(UpdateCommand{
      &os, systemDrives, devices, onlyDevice, &options, &summary, firmwareFile, simulate,
      &engineTexts, &view});
  status = report.status;
  if (!output.json()) {
    for (const std::string& line : ResultLines(report)) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  if (!options.simFlashFile.empty() &&
      !SaveSimulatedFlash(options.simFlashFile, flashFile.fd, *simulated, view)) {
    status = kExitSetUp;
  }
  if (trace.trace != nullptr && trace.trace->Failed()) {
    std::fprintf(stderr, "fwloader: the trace %s could not be written in full (a full disk or a "
                         "file-size limit); the run was not affected.\n",
                 TerminalText(options.traceFile).c_str());
  }
  if (output.json()) {
    UpdateReport document = report;
    document.status = status;
    output.Emit(UpdateJson(document));
  }
  return status;
}
