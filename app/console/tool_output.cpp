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
#include "drive/supported_model.h"
#include "engine/firmware_image.h"
#include "fw_version.h"

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

JsonObject JsonEnvelope(const char* command, int exitStatus) {
  JsonObject out;
  out.AddNumber("format", kJsonFormat)
      .Add("program", "fwloader")
      .Add("version", FW_VERSION_TEXT)
      .Add("command", command)
      .AddNumber("exit_status", exitStatus);
  return out;
}

JsonObject ErrorJson(const std::string& message) {
  JsonObject out;
  out.Add("message", message);
  return out;
}

const char* CommandOf(const ConsoleOptions& options) {
  return options.list ? "list" : options.check ? "check" : "update";
}

std::string UsageErrorJson(const std::string& message) {
  return JsonEnvelope("usage", kExitSetUp).AddRaw("error", ErrorJson(message).Text()).Text();
}

std::string SetUpErrorJson(const char* command, const std::string& message) {
  return JsonEnvelope(command, kExitSetUp).AddRaw("error", ErrorJson(message).Text()).Text();
}

std::string HelpJson() {
  return JsonEnvelope("help", 0)
      .AddRaw("help", JsonObject().Add("text", ConsoleUsage()).Text())
      .Text();
}

std::string VersionJson() { return JsonEnvelope("version", 0).Text(); }

std::string Hex16(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
  return text;
}

namespace {

// An offset in the image or the file, or null where there is none.
void AddOffset(JsonObject& out, const char* key, int64_t offset) {
  if (offset < 0) {
    out.AddNull(key);
  } else {
    out.AddNumber(key, offset);
  }
}

// "1.8" for 18 tenths.
std::string Tenths(uint32_t tenths) {
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// The share in the check's text: "under 0.1" rather than a share of nothing.
std::string ImageShareText(uint32_t bytes) {
  const uint32_t tenths = ImageShareTenths(bytes);
  return tenths == 0 && bytes != 0 ? "under 0.1" : Tenths(tenths);
}

// Where the model's identification stands, as the check's text says it.
std::string IdentificationLine(const FirmwareSummary& summary) {
  const char* where = summary.accepted ? "in the image" : "in the file";
  const auto at = [](int64_t offset) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(offset));
    return std::string(text);
  };
  std::string vendor = std::string("\"") + kSupportedDrive.vendor + "\"";
  std::string product = std::string("\"") + kSupportedDrive.product + "\"";
  if (summary.vendorOffset >= 0 && summary.productOffset >= 0) {
    return vendor + " at " + at(summary.vendorOffset) + " and " + product + " at " +
           at(summary.productOffset) + " " + where;
  }
  if (summary.vendorOffset >= 0) {
    return vendor + " at " + at(summary.vendorOffset) + " " + where + "; " + product +
           " nowhere";
  }
  if (summary.productOffset >= 0) {
    return product + " at " + at(summary.productOffset) + " " + where + "; " + vendor +
           " nowhere";
  }
  return std::string("none: neither ") + vendor + " nor " + product + " appears " + where;
}

}  // namespace

JsonObject SummaryJson(const FirmwareSummary& summary) {
  JsonObject out;
  out.Add("path", summary.path);
  if (summary.format.empty()) {
    out.AddNull("format");
  } else {
    out.Add("format", summary.format);
  }
  out.AddBool("accepted", summary.accepted).AddNumber("size", static_cast<int64_t>(summary.bytes.size()));
  out.Add("first_bytes", summary.firstBytes);
  if (summary.looksLike.empty()) {
    out.AddNull("looks_like");
  } else {
    out.Add("looks_like", summary.looksLike);
  }
  if (summary.accepted) {
    out.AddNumber("image_bytes", summary.fileBytes)
        .AddNumber("image_size", kImageSize)
        .AddRaw("image_percent", Tenths(ImageShareTenths(summary.fileBytes)))
        .AddNumber("surviving_bytes", summary.survivingBytes)
        .Add("image_sum", Hex16(summary.imageSum));
  }
  JsonObject identification;
  AddOffset(identification, "vendor_offset", summary.vendorOffset);
  AddOffset(identification, "product_offset", summary.productOffset);
  identification.Add("searched", summary.accepted ? "image" : "file");
  out.AddRaw("identification", identification.Text());
  return out;
}

JsonObject FileErrorJson(const FirmwareSummary& summary) {
  JsonObject out = ErrorJson(summary.message);
  if (!summary.reason.empty()) out.Add("reason", summary.reason);
  if (summary.line != 0) out.AddNumber("line", summary.line);
  if (!summary.hint.empty()) out.Add("hint", summary.hint);
  return out;
}

std::string FileRefusedJson(const FirmwareSummary& summary) {
  return JsonEnvelope("update", kExitFileRefused)
      .AddRaw("file", SummaryJson(summary).Text())
      .AddRaw("error", FileErrorJson(summary).Text())
      .Text();
}

std::string UpdateDocumentJson(int status, const std::string& update,
                               const std::string& errorMessage) {
  JsonObject document = JsonEnvelope("update", status);
  document.AddRaw("update", update);
  if (status == kExitUpdated) return document.Text();
  std::string message = errorMessage;
  if (message.empty()) {
    message = status == kExitFailed      ? "the image was committed, but the update did not end "
                                           "well: the drive needs attention"
              : status == kExitUntouched ? "the update stopped before anything was committed: "
                                           "the drive keeps its firmware"
              : status == kExitSetUp     ? "set-up error"
                                         : "no update was started";
  }
  return document.AddRaw("error", ErrorJson(message).Text()).Text();
}

int RunCheck(platform::Os& os, const std::string& path, const ResultOutput& output) {
  FirmwareSummary summary;
  const bool accepted = CheckFirmwareFile(os, path, summary);
  const int status = accepted ? kExitUpdated : kExitFileRefused;
  if (output.json()) {
    JsonObject document = JsonEnvelope("check", status);
    document.AddRaw("file", SummaryJson(summary).Text());
    if (!accepted) document.AddRaw("error", FileErrorJson(summary).Text());
    output.Emit(document.Text());
    return status;
  }
  std::printf("file:        %s\n", TerminalText(path).c_str());
  std::printf("format:      %s\n", summary.format.empty()
                                        ? "none (the extension is neither .bin nor .hex)"
                                        : (summary.format + ", chosen by the extension").c_str());
  if (!summary.firstBytes.empty()) {
    std::printf("first bytes: %s%s\n", summary.firstBytes.c_str(),
                summary.looksLike.empty() ? "" : (" (" + summary.looksLike + ")").c_str());
  }
  if (accepted) {
    std::printf("image bytes: %u supplied by the file (%s %% of the %u-byte image; %u of them "
                "reach the drive as the file sets them)\n",
                summary.fileBytes, ImageShareText(summary.fileBytes).c_str(),
                static_cast<unsigned>(kImageSize), summary.survivingBytes);
    std::printf("image sum:   %s (of those bytes; the drive's boot data and the seal are added "
                "at the update)\n", Hex16(summary.imageSum).c_str());
  }
  if (!summary.format.empty() && !summary.bytes.empty()) {
    std::printf("model id:    %s\n", IdentificationLine(summary).c_str());
  }
  if (accepted) {
    if (summary.vendorOffset < 0 && summary.productOffset < 0) {
      std::printf("note:        nothing in the %s names the drive; %s, so the loaders cannot tell "
                  "whether it is firmware for this drive\n",
                  summary.format == "binary" ? "file" : "image",
                  summary.format == "binary" ? "a raw image is any bytes" : "records carry any bytes");
    }
    std::printf("verdict:     accepted\n");
  } else {
    std::printf("verdict:     refused: %s\n", TerminalText(summary.message).c_str());
    if (!summary.reason.empty()) std::printf("reason:      %s\n", summary.reason.c_str());
    if (!summary.hint.empty()) std::printf("hint:        %s\n", summary.hint.c_str());
  }
  std::fflush(stdout);
  return status;
}


int RunList(NumberedTransport& devices, const ResultOutput& output, platform::Kernel* kernel) {
  const std::vector<OpticalDrive> drives = ListOpticalDrives(devices);
  bool supported = false;
  for (const OpticalDrive& d : drives) supported = supported || d.supported;
  const int status = supported ? kExitUpdated : kExitNotStarted;
  std::string problem;
  if (drives.empty()) {
    problem = "no optical drive found";
  } else if (!supported) {
    problem = std::string("none of them is the supported ") + kSupportedDrive.vendor + " " +
              kSupportedDrive.product;
  }
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
    JsonObject document = JsonEnvelope("list", status);
    document.AddRaw("drives", JsonArray(entries));
    if (!problem.empty()) document.AddRaw("error", ErrorJson(problem).Text());
    output.Emit(document.Text());
  } else {
    for (const OpticalDrive& d : drives) {
      std::printf("%-10s %-8s %-16s %-4s %s\n", d.path.c_str(), TerminalText(d.vendor).c_str(),
                  TerminalText(d.product).c_str(), TerminalText(d.revision).c_str(),
                  d.supported ? "supported" : "other model");
    }
    std::fflush(stdout);
  }
  if (!problem.empty()) std::fprintf(stderr, "fwloader: %s\n", problem.c_str());
  if (drives.empty() && kernel != nullptr) {
    for (const std::string& why : UnopenableSrDevices(*kernel)) {
      std::fprintf(stderr, "fwloader: %s\n", TerminalText(why).c_str());
    }
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
             ", not the supported " + kSupportedDrive.vendor + " " + kSupportedDrive.product;
  } else {
    return true;
  }
  return false;
}
