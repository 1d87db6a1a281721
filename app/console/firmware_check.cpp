#include "app/console/firmware_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/update_dialog.h"
#include "engine/error_messages.h"
#include "engine/firmware_loader.h"
#include "drive/supported_model.h"

namespace {

// A check is never terminated.
uint8_t NeverAborted(void*) { return 0; }

// The whole file, up to kMaxFirmwareFileSize + 1 bytes. False on a read error.
bool ReadWhole(FileReader& file, std::vector<uint8_t>& bytes) {
  bytes.clear();
  uint8_t chunk[65536];
  for (;;) {
    const int32_t got = file.Read(chunk, sizeof chunk);
    if (got < 0) return false;
    if (got == 0) return true;
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (bytes.size() > kMaxFirmwareFileSize) return true;
  }
}

// The texts the update shows for each way the load fails.
std::string MessageFor(const LoadResult& load) {
  const int index = load.result == kLoadReadError     ? kErrReadInput
                    : load.result == kLoadFormatError ? kErrFormat
                                                      : load.message;
  return std::string("ERR: ") + errorMessages[index];
}

// Where `needle` first stands in [begin, end), or -1.
int64_t Find(const uint8_t* begin, const uint8_t* end, const char* needle) {
  const size_t length = std::strlen(needle);
  const uint8_t* at = std::search(begin, end, needle, needle + length,
                                  [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
  return at == end ? -1 : at - begin;
}

// The first bytes of the file as hexadecimal pairs: enough to recognise a container format.
std::string FirstBytes(const std::vector<uint8_t>& bytes) {
  std::string out;
  const size_t shown = std::min<size_t>(bytes.size(), 16);
  for (size_t i = 0; i < shown; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%s%02x", i == 0 ? "" : " ", bytes[i]);
    out += pair;
  }
  return out;
}

// Standard address records of Intel HEX that this drive's format does not have: the line's
// reason says which record stopped the load, and this says why.
std::string HintFor(const LoadResult& load) {
  if (load.detail == kDetailRecordType && (load.value == 0x02 || load.value == 0x04)) {
    return "types 02 and 04 are the extended address records of standard Intel HEX (as "
           "srec_cat and objcopy write them); this drive's text files reach past 64 KiB with "
           "bank records of type 55 instead, so the file is not one made for this drive";
  }
  if (load.detail == kDetailRecordType && (load.value == 0x03 || load.value == 0x05)) {
    return "types 03 and 05 are the start address records of standard Intel HEX; this drive's "
           "text files have none";
  }
  return "";
}

}  // namespace

uint32_t ImageShareTenths(uint32_t bytes) {
  return static_cast<uint32_t>(uint64_t{bytes} * 1000 / kImageSize);
}

std::string WhatTheBytesLookLike(const std::vector<uint8_t>& bytes) {
  struct Signature {
    const char* name;
    uint8_t length;
    uint8_t bytes[6];
  };
  static const Signature kSignatures[] = {
      {"starts with gzip signature 1f 8b", 2, {0x1f, 0x8b}},
      {"starts with bzip2 signature 42 5a 68 (\"BZh\")", 3, {0x42, 0x5a, 0x68}},
      {"starts with xz signature fd 37 7a 58 5a 00", 6, {0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00}},
      {"starts with zstd signature 28 b5 2f fd", 4, {0x28, 0xb5, 0x2f, 0xfd}},
      {"starts with zip signature 50 4b 03 04 (\"PK\")", 4, {0x50, 0x4b, 0x03, 0x04}},
      {"starts with 7z signature 37 7a bc af 27 1c", 6, {0x37, 0x7a, 0xbc, 0xaf, 0x27, 0x1c}},
      {"starts with ELF signature 7f 45 4c 46", 4, {0x7f, 0x45, 0x4c, 0x46}},
      {"starts with PDF signature 25 50 44 46 (\"%PDF\")", 4, {0x25, 0x50, 0x44, 0x46}},
  };
  for (const Signature& signature : kSignatures) {
    if (bytes.size() >= signature.length &&
        std::equal(signature.bytes, signature.bytes + signature.length, bytes.begin())) {
      return signature.name;
    }
  }
  // Text: printable characters and line ends throughout the first stretch.
  const size_t stretch = std::min<size_t>(bytes.size(), 512);
  if (stretch == 0) return "";
  bool text = true;
  for (size_t i = 0; i < stretch && text; ++i) {
    const uint8_t c = bytes[i];
    text = (c >= 0x20 && c < 0x7f) || c == '\n' || c == '\r' || c == '\t';
  }
  if (!text) return "";
  return bytes[0] == ':' ? "looks like text records: a ':' and hexadecimal digits"
                         : "looks like text";
}

bool CheckFirmwareFile(platform::Os& os, const std::string& path, FirmwareSummary& out) {
  out = FirmwareSummary();
  out.path = path;
  char name[512];
  uint8_t isHexFile = 0;
  if (path.size() >= sizeof name) {
    out.message = "Update file name is not correct!";
    return false;
  }
  std::memcpy(name, path.c_str(), path.size() + 1);
  if (!FirmwareFormatFromName(name, isHexFile)) {
    out.message = "Update file name is not correct!";
    return false;
  }
  out.format = isHexFile != 0 ? "text records" : "binary";

  FileReader file(os);
  if (!file.Open(name)) {
    // The update's last word on a file that does not open.
    out.message = std::string("ERR: ") + errorMessages[kErrReadInput];
    return false;
  }
  if (file.Size() > kMaxFirmwareFileSize) {
    out.message = "the file is larger than any firmware file for this drive (" +
                  std::to_string(file.Size()) + " bytes)";
    return false;
  }
  // Read to its end, once. A file that grew or shrank while it was read is not the file that
  // was measured: it is refused as a failed read, as the run would refuse it.
  const bool read = ReadWhole(file, out.bytes) && out.bytes.size() == file.Size();
  file.Close();
  if (!read) {
    out.bytes.clear();
    out.message = std::string("ERR: ") + errorMessages[kErrReadInput];
    return false;
  }
  out.firstBytes = FirstBytes(out.bytes);
  out.looksLike = WhatTheBytesLookLike(out.bytes);
  MemoryReader memory(out.bytes.data(), out.bytes.size());
  FirmwareImage image{};
  const LoadResult load =
      LoadFirmware(os, memory, isHexFile, AbortQuery{nullptr, NeverAborted}, image);
  if (load.result == kLoadOk) {
    out.imageSum = ImageSum(image);
    out.fileBytes = load.fileBytes;
    out.survivingBytes = load.survivingBytes;
    out.accepted = true;
    // The image as the file fills it: for text records the bytes decoded, not their digits.
    const uint8_t* begin = image.banks[0];
    out.vendorOffset = Find(begin, begin + kImageSize, kSupportedDrive.vendor);
    out.productOffset = Find(begin, begin + kImageSize, kSupportedDrive.product);
  } else {
    out.message = MessageFor(load);
    char reason[256];
    if (DescribeLoadDetail(load, reason, sizeof reason)) out.reason = reason;
    out.line = load.line;
    out.hint = HintFor(load);
    const uint8_t* begin = out.bytes.data();
    out.vendorOffset = Find(begin, begin + out.bytes.size(), kSupportedDrive.vendor);
    out.productOffset = Find(begin, begin + out.bytes.size(), kSupportedDrive.product);
  }
  ReleaseImage(os, image);
  return out.accepted;
}
