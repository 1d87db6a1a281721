// What the terminal program reports on standard output besides the log: --check's summary,
// --list's drives, the reason a run did not start, as text or as one JSON document (--json).
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/kernel.h"
#include "platform/os.h"
#include "app/console/firmware_check.h"
#include "app/console/json_text.h"
#include "drive/numbered_transport.h"

// With --json standard output carries one JSON document and nothing else: the log lines that
// the engine prints there go to /dev/null instead (the document holds them), and the document
// is written to the original standard output at the end.
class ResultOutput {
 public:
  explicit ResultOutput(bool json);
  ~ResultOutput();
  ResultOutput(const ResultOutput&) = delete;
  ResultOutput& operator=(const ResultOutput&) = delete;

  bool json() const { return resultFd_ >= 0; }
  // Writes the document with a final line feed. A closed pipe loses it, as it would lose text.
  void Emit(const std::string& document) const;

 private:
  int resultFd_ = -1;  // the original standard output, with --json
};

// A usage error before the options are known: --json anywhere on the command line (before "--")
// still gets its document.
bool JsonAsked(int argc, char** argv);

// The document of a run that ended before any update: outcome, exit status and the reason.
std::string FailureJson(const char* outcome, int status, const std::string& message);

// A 16-bit sum as the program shows it: 0x1A2B.
std::string Hex16(uint16_t value);

// --check's summary of a file as a JSON object (more members may follow).
JsonObject SummaryJson(const FirmwareSummary& summary);

// --check: what the file holds, on standard output (or as JSON); 0 accepted, 4 refused.
int RunCheck(platform::Os& os, const std::string& path, const ResultOutput& output);

// --list: the optical drives of `devices` on standard output (or as a JSON array); 0 when a
// supported one is among them, 3 otherwise. INQUIRY is all that is sent.
// `simulated`: the devices are not the kernel's, whose unopenable nodes are then not named.
// `kernel` (null in simulation) says which of the system's drives this user cannot open.
int RunList(NumberedTransport& devices, const ResultOutput& output, platform::Kernel* kernel);

// --device: true when `path` names an optical drive of the supported model among `devices` (its
// index N of /dev/srN in `index`); otherwise the reason.
bool CheckChosenDevice(NumberedTransport& devices, const std::string& path, int& index,
                       std::string& reason);
