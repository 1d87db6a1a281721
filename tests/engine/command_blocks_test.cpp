// The seven download commands: their exact command blocks and data phases, and how the
// progress poll reads the drive's sense data.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "drive/command_trace.h"
#include "engine/download_commands.h"
#include "engine/firmware_image.h"
#include "tests/support/engine_harness.h"

namespace enginetest {
namespace {

using ::testing::ElementsAreArray;

// Answers every command as scripted and keeps a copy of what it was sent.
class ScriptedDevice : public sim::Device {
 public:
  sim::Outcome Execute(const sim::Command& command) override {
    sent.clear();
    if (command.direction == sim::kDirOut && command.data != nullptr) {
      sent.assign(command.data, command.data + command.dataLength);
    }
    if (outcome.delivered && command.direction == sim::kDirIn && command.data != nullptr) {
      const size_t n = std::min<size_t>(reply.size(), command.dataLength);
      if (n > 0) std::memcpy(command.data, reply.data(), n);
    }
    return outcome;
  }
  uint8_t PeripheralByte() const override { return 5; }
  void StandardInquiry(uint8_t out[36]) const override { std::memset(out, 0, 36); }

  sim::Outcome outcome = sim::Good();
  std::vector<uint8_t> reply;
  std::vector<uint8_t> sent;
};

class CommandTest : public ::testing::Test {
 protected:
  CommandTest() {
    h.Attach(device);
    job = h.Job("unused.bin", 0);
    link = DriveLink{&job.drive, job.transport};
    storage.resize(kImageSize);
    for (uint32_t i = 0; i < kImageSize; ++i) storage[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  }
  const TraceEntry& Last() const { return h.trace.back(); }

  Harness h;
  ScriptedDevice device;
  UpdateJob job{};
  DriveLink link{};
  std::vector<uint8_t> storage;
};

struct BufferCase {
  uint32_t address;
  uint8_t a2, a1, a0;
};

TEST_F(CommandTest, BufferCommandsCarryTheAddressBigEndianAndFixedBytes) {
  const BufferCase cases[] = {
      {0x00000, 0x00, 0x00, 0x00},
      {0x01000, 0x00, 0x10, 0x00},
      {0x7F000, 0x07, 0xF0, 0x00},  // the last block of the image
      {0x183000, 0x18, 0x30, 0x00},
  };
  uint8_t sense[kSenseAreaSize];
  uint8_t destination[kBlockSize];
  for (const BufferCase& c : cases) {
    SCOPED_TRACE(c.address);
    const uint32_t at = c.address < kImageSize ? c.address : 0;
    ASSERT_TRUE(WriteBlock(link, c.address, storage.data() + at, sense));
    EXPECT_THAT(Last().cdb, ElementsAreArray({0x3B, 0x02, 0x00, int(c.a2), int(c.a1), int(c.a0),
                                              0x00, 0x10, 0x00, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(Last().direction, kDataOut);
    EXPECT_EQ(Last().dataLength, kBlockSize);
    EXPECT_TRUE(std::equal(device.sent.begin(), device.sent.end(), storage.begin() + at));
    EXPECT_EQ(device.sent.size(), kBlockSize);

    device.reply.assign(storage.begin() + at, storage.begin() + at + kBlockSize);
    ASSERT_TRUE(VerifyBlock(link, c.address, storage.data() + at, sense));
    EXPECT_THAT(Last().cdb, ElementsAreArray({0x3C, 0x02, 0x00, int(c.a2), int(c.a1), int(c.a0),
                                              0x00, 0x10, 0x00, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(Last().direction, kDataIn);

    ASSERT_TRUE(ReadDriveBuffer(link, c.address, 100, destination));
    EXPECT_THAT(Last().cdb, ElementsAreArray({0x3C, 0x02, 0x00, int(c.a2), int(c.a1), int(c.a0),
                                              0x00, 0x10, 0x00, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(Last().dataLength, 100u) << "the block always says 4096; the request carries the length";
  }
}

TEST_F(CommandTest, VerifyBlockComparesEveryByteAndNothingAfterAFailedRead) {
  const uint8_t* expected = storage.data() + 0x9000;
  uint8_t sense[kSenseAreaSize];
  for (size_t differing : {size_t{0}, size_t{kBlockSize - 1}}) {
    device.reply.assign(storage.begin() + 0x9000, storage.begin() + 0x9000 + kBlockSize);
    device.reply[differing] ^= 0x01;
    EXPECT_FALSE(VerifyBlock(link, 0x9000, expected, sense)) << differing;
  }
  // A failed READ BUFFER reports false even when the buffer happens to hold the right bytes.
  device.reply.assign(storage.begin() + 0x9000, storage.begin() + 0x9000 + kBlockSize);
  device.outcome = sim::CheckCondition(0x04, 0x44, 0x00);
  EXPECT_FALSE(VerifyBlock(link, 0x9000, expected, sense));
  EXPECT_EQ(sense[2], 0x04);
  EXPECT_EQ(sense[12], 0x44);
}

// The transport's command trace shows each block as the engine built it, with its direction.
std::vector<std::string> TraceLines(FILE* f) {
  std::vector<std::string> lines;
  std::rewind(f);
  char line[256];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    lines.emplace_back(line, std::strcspn(line, "\n"));
  }
  return lines;
}

TEST_F(CommandTest, FixedBlocksOfStopPrepareAndPoll) {
  FILE* traceFile = std::tmpfile();
  ASSERT_NE(traceFile, nullptr);
  drive::CommandTrace trace(traceFile);
  link.transport->SetTrace(&trace);
  uint8_t sense[kSenseAreaSize];
  ProgressFlags flags{};
  const bool stopped = StopUnit(link, sense);
  const bool prepared = PrepareReadBack(link);
  PollProgress(link, flags);
  device.outcome = sim::CheckCondition(0x02, 0x3A, 0x00);
  const bool stoppedWithoutMedium = StopUnit(link, sense);
  const bool preparedWithoutMedium = PrepareReadBack(link);
  link.transport->SetTrace(nullptr);
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(prepared);
  EXPECT_FALSE(stoppedWithoutMedium);
  EXPECT_FALSE(preparedWithoutMedium);
  EXPECT_EQ(TraceLines(traceFile),
            (std::vector<std::string>{
                "1B 00 00 00 00 00 00 00 00 00 00 00 none 0 ok",
                "F1 01 00 00 40 7D 00 00 00 26 00 00 in 0 ok",
                "03 00 00 00 12 00 00 00 00 00 00 00 in 18 ok",
                "1B 00 00 00 00 00 00 00 00 00 00 00 none 0 fail 02/3A/00",
                "F1 01 00 00 40 7D 00 00 00 26 00 00 in 0 fail 02/3A/00",
            }));
  std::fclose(traceFile);
}

struct CommitCase {
  bool force;
  bool disable;
  uint8_t b9, b10, b11;
};

TEST_F(CommandTest, CommitCarriesTheSumAndTheTwoOptions) {
  const CommitCase cases[] = {
      {false, false, 0x0A, 0x0B, 0x0C},
      {true, false, 0x8A, 0x0B, 0x0C},
      {false, true, 0x0A, 0x00, 0x00},
      {true, true, 0x8A, 0x00, 0x00},
  };
  for (const CommitCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.force << "/" << c.disable);
    uint8_t sense[kSenseAreaSize];
    EXPECT_TRUE(CommitUpdate(link, 0x1234, CommitOptions{c.force, c.disable}, sense));
    EXPECT_THAT(Last().cdb, ElementsAreArray({0x3B, 0x01, 0x01, 0x12, 0x34, 0x00, 0x00, 0x00,
                                              0x00, int(c.b9), int(c.b10), int(c.b11)}));
    EXPECT_EQ(Last().direction, kDataIn);
    EXPECT_EQ(Last().dataLength, kBlockSize);
  }
}

struct PollCase {
  const char* name;
  uint8_t key, asc, ascq;
  uint32_t done;  // INFORMATION bytes 4..6
  int32_t completionBefore;
  uint8_t percent;
  int32_t completionAfter;
  int32_t succeededAfter;  // -1: untouched (stays at the sentinel 7)
};

TEST_F(CommandTest, PollProgressReadsProgressAndDecidesTheOutcome) {
  const PollCase cases[] = {
      {"start", 0x02, 0x04, 0x07, 0x00000, 0, 0, 0, -1},
      {"half", 0x02, 0x04, 0x07, 0x40000, 0, 50, 0, -1},
      {"below window", 0x02, 0x04, 0x07, 0x7DFFF, 0, 98, 0, -1},
      {"window start", 0x02, 0x04, 0x07, 0x7E000, 0, 100, 1, 1},
      {"window end", 0x02, 0x04, 0x07, 0x80000, 0, 100, 1, 1},
      {"past window", 0x02, 0x04, 0x07, 0x80001, 0, 100, 0, -1},
      {"wild value", 0x02, 0x04, 0x07, 0xFFFFFF, 0, 127, 0, -1},
      {"no sense, window seen", 0x00, 0x00, 0x00, 0, 1, 100, 1, 1},
      {"no sense, window missed", 0x00, 0x00, 0x00, 0, 0, 100, 0, 0},
      {"flag bit on the key", 0x22, 0x04, 0x07, 0x40000, 0, 100, 0, 0},
      {"other not-ready", 0x02, 0x04, 0x01, 0x40000, 1, 100, 1, 1},
  };
  for (const PollCase& c : cases) {
    SCOPED_TRACE(c.name);
    device.reply.assign(18, 0);
    device.reply[0] = 0xF0;
    device.reply[2] = c.key;
    device.reply[3] = 0x55;  // not part of the progress value
    device.reply[4] = static_cast<uint8_t>(c.done >> 16);
    device.reply[5] = static_cast<uint8_t>(c.done >> 8);
    device.reply[6] = static_cast<uint8_t>(c.done);
    device.reply[12] = c.asc;
    device.reply[13] = c.ascq;
    ProgressFlags flags{c.completionBefore, 7, 0, 0};
    EXPECT_EQ(PollProgress(link, flags), c.percent);
    EXPECT_EQ(flags.completionSeen, c.completionAfter);
    EXPECT_EQ(flags.updateSucceeded, c.succeededAfter < 0 ? 7 : c.succeededAfter);
  }
}

TEST_F(CommandTest, PollProgressTakesAFailedRequestAsNoAnswer) {
  // The drive would say "half done", or "no longer programming", but the reply never arrives
  // (or arrives too short to hold ASC and ASCQ, or is no sense data at all): nothing is decided,
  // whatever an earlier poll saw. A unit attention is an answer, but not about programming.
  const struct {
    const char* name;
    sim::Outcome outcome;
    uint8_t code, key;
    PollAnswer answer;
  } cases[] = {
      {"no answer, programming", sim::NoAnswer(), 0x70, 0x02, PollAnswer::kNoAnswer},
      {"no answer, done", sim::NoAnswer(), 0x70, 0x00, PollAnswer::kNoAnswer},
      {"CHECK CONDITION", sim::CheckCondition(0x02, 0x04, 0x07), 0x70, 0x00,
       PollAnswer::kNoAnswer},
      {"five bytes short", sim::GoodWithResidual(5), 0x70, 0x00, PollAnswer::kNoAnswer},
      {"nothing arrived, no residual", sim::Good(), 0x00, 0x00, PollAnswer::kNoAnswer},
      {"unit attention", sim::Good(), 0x70, 0x06, PollAnswer::kUnitAttention},
  };
  for (const auto& c : cases) {
    for (int seen : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << c.name << ", window seen " << seen);
      device.outcome = c.outcome;
      device.reply.assign(18, 0);
      device.reply[0] = c.code;
      device.reply[2] = c.key;
      device.reply[4] = 0x04;
      device.reply[7] = 10;
      device.reply[12] = c.key == 0x06 ? 0x29 : 0x04;
      device.reply[13] = c.key == 0x06 ? 0x00 : 0x07;
      ProgressFlags flags{seen, 7, 0, 0};
      PollAnswer answered = PollAnswer::kAboutProgramming;
      EXPECT_EQ(PollProgress(link, flags, &answered), 0);
      EXPECT_EQ(answered, c.answer);
      EXPECT_EQ(flags.completionSeen, seen);
      EXPECT_EQ(flags.updateSucceeded, 7);
    }
  }
}

}  // namespace
}  // namespace enginetest
