// The Linux program's update: the drive chosen (or the refusal to choose), what is about to be
// done and the question, then the engine's run on a worker thread with each phase shown as it
// goes, Ctrl-C and the termination signals acted on, the revision read again and the outcome.
#pragma once

#include <string>

#include "app/console/engine_texts.h"
#include "app/console/firmware_check.h"
#include "app/console/options.h"
#include "app/console/phase_view.h"
#include "app/console/update_report.h"
#include "drive/numbered_transport.h"
#include "platform/linux/kernel.h"
#include "platform/os.h"

struct UpdateCommand {
  platform::Os* os;          // what the run and the front end reach the system through
  platform::Kernel* kernel;  // the system's drives, to say which this user cannot open; null in
                             // simulation
  NumberedTransport* devices;
  int onlyDevice;  // /dev/srN chosen with --device (checked already); -1: none chosen
  const ConsoleOptions* options;
  const FirmwareSummary* summary;  // the file as read once and checked
  std::string firmwareFile;
  bool simulated;      // the devices are the simulation's, not the kernel's
  EngineTexts* texts;  // the engine's texts, its message boxes included
  PhaseView* view;     // standard error
};

// Runs the update and returns what it leaves for standard output and the JSON document.
UpdateReport RunUpdateCommand(const UpdateCommand& command);

// The result on standard output: the outcome line, the failure explained, the revision before
// and after.
std::vector<std::string> ResultLines(const UpdateReport& report);
