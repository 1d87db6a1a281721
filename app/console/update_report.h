// What an update run leaves behind for its reader: the outcome and the drive's revision before
// and after, the failure explained in the tool's words (phase, block, sense decoded), and the
// engine's own texts, as text lines and as the update's JSON document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/console/json_text.h"
#include "app/console/tool_output.h"
#include "app/console/watched_transport.h"


// Why an update failed or stopped.
struct UpdateError {
  std::string message;     // the tool's words
  std::string phase;       // PhaseName(); empty before any phase
  int block = -1;          // the transfer's block, 0..127
  std::string engineText;  // what the engine itself said of it
  bool hasSense = false;
  uint8_t key = 0, asc = 0, ascq = 0;
};

// "sense key 4 (Hardware Error), ASC 0x44 ASCQ 0x00 (Internal target failure)"
std::string SenseWords(uint8_t key, uint8_t asc, uint8_t ascq);

// The failure of `command` explained: what was sent, in which phase and block, and how it ended.
UpdateError ExplainCommand(const FailedCommand& command);

struct UpdateReport {
  int status = 3;                 // the exit status
  std::string outcome = "not started";  // "updated", "needs attention", "untouched", ...
  std::string device, model, revisionBefore;  // empty: no drive was chosen
  bool revisionRead = false;
  std::string revisionAfter;
  bool endSeen = true;
  std::string file;
  std::string imageSum;  // "0x1A2B"
  bool hasError = false;
  UpdateError error;
  std::vector<std::string> log;          // the engine's log lines
  std::vector<std::string> statusLines;  // the engine's status lines, in order
  std::vector<std::string> messages;     // the engine's message boxes, in order
};

// The update's JSON document.
std::string UpdateJson(const UpdateReport& report);
