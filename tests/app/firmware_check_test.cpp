// --check's summary beyond the loader's verdict: where the drive's INQUIRY strings stand (in the
// decoded image, not in a text file's digits), what the first bytes look like, and the
// loader's reason for a refused file.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/console/firmware_check.h"
#include "tests/support/system_os.h"
#include "tests/support/temp_folder.h"

namespace {

// One text record, its checksum computed.
std::string Record(uint8_t type, uint16_t address, const std::string& data) {
  std::vector<uint8_t> body = {static_cast<uint8_t>(data.size()),
                               static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address & 0xFF), type};
  body.insert(body.end(), data.begin(), data.end());
  unsigned sum = 0;
  std::string out = ":";
  char pair[3];
  for (uint8_t b : body) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    out += pair;
    sum += b;
  }
  std::snprintf(pair, sizeof pair, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return out + pair + "\r\n";
}

TEST(FirmwareCheck, TheModelsStringsAreLookedForInTheImageTheFileFills) {
  const std::unique_ptr<platform::WindowsOs> os = testsupport::NewSystemOs();
  const testsupport::TempFolder folder;
  const std::string end = Record(0x01, 0, "");
  const struct {
    const char* name;
    std::string file;
    std::string content;
    bool accepted;
    int64_t vendorAt;
    int64_t productAt;
  } cases[] = {
      // In text records the strings are data bytes: found at their image addresses, past a bank.
      {"records", "a.hex",
       Record(0x00, 0x4010, "KORVADSK") + Record(0x55, 0, "") +
           Record(0x00, 0x0020, "RW/DVD KDR-7305C") + end,
       true, 0x4010, 0x10020},
      // A text file's own characters are not the image: the digits spell nothing.
      {"records without the strings", "b.hex", Record(0x00, 0x4000, "firmware") + end, true, -1,
       -1},
      {"a raw image", "c.bin", std::string(0x4100, '\0') + "RW/DVD KDR-7305C", true, -1, 0x4100},
      // A refused file is searched as it stands.
      {"refused records", "d.hex", "KORVADSK RW/DVD KDR-7305C\n" + end, false, 0, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FirmwareSummary summary;
    EXPECT_EQ(CheckFirmwareFile(*os, folder.Write(c.file, c.content), summary), c.accepted);
    EXPECT_EQ(summary.vendorOffset, c.vendorAt);
    EXPECT_EQ(summary.productOffset, c.productAt);
  }
}

TEST(FirmwareCheck, ARefusedFileGetsTheLoadersReasonBesideTheUpdatesMessage) {
  const std::unique_ptr<platform::WindowsOs> os = testsupport::NewSystemOs();
  const testsupport::TempFolder folder;
  FirmwareSummary summary;
  const std::string file = Record(0x00, 0x4000, "ab") + Record(0x04, 0, "\x00\x01") +
                           Record(0x01, 0, "");
  ASSERT_FALSE(CheckFirmwareFile(*os, folder.Write("std.hex", file), summary));
  EXPECT_EQ(summary.message, "ERR: input file format mismatched!");
  EXPECT_EQ(summary.reason,
            "line 2: record type 04 is not used by this format (00, 01 and 55 are)");
  EXPECT_EQ(summary.line, 2u);
  EXPECT_NE(summary.hint.find("srec_cat"), std::string::npos);
  EXPECT_EQ(summary.looksLike, "looks like text records: a ':' and hexadecimal digits");
}

TEST(FirmwareCheck, WhatTheFirstBytesLookLike) {
  const struct {
    std::vector<uint8_t> bytes;
    const char* said;
  } cases[] = {
      {{0x1f, 0x8b, 0x08, 0x00}, "starts with gzip signature 1f 8b"},
      {{0xfd, 0x37, 0x7a, 0x58, 0x5a, 0x00, 0x00}, "starts with xz signature fd 37 7a 58 5a 00"},
      {{0xfd, 0x37, 0x7a, 0x58, 0x5a}, ""},  // a signature cut short is no signature
      {{0x50, 0x4b, 0x03, 0x04}, "starts with zip signature 50 4b 03 04 (\"PK\")"},
      {{0x7f, 'E', 'L', 'F', 2}, "starts with ELF signature 7f 45 4c 46"},
      {{'h', 'i', '\r', '\n'}, "looks like text"},
      {{'h', 'i', 0x00}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WhatTheBytesLookLike(c.bytes), c.said);
  }
}

TEST(FirmwareCheck, TheImageShareIsRoundedDown) {
  EXPECT_EQ(ImageShareTenths(0x80000), 1000u);
  EXPECT_EQ(ImageShareTenths(0x80000 - 1), 999u);
  EXPECT_EQ(ImageShareTenths(9870), 18u);
  EXPECT_EQ(ImageShareTenths(1), 0u);
}

}  // namespace
