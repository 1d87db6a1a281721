// The terminal program's command line.
#pragma once

#include <string>

struct ConsoleOptions {
  bool simulate = false;
  std::string scenario;      // --simulate=SCENARIO; empty: the default scenario
  std::string firmwareFile;  // --file; empty: the dialog's preset
  std::string traceFile;     // --trace
  std::string simFlashFile;  // --sim-flash
  bool help = false;
  bool version = false;
};

// Parses argv[1..argc). False on a usage error, with a one-line reason in `error`.
bool ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& out, std::string& error);

// The --help text.
const char* ConsoleUsage();
