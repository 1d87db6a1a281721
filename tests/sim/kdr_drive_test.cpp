// The simulated supported drive on its own: identity, buffer memory, boot data, the commit's
// checks, programming over clock time, and the fault wrapper.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/kdr_drive.h"
#include "tests/sim/kdr_blocks.h"
#include "tests/support/temp_folder.h"

namespace sim {
namespace {

using namespace testing_blocks;

// `cdb` with bytes 9 to 11 replaced.
std::vector<uint8_t> WithBytes(std::vector<uint8_t> cdb, std::vector<uint8_t> bytes9to11) {
  std::copy(bytes9to11.begin(), bytes9to11.end(), cdb.begin() + 9);
  return cdb;
}

// `cdb` cut to, or padded with zeros to, `length` bytes.
std::vector<uint8_t> Resized(std::vector<uint8_t> cdb, size_t length) {
  cdb.resize(length, 0x00);
  return cdb;
}

// A block the drive must refuse, and the data phase offered with it.
struct RefusedBlock {
  std::string name;
  std::vector<uint8_t> cdb;
  uint8_t dir;
  uint32_t length;
};

// Sends the block with `data` offered; it must meet ILLEGAL REQUEST, INVALID FIELD IN CDB.
void ExpectRefused(Device& drive, const RefusedBlock& c, uint8_t* data) {
  const Outcome o = Send(drive, c.cdb, c.dir, data, c.length);
  EXPECT_EQ(o.status, kStatusCheckCondition);
  EXPECT_EQ(o.sense[2], kKeyIllegalRequest);
  EXPECT_EQ(o.sense[12], kAscInvalidField);
}

class KdrDriveTest : public ::testing::Test {
 protected:
  VirtualClock clock;
  KdrDrive drive{clock};
};

TEST_F(KdrDriveTest, AnswersInquiryAsTheSupportedModel) {
  uint8_t inquiry[36];
  drive.StandardInquiry(inquiry);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 8), 24), "KORVADSKRW/DVD KDR-7305C");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 32), 4), "TR07");
  EXPECT_EQ(inquiry[0], 0x05);
}

TEST_F(KdrDriveTest, BufferMemoryMovesWhatTheBlockSays) {
  std::vector<uint8_t> out(4096);
  for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(i ^ 0x5C);
  // The highest block of the 2 MiB buffer.
  ASSERT_EQ(Send(drive, BufferCdb(0x3B, 0x1FF000, 4096), kDirOut, out.data(), 4096).status,
            kStatusGood);
  std::vector<uint8_t> in(4096);
  ASSERT_EQ(Send(drive, BufferCdb(0x3C, 0x1FF000, 4096), kDirIn, in.data(), 4096).status,
            kStatusGood);
  EXPECT_EQ(in, out);
  // A partial read at an odd address.
  std::vector<uint8_t> part(16);
  ASSERT_EQ(Send(drive, BufferCdb(0x3C, 0x1FF010, 16), kDirIn, part.data(), 16).status,
            kStatusGood);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), out.begin() + 16));
}

TEST_F(KdrDriveTest, RefusesBufferCommandsItDoesNotKnow) {
  std::vector<uint8_t> data(8192);
  const RefusedBlock cases[] = {
      {"beyond the buffer", BufferCdb(0x3B, 0x1FF800, 4096), kDirOut, 4096},
      {"mode 0", BufferCdb(0x3B, 0, 4096, 0), kDirOut, 4096},
      {"buffer ID 1", BufferCdb(0x3C, 0, 4096, 2, 1), kDirIn, 4096},
      {"write without the check bytes", WithBytes(BufferCdb(0x3B, 0, 4096), {0, 0, 0}), kDirOut,
       4096},
      {"read with the check bytes reversed", WithBytes(BufferCdb(0x3C, 0, 4096), {0x0C, 0x0B, 0x0A}),
       kDirIn, 4096},
      {"write with one check byte wrong", WithBytes(BufferCdb(0x3B, 0, 4096), {0x0A, 0x0B, 0x0D}),
       kDirOut, 4096},
      {"read as a 10-byte block", Resized(BufferCdb(0x3C, 0, 4096), 10), kDirIn, 4096},
      {"write as a 16-byte block", Resized(BufferCdb(0x3B, 0, 4096), 16), kDirOut, 4096},
  };
  for (const RefusedBlock& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRefused(drive, c, data.data());
  }
}

TEST_F(KdrDriveTest, PrepareCommandPlacesTheBootData) {
  ASSERT_EQ(Send(drive, kPrepareCdb, kDirIn, nullptr, 0).status, kStatusGood);
  std::vector<uint8_t> in(0x4000);
  for (uint32_t off = 0; off < 0x4000; off += 4096) {
    Send(drive, BufferCdb(0x3C, 0x180000 + off, 4096), kDirIn, in.data() + off, 4096);
  }
  EXPECT_EQ(in, drive.BootData());
  EXPECT_EQ(drive.BootData().size(), 0x4000u);
  EXPECT_EQ(drive.BootData(), KdrDrive::FactoryBootData());
}

// The drive knows exactly one 0xF1 block and a commit only as a 12-byte block that announces
// no data: anything else is refused as ILLEGAL REQUEST, INVALID FIELD IN CDB, and changes
// nothing. (Whatever data phase the host offers with them is no reason to refuse.)
TEST_F(KdrDriveTest, RefusesAnyOtherPrepareOrCommitForm) {
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  ASSERT_TRUE(Upload(drive, image));
  std::vector<uint8_t> data(8192);
  std::vector<RefusedBlock> cases = {
      {"prepare as a 10-byte block", Resized(kPrepareCdb, 10), kDirIn, 0},
      {"prepare as a 16-byte block", Resized(kPrepareCdb, 16), kDirIn, 0},
      {"commit as a 16-byte block", Resized(CommitCdb(sum), 16), kDirIn, 4096},
  };
  std::vector<uint8_t> announcing = CommitCdb(sum);
  announcing[7] = 0x10;  // a transfer length of 4096
  cases.push_back({"commit announcing 4096 bytes", announcing, kDirIn, 4096});
  for (size_t i = 1; i < kPrepareCdb.size(); ++i) {
    std::vector<uint8_t> other = kPrepareCdb;
    other[i] ^= 0x01;
    cases.push_back({"prepare with byte " + std::to_string(i) + " changed", other, kDirIn, 0});
  }
  std::vector<uint8_t> buffer(4096);
  const std::vector<uint8_t> bootData = KdrDrive::FactoryBootData();
  for (const RefusedBlock& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRefused(drive, c, data.data());
    EXPECT_FALSE(drive.programming());
    // The buffer at 0x180000 still holds the image's bytes, not the boot data.
    ASSERT_EQ(Send(drive, BufferCdb(0x3C, 0x180000, 4096), kDirIn, buffer.data(), 4096).status,
              kStatusGood);
    EXPECT_NE(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 16),
              std::vector<uint8_t>(bootData.begin(), bootData.begin() + 16));
  }
  EXPECT_EQ(drive.commits(), 0u);
}

// Each block moves what it announces through whatever data phase the host offers: more offered
// is a residual, less is an overrun (what fits moves, residual 0), the other direction moves
// nothing. None of it is a drive error; bytes that do not move are the host's, untouched.
TEST_F(KdrDriveTest, DataPhasesMoveWhatTheBlockAnnounces) {
  const struct {
    const char* name;
    std::vector<uint8_t> cdb;
    uint8_t dir;
    uint32_t offered;
    uint32_t residual;
  } cases[] = {
      {"read, as much offered", BufferCdb(0x3C, 0, 4096), kDirIn, 4096, 0},
      {"read, twice as much offered", BufferCdb(0x3C, 0, 4096), kDirIn, 8192, 4096},
      {"read, 100 bytes offered", BufferCdb(0x3C, 0, 4096), kDirIn, 100, 0},
      {"read, a data-out phase", BufferCdb(0x3C, 0, 4096), kDirOut, 4096, 4096},
      {"read of 16 bytes", BufferCdb(0x3C, 0x10, 16), kDirIn, 4096, 4080},
      {"write, 100 bytes offered", BufferCdb(0x3B, 0, 4096), kDirOut, 100, 0},
      {"write, a data-in phase", BufferCdb(0x3B, 0, 4096), kDirIn, 4096, 4096},
      {"write of 16 bytes", BufferCdb(0x3B, 0, 16), kDirOut, 4096, 4080},
      {"prepare, a data-in phase", kPrepareCdb, kDirIn, 4096, 4096},
      {"START STOP UNIT, a data-in phase", kStopUnitCdb, kDirIn, 64, 64},
      {"INQUIRY, 96 bytes offered", kInquiryCdb, kDirIn, 96, 60},
      {"INQUIRY, 5 bytes offered", kInquiryCdb, kDirIn, 5, 0},
      {"REQUEST SENSE allocating 255", {0x03, 0, 0, 0, 0xFF, 0}, kDirIn, 252, 252 - 18},
      {"MODE SENSE(10) allocating 64", {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 64, 0}, kDirIn, 64,
       64 - 30},
      {"TEST UNIT READY failing, a data-in phase", kTestUnitReadyCdb, kDirIn, 8, 8},
  };
  std::vector<uint8_t> memory(4096);
  for (size_t i = 0; i < memory.size(); ++i) memory[i] = uint8_t(i * 13 + 7);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Send(drive, BufferCdb(0x3B, 0, 4096), kDirOut, memory.data(), 4096).status,
              kStatusGood);
    std::vector<uint8_t> host(c.offered, 0xEE);
    const Outcome o = Send(drive, c.cdb, c.dir, host.data(), c.offered);
    EXPECT_TRUE(o.delivered);
    EXPECT_EQ(o.residual, c.residual);
    const uint32_t moved = c.offered - o.residual;
    if (c.dir == kDirIn) {
      EXPECT_EQ(std::count(host.begin() + moved, host.end(), 0xEE), c.offered - moved);
    }
    if (c.cdb[0] == 0x3C && c.dir == kDirIn) {
      const uint32_t at = (c.cdb[3] << 16) | (c.cdb[4] << 8) | c.cdb[5];
      EXPECT_TRUE(std::equal(host.begin(), host.begin() + moved, memory.begin() + at));
    }
    if (c.cdb[0] == 0x3B) {
      std::vector<uint8_t> back(4096);
      ASSERT_EQ(Send(drive, BufferCdb(0x3C, 0, 4096), kDirIn, back.data(), 4096).status,
                kStatusGood);
      const uint32_t written = c.dir == kDirOut ? moved : 0;
      EXPECT_EQ(std::count(back.begin(), back.begin() + written, 0xEE), written);
      EXPECT_TRUE(std::equal(back.begin() + written, back.end(), memory.begin() + written));
    }
  }
}

// The commit announces no data: the data-in buffer the updater offers comes back untouched, all
// of it residual. The generous drive of commitFills writes 4096 zero bytes into it instead.
TEST_F(KdrDriveTest, CommitMovesNothingUnlessItFills) {
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  const struct {
    bool fills;
    uint8_t dir;
    uint32_t offered;
    uint32_t residual;
  } cases[] = {
      {false, kDirIn, 4096, 4096}, {false, kDirIn, 100, 100},  {false, kDirIn, 8192, 8192},
      {false, kDirOut, 4096, 4096}, {false, kDirNone, 0, 0},   {true, kDirIn, 4096, 0},
      {true, kDirIn, 100, 0},       {true, kDirIn, 8192, 4096}, {true, kDirOut, 4096, 4096},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.fills ? "fills, " : "") << int(c.dir) << " "
                                      << c.offered);
    KdrDriveConfig config;
    config.commitFills = c.fills;
    KdrDrive fresh(clock, config);
    ASSERT_TRUE(Upload(fresh, image));
    std::vector<uint8_t> host(c.offered, 0xEE);
    const Outcome o = Send(fresh, CommitCdb(sum), c.dir, host.data(), c.offered);
    EXPECT_EQ(o.status, kStatusGood);
    EXPECT_EQ(o.residual, c.residual);
    EXPECT_TRUE(fresh.programming());
    const uint32_t zeroed = c.dir == kDirIn ? c.offered - o.residual : 0;
    EXPECT_EQ(std::count(host.begin(), host.end(), 0x00), zeroed);
    EXPECT_EQ(std::count(host.begin(), host.end(), 0xEE), c.offered - zeroed);
  }
}

TEST_F(KdrDriveTest, CommitChecksSumCheckBytesAndSeal) {
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  ASSERT_TRUE(Upload(drive, image));
  const struct {
    const char* name;
    std::vector<uint8_t> cdb;
    uint8_t asc, ascq;
  } refused[] = {
      {"wrong sum", CommitCdb(uint16_t(sum + 1)), kAscParameterValue, kAscqSumMismatch},
      {"wrong check byte 9", CommitCdb(sum, 0x0B), kAscInvalidField, 0},
      {"half-cleared protection", CommitCdb(sum, 0x0A, 0x00, 0x0C), kAscInvalidField, 0},
  };
  std::vector<uint8_t> scratch(4096);
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    const Outcome o = Send(drive, c.cdb, kDirIn, scratch.data(), 4096);
    EXPECT_EQ(o.status, kStatusCheckCondition);
    EXPECT_EQ(o.sense[12], c.asc);
    EXPECT_EQ(o.sense[13], c.ascq);
    EXPECT_FALSE(drive.programming());
  }
  // A broken seal: refused with protection on, accepted with it off.
  std::swap(image[0x10], image[0x11]);  // same sum, different seal
  ASSERT_NE(image[0x10], image[0x11]);
  ASSERT_TRUE(Upload(drive, image));
  const uint16_t brokenSum = sum;
  Outcome o = Send(drive, CommitCdb(brokenSum), kDirIn, scratch.data(), 4096);
  EXPECT_EQ(o.sense[12], kAscParameterValue);
  EXPECT_EQ(o.sense[13], kAscqSealMismatch);
  o = Send(drive, CommitCdb(brokenSum, 0x8A, 0x00, 0x00), kDirIn, scratch.data(), 4096);
  EXPECT_EQ(o.status, kStatusGood);
  EXPECT_TRUE(drive.programming());
  EXPECT_EQ(drive.lastCommitOptions(), 0x8A);
}

TEST_F(KdrDriveTest, ProgramsOverClockTimeAndReportsProgress) {
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  ASSERT_TRUE(Upload(drive, image));
  std::vector<uint8_t> scratch(4096);
  ASSERT_EQ(Send(drive, CommitCdb(sum), kDirIn, scratch.data(), 4096).status, kStatusGood);

  Progress p = RequestSense(drive);
  EXPECT_EQ(p.key, 0x02);
  EXPECT_EQ(p.asc, 0x04);
  EXPECT_EQ(p.ascq, 0x07);
  EXPECT_EQ(p.done, 0u);
  // Other commands wait while the drive programs.
  EXPECT_EQ(Send(drive, BufferCdb(0x3C, 0, 4096), kDirIn, scratch.data(), 4096).sense[2], 0x02);

  // A poller at 168 ms sees the progress rise and then the end window at least once.
  uint32_t last = 0;
  int inWindow = 0;
  for (;;) {
    clock.Advance(168);
    p = RequestSense(drive);
    if (p.key != 0x02) break;
    EXPECT_GE(p.done, last);
    last = p.done;
    if (p.done >= 0x7E000 && p.done <= 0x80000) ++inWindow;
  }
  EXPECT_GE(inWindow, 2);
  EXPECT_EQ(p.key, 0x00);
  EXPECT_EQ(drive.flash(), image);
  uint8_t inquiry[36];
  drive.StandardInquiry(inquiry);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 32), 4), "TR08");

  const testsupport::TempFolder folder;
  const std::string path = folder.File("kdr_flash.bin");
  ASSERT_TRUE(drive.DumpFlash(path));
  std::vector<uint8_t> dumped(0x80001);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  dumped.resize(std::fread(dumped.data(), 1, dumped.size(), f));
  std::fclose(f);
  EXPECT_EQ(dumped, image);
}

TEST_F(KdrDriveTest, FaultWrapperFailsAndCorruptsChosenBlocks) {
  FaultPlan plan;
  plan.failWriteBlock = 3;
  plan.failWriteTimes = 2;
  plan.corruptReadBlock = 5;
  plan.corruptReadTimes = 1;
  plan.failBootReadBack = true;
  FaultyDevice faulty(drive, plan);
  std::vector<uint8_t> block(4096, 0x42);
  std::vector<uint8_t> in(4096);
  // Block 3's write fails twice with the plan's sense, then succeeds; other blocks never fail.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Outcome o = Send(faulty, BufferCdb(0x3B, 0x3000, 4096), kDirOut, block.data(), 4096);
    EXPECT_EQ(o.status, attempt < 2 ? kStatusCheckCondition : kStatusGood) << attempt;
    if (attempt < 2) {
      EXPECT_EQ(o.sense[12], 0x44);
    }
  }
  EXPECT_EQ(Send(faulty, BufferCdb(0x3B, 0x5000, 4096), kDirOut, block.data(), 4096).status,
            kStatusGood);
  // Block 5's first read-back differs in one byte; the second is right.
  for (int attempt = 0; attempt < 2; ++attempt) {
    ASSERT_EQ(Send(faulty, BufferCdb(0x3C, 0x5000, 4096), kDirIn, in.data(), 4096).status,
              kStatusGood);
    size_t differing = 0;
    for (size_t i = 0; i < in.size(); ++i) differing += in[i] != block[i];
    EXPECT_EQ(differing, attempt == 0 ? 1u : 0u);
  }
  EXPECT_EQ(Send(faulty, BufferCdb(0x3C, 0x180000, 4096), kDirIn, in.data(), 4096).status,
            kStatusCheckCondition);
  EXPECT_EQ(Send(faulty, BufferCdb(0x3C, 0x181000, 4096), kDirIn, in.data(), 4096).status,
            kStatusGood);
  EXPECT_EQ(faulty.injected(), 4u);
}

TEST_F(KdrDriveTest, FaultWrapperAroundTheCommitAndTheProgress) {
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  ASSERT_TRUE(Upload(drive, image));
  std::vector<uint8_t> scratch(4096);
  {
    FaultPlan plan;
    plan.failCommit = true;
    FaultyDevice faulty(drive, plan);
    EXPECT_EQ(Send(faulty, CommitCdb(sum), kDirIn, scratch.data(), 4096).status,
              kStatusCheckCondition);
    EXPECT_EQ(drive.commits(), 0u) << "the drive never saw the commit";
  }
  FaultPlan plan;
  plan.skipEndWindow = true;
  FaultyDevice skipping(drive, plan);
  ASSERT_EQ(Send(skipping, CommitCdb(sum), kDirIn, scratch.data(), 4096).status, kStatusGood);
  Progress p{};
  do {
    clock.Advance(168);
    p = RequestSense(skipping);
    if (p.key == 0x02) {
      EXPECT_LT(p.done, 0x7E000u);
    }
  } while (p.key == 0x02);
  EXPECT_TRUE(drive.programming()) << "the drive itself is still in its end window";

  clock.Advance(60000);
  FaultPlan silentPlan;
  silentPlan.silentAfterCommit = true;
  FaultyDevice silent(drive, silentPlan);
  EXPECT_TRUE(Send(silent, CommitCdb(sum), kDirIn, scratch.data(), 4096).delivered);
  uint8_t reply[18] = {};
  const std::vector<uint8_t> sense = {0x03, 0, 0, 0, 18, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(Send(silent, sense, kDirIn, reply, 18).delivered);
}

// The host's clock as the fault injector waits on it: a virtual clock that records each wait.
class RecordingClock final : public Clock {
 public:
  explicit RecordingClock(VirtualClock& clock) : clock_(clock) {}
  uint64_t NowMs() const override { return clock_.NowMs(); }
  void Sleep(uint32_t milliseconds) override {
    sleeps.push_back(milliseconds);
    clock_.Advance(milliseconds);
  }
  std::vector<uint32_t> sleeps;

 private:
  VirtualClock& clock_;
};

// A hung drive holds each command after the commit for the host's time-out, on the simulation's
// clock, and then does not answer; a command without a time-out gets no answer at once.
TEST_F(KdrDriveTest, HangHoldsEachCommandForItsTimeOut) {
  RecordingClock host(clock);
  std::vector<uint32_t>& sleeps = host.sleeps;
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  ASSERT_TRUE(Upload(drive, image));
  FaultPlan plan;
  plan.silentAfterCommit = true;
  FaultyDevice hung(drive, plan, &host);
  std::vector<uint8_t> scratch(4096);
  ASSERT_TRUE(Send(hung, CommitCdb(sum), kDirIn, scratch.data(), 4096, 60000).delivered);
  EXPECT_TRUE(sleeps.empty()) << "the commit itself is answered at once";
  for (uint32_t timeOut : {60000u, 0u, 2000u}) {
    SCOPED_TRACE(timeOut);
    sleeps.clear();
    const uint64_t before = clock.NowMs();
    uint8_t reply[18] = {};
    EXPECT_FALSE(Send(hung, kRequestSenseCdb, kDirIn, reply, 18, timeOut).delivered);
    EXPECT_EQ(clock.NowMs() - before, timeOut);
    EXPECT_EQ(sleeps, timeOut == 0 ? std::vector<uint32_t>{} : std::vector<uint32_t>{timeOut});
  }
  EXPECT_FALSE(drive.programming()) << "the drive went on programming while the host waited";
}

// How the host stack reports residuals is the wrapper's, never the drive's: exactly, never (as
// libata and QEMU do), or bogus (a full data-in reads as half, a short one as full).
TEST_F(KdrDriveTest, FaultWrapperReportsResidualsAsTheHostStackDoes) {
  const struct {
    ResidualReport report;
    std::vector<uint8_t> cdb;
    uint8_t dir;
    uint32_t offered;
    uint32_t residual;
  } cases[] = {
      {ResidualReport::kExact, BufferCdb(0x3C, 0, 4096), kDirIn, 8192, 4096},
      {ResidualReport::kNone, BufferCdb(0x3C, 0, 4096), kDirIn, 8192, 0},
      {ResidualReport::kNone, BufferCdb(0x3B, 0, 16), kDirOut, 4096, 0},
      {ResidualReport::kNone, kTestUnitReadyCdb, kDirIn, 8, 0},
      {ResidualReport::kBogus, BufferCdb(0x3C, 0, 4096), kDirIn, 4096, 2048},
      {ResidualReport::kBogus, BufferCdb(0x3C, 0, 4096), kDirIn, 8192, 0},
      {ResidualReport::kBogus, kRequestSenseCdb, kDirIn, 18, 9},
      {ResidualReport::kBogus, BufferCdb(0x3B, 0, 16), kDirOut, 4096, 4080},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.report) << " " << int(c.cdb[0]) << " " << c.offered);
    FaultPlan plan;
    plan.residual = c.report;
    FaultyDevice host(drive, plan);
    std::vector<uint8_t> data(c.offered);
    EXPECT_EQ(Send(host, c.cdb, c.dir, data.data(), c.offered).residual, c.residual);
  }
}

}  // namespace
}  // namespace sim
