#include "app/console/tool_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/console/optical_drives.h"
#include "app/console/options.h"
#include "app/console/terminal_text.h"

ResultOutput::ResultOutput(bool json) {
  if (!json) return;
  resultFd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (resultFd_ >= 0 && null >= 0) dup2(null, STDOUT_FILENO);
  if (null >= 0) close(null);
}

ResultOutput::~ResultOutput() {
  if (resultFd_ >= 0) close(resultFd_);
}

void ResultOutput::Emit(const std::string& document) const {
  if (resultFd_ < 0) return;
  const std::string text = document + "\n";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(resultFd_, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    done += static_cast<size_t>(wrote);
  }
}

bool JsonAsked(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return false;
    if (std::strcmp(argv[i], "--json") == 0) return true;
  }
  return false;
}

std::string FailureJson(const char* outcome, int status, const std::string& message) {
  return JsonObject()
      .Add("outcome", outcome)
      .AddNumber("exit_status", status)
      .Add("message", message)
      .Text();
}

std::string Hex16(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
  return text;
}

JsonObject SummaryJson(const FirmwareSummary& summary) {
  JsonObject out;
  out.Add("file", summary.path);
  if (summary.format.empty()) {
    out.AddNull("format");
  } else {
    out.Add("format", summary.format);
  }
  out.AddBool("accepted", summary.accepted);
  if (summary.accepted) {
    out.AddNumber("file_bytes", summary.fileBytes).Add("image_sum", Hex16(summary.imageSum));
  } else {
    out.Add("message", summary.message);
  }
  return out;
}

int RunCheck(platform::Os& os, const std::string& path, const ResultOutput& output) {
  FirmwareSummary summary;
  const bool accepted = CheckFirmwareFile(os, path, summary);
  const int status = accepted ? kExitUpdated : kExitFileRefused;
  if (output.json()) {
    output.Emit(SummaryJson(summary).AddNumber("exit_status", status).Text());
    return status;
  }
  std::printf("file:        %s\n", TerminalText(path).c_str());
  std::printf("format:      %s\n", summary.format.empty()
                                        ? "none (the extension is neither .bin nor .hex)"
                                        : (summary.format + ", chosen by the extension").c_str());
  if (accepted) {
    std::printf("image bytes: %u supplied by the file\n", summary.fileBytes);
    std::printf("image sum:   %s (of those bytes; the drive's boot data and the seal are added "
                "at the update)\n", Hex16(summary.imageSum).c_str());
    std::printf("verdict:     accepted\n");
  } else {
    std::printf("verdict:     refused: %s\n", TerminalText(summary.message).c_str());
  }
  std::fflush(stdout);
  return status;
}


int RunList(NumberedTransport& devices, const ResultOutput& output, platform::Kernel* kernel) {
  const std::vector<OpticalDrive> drives = ListOpticalDrives(devices);
  bool supported = false;
  for (const OpticalDrive& d : drives) supported = supported || d.supported;
  const int status = supported ? kExitUpdated : kExitNotStarted;
  if (output.json()) {
    std::vector<std::string> entries;
    for (const OpticalDrive& d : drives) {
      entries.push_back(JsonObject()
                            .Add("device", d.path)
                            .Add("vendor", d.vendor)
                            .Add("product", d.product)
                            .Add("revision", d.revision)
                            .AddBool("supported", d.supported)
                            .Text());
    }
    output.Emit(JsonArray(entries));
  } else {
    for (const OpticalDrive& d : drives) {
      std::printf("%-10s %-8s %-16s %-4s %s\n", d.path.c_str(), TerminalText(d.vendor).c_str(),
                  TerminalText(d.product).c_str(), TerminalText(d.revision).c_str(),
                  d.supported ? "supported" : "other model");
    }
    std::fflush(stdout);
  }
  if (drives.empty()) {
    std::fprintf(stderr, "fwloader: no optical drive found\n");
    if (kernel != nullptr) {
      for (const std::string& why : UnopenableSrDevices(*kernel)) {
        std::fprintf(stderr, "fwloader: %s\n", TerminalText(why).c_str());
      }
    }
  } else if (!supported) {
    std::fprintf(stderr, "fwloader: none of them is the supported KORVADSK RW/DVD KDR-7305C\n");
  }
  return status;
}

bool CheckChosenDevice(NumberedTransport& devices, const std::string& path, int& index,
                       std::string& reason) {
  index = SrIndexOfPath(path);
  OpticalDrive drive;
  if (index < 0) {
    reason = path + " is not an optical drive: those are /dev/sr0, /dev/sr1, ...";
  } else if (!InquireDrive(devices, index, drive)) {
    reason = "cannot open " + path + " (" + drive.path + ")";
  } else if (!drive.answered) {
    reason = path + " does not answer INQUIRY";
  } else if (drive.deviceType != 5) {
    reason = path + " is not an optical drive (device type " + std::to_string(drive.deviceType) + ")";
  } else if (!drive.supported) {
    reason = path + " holds " + drive.vendor + " " + drive.product + " " + drive.revision +
             ", not the supported KORVADSK RW/DVD KDR-7305C";
  } else {
    return true;
  }
  return false;
}
