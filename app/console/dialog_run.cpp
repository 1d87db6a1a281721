#include "app/console/dialog_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/console/json_text.h"
#include "app/console/optical_drives.h"
#include "app/console/signals.h"
#include "app/console/tool_output.h"
#include "app/real_services.h"
#include "app/update_dialog.h"

namespace {

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

// "KORVADSK RW/DVD KDR-7305C": vendor and product of a drive record.

std::string RevisionOf(const DriveRecord& drive) { return InquiryText(drive.revision, 4); }
std::string VendorOf(const DriveRecord& drive) { return InquiryText(drive.identity, 8); }
std::string ProductOf(const DriveRecord& drive) {
  return InquiryText(drive.identity + std::min<size_t>(8, strnlen(drive.identity, 8)), 16);
}

// Tries at finding the drive again after the update, 500 ms apart.
constexpr int kFindAgainAttempts = 10;

// "KORVADSK RW/DVD KDR-7305C": vendor and product of a drive record.
std::string ModelOf(const DriveRecord& drive) { return VendorOf(drive) + " " + ProductOf(drive); }

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
    c.refusal = terminationCount.load() > 0
                    ? "terminated by " + TerminationSignalName() + " before the update started"
                    : "the update was not confirmed";
  }
  // A signal that came before the first command of the update stops it here: during the
  // discovery, at the question, or while the drive was opened.
  if (c.refusal.empty() && terminationCount.load() > 0) {
    c.refusal = "terminated by " + TerminationSignalName() + " before the update started";
  }
  if (c.refusal.empty() && interruptSeen.exchange(false)) {
    c.refusal = "interrupted (Ctrl-C) before the update started";
  }
  if (c.refusal.empty() && !c.options->simulate) {
    c.exclusiveFd = open(device.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
    if (c.exclusiveFd < 0) {
      c.refusal = errno == EBUSY ? device + " is busy: a disc in it is mounted, or another "
                                            "program holds it"
                                 : "cannot open " + device + " exclusively: " + std::strerror(errno);
    }
  }
  if (c.refusal.empty() && terminationCount.load() > 0) {
    c.refusal = "terminated by " + TerminationSignalName() + " before the update started";
  }
  if (c.refusal.empty()) {
    HoldJobControl();
    return true;
  }
  c.screen->Say("fwloader: " + c.refusal + "; nothing was sent to the drive.");
  return false;
}

// The program ends with its run, as a command-line tool does: once the run has ended, or at
// once when none started. Until then the terminal's keys act as the dialog's controls.
void RunCommandLoop(UpdateDialog& dialog, ConsoleUi& screen) {
  int terminations = 0;
  const bool interactive = isatty(STDIN_FILENO) != 0;
  while (screen.EndResult() < 0) {
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
}

void SayOutcome(const RunReport& report, ConsoleUi& screen) {
  const int status = report.status;
  if (report.endNotSeenButUpdated) {
    screen.Say("fwloader: the drive's end was not seen; it now reports " + report.revisionAfter +
               ".");
  }
  if (status == kExitUntouched) {
    screen.Say("fwloader: the update stopped before anything was committed: the drive keeps its "
               "firmware" +
               (report.revisionRead ? " and reports " + report.revisionAfter : std::string()) +
               "; it is safe to try again.");
    return;
  }
  screen.Say(status == kExitUpdated  ? "fwloader: the update succeeded."
             : status == kExitFailed ? "fwloader: the update failed."
                                     : "fwloader: no update was started.");
  if (status == kExitFailed) {
    screen.Say("fwloader: the drive needs attention: the image was committed, but " +
               std::string(report.driveFailed ? "the drive reported a failure"
                                              : "the drive's end was not seen") +
               "; check it with fwloader --list before using it, and run the update again.");
  }
}

// What the drive said when it was asked again, beside what it ran before the update.
void SayRevision(const RunReport& report, const std::string& before, ConsoleUi& screen) {
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

}  // namespace

RunReport RunDialog(platform::Os& os, platform::Kernel* kernel, ConsoleUi& screen,
                    NumberedTransport& devices, int onlyDevice,
                    const ConsoleOptions& options, const FirmwareSummary& summary) {
  RunReport report;
  Confirmation confirmation{&screen, &options, &summary, nullptr, "", {}, -1};
  {
    // The drives outlive the dialog: its records name their devices, which close with them.
    PathTransport drives(os, devices, onlyDevice);
    confirmation.drives = &drives;
    const DialogServices services = RealDialogServices(drives);
    UpdateDialog dialog(screen, services, os);
    if (!options.firmwareFile.empty()) dialog.firmwarePreset = options.firmwareFile.c_str();
    // The bytes that were checked and are shown at the confirmation are the ones sent.
    if (summary.accepted && summary.path == dialog.firmwarePreset) {
      dialog.firmwareBytes = summary.bytes.data();
      dialog.firmwareSize = static_cast<uint32_t>(summary.bytes.size());
    }
    dialog.confirmUpgrade = ConfirmUpgrade;
    dialog.confirmContext = &confirmation;
    // The reader thread is there before initialisation, which asks for the confirmation.
    screen.StartInput(os);
    dialog.OnInitDialog();
    screen.DrawDialog();

    RunCommandLoop(dialog, screen);
    dialog.OnDestroy();

    DriveRecord target{};
    const UpdateOutcome outcome = dialog.LastOutcome();
    if (dialog.runsStarted == 0) {
      report.status = kExitNotStarted;
      if (confirmation.drive.identity[0] == '\0' && kernel != nullptr) {
        // No drive was found to ask about: say which the user could not even open.
        for (const std::string& why : UnopenableSrDevices(*kernel)) {
          screen.Say("fwloader: " + why);
        }
      }
      if (dialog.WorkerStartFailed()) {
        screen.Say("fwloader: the update could not be started: no thread could be created for "
                   "it; nothing was sent to the drive.");
      }
    } else {
      target = dialog.job.drive;
      report.status = outcome == UpdateOutcome::kSucceeded   ? kExitUpdated
                      : outcome == UpdateOutcome::kUntouched ? kExitUntouched
                                                             : kExitFailed;
      report.driveFailed = outcome == UpdateOutcome::kFailed;
    }
    report.drive = target.identity[0] != '\0' ? target : confirmation.drive;
    report.devicePath = drives.PathOf(report.drive);
    // The drive is asked again what it runs. Programming may have reset it or taken it off the
    // bus for a while (a USB bridge), and it may come back under another /dev/srN: it is found
    // again by its identity, on fresh handles, for a few seconds.
    if (dialog.runsStarted != 0) {
      OpticalDrive again;
      report.revisionRead =
          FindDriveAgain(os, devices, SrIndexOfPath(report.devicePath), VendorOf(target),
                         ProductOf(target), kFindAgainAttempts, again);
      if (report.revisionRead) {
        report.revisionAfter = again.revision;
        report.devicePathAfter = again.path;
      }
      // A committed image whose end no poll saw, on a drive that went idle or silent rather
      // than report a failure: if the drive now runs another revision, the flash took it.
      if (outcome == UpdateOutcome::kEndNotSeen && report.revisionRead &&
          report.revisionAfter != RevisionOf(target)) {
        report.endNotSeenButUpdated = true;
        report.status = kExitUpdated;
      }
    }
    SayOutcome(report, screen);
    if (dialog.runsStarted != 0) SayRevision(report, RevisionOf(target), screen);
  }
  // The exclusive hold ends once the dialog has released its records and the devices are closed.
  if (confirmation.exclusiveFd >= 0) close(confirmation.exclusiveFd);
  report.refusal = confirmation.refusal;
  return report;
}

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
  if (report.endNotSeenButUpdated) document.AddBool("end_seen", false);
  document.Add("file", firmwareFile)
      .Add("image_sum", Hex16(summary.imageSum))
      .Add("outcome", status == kExitUpdated    ? "updated"
                      : status == kExitFailed   ? "needs attention"
                      : status == kExitUntouched ? "untouched"
                      : status == kExitSetUp    ? "set-up error"
                                                : "not started")
      .AddNumber("exit_status", status)
      .AddStrings("log", screen.LogLines());
  if (!report.refusal.empty()) document.Add("message", report.refusal);
  return document.Text();
}
