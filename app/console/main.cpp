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
#include "app/console/firmware_check.h"
#include "app/console/json_text.h"
#include "app/console/optical_drives.h"
#include "app/console/options.h"
#include "app/console/output_files.h"
#include "app/console/terminal_text.h"
#include "app/console/tool_output.h"
#include "app/real_services.h"
#include "app/update_dialog.h"
#include "drive/command_trace.h"
#include "drive/linux/sg_io_transport.h"
#include "drive/numbered_transport.h"
#include "engine/flash_updater.h"
#include "fw_version.h"
#include "platform/linux/capabilities.h"
#include "platform/platform.h"
#include "sim/clock.h"
#include "sim/device_transport.h"
#include "sim/scenario.h"
#include "sim/scenario_devices.h"
#include "sim/simulated_time.h"

namespace {

// The screen that the seam's message box and the simulated restart report on. The seam's
// entries are plain functions without a context, so they reach it here; ScreenOfSeam sets it
// for the screen's lifetime.
ConsoleUi* ui = nullptr;

struct ScreenOfSeam {
  explicit ScreenOfSeam(ConsoleUi& screen) { ui = &screen; }
  ~ScreenOfSeam() { ui = nullptr; }
  ScreenOfSeam(const ScreenOfSeam&) = delete;
  ScreenOfSeam& operator=(const ScreenOfSeam&) = delete;
};

// The engine's only yes/no questions are its offers to restart the computer after a run. Linux
// needs no restart for an optical drive, so the question is not put to the user: it is answered
// No here, and said so.
int ConsoleMessageBox(void*, const char* text, const char* caption, uint32_t style) {
  if ((style & 0x0F) == platform::kMbYesNo) {
    ui->Say("Linux needs no restart for this drive: the restart question is answered No.");
    return platform::kIdNo;
  }
  return ui->MessageBox(text, caption, style);
}

// In simulation the computer is never restarted: the request is only reported.
bool SimulatedShutdownPrivilege() { return true; }
bool SimulatedExitWindows(uint32_t flags) {
  ui->Say("Simulation: the computer would restart now (ExitWindowsEx flags " +
          std::to_string(flags) + "); it is not restarted.");
  return true;
}

// The seam as the program binds it, once, before any thread starts: the real bindings with the
// terminal's message box, and under simulation (`clock` set) the scaled clock's sleep and tick
// count and the restart steps that only report.
platform::Os ConsoleOs(const sim::ScaledClock* clock) {
  platform::Os table = platform::RealOs();
  table.messageBox = ConsoleMessageBox;
  if (clock != nullptr) {
    table = sim::WithSimulatedTime(table, *clock);
    table.acquireShutdownPrivilege = SimulatedShutdownPrivilege;
    table.exitWindows = SimulatedExitWindows;
  }
  return table;
}

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
// true once one has been seen (`handled` counts those acted on). A repeated signal changes
// nothing: the drive is left to finish.
bool TerminateOnSignal(UpdateDialog& dialog, ConsoleUi& screen, int& handled) {
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

void WaitForRunEnd(UpdateDialog& dialog, ConsoleUi& screen, int& handled) {
  while (dialog.RunActive()) {
    TerminateOnSignal(dialog, screen, handled);
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

std::string Trimmed(const char* text, size_t length) {
  std::string out(text, strnlen(text, length));
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// "KORVADSK RW/DVD KDR-7305C": vendor and product of a drive record.
std::string ModelOf(const DriveRecord& drive) {
  return Trimmed(drive.identity, 8) + " " +
         Trimmed(drive.identity + std::min<size_t>(8, strnlen(drive.identity, 8)), 16);
}

std::string RevisionOf(const DriveRecord& drive) { return Trimmed(drive.revision, 4); }

// What the confirmation needs besides the job: the program's options, the checked file and the
// drives' paths.
struct Confirmation {
  ConsoleUi* screen;
  const ConsoleOptions* options;
  const FirmwareSummary* file;
  const PathTransport* drives;
  std::string refusal;  // why the update did not start; empty once confirmed
  DriveRecord drive{};  // the drive asked about
  int exclusiveFd = -1;  // the drive held exclusively for the update (real drives)
};

// Before the first command that changes anything on the drive: what is about to happen, and
// [y/N] on a terminal. --yes answers yes; without a terminal and without --yes nothing is sent.
// Once confirmed, a real drive is opened exclusively: a mounted disc, or another program that
// holds the drive, refuses the update before anything is sent.
bool ConfirmUpgrade(void* context, const UpdateJob& job) {
  Confirmation& c = *static_cast<Confirmation*>(context);
  c.drive = job.drive;
  const std::string device = c.drives->PathOf(job.drive);
  char sum[8];
  std::snprintf(sum, sizeof sum, "0x%04X", static_cast<unsigned>(c.file->imageSum));
  c.screen->Say("About to update the firmware:\n"
                "  device:   " + device + "\n"
                "  model:    " + ModelOf(job.drive) + "\n"
                "  revision: " + RevisionOf(job.drive) + "\n"
                "  file:     " + c.file->path + " (" + c.file->format + ", " +
                std::to_string(c.file->fileBytes) + " bytes, image sum " + sum + ")");
  c.refusal.clear();
  if (c.options->yes) {
    c.screen->Say("Confirmed by --yes.");
  } else if (isatty(STDIN_FILENO) == 0) {
    c.refusal = "no terminal to confirm the update on: run with --yes to update without the "
                "question";
  } else if (!c.screen->Confirm("Update the firmware of " + device + " now?", &interruptSeen)) {
    interruptSeen = false;  // the Ctrl-C answered the question; it closes nothing more
    c.refusal = "the update was not confirmed";
  }
  if (c.refusal.empty() && !c.options->simulate) {
    c.exclusiveFd = open(device.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (c.exclusiveFd < 0) {
      c.refusal = errno == EBUSY ? device + " is busy: a disc in it is mounted, or another "
                                            "program holds it"
                                 : "cannot open " + device + " exclusively: " + std::strerror(errno);
    }
  }
  if (c.refusal.empty()) return true;
  c.screen->Say("fwloader: " + c.refusal + "; nothing was sent to the drive.");
  return false;
}

// The trace file, closed on every way out.
struct TraceFile {
  std::FILE* file = nullptr;
  ~TraceFile() {
    if (file == nullptr) return;
    drive::SetCommandTrace(nullptr);
    std::fclose(file);
  }
};

// --simulate's drives: the scenario's devices as /dev/sr0, /dev/sr1, ... in scenario order,
// behind the transport that executes each command on them. Their programming takes a few
// seconds of the simulation's clock, which the program's sleeps and tick count follow too.
struct SimulatedDrives {
  SimulatedDrives(const sim::Scenario& scenario, const sim::Clock& clock)
      : devices(scenario, clock, DriveConfig()), transport(devices.all()) {}

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

// What the dialog's run leaves for the closing lines and the JSON document.
struct RunReport {
  int status = kExitNotStarted;
  DriveRecord drive{};     // the drive of the run, or the one the confirmation asked about
  std::string devicePath;  // its path
  bool revisionRead = false;
  std::string revisionAfter;
  std::string refusal;  // why the update did not start, when the confirmation refused it
};

// The dialog run as the program's command: initialisation lists the drives of `devices` (only
// /dev/sr<onlyDevice> when that is 0 or more) and starts the update on the first supported one
// after the confirmation; the terminal's keys act as the dialog's controls until the run ends.
// Then the drive is asked again what it runs.
RunReport RunDialog(ConsoleUi& screen, NumberedTransport& devices, int onlyDevice,
                    const ConsoleOptions& options, const FirmwareSummary& summary) {
  RunReport report;
  Confirmation confirmation{&screen, &options, &summary, nullptr, "", {}, -1};
  {
    // The drives outlive the dialog: its records name their devices, which close with them.
    PathTransport drives(devices, onlyDevice);
    confirmation.drives = &drives;
    DialogServices services = RealDialogServices();
    services.transport = &drives;
    services.releaseDrives = FreeDriveRecords;
    UpdateDialog dialog(screen, services);
    if (!options.firmwareFile.empty()) dialog.firmwarePreset = options.firmwareFile.c_str();
    dialog.confirmUpgrade = ConfirmUpgrade;
    dialog.confirmContext = &confirmation;
    // The reader thread is there before initialisation, which asks for the confirmation.
    screen.StartInput();
    dialog.OnInitDialog();
    screen.DrawDialog();

    int terminations = 0;
    bool interactive = isatty(STDIN_FILENO) != 0;
    while (screen.EndResult() < 0) {
      // The program ends with its run, as a command-line tool does: once the run has ended, or
      // at once when none started. Until then the terminal's keys act as the dialog's controls.
      if (TerminateOnSignal(dialog, screen, terminations) || !interactive || !dialog.RunActive()) {
        WaitForRunEnd(dialog, screen, terminations);
        dialog.OnClose();
        break;
      }
      std::string line;
      bool endOfInput = false;
      if (CloseOnInterrupt(dialog, screen)) continue;
      if (screen.NextCommand(line, 100, endOfInput)) {
        HandleCommand(line, dialog, screen);
      } else if (endOfInput) {
        WaitForRunEnd(dialog, screen, terminations);
        dialog.OnClose();
      }
    }
    WaitForRunEnd(dialog, screen, terminations);
    dialog.OnDestroy();

    DriveRecord target{};
    if (dialog.runsStarted == 0) {
      report.status = kExitNotStarted;
    } else {
      target = dialog.job.drive;
      report.status =
          dialog.LastOutcome() == UpdateOutcome::kSucceeded ? kExitUpdated : kExitFailed;
    }
    screen.Say(report.status == kExitUpdated  ? "fwloader: the update succeeded."
               : report.status == kExitFailed ? "fwloader: the update failed."
                                              : "fwloader: no update was started.");
    if (report.status == kExitFailed) {
      screen.Say("fwloader: the drive needs attention: check it with fwloader --list before "
                 "using it, and run the update again.");
    }
    // The drive is asked again what it runs: a drive that resets after programming may take a
    // few seconds to answer.
    if (dialog.runsStarted != 0) {
      const std::string before = RevisionOf(target);
      report.revisionRead = ReadRevision(drives, target, 10, report.revisionAfter);
      if (!report.revisionRead) {
        screen.Say("fwloader: the drive does not answer after the update: power-cycle it and "
                   "check with --list.");
      } else if (report.revisionAfter != before) {
        screen.Say("fwloader: the drive now reports revision " + report.revisionAfter + " (" +
                   before + " before the update).");
      } else if (report.status == kExitUpdated) {
        screen.Say("fwloader: the drive still reports " + before +
                   ": power-cycle it and check with --list.");
      } else {
        screen.Say("fwloader: the drive still reports revision " + before + ".");
      }
    }
    report.drive = target.identity[0] != '\0' ? target : confirmation.drive;
    report.devicePath = drives.PathOf(report.drive);
  }
  // The exclusive hold ends once the dialog has released its records and the devices are closed.
  if (confirmation.exclusiveFd >= 0) close(confirmation.exclusiveFd);
  report.refusal = confirmation.refusal;
  return report;
}

// The JSON document of a run (or of one that did not start).
std::string RunJson(const RunReport& report, const std::string& firmwareFile,
                    const FirmwareSummary& summary, int status, ConsoleUi& screen) {
  JsonObject document;
  if (report.drive.identity[0] == '\0') {
    document.AddNull("device").AddNull("model").AddNull("revision_before");
  } else {
    document.Add("device", report.devicePath)
        .Add("model", ModelOf(report.drive))
        .Add("revision_before", RevisionOf(report.drive));
  }
  if (report.revisionRead) {
    document.Add("revision_after", report.revisionAfter);
  } else {
    document.AddNull("revision_after");
  }
  document.Add("file", firmwareFile)
      .Add("image_sum", Hex16(summary.imageSum))
      .Add("outcome", status == kExitUpdated    ? "updated"
                      : status == kExitFailed   ? "failed"
                      : status == kExitSetUp    ? "set-up error"
                                                : "not started")
      .AddNumber("exit_status", status)
      .AddStrings("log", screen.LogLines());
  if (!report.refusal.empty()) document.Add("message", report.refusal);
  return document.Text();
}

}  // namespace

int main(int argc, char** argv) {
  TakeSignals();
  if (!KeepStandardStreamsOpen()) return kExitSetUp;
  ConsoleOptions options;
  std::string error;
  if (!ParseConsoleOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "fwloader: %s\nTry 'fwloader --help' for more information.\n",
                 TerminalText(error).c_str());
    if (JsonAsked(argc, argv)) {
      ResultOutput(true).Emit(FailureJson("usage error", kExitSetUp, error));
    }
    return kExitSetUp;
  }
  if (options.help) {
    std::fputs(ConsoleUsage(), stdout);
    return std::fflush(stdout) == 0 ? 0 : kExitSetUp;
  }
  if (options.version) {
    std::fputs("fwloader " FW_VERSION_TEXT "\n", stdout);
    return std::fflush(stdout) == 0 ? 0 : kExitSetUp;
  }
  const ResultOutput output(options.json);
  // Every failure before the run says why on standard error, and with --json in the document.
  auto setUpError = [&output](const std::string& message) {
    std::fprintf(stderr, "fwloader: %s\n", TerminalText(message).c_str());
    output.Emit(FailureJson("set-up error", kExitSetUp, message));
    return kExitSetUp;
  };

  // The scenario's time scale is part of the seam, which is bound before anything else: the
  // program's sleeps and tick count follow the simulation's clock, real time or faster. --check
  // reaches no drive and reads no scenario.
  sim::Scenario scenario{};
  char reason[160] = "";
  const bool scenarioRead =
      !options.simulate || options.check ||
      sim::ParseScenario(options.scenario.c_str(), scenario, reason, sizeof reason);
  const bool simulate = options.simulate && !options.check && scenarioRead;
  const sim::ScaledClock clock(simulate ? scenario.timeScale : 1);
  ConsoleUi screen(isatty(STDIN_FILENO) != 0, isatty(STDERR_FILENO) != 0);
  const ScreenOfSeam screenOfSeam(screen);
  platform::os() = ConsoleOs(simulate ? &clock : nullptr);

  const std::string firmwareFile =
      options.firmwareFile.empty() ? kDefaultFirmwareFile : options.firmwareFile;
  if (options.check) return RunCheck(firmwareFile, output);
  if (!scenarioRead) {
    // A malformed value is a usage error like a malformed option.
    const std::string message = std::string("option '--simulate': ") + reason;
    std::fprintf(stderr, "fwloader: %s\nTry 'fwloader --help' for more information.\n",
                 TerminalText(message).c_str());
    output.Emit(FailureJson("usage error", kExitSetUp, message));
    return kExitSetUp;
  }
  // The files written must not be the firmware file, which the run reads after the trace has
  // been opened, nor each other.
  if (!CheckOutputFiles(firmwareFile, options.traceFile, options.simFlashFile, error)) {
    return setUpError(error);
  }
  FirmwareSummary summary;
  if (!options.list) {
    // The file is checked before anything reaches a drive: a file the loaders refuse gets no
    // command sent, not even the first START STOP UNIT.
    if (!CheckFirmwareFile(firmwareFile, summary)) {
      std::fprintf(stderr, "fwloader: the firmware file %s is refused: %s\n"
                           "fwloader: nothing was sent to any drive.\n",
                   TerminalText(firmwareFile).c_str(), TerminalText(summary.message).c_str());
      output.Emit(SummaryJson(summary)
                      .Add("outcome", "file refused")
                      .AddNumber("exit_status", kExitFileRefused)
                      .Text());
      return kExitFileRefused;
    }
    // Linux refuses WRITE BUFFER to a process without CAP_SYS_RAWIO: such an update would stop
    // half way, so it is refused before anything is sent.
    if (!options.simulate && !MaySendWriteBuffer()) {
      return setUpError("an update needs root or CAP_SYS_RAWIO, which Linux requires for WRITE "
                        "BUFFER; nothing was sent (--list and --check work without them; "
                        "--simulate rehearses an update)");
    }
  }
  TraceFile trace;
  if (!options.traceFile.empty()) {
    trace.file = std::fopen(options.traceFile.c_str(), "we");  // not inherited by any command
    if (trace.file == nullptr) {
      return setUpError("cannot write the trace file " + options.traceFile);
    }
    drive::SetCommandTrace(trace.file);
  }
  screen.AnswerSafelyOnceSet(&terminationCount);

  // /dev/srN: the kernel's devices through SG_IO, or the simulated ones in scenario order.
  std::unique_ptr<SimulatedDrives> simulated;
  NumberedTransport* devices = &SgIoTransport();
  if (simulate) {
    simulated = std::make_unique<SimulatedDrives>(scenario, clock);
    devices = &simulated->transport;
    screen.Say("Simulation: " + std::to_string(simulated->devices.count()) +
               " simulated device(s) in place of /dev/sr*.");
  }
  if (options.list) return RunList(*devices, output);
  int onlyDevice = -1;  // --device: /dev/sr<onlyDevice> alone
  if (!options.device.empty()) {
    std::string refusal;
    if (!CheckChosenDevice(*devices, options.device, onlyDevice, refusal)) {
      screen.Say("fwloader: " + refusal + "; nothing was sent to it.");
      output.Emit(JsonObject()
                      .Add("device", options.device)
                      .Add("outcome", "not started")
                      .AddNumber("exit_status", kExitNotStarted)
                      .Add("message", refusal)
                      .Text());
      return kExitNotStarted;
    }
  }

  const RunReport report = RunDialog(screen, *devices, onlyDevice, options, summary);
  int status = report.status;
  if (!options.simFlashFile.empty()) {
    sim::KdrDrive* drive = simulated->devices.supportedDrive();
    if (drive == nullptr) {
      screen.Say("fwloader: no simulated supported drive, so no flash was written.");
    } else if (!WriteFlashFile(options.simFlashFile, drive->flash())) {
      std::fprintf(stderr, "fwloader: cannot write the simulated flash to %s\n",
                   TerminalText(options.simFlashFile).c_str());
      status = kExitSetUp;
    }
  }
  if (output.json()) output.Emit(RunJson(report, firmwareFile, summary, status, screen));
  return status;
}
