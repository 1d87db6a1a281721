#include "app/console/options.h"

#include <cstring>

#include "engine/update_job.h"

const char* ConsoleUsage() {
  return "Usage: fwloader [--simulate[=SCENARIO]] [--file PATH] [--trace FILE] [--sim-flash FILE]\n"
         "\n"
         "Updates the firmware of a KORVADSK RW/DVD KDR-7305C drive from QF2TR08.BIN in the\n"
         "current folder (or PATH). The dialog is drawn on standard error; standard output\n"
         "carries the log lines alone.\n"
         "\n"
         "  --simulate[=SCENARIO]  simulated drives in place of /dev/sr*; default: one healthy\n"
         "                         supported drive. SCENARIO is a comma-separated list of\n"
         "                         drives=A+B+... (kdr, other, disk, in discovery order; or none),\n"
         "                         write-fail=N:K, verify-corrupt=N:K, readback-fail, commit-fail,\n"
         "                         skip-end-window, hang, prepare-fail, missed-answers=K,\n"
         "                         slow-write=N:MS, time-scale=N (simulated time N times as\n"
         "                         fast).\n"
         "                         A restart is reported, never performed.\n"
         "  --file PATH            the Source File (extension .bin or .hex)\n"
         "  --trace FILE           write every drive command to FILE\n"
         "  --sim-flash FILE       after the run, write the simulated drive's flash (512 KiB)\n"
         "  --help, --version\n"
         "\n"
         "On a terminal: a number selects a drive, u Upgrade, a About, c Close, Enter OK.\n"
         "Ctrl-C is Close. SIGTERM and SIGHUP stop an update at its next check; a drive that\n"
         "already programs its flash is left to finish, and fwloader waits for it and reports.\n"
         "Exit status: 0 updated, 1 the update failed, 2 usage or set-up error, 3 no update started.\n";
}

bool ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& out,
                         std::string& error) {
  out = ConsoleOptions();
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    std::string* valueFor = nullptr;
    if (std::strcmp(arg, "--simulate") == 0) {
      out.simulate = true;
    } else if (std::strncmp(arg, "--simulate=", 11) == 0) {
      out.simulate = true;
      out.scenario = arg + 11;
    } else if (std::strcmp(arg, "--help") == 0) {
      out.help = true;
    } else if (std::strcmp(arg, "--version") == 0) {
      out.version = true;
    } else if (std::strcmp(arg, "--file") == 0) {
      valueFor = &out.firmwareFile;
    } else if (std::strcmp(arg, "--trace") == 0) {
      valueFor = &out.traceFile;
    } else if (std::strcmp(arg, "--sim-flash") == 0) {
      valueFor = &out.simFlashFile;
    } else {
      error = std::string("unknown argument: ") + arg;
      return false;
    }
    if (valueFor != nullptr) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        error = std::string(arg) + " needs a value";
        return false;
      }
      *valueFor = argv[++i];
    }
  }
  // The Source File holds 511 characters: a longer path would be cut to the name of another file.
  constexpr size_t kSourceFileLimit = sizeof(UpdateJob{}.firmwarePath) - 1;
  if (out.firmwareFile.size() > kSourceFileLimit) {
    error = "--file is longer than the " + std::to_string(kSourceFileLimit) +
            " characters that the Source File holds";
    return false;
  }
  if (!out.simFlashFile.empty() && !out.simulate) {
    error = "--sim-flash needs --simulate";
    return false;
  }
  return true;
}
