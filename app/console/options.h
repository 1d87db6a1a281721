// The terminal program's command line, in the conventions of Linux tools: long options as
// --name=value or --name value, short flags (-h, -V, -y, also bundled), "--" ending the options.
#pragma once

#include <string>

// The program's exit statuses, as --help, the README and the manual page state them.
constexpr int kExitUpdated = 0;       // updated (also: --list found a supported drive, --check accepted)
constexpr int kExitFailed = 1;        // committed, but the end was not seen or the drive failed
constexpr int kExitSetUp = 2;         // usage or set-up error
constexpr int kExitNotStarted = 3;    // no update started: no supported drive, not confirmed, busy
constexpr int kExitFileRefused = 4;   // the firmware file was refused; nothing was sent
constexpr int kExitUntouched = 5;     // an update began but nothing was committed: no change

struct ConsoleOptions {
  bool simulate = false;
  std::string scenario;      // --simulate=SCENARIO; empty: the default scenario
  std::string firmwareFile;  // --file, or --check's FILE; empty: the preset
  std::string traceFile;     // --trace
  std::string simFlashFile;  // --sim-flash
  std::string device;        // --device; empty: the first supported drive
  bool list = false;         // --list
  bool check = false;        // --check
  bool yes = false;          // --yes, -y
  bool json = false;         // --json
  bool help = false;
  bool version = false;
};

// Parses argv[1..argc). False on a usage error, with a one-line reason naming the option in
// `error` (without the program's name).
bool ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& out, std::string& error);

// The --help text.
const char* ConsoleUsage();
