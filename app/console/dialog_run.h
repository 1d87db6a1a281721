// The terminal program's update: the dialog run as its command, the confirmation before the
// first command that changes the drive, the closing lines and the JSON document of the run.
#pragma once

#include <string>

#include "platform/linux/kernel.h"
#include "platform/os.h"
#include "app/console/console_ui.h"
#include "app/console/firmware_check.h"
#include "app/console/options.h"
#include "drive/drive.h"
#include "drive/numbered_transport.h"

// What the dialog's run leaves for the closing lines and the JSON document.
struct RunReport {
  int status = kExitNotStarted;
  DriveRecord drive{};     // the drive of the run, or the one the confirmation asked about
  std::string devicePath;  // its path
  bool revisionRead = false;
  std::string revisionAfter;
  std::string devicePathAfter;  // where the drive answered after the update
  // The run committed the image and the drive's end of programming was not seen, yet the drive,
  // found again, answers with its identity and a new revision.
  bool endNotSeenButUpdated = false;
  bool driveFailed = false;  // committed, and the drive reported a failure
  std::string refusal;  // why the update did not start, when the confirmation refused it
};

// The dialog run as the program's command: initialisation lists the drives of `devices` (only
// /dev/sr<onlyDevice> when that is 0 or more) and starts the update on the first supported one
// after the confirmation; the terminal's keys act as the dialog's controls until the run ends.
// Then the drive is asked again what it runs.
// `kernel` (null in simulation) says which of the system's drives this user cannot open.
RunReport RunDialog(platform::Os& os, platform::Kernel* kernel, ConsoleUi& screen,
                    NumberedTransport& devices, int onlyDevice,
                    const ConsoleOptions& options, const FirmwareSummary& summary);

// The JSON document of a run (or of one that did not start).
std::string RunJson(const RunReport& report, const std::string& firmwareFile,
                    const FirmwareSummary& summary, int status, ConsoleUi& screen);
