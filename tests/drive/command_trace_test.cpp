// The command trace: its line format, and one line per command from both transports and from
// discovery's own pass-through INQUIRY.
#include "drive/command_trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "drive/drive.h"
#include "drive/nt_pass_through_transport.h"
#include "tests/support/fake_os.h"
#include "tests/support/system_os.h"
#include "sim/device.h"
#include "sim/nt_port.h"

namespace {

struct LineCase {
  std::vector<uint8_t> cdb;
  uint8_t direction;
  uint32_t length;
  bool ok;
  std::vector<uint8_t> sense;  // fixed format; empty: none
  const char* line;
};

std::vector<uint8_t> Sense(uint8_t key, uint8_t asc, uint8_t ascq) {
  std::vector<uint8_t> s(18, 0);
  s[0] = 0x70;
  s[2] = key;
  s[12] = asc;
  s[13] = ascq;
  return s;
}

TEST(CommandTraceTest, LineFormat) {
  const LineCase cases[] = {
      {{0x3C, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x10, 0x00, 0x0A, 0x0B, 0x0C}, kDataIn, 4096,
       true, {}, "3C 02 00 00 10 00 00 10 00 0A 0B 0C in 4096 ok"},
      {{0x3B, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00}, kDataOut, 4096,
       false, Sense(0x03, 0x0C, 0x00), "3B 02 00 00 10 00 00 10 00 00 00 00 out 4096 fail 03/0C/00"},
      {{0x1B, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, 0, false, Sense(0xF2, 0x04, 0x07),
       "1B 00 00 00 00 00 none 0 fail 02/04/07"},  // the key is the low nibble of byte 2
      {{0x12, 0x00, 0x00, 0x00, 0x7F, 0x00}, kDataIn, 2048, false, {},
       "12 00 00 00 7F 00 in 2048 fail 00/00/00"},
  };
  for (const LineCase& c : cases) {
    char line[drive::kTraceLineMax];
    const size_t n = drive::FormatTraceLine(line, c.cdb.data(), static_cast<uint8_t>(c.cdb.size()),
                                            c.direction, c.length, c.ok,
                                            c.sense.empty() ? nullptr : c.sense.data());
    EXPECT_EQ(std::string(line, n), c.line);
  }
}

std::vector<std::string> ReadLines(std::FILE* file) {
  std::rewind(file);
  std::vector<std::string> lines;
  char buffer[256];
  while (std::fgets(buffer, sizeof(buffer), file) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = std::tmpfile();
    ASSERT_NE(file_, nullptr);
    trace_ = std::make_unique<drive::CommandTrace>(file_);
  }
  void TearDown() override {
    transport_.SetTrace(nullptr);
    trace_.reset();
    std::fclose(file_);
  }
  std::unique_ptr<platform::WindowsOs> system_ = testsupport::NewSystemOs();
  fake::FakeOs fakes_{*system_};
  sim::NtPort port_;
  sim::NtPortOs os_{fakes_, port_};
  NtPassThroughTransport transport_{os_, false};
  std::FILE* file_ = nullptr;
  std::unique_ptr<drive::CommandTrace> trace_;
};

TEST_F(TraceTest, OneLinePerCommandSentOnlyWhileSwitchedOn) {
  sim::BasicDevice drive(sim::SupportedDriveIdentity());
  sim::BasicDevice disk(sim::DiskIdentity());
  port_.Attach('c', &disk);
  port_.Attach('d', &drive);
  transport_.SetTrace(trace_.get());
  DriveList drives{};
  transport_.Discover(drives);
  ASSERT_EQ(drives.count, 1u);

  uint8_t sense[kSenseAreaSize];
  const uint8_t startUnit[12] = {0x1B, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0};
  const uint8_t unknown[12] = {0xF9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ScsiRequest request{drives.records[0], 0, 0, nullptr, 12, startUnit, sense, 0};
  EXPECT_EQ(transport_.Send(request), ScsiOutcome::kGood);
  request.cdb = unknown;
  EXPECT_EQ(transport_.Send(request), ScsiOutcome::kCheckCondition);
  request.cdbLength = 0;  // refused, never sent: no line
  EXPECT_EQ(transport_.Send(request), ScsiOutcome::kNotSent);
  transport_.SetTrace(nullptr);
  request.cdbLength = 12;
  transport_.Send(request);
  transport_.ReleaseDrives(drives);
  EXPECT_FALSE(trace_->Failed());

  EXPECT_EQ(ReadLines(file_), (std::vector<std::string>{
                                  "12 00 00 00 7F 00 in 2048 ok",
                                  "12 00 00 00 7F 00 in 2048 ok",
                                  "1B 00 00 00 01 00 00 00 00 00 00 00 none 0 ok",
                                  "F9 00 00 00 00 00 00 00 00 00 00 00 none 0 fail 05/20/00",
                              }));
}

TEST(CommandTraceThreadsTest, LinesFromSeveralThreadsStayWhole) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  drive::CommandTrace trace(file);
  const int kThreads = 4;
  const int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &trace] {
      uint8_t cdb[12] = {static_cast<uint8_t>(0xA0 + t), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
      for (int i = 0; i < kLines; ++i) trace.Write(cdb, 12, kDataIn, 4096, true, nullptr);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::string> lines = ReadLines(file);
  std::fclose(file);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  for (const std::string& line : lines) {
    ASSERT_EQ(line.substr(2), " 00 00 00 00 00 00 00 00 00 00 00 in 4096 ok") << line;
  }
}

}  // namespace
