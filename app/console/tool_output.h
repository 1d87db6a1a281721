// What the terminal program reports on standard output besides the log: --check's summary,
// --list's drives, the reason a run did not start, as text or as one JSON document (--json).
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/kernel.h"
#include "platform/os.h"
#include "app/console/firmware_check.h"
#include "app/console/json_text.h"
#include "app/console/options.h"
#include "drive/numbered_transport.h"

// The version of the documents' layout, the "format" member of every document. It grows when a
// member changes its meaning or goes away; new members do not change it.
constexpr int kJsonFormat = 1;

// The top of every document the program writes: format, program, version, command and
// exit_status, in this order. The caller adds the command's own members ("drives", "file",
// "update", ...) and, when there is one, "error" (ErrorJson). `command` is one of "update",
// "list", "check", "version", "help", "usage".
JsonObject JsonEnvelope(const char* command, int exitStatus);

// An "error" member's object with its message; the caller may add more members.
JsonObject ErrorJson(const std::string& message);

// The command a command line asks for, as the document names it: "list", "check" or "update"
// (--help, --version and a usage error end before it matters).
const char* CommandOf(const ConsoleOptions& options);

// The documents of the paths that end before any drive is asked: a usage error, a set-up error
// of `command`, --help and --version.
std::string UsageErrorJson(const std::string& message);
std::string SetUpErrorJson(const char* command, const std::string& message);
std::string HelpJson();
std::string VersionJson();

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

// A 16-bit sum as the program shows it: 0x1A2B.
std::string Hex16(uint16_t value);

// --check's summary of a file as a JSON object: the "file" member of a check's document, and of
// an update's document that refused its file.
JsonObject SummaryJson(const FirmwareSummary& summary);
// The "error" object of a refused file: the message the update shows, and where the loader
// gives them the reason and the line.
JsonObject FileErrorJson(const FirmwareSummary& summary);
// An update's document when the file was refused before any drive was asked (exit status 4).
std::string FileRefusedJson(const FirmwareSummary& summary);

// --check: what the file holds, on standard output (or as JSON); 0 accepted, 4 refused.
int RunCheck(platform::Os& os, const std::string& path, const ResultOutput& output);

// An update's document around `update`, the object that describes the run; with "error" for
// any status but 0 (its message `errorMessage`, or the outcome's words where that is empty).
std::string UpdateDocumentJson(int status, const std::string& update,
                               const std::string& errorMessage);

// --list: the optical drives of `devices` on standard output (or in the document's "drives");
// 0 when a supported one is among them, 3 otherwise, said on standard error (and in the
// document's "error"). INQUIRY is all that is sent.
// `simulated`: the devices are not the kernel's, whose unopenable nodes are then not named.
// `kernel` (null in simulation) says which of the system's drives this user cannot open.
int RunList(NumberedTransport& devices, const ResultOutput& output, platform::Kernel* kernel);

// --device: true when `path` names an optical drive of the supported model among `devices` (its
// index N of /dev/srN in `index`); otherwise the reason.
bool CheckChosenDevice(NumberedTransport& devices, const std::string& path, int& index,
                       std::string& reason);
