// The simulated supported drive on its own: identity, buffer memory, boot data, the commit's
// checks, programming over clock time, and the fault wrapper.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "sim/faults.h"
#include "sim/kdr_drive.h"
#include "sumseal/seal.h"
#include "tests/support/temp_folder.h"

namespace sim {
namespace {

// 12-byte command blocks of the download protocol.
std::vector<uint8_t> BufferCdb(uint8_t opcode, uint32_t address, uint32_t length, uint8_t mode = 2,
                               uint8_t id = 0) {
  return {opcode, mode, id, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address),
          uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length), 0x0A, 0x0B, 0x0C};
}

std::vector<uint8_t> CommitCdb(uint16_t sum, uint8_t b9 = 0x0A, uint8_t b10 = 0x0B,
                               uint8_t b11 = 0x0C) {
  return {0x3B, 0x01, 0x01, uint8_t(sum >> 8), uint8_t(sum), 0, 0, 0, 0, b9, b10, b11};
}

Outcome Send(Device& d, const std::vector<uint8_t>& cdb, uint8_t dir, uint8_t* data,
             uint32_t length) {
  return d.Execute(Command{cdb.data(), uint8_t(cdb.size()), dir, data, length, 0});
}

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

const std::vector<uint8_t> kPrepareCdb = {0xF1, 0x01, 0, 0, 0x40, 0x7D, 0, 0, 0, 0x26, 0, 0};

struct Progress {
  uint8_t key, asc, ascq;
  uint32_t done;
};

Progress RequestSense(Device& d) {
  uint8_t reply[18] = {};
  const std::vector<uint8_t> cdb = {0x03, 0, 0, 0, 18, 0, 0, 0, 0, 0, 0, 0};
  Send(d, cdb, kDirIn, reply, 18);
  return {reply[2], reply[12], reply[13],
          (uint32_t{reply[3]} << 24) | (uint32_t{reply[4]} << 16) | (uint32_t{reply[5]} << 8) |
              reply[6]};
}

// A sealed image as the updater would send it, with its 16-bit sum.
std::vector<uint8_t> SealedImage(uint16_t& sum) {
  std::vector<uint8_t> image(0x80000);
  for (uint32_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 31 + (i >> 11));
  const uint32_t seal = sumseal::ComputeImageSeal(image.data(), 0x80000, 0x3000, 0x1000);
  const uint8_t trailer[8] = {uint8_t(seal >> 24), uint8_t(seal >> 16), uint8_t(seal >> 8),
                              uint8_t(seal), 0xFF, 0xFF, 0xFF, 0xFF};
  std::copy(trailer, trailer + 8, image.end() - 8);
  sum = 0;
  for (uint8_t b : image) sum = uint16_t(sum + b);
  return image;
}

class KdrDriveTest : public ::testing::Test {
 protected:
  void Upload(Device& d, std::vector<uint8_t>& image) {
    for (uint32_t a = 0; a < image.size(); a += 4096) {
      ASSERT_EQ(Send(d, BufferCdb(0x3B, a, 4096), kDirOut, image.data() + a, 4096).status,
                kStatusGood);
    }
  }
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
  const struct {
    const char* name;
    std::vector<uint8_t> cdb;
    uint8_t dir;
    uint32_t length;
  } cases[] = {
      {"beyond the buffer", BufferCdb(0x3B, 0x1FF800, 4096), kDirOut, 4096},
      {"mode 0", BufferCdb(0x3B, 0, 4096, 0), kDirOut, 4096},
      {"buffer ID 1", BufferCdb(0x3C, 0, 4096, 2, 1), kDirIn, 4096},
      {"data phase shorter than the block", BufferCdb(0x3B, 0, 4096), kDirOut, 100},
      {"write with a data-in phase", BufferCdb(0x3B, 0, 4096), kDirIn, 4096},
      {"write without the check bytes", WithBytes(BufferCdb(0x3B, 0, 4096), {0, 0, 0}), kDirOut,
       4096},
      {"read with the check bytes reversed", WithBytes(BufferCdb(0x3C, 0, 4096), {0x0C, 0x0B, 0x0A}),
       kDirIn, 4096},
      {"write with one check byte wrong", WithBytes(BufferCdb(0x3B, 0, 4096), {0x0A, 0x0B, 0x0D}),
       kDirOut, 4096},
      {"read as a 10-byte block", Resized(BufferCdb(0x3C, 0, 4096), 10), kDirIn, 4096},
      {"write as a 16-byte block", Resized(BufferCdb(0x3B, 0, 4096), 16), kDirOut, 4096},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = Send(drive, c.cdb, c.dir, data.data(), c.length);
    EXPECT_EQ(o.status, kStatusCheckCondition);
    EXPECT_EQ(o.sense[2], kKeyIllegalRequest);
    EXPECT_EQ(o.sense[12], kAscInvalidField);
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

// The drive knows exactly one 0xF1 block, with no data phase, and a commit only as a 12-byte
// block with a data-in phase of 4096 bytes: anything else is refused as ILLEGAL REQUEST,
// INVALID FIELD IN CDB, and changes nothing.
TEST_F(KdrDriveTest, RefusesAnyOtherPrepareOrCommitForm) {
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  Upload(drive, image);
  std::vector<uint8_t> data(8192);
  struct Refused {
    std::string name;
    std::vector<uint8_t> cdb;
    uint8_t dir;
    uint32_t length;
  };
  std::vector<Refused> cases = {
      {"prepare as a 10-byte block", Resized(kPrepareCdb, 10), kDirIn, 0},
      {"prepare as a 16-byte block", Resized(kPrepareCdb, 16), kDirIn, 0},
      {"prepare with a data phase", kPrepareCdb, kDirIn, 4096},
      {"commit with a data-out phase", CommitCdb(sum), kDirOut, 4096},
      {"commit without a data phase", CommitCdb(sum), kDirNone, 0},
      {"commit with 100 bytes in", CommitCdb(sum), kDirIn, 100},
      {"commit with 8192 bytes in", CommitCdb(sum), kDirIn, 8192},
      {"commit as a 16-byte block", Resized(CommitCdb(sum), 16), kDirIn, 4096},
  };
  for (size_t i = 1; i < kPrepareCdb.size(); ++i) {
    std::vector<uint8_t> other = kPrepareCdb;
    other[i] ^= 0x01;
    cases.push_back({"prepare with byte " + std::to_string(i) + " changed", other, kDirIn, 0});
  }
  std::vector<uint8_t> buffer(4096);
  const std::vector<uint8_t> bootData = KdrDrive::FactoryBootData();
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = Send(drive, c.cdb, c.dir, data.data(), c.length);
    EXPECT_EQ(o.status, kStatusCheckCondition);
    EXPECT_EQ(o.sense[2], kKeyIllegalRequest);
    EXPECT_EQ(o.sense[12], kAscInvalidField);
    EXPECT_FALSE(drive.programming());
    // The buffer at 0x180000 still holds the image's bytes, not the boot data.
    ASSERT_EQ(Send(drive, BufferCdb(0x3C, 0x180000, 4096), kDirIn, buffer.data(), 4096).status,
              kStatusGood);
    EXPECT_NE(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 16),
              std::vector<uint8_t>(bootData.begin(), bootData.begin() + 16));
  }
  EXPECT_EQ(drive.commits(), 0u);
}

TEST_F(KdrDriveTest, ReportsWhatItDidNotTransfer) {
  std::vector<uint8_t> in(8192);
  // A data phase larger than the block says: the drive sends what the block says.
  Outcome o = Send(drive, BufferCdb(0x3C, 0, 4096), kDirIn, in.data(), 8192);
  EXPECT_EQ(o.status, kStatusGood);
  EXPECT_EQ(o.residual, 4096u);
  o = Send(drive, BufferCdb(0x3C, 0, 4096), kDirIn, in.data(), 4096);
  EXPECT_EQ(o.residual, 0u);
  // REQUEST SENSE sends 18 bytes at most.
  const std::vector<uint8_t> sense = {0x03, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0};
  o = Send(drive, sense, kDirIn, in.data(), 252);
  EXPECT_EQ(o.residual, 252u - 18u);
}

TEST_F(KdrDriveTest, CommitChecksSumCheckBytesAndSeal) {
  uint16_t sum = 0;
  std::vector<uint8_t> image = SealedImage(sum);
  Upload(drive, image);
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
  Upload(drive, image);
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
  Upload(drive, image);
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
  Upload(drive, image);
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

}  // namespace
}  // namespace sim
