#include "app/console/update_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/console/optical_drives.h"
#include "app/console/signals.h"
#include "app/console/terminal_text.h"
#include "app/console/tool_output.h"
#include "app/console/watched_transport.h"
#include "app/console/yes_no_question.h"
#include "app/update_dialog.h"
#include "drive/supported_model.h"
#include "engine/flash_updater.h"
#include "platform/os.h"

namespace {

// Tries at finding the drive again after the update, 500 ms apart.
constexpr int kFindAgainAttempts = 10;

// Neither hidden option of the commit is ever set on Linux.
class NoOptions final : public UpdateOwner {
 public:
  int GetCheckState(int) const override { return 0; }
};

// What the engine's callbacks reach on its worker thread.
struct RunContext {
  EngineTexts* texts;
  WatchedTransport* watch;
};

void AppendLog(void* context, const char* text) {
  static_cast<RunContext*>(context)->texts->AddLog(text);
}
void SetStatus(void* context, const char* text) {
  static_cast<RunContext*>(context)->texts->AddStatus(text);
}
void SetProgress(void*, int) {}  // the watched commands tell each phase's progress
uint8_t IsAbortRequested(void* context) {
  return static_cast<RunContext*>(context)->watch->StopRequested() ? 1 : 0;
}

// The engine's run on its own thread; `done` is its last touch of this object.
struct Worker {
  platform::Os* os = nullptr;
  NoOptions owner;
  UpdateJob job{};
  UpdateOutcome outcome = UpdateOutcome::kUntouched;
  std::atomic<bool> done{false};

  static void Run(void* self) {
    Worker& worker = *static_cast<Worker*>(self);
    {
      FlashUpdater updater(worker.owner, worker.job, *worker.os);
      worker.outcome = updater.Run();
    }
    worker.done = true;
  }
};

std::string DriveLine(const OpticalDrive& drive) {
  return "  " + drive.path + "  " + drive.vendor + " " + drive.product + " " + drive.revision;
}

// "KORVADSK RW/DVD KDR-7305C", as the model's description names it.
std::string SupportedModelText() {
  return std::string(kSupportedDrive.vendor) + " " + kSupportedDrive.product;
}

// The drive to update when none was named: the one supported drive. False, with the refusal
// said and kept in `report`, when there is none or more than one.
bool ChooseDrive(const UpdateCommand& c, UpdateReport& report, int& index) {
  if (c.onlyDevice >= 0) {
    index = c.onlyDevice;
    return true;
  }
  const std::vector<OpticalDrive> drives = ListOpticalDrives(*c.devices);
  std::vector<OpticalDrive> supported;
  for (const OpticalDrive& drive : drives) {
    if (drive.supported) supported.push_back(drive);
  }
  if (supported.size() == 1) {
    index = SrIndexOfPath(supported[0].path);
    return index >= 0;
  }
  std::string message;
  if (drives.empty()) {
    message = "no optical drive found";
    c.view->Say("fwloader: no optical drive found; nothing was sent.");
    if (c.kernel != nullptr) {
      for (const std::string& why : UnopenableSrDevices(*c.kernel)) c.view->Say("fwloader: " + why);
    }
  } else if (supported.empty()) {
    message = "none of the optical drives is the supported " + SupportedModelText();
    c.view->Say("fwloader: " + message + "; nothing was sent:");
    for (const OpticalDrive& drive : drives) c.view->Say(DriveLine(drive));
  } else {
    message = std::to_string(supported.size()) +
              " supported drives are attached: name the one to update with --device";
    c.view->Say("fwloader: " + message + "; nothing was sent:");
    for (const OpticalDrive& drive : supported) c.view->Say(DriveLine(drive));
  }
  report.hasError = true;
  report.error.message = message;
  return false;
}

void Refuse(const UpdateCommand& c, UpdateReport& report, const std::string& why) {
  c.view->Say("fwloader: " + why + "; nothing was sent to the drive.");
  report.hasError = true;
  report.error.message = why;
}

std::string TerminatedText() {
  return "terminated by " + TerminationSignalName() + " before the update started";
}

// What is about to happen, and the question. True once confirmed; the drive is then held
// exclusively in `exclusiveFd` (real drives), so that a mounted disc or another program that
// holds it refuses the update before anything is sent.
bool Confirm(const UpdateCommand& c, UpdateReport& report, int& exclusiveFd) {
  const FirmwareSummary& file = *c.summary;
  c.view->Say("About to update the firmware:\n"
              "  device:   " + report.device + "\n"
              "  model:    " + report.model + "\n"
              "  revision: " + report.revisionBefore + "\n"
              "  file:     " + TerminalText(file.path) + " (" + file.format + ", " +
              std::to_string(file.fileBytes) + " bytes, image sum " + report.imageSum + ")\n"
              "  supplies: " + std::to_string(file.fileBytes) + " of " +
              std::to_string(kSupportedDrive.imageSize) + " image bytes, " +
              std::to_string(file.survivingBytes) +
              " programmed (boot data and seal are the drive's)");
  const ConsoleOptions& options = *c.options;
  if (options.json && !options.yes) {
    Refuse(c, report, "--json asks nothing: run with --yes to update with a JSON report");
    return false;
  }
  if (options.yes) {
    c.view->Say("Confirmed by --yes.");
  } else if (isatty(STDIN_FILENO) == 0) {
    Refuse(c, report, "no terminal to confirm the update on: run with --yes to update without "
                      "the question");
    return false;
  } else {
    const QuestionAnswer answer =
        AskYesNo("Update the firmware of " + report.device + " now?", STDIN_FILENO, interruptSeen,
                 terminationCount, [](const std::string& text) {
                   std::fputs(text.c_str(), stderr);
                   std::fflush(stderr);
                 });
    if (answer != QuestionAnswer::kYes) {
      Refuse(c, report, answer == QuestionAnswer::kInterrupted  ? "interrupted (Ctrl-C) before "
                                                                   "the update started"
                        : answer == QuestionAnswer::kTerminated ? TerminatedText()
                                                                : "the update was not confirmed");
      return false;
    }
  }
  // A signal that came before the first command of the update stops it here.
  if (terminationCount.load() > 0) {
    Refuse(c, report, TerminatedText());
    return false;
  }
  if (interruptSeen.exchange(false)) {
    Refuse(c, report, "interrupted (Ctrl-C) before the update started");
    return false;
  }
  if (!c.simulated) {
    exclusiveFd = open(report.device.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (exclusiveFd < 0) {
      Refuse(c, report,
             errno == EBUSY
                 ? report.device + " is busy: a disc in it is mounted, or another program holds it"
                 : "cannot open " + report.device + " exclusively: " + std::strerror(errno));
      return false;
    }
  }
  if (terminationCount.load() > 0) {
    Refuse(c, report, TerminatedText());
    return false;
  }
  return true;
}

// The phases as the terminal shows them, in order.
int PhaseGroup(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::kPreparing:
    case UpdatePhase::kBootData: return 0;
    case UpdatePhase::kTransfer: return 1;
    case UpdatePhase::kCommit:
    case UpdatePhase::kProgramming: return 2;
    case UpdatePhase::kRevision: return 3;
  }
  return 0;
}

const char* const kPhaseLabels[] = {
    "Reading the drive's boot data", "Sending 128 blocks, each read back",
    "The drive programs its flash (do not power off)", "Reading the revision again"};

// The terminal's view of the run, drawn from the watched commands.
class RunDrawing {
 public:
  explicit RunDrawing(PhaseView& view) : view_(view) {}

  void Draw(const WatchState& state) {
    const int group = PhaseGroup(state.phase);
    if (group > shown_) {
      // A phase passed over between two looks is still shown, done.
      while (shown_ < group) {
        ++shown_;
        view_.Begin(kPhaseLabels[shown_]);
        if (shown_ < group) view_.Progress(100);
      }
    }
    switch (shown_) {
      case 0: view_.Progress(state.bootReads * 100 / kBootReads); break;
      case 1: {
        const int block = state.blocksDone < kTransferBlocks ? state.blocksDone : kTransferBlocks;
        view_.Progress(block * 100 / kTransferBlocks,
                       "block " + std::to_string(block) + "/" + std::to_string(kTransferBlocks));
        break;
      }
      case 2: view_.Progress(state.programmedPercent); break;
      default: break;
    }
  }
  int Shown() const { return shown_; }

 private:
  PhaseView& view_;
  int shown_ = -1;
};

// Ctrl-C and the termination signals while the engine runs: before the commit they stop it at
// its next check (and keep the commit from the drive); once the commit went out nothing stops
// the drive's programming, and each signal is answered with that.
void ActOnSignals(WatchedTransport& watch, PhaseView& view, const std::string& revision,
                  int& terminationsHandled) {
  if (interruptSeen.exchange(false)) {
    if (watch.RequestStop()) {
      view.Say("Ctrl-C: stopping at the next block; nothing has been programmed, and the drive "
               "keeps " + revision + ".");
    } else {
      view.Say("Ctrl-C: the drive is programming its flash and cannot be stopped; fwloader waits "
               "for it to finish. Do not power off.");
    }
  }
  const int seen = terminationCount.load();
  if (seen == terminationsHandled) return;
  terminationsHandled = seen;
  const std::string name = TerminationSignalName();
  if (watch.RequestStop()) {
    view.Say("Terminated by " + name + ": the update stops at its next check; nothing has been "
             "programmed.");
  } else {
    view.Say("Terminated by " + name + ": the drive is programming its flash and cannot be "
             "stopped; fwloader waits for it to finish.");
  }
}

// Why the run did not succeed, from the watched commands and the engine's texts.
UpdateError ErrorOfRun(UpdateOutcome outcome, const WatchState& state, const EngineTexts& texts,
                       bool stoppedByUser) {
  UpdateError error;
  if (stoppedByUser) {
    error.message = "stopped on request before anything was programmed";
    error.phase = PhaseName(state.phase == UpdatePhase::kCommit ? UpdatePhase::kTransfer
                                                                 : state.phase);
    // The block the run stopped before, where it stopped in the transfer.
    if ((state.phase == UpdatePhase::kTransfer || state.phase == UpdatePhase::kCommit) &&
        state.blocksDone < kTransferBlocks) {
      error.block = state.blocksDone;
      error.message = "stopped on request before block " + std::to_string(error.block) + " of " +
                      std::to_string(kTransferBlocks) + " was sent; nothing was programmed";
    }
  } else if (outcome == UpdateOutcome::kFailed && state.reportedFailure.present) {
    error = ExplainCommand(state.reportedFailure);
  } else if (outcome == UpdateOutcome::kEndNotSeen) {
    error.phase = PhaseName(UpdatePhase::kProgramming);
    error.message = state.lastFailure.present &&
                            state.lastFailure.phase == UpdatePhase::kProgramming
                        ? "while the drive programmed its flash: it stopped answering, and its "
                          "end of programming was not seen"
                        : "while the drive programmed its flash: it went idle without reporting "
                          "the end of programming";
  } else if (state.lastFailure.present) {
    error = ExplainCommand(state.lastFailure);
  } else if (state.phase == UpdatePhase::kBootData || state.phase == UpdatePhase::kPreparing) {
    error.phase = PhaseName(UpdatePhase::kBootData);
    error.message = "reading the drive's boot data: the two read-backs differed, or the data is "
                    "no boot code; nothing was sent";
  } else {
    error.phase = PhaseName(state.phase);
    error.message = "the run ended without the drive's end of programming";
  }
  error.engineText = texts.Closing();
  return error;
}

// The engine's run, started on its worker with the job filled: the phases drawn as the watched
// commands go, the signals acted on, until the worker has finished with everything. Says how
// it ended; `stoppedByUser` is a run the user stopped before anything was committed.
UpdateOutcome FollowRun(const UpdateCommand& c, WatchedTransport& watch, Worker& worker,
                        UpdateReport& report, bool& stoppedByUser) {
  RunDrawing drawing(*c.view);
  int terminationsHandled = 0;
  while (!worker.done.load()) {
    ActOnSignals(watch, *c.view, report.revisionBefore, terminationsHandled);
    drawing.Draw(watch.Snapshot());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const UpdateOutcome outcome = worker.outcome;
  const WatchState final = watch.Snapshot();
  drawing.Draw(final);
  stoppedByUser = final.stopRequested && outcome == UpdateOutcome::kUntouched;
  if (outcome == UpdateOutcome::kSucceeded) {
    c.view->End("done", true);
  } else {
    c.view->End(stoppedByUser                          ? "stopped"
                : outcome == UpdateOutcome::kEndNotSeen ? "end not seen"
                                                        : "failed",
                false);
    report.hasError = true;
    report.error = ErrorOfRun(outcome, final, *c.texts, stoppedByUser);
  }
  report.status = outcome == UpdateOutcome::kSucceeded   ? kExitUpdated
                  : outcome == UpdateOutcome::kUntouched ? kExitUntouched
                                                         : kExitFailed;
  return outcome;
}

// The drive asked again what it runs. Programming may have reset it or taken it off the bus for
// a while, and it may come back under another /dev/srN: it is found again by its identity, on
// fresh handles, for a few seconds. A committed image whose end no poll saw, on a drive that
// went idle or silent rather than report a failure, took if the drive now runs another revision.
void ReadRevisionAgain(const UpdateCommand& c, int index, const OpticalDrive& chosen,
                       UpdateOutcome outcome, UpdateReport& report) {
  c.view->Begin(kPhaseLabels[3]);
  OpticalDrive again;
  report.revisionRead = FindDriveAgain(*c.os, *c.devices, index, chosen.vendor, chosen.product,
                                       kFindAgainAttempts, again);
  if (report.revisionRead) {
    report.revisionAfter = again.revision;
    c.view->End(again.revision, true);
  } else {
    c.view->End("no answer", false);
  }
  if (outcome == UpdateOutcome::kEndNotSeen && report.revisionRead &&
      report.revisionAfter != report.revisionBefore) {
    report.endSeen = false;
    report.status = kExitUpdated;
    report.hasError = false;
  }
}

}  // namespace

UpdateReport RunUpdateCommand(const UpdateCommand& c) {
  UpdateReport report;
  report.status = kExitNotStarted;
  report.file = c.firmwareFile;
  report.imageSum = Hex16(c.summary->imageSum);

  int index = -1;
  if (!ChooseDrive(c, report, index)) return report;
  OpticalDrive chosen;
  if (!InquireDrive(*c.devices, index, chosen) || !chosen.answered) {
    Refuse(c, report, "cannot reach " + SrPath(index));
    return report;
  }
  report.device = chosen.path;
  report.model = chosen.vendor + " " + chosen.product;
  report.revisionBefore = chosen.revision;

  int exclusiveFd = -1;
  {
    // The drive's record names its device, which stays open as long as this transport.
    PathTransport drives(*c.os, *c.devices, index);
    TransportState state{};
    DriveList list{};
    const bool found = drives.Load(state) && (drives.Discover(list), list.count == 1) &&
                       MatchesSupportedModel(list.records[0]->identity);
    if (!found) {
      drives.ReleaseDrives(list);
      Refuse(c, report, "cannot reach " + report.device);
      return report;
    }
    if (!Confirm(c, report, exclusiveFd)) {
      drives.ReleaseDrives(list);
      drives.Release(state);
      return report;
    }
    HoldJobControl();

    WatchedTransport watch(*c.os, drives);
    RunContext context{c.texts, &watch};
    Worker worker;
    worker.os = c.os;
    UpdateJob& job = worker.job;
    job.drive = *list.records[0];
    std::snprintf(job.firmwarePath, sizeof job.firmwarePath, "%s", c.firmwareFile.c_str());
    job.isHexFile = 1;
    FirmwareFormatFromName(job.firmwarePath, job.isHexFile);
    job.callbacks = UiCallbacks{&context, AppendLog, SetStatus, SetProgress, IsAbortRequested};
    job.transport = &watch;
    // The bytes that were checked and shown are the ones sent.
    job.firmwareBytes = c.summary->bytes.data();
    job.firmwareSize = static_cast<uint32_t>(c.summary->bytes.size());

    if (!c.os->startThread(&Worker::Run, &worker)) {
      Refuse(c, report, "the update could not be started: no thread could be created for it");
      drives.ReleaseDrives(list);
      drives.Release(state);
      if (exclusiveFd >= 0) close(exclusiveFd);
      return report;
    }
    bool stoppedByUser = false;
    const UpdateOutcome outcome = FollowRun(c, watch, worker, report, stoppedByUser);
    watch.EnterRevisionPhase();
    ReadRevisionAgain(c, index, chosen, outcome, report);
    if (stoppedByUser) report.outcome = "stopped";
    drives.ReleaseDrives(list);
    drives.Release(state);
  }
  // The exclusive hold ends once the records are released and the devices closed.
  if (exclusiveFd >= 0) close(exclusiveFd);
  if (report.outcome != "stopped") {
    report.outcome = report.status == kExitUpdated     ? "updated"
                     : report.status == kExitFailed    ? "needs attention"
                     : report.status == kExitUntouched ? "untouched"
                                                       : "not started";
  }
  report.log = c.texts->Log();
  report.statusLines = c.texts->StatusLines();
  report.messages = c.texts->Messages();
  return report;
}

std::vector<std::string> ResultLines(const UpdateReport& report) {
  std::vector<std::string> lines;
  const std::string now = report.revisionRead ? report.revisionAfter : report.revisionBefore;
  switch (report.status) {
    case kExitUpdated:
      if (!report.endSeen) {
        lines.push_back("fwloader: the drive's end was not seen; it now reports " +
                        report.revisionAfter + ".");
      }
      lines.push_back("fwloader: the update succeeded.");
      break;
    case kExitUntouched:
      if (report.outcome == "stopped") {
        lines.push_back("fwloader: stopped before anything was programmed; the drive keeps " +
                        now + ".");
      } else {
        lines.push_back("fwloader: the update stopped before anything was committed: the drive "
                        "keeps its firmware" +
                        (report.revisionRead ? " and reports " + report.revisionAfter
                                             : std::string()) +
                        "; it is safe to try again.");
      }
      break;
    case kExitFailed:
      lines.push_back("fwloader: the update failed.");
      lines.push_back(std::string("fwloader: the drive needs attention: the image was committed, "
                                  "but ") +
                      (report.outcome == "needs attention" && report.hasError &&
                               report.error.message.find("reporting a failure") != std::string::npos
                           ? "the drive reported a failure"
                           : "the drive's end was not seen") +
                      "; check it with fwloader --list before using it, and run the update "
                      "again.");
      break;
    default:
      lines.push_back("fwloader: no update was started.");
      return lines;
  }
  if (report.hasError && report.outcome != "stopped") {
    lines.push_back("fwloader: " + report.error.message);
  }
  if (!report.revisionRead) {
    lines.push_back("fwloader: the drive does not answer after the update: power-cycle it and "
                    "check with --list.");
  } else if (report.revisionAfter != report.revisionBefore) {
    lines.push_back("fwloader: the drive now reports revision " + report.revisionAfter + " (" +
                    report.revisionBefore + " before the update).");
  } else if (report.status == kExitUpdated) {
    lines.push_back("fwloader: the drive still reports " + report.revisionBefore +
                    ": power-cycle it and check with --list.");
  } else {
    lines.push_back("fwloader: the drive still reports revision " + report.revisionBefore + ".");
  }
  return lines;
}
