// The supported drive's states as a host meets them: short sense and INQUIRY answers, unit
// attentions, becoming ready, a disc, a host's reset, and the ways programming ends, on a
// virtual clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/kdr_drive.h"
#include "tests/sim/kdr_blocks.h"

namespace sim {
namespace {

using namespace testing_blocks;

std::string Text(const Progress& p) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X/%02X/%02X", p.key, p.asc, p.ascq);
  return text;
}

TEST(KdrDriveStates, SenseAndInquiryDeliverAtMostTheirLength) {
  const struct {
    uint32_t senseLength, inquiryLength;
    uint32_t allocation, offered;
    uint32_t senseMoved, inquiryMoved;
  } cases[] = {
      {18, 36, 255, 252, 18, 36},  // a truthful drive
      {14, 36, 18, 18, 14, 18},    // an allocation of 18 is also INQUIRY's limit here
      {8, 5, 255, 252, 8, 5},
      {0, 0, 255, 252, 0, 0},
      {18, 36, 255, 4, 4, 4},      // the host offers less: what fits moves
  };
  VirtualClock clock;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.senseLength << "/" << c.inquiryLength << " "
                                      << c.allocation << " " << c.offered);
    KdrDriveConfig config;
    config.senseLength = c.senseLength;
    config.inquiryLength = c.inquiryLength;
    KdrDrive drive(clock, config);
    std::vector<uint8_t> data(c.offered);
    const uint8_t allocation = uint8_t(c.allocation);
    EXPECT_EQ(Send(drive, {0x03, 0, 0, 0, allocation, 0}, kDirIn, data.data(), c.offered).residual,
              c.offered - c.senseMoved);
    EXPECT_EQ(Send(drive, {0x12, 0, 0, 0, allocation, 0}, kDirIn, data.data(), c.offered).residual,
              c.offered - c.inquiryMoved);
    // What a port driver stores of INQUIRY is as short: the rest reads as zeros.
    uint8_t stored[36];
    drive.StandardInquiry(stored);
    for (uint32_t i = c.inquiryLength; i < 36; ++i) EXPECT_EQ(stored[i], 0) << i;
    if (c.inquiryLength == 36) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(stored + 8), 8), "KORVADSK");
    }
  }
}

// One command of a script: the clock moves first, then the command goes with a 64-byte data-in
// phase. `sense` is that of a CHECK CONDITION, or REQUEST SENSE's data; nullptr: not looked at.
struct Step {
  uint32_t afterMs;
  std::vector<uint8_t> cdb;
  uint8_t status;
  const char* sense;
};

struct Script {
  const char* name;
  KdrDriveConfig config;
  std::vector<Step> steps;
};

KdrDriveConfig With(void (*change)(KdrDriveConfig&)) {
  KdrDriveConfig config;
  change(config);
  return config;
}

const uint8_t kGood = kStatusGood;
const uint8_t kCheck = kStatusCheckCondition;

TEST(KdrDriveStates, UnitAttentionsBecomingReadyAndDiscs) {
  const std::vector<uint8_t> rs = kRequestSenseCdb;
  const std::vector<uint8_t> ssu = kStopUnitCdb;
  const std::vector<uint8_t> inq = kInquiryCdb;
  const std::vector<uint8_t> tur = kTestUnitReadyCdb;
  const std::vector<uint8_t> events = {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0};
  const auto powerOn = [](KdrDriveConfig& c) { c.unitAttentionAtPowerOn = true; };
  const Script scripts[] = {
      {"a unit attention fails the first command but INQUIRY, once",
       With(powerOn),
       {{0, inq, kGood, nullptr}, {0, ssu, kCheck, "06/29/00"}, {0, ssu, kGood, nullptr},
        {0, rs, kGood, "00/00/00"}}},
      {"REQUEST SENSE reports a unit attention as its data and clears it",
       With(powerOn),
       {{0, rs, kGood, "06/29/00"}, {0, rs, kGood, "00/00/00"}, {0, ssu, kGood, nullptr}}},
      {"the failed command's sense is for the REQUEST SENSE right after it",
       With(powerOn),
       {{0, ssu, kCheck, "06/29/00"}, {0, rs, kGood, "06/29/00"}, {0, rs, kGood, "00/00/00"}}},
      {"GET EVENT STATUS NOTIFICATION does not meet it either",
       With(powerOn),
       {{0, events, kGood, nullptr}, {0, tur, kCheck, "06/29/00"}}},
      {"ua-at=3: the third command meets it",
       With([](KdrDriveConfig& c) { c.unitAttentionAtCommand = 3; }),
       {{0, ssu, kGood, nullptr}, {0, inq, kGood, nullptr}, {0, ssu, kCheck, "06/28/00"},
        {0, ssu, kGood, nullptr}}},
      {"ua-at=2: a REQUEST SENSE as the second command reports it",
       With([](KdrDriveConfig& c) { c.unitAttentionAtCommand = 2; }),
       {{0, ssu, kGood, nullptr}, {0, rs, kGood, "06/28/00"}, {0, ssu, kGood, nullptr}}},
      {"becoming ready for 1000 ms after power-on",
       With([](KdrDriveConfig& c) { c.notReadyMs = 1000; }),
       {{0, inq, kGood, nullptr}, {0, ssu, kCheck, "02/04/01"}, {0, rs, kGood, "02/04/01"},
        {999, rs, kGood, "02/04/01"}, {1, ssu, kGood, nullptr}, {0, rs, kGood, "00/00/00"}}},
      {"a unit attention comes before becoming ready",
       With([](KdrDriveConfig& c) {
         c.unitAttentionAtPowerOn = true;
         c.notReadyMs = 1000;
       }),
       {{0, ssu, kCheck, "06/29/00"}, {0, ssu, kCheck, "02/04/01"}}},
      {"no disc", KdrDriveConfig(), {{0, tur, kCheck, "02/3A/00"}, {0, rs, kGood, "02/3A/00"}}},
      {"a disc", With([](KdrDriveConfig& c) { c.disc = true; }),
       {{0, tur, kGood, nullptr}, {0, rs, kGood, "00/00/00"}}},
      {"a disc inserted 500 ms after power-on",
       With([](KdrDriveConfig& c) { c.discInsertMs = 500; }),
       {{499, tur, kCheck, "02/3A/00"}, {1, tur, kCheck, "06/28/00"}, {0, tur, kGood, nullptr}}},
  };
  for (const Script& script : scripts) {
    SCOPED_TRACE(script.name);
    VirtualClock clock;
    KdrDrive drive(clock, script.config);
    for (size_t i = 0; i < script.steps.size(); ++i) {
      const Step& step = script.steps[i];
      SCOPED_TRACE(::testing::Message() << "step " << i);
      clock.Advance(step.afterMs);
      uint8_t data[64] = {};
      const Outcome o = Send(drive, step.cdb, kDirIn, data, sizeof data);
      ASSERT_TRUE(o.delivered);
      EXPECT_EQ(o.status, step.status);
      if (step.sense == nullptr) continue;
      EXPECT_EQ(Text(SenseOf(o.status == kCheck ? o.sense : data)), step.sense);
    }
  }
}

// A command that meets a unit attention is not executed.
TEST(KdrDriveStates, ACommandThatMeetsAUnitAttentionIsNotExecuted) {
  VirtualClock clock;
  KdrDriveConfig config;
  config.unitAttentionAtPowerOn = true;
  KdrDrive drive(clock, config);
  std::vector<uint8_t> block(4096, 0x42);
  EXPECT_EQ(Send(drive, BufferCdb(0x3B, 0, 4096), kDirOut, block.data(), 4096).status, kCheck);
  std::vector<uint8_t> back(4096, 0xEE);
  ASSERT_EQ(Send(drive, BufferCdb(0x3C, 0, 4096), kDirIn, back.data(), 4096).status, kGood);
  EXPECT_EQ(back, std::vector<uint8_t>(4096, 0x00)) << "the buffer memory is as at power-on";
}

// A disc that arrives is one media event, then present; the other answers say "a disc".
TEST(KdrDriveStates, ADiscThatArrivesIsOneMediaEvent) {
  VirtualClock clock;
  KdrDriveConfig config;
  config.discInsertMs = 500;
  KdrDrive drive(clock, config);
  const std::vector<uint8_t> events = {0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0};
  auto media = [&] {  // event code and media status of the media descriptor
    uint8_t data[8] = {};
    EXPECT_EQ(Send(drive, events, kDirIn, data, 8).status, kGood);
    return std::vector<uint8_t>{data[4], data[5]};
  };
  EXPECT_EQ(media(), (std::vector<uint8_t>{0, 0}));
  clock.Advance(500);
  EXPECT_EQ(media(), (std::vector<uint8_t>{2, 2}));  // new media, present
  EXPECT_EQ(media(), (std::vector<uint8_t>{0, 2}));
  EXPECT_EQ(Send(drive, kTestUnitReadyCdb, kDirNone, nullptr, 0).sense[12], 0x28);
  uint8_t data[64] = {};
  ASSERT_EQ(Send(drive, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kDirIn, data, 8).status, kGood);
  EXPECT_EQ(std::vector<uint8_t>(data, data + 8),
            (std::vector<uint8_t>{0x00, 0x04, 0x93, 0xDF, 0, 0, 0x08, 0}));  // 299999, 2048
  ASSERT_EQ(Send(drive, {0x46, 0x02, 0, 0, 0, 0, 0, 0, 64, 0}, kDirIn, data, 64).status, kGood);
  EXPECT_EQ(data[7], 0x08);       // current profile: CD-ROM
  EXPECT_EQ(data[8 + 4 + 2], 1);  // and its descriptor marked current
  ASSERT_EQ(Send(drive, {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 64, 0}, kDirIn, data, 64).status, kGood);
  EXPECT_EQ(data[2], 0x01);  // medium type: a data disc
}

// What a poller at 168 ms sees from the commit on, as a list of states without repeats:
// "progress" (02/04/07 below all bytes), "all done" (02/04/07 with all bytes), "gone" (no
// answer), or the sense otherwise.
std::vector<std::string> PollAfterCommit(KdrDrive& drive, VirtualClock& clock, uint32_t pollMs,
                                         uint32_t forMs) {
  std::vector<std::string> seen;
  for (uint32_t t = 0; t <= forMs; t += pollMs) {
    uint8_t reply[18] = {};
    const Outcome o = Send(drive, kRequestSenseCdb, kDirIn, reply, 18);
    const Progress p = SenseOf(reply);
    std::string state = Text(p);
    if (!o.delivered) {
      state = "gone";
    } else if (state == "02/04/07") {
      state = p.done == KdrDrive::kFlashSize ? "all done" : "progress";
    }
    if (seen.empty() || seen.back() != state) seen.push_back(state);
    clock.Advance(pollMs);
  }
  return seen;
}

TEST(KdrDriveStates, HowProgrammingEnds) {
  const struct {
    const char* name;
    ProgrammingEnd end;
    uint32_t finishMs;
    bool microcodeChanged;
    std::vector<std::string> seen;
  } cases[] = {
      {"idle", ProgrammingEnd::kIdle, 500, false, {"progress", "all done", "00/00/00"}},
      {"idle, no finish window", ProgrammingEnd::kIdle, 0, false, {"progress", "00/00/00"}},
      {"idle, microcode changed", ProgrammingEnd::kIdle, 500, true,
       {"progress", "all done", "06/3F/01", "00/00/00"}},
      {"reset", ProgrammingEnd::kReset, 500, false,
       {"progress", "all done", "06/29/00", "00/00/00"}},
      {"reset, microcode changed", ProgrammingEnd::kReset, 500, true,
       {"progress", "all done", "06/29/00", "06/3F/01", "00/00/00"}},
      {"vanish", ProgrammingEnd::kVanish, 500, false,
       {"progress", "all done", "gone", "06/29/00", "00/00/00"}},
      {"vanish, microcode changed", ProgrammingEnd::kVanish, 1000, true,
       {"progress", "all done", "gone", "06/29/00", "06/3F/01", "00/00/00"}},
  };
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualClock clock;
    KdrDriveConfig config;
    config.programMs = 8000;
    config.finishMs = c.finishMs;
    config.end = c.end;
    config.unitAttentionAfterProgramming = c.microcodeChanged;
    KdrDrive drive(clock, config);
    ASSERT_TRUE(Upload(drive, image));
    std::vector<uint8_t> scratch(4096);
    ASSERT_EQ(Send(drive, CommitCdb(sum), kDirIn, scratch.data(), 4096).status, kGood);
    EXPECT_EQ(PollAfterCommit(drive, clock, 168, 8000 + c.finishMs + 2000 + 1000), c.seen);
    EXPECT_EQ(drive.flash(), image);
    uint8_t inquiry[36];
    drive.StandardInquiry(inquiry);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 32), 4), "TR08");
  }
}

// A drive that vanishes is not present for vanishMs and comes back as a new attachment; the
// fault wrapper tells the same as the drive.
TEST(KdrDriveStates, AVanishedDriveComesBackAsANewAttachment) {
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  VirtualClock clock;
  KdrDriveConfig config;
  config.programMs = 1000;
  config.finishMs = 0;
  config.end = ProgrammingEnd::kVanish;
  config.vanishMs = 3000;
  KdrDrive drive(clock, config);
  FaultyDevice host(drive, FaultPlan());
  ASSERT_TRUE(Upload(host, image));
  std::vector<uint8_t> scratch(4096);
  ASSERT_EQ(Send(host, CommitCdb(sum), kDirIn, scratch.data(), 4096).status, kGood);
  const uint32_t before = host.Attachment();
  const struct {
    uint32_t atMs;  // since the commit
    bool present;
    uint32_t attachment;
  } moments[] = {{999, true, before},      {1000, false, before}, {3999, false, before},
                 {4000, true, before + 1}, {9000, true, before + 1}};
  uint64_t now = 0;
  for (const auto& m : moments) {
    SCOPED_TRACE(m.atMs);
    clock.Advance(m.atMs - now);
    now = m.atMs;
    EXPECT_EQ(host.Present(), m.present);
    EXPECT_EQ(drive.Present(), m.present);
    EXPECT_EQ(host.Attachment(), m.attachment);
    uint8_t reply[18] = {};
    EXPECT_EQ(Send(host, kRequestSenseCdb, kDirIn, reply, 18).delivered, m.present);
  }
}

// A host's reset while the drive programs: the next poll reads 06/29/03, the one after the
// progress again; programming runs to its end. The sense a refused command left is gone.
TEST(KdrDriveStates, AHostResetLeavesProgrammingRunning) {
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  VirtualClock clock;
  KdrDrive drive(clock);
  FaultyDevice host(drive, FaultPlan());
  ASSERT_TRUE(Upload(host, image));
  std::vector<uint8_t> scratch(4096);
  ASSERT_EQ(Send(host, CommitCdb(sum), kDirIn, scratch.data(), 4096).status, kGood);
  clock.Advance(4000);
  EXPECT_EQ(Send(host, kTestUnitReadyCdb, kDirNone, nullptr, 0).status, kCheck);
  host.Reset();
  EXPECT_EQ(Text(RequestSense(host)), "06/29/03");
  const Progress p = RequestSense(host);
  EXPECT_EQ(Text(p), "02/04/07");
  EXPECT_EQ(p.done, 0x40000u);
  clock.Advance(5000);
  EXPECT_FALSE(drive.programming());
  EXPECT_EQ(drive.flash(), image);
}

}  // namespace
}  // namespace sim
