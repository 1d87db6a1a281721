#include "app/console/options.h"

#include <cstring>

#include "engine/update_job.h"

const char* ConsoleUsage() {
  return "Usage: fwloader [OPTION]...\n"
         "       fwloader --list\n"
         "       fwloader --check [FILE]\n"
         "\n"
         "Updates the firmware of a KORVADSK RW/DVD KDR-7305C optical drive from QF2TR08.BIN in\n"
         "the current folder (or --file PATH). Standard output carries the results (the outcome\n"
         "and the revision before and after, or one JSON document with --json); standard error\n"
         "the progress of each phase and the question.\n"
         "\n"
         "  -l, --list             list the optical drives: device, vendor, product, revision,\n"
         "                         and whether it is the supported model (INQUIRY only)\n"
         "      --check [FILE]     load the firmware file (default QF2TR08.BIN) without a drive\n"
         "                         and say what it holds, or why it is refused\n"
         "  -d, --device PATH      update the drive at PATH (default: the one supported drive;\n"
         "                         with several, they are listed and none is chosen)\n"
         "  -f, --file PATH        the firmware file (extension .bin or .hex)\n"
         "  -y, --yes              answer yes to the confirmation before the update\n"
         "      --json             one JSON document on standard output instead of the text;\n"
         "                         it asks nothing, so an update needs --yes with it\n"
         "      --trace FILE       write every drive command to FILE\n"
         "      --simulate[=SCENARIO]\n"
         "                         simulated drives in place of /dev/sr*; default: one healthy\n"
         "                         supported drive. SCENARIO is a comma-separated list of\n"
         "                         drives=A+B+... (kdr, other, disk, in discovery order; or none),\n"
         "                         write-fail=N:K, verify-corrupt=N:K, readback-fail, commit-fail,\n"
         "                         skip-end-window, hang, prepare-fail, missed-answers=K,\n"
         "                         slow-write=N:MS, same-revision (the drive reports its old\n"
         "                         revision after the update), time-scale=N (simulated time N\n"
         "                         times as fast); how the drive answers: sense-length=N,\n"
         "                         inquiry-length=N, commit-fills, residual=exact|none|bogus,\n"
         "                         ua-power-on, ua-at=N, ua-after-programming, finish=MS,\n"
         "                         end=idle|reset|vanish, vanish-ms=MS, disc, disc-insert=MS,\n"
         "                         not-ready=MS, write-fail-sense=KK/AA/QQ, nt-alignment=MASK.\n"
         "      --sim-flash FILE   after the run, write the simulated drive's flash (512 KiB)\n"
         "  -h, --help             show this help and exit\n"
         "  -V, --version          show the version and exit\n"
         "\n"
         "Values may follow an option as --option=VALUE or --option VALUE.\n"
         "Ctrl-C, SIGTERM, SIGHUP and SIGQUIT stop an update at its next block (before its\n"
         "first command: nothing is sent); a drive that already programs its flash cannot be\n"
         "stopped: fwloader says so, waits for it and reports.\n"
         "\n"
         "Exit status:\n"
         "  0  updated (--list: a supported drive is present; --check: the file is accepted)\n"
         "  1  the image was committed but the drive's end was not seen, or the drive reported a\n"
         "     failure: the drive needs attention\n"
         "  2  usage or set-up error\n"
         "  3  no update started (no supported drive, not confirmed, drive busy, a signal)\n"
         "  4  the firmware file was refused (nothing was sent to any drive)\n"
         "  5  the update stopped before anything was committed: the drive keeps its firmware,\n"
         "     and it is safe to try again\n";
}

namespace {

enum class Takes { kNothing, kValue, kOptionalValue };

struct OptionEntry {
  const char* name;  // the long name, without "--"
  char shortName;    // '\0': none
  Takes takes;
};

constexpr OptionEntry kOptions[] = {
    {"list", 'l', Takes::kNothing},      {"check", '\0', Takes::kNothing},
    {"device", 'd', Takes::kValue},      {"file", 'f', Takes::kValue},
    {"yes", 'y', Takes::kNothing},       {"json", '\0', Takes::kNothing},
    {"trace", '\0', Takes::kValue},      {"simulate", '\0', Takes::kOptionalValue},
    {"sim-flash", '\0', Takes::kValue},  {"help", 'h', Takes::kNothing},
    {"version", 'V', Takes::kNothing},
};

const OptionEntry* FindLong(const std::string& name) {
  for (const OptionEntry& entry : kOptions) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

const OptionEntry* FindShort(char c) {
  for (const OptionEntry& entry : kOptions) {
    if (entry.shortName != '\0' && entry.shortName == c) return &entry;
  }
  return nullptr;
}

// Records one option; `value` is null for an option given without one.
bool Apply(const OptionEntry& entry, const char* value, ConsoleOptions& out, std::string& error) {
  const std::string name = entry.name;
  if (entry.takes == Takes::kValue && (value == nullptr || value[0] == '\0')) {
    error = "option '--" + name + "' requires a non-empty value";
    return false;
  }
  if (name == "list") out.list = true;
  else if (name == "check") out.check = true;
  else if (name == "device") out.device = value;
  else if (name == "file") out.firmwareFile = value;
  else if (name == "yes") out.yes = true;
  else if (name == "json") out.json = true;
  else if (name == "trace") out.traceFile = value;
  else if (name == "sim-flash") out.simFlashFile = value;
  else if (name == "help") out.help = true;
  else if (name == "version") out.version = true;
  else if (name == "simulate") {
    out.simulate = true;
    out.scenario = value == nullptr ? "" : value;
  }
  return true;
}

}  // namespace

bool ParseConsoleOptions(int argc, const char* const* argv, ConsoleOptions& out,
                         std::string& error) {
  out = ConsoleOptions();
  std::string positional;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      if (!positional.empty()) {
        error = std::string("unexpected argument '") + arg + "'";
        return false;
      }
      positional = arg;
      if (positional.empty()) {
        error = "an empty argument";
        return false;
      }
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    if (arg[1] == '-') {
      const char* equals = std::strchr(arg, '=');
      const std::string name = equals == nullptr ? std::string(arg + 2) : std::string(arg + 2, equals);
      const OptionEntry* entry = FindLong(name);
      if (entry == nullptr) {
        error = "unrecognized option '--" + name + "'";
        return false;
      }
      const char* value = equals == nullptr ? nullptr : equals + 1;
      if (entry->takes == Takes::kNothing && value != nullptr) {
        error = "option '--" + name + "' doesn't allow a value";
        return false;
      }
      if (entry->takes == Takes::kValue && value == nullptr && i + 1 < argc) value = argv[++i];
      if (!Apply(*entry, value, out, error)) return false;
      continue;
    }
    // Short options: flags may be bundled (-yV); one that takes a value takes the rest of the
    // argument (-d/dev/sr0) or the next one.
    for (const char* c = arg + 1; *c != '\0'; ++c) {
      const OptionEntry* entry = FindShort(*c);
      if (entry == nullptr) {
        error = std::string("invalid option -- '") + *c + "'";
        return false;
      }
      if (entry->takes == Takes::kValue) {
        const char* value = c[1] != '\0' ? c + 1 : (i + 1 < argc ? argv[++i] : nullptr);
        if (!Apply(*entry, value, out, error)) return false;
        break;
      }
      if (!Apply(*entry, nullptr, out, error)) return false;
    }
  }
  if (!positional.empty()) {
    // A FILE is --check's; an update names its file with --file.
    if (!out.check) {
      error = "unexpected argument '" + positional + "' (the firmware file is --file PATH)";
      return false;
    }
    if (!out.firmwareFile.empty()) {
      error = "--check takes one FILE: both --file and '" + positional + "' given";
      return false;
    }
    out.firmwareFile = positional;
  }
  if (out.list && out.check) {
    error = "--list and --check cannot be combined";
    return false;
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
