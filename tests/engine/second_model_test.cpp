// Whole update runs for a second, made-up drive model, described here alone: half the image,
// smaller banks, the image and the boot data elsewhere in a smaller buffer, other check bytes,
// another prepare block and another end window. The engine and the simulated drive are handed
// this description and nothing else, so whatever still follows the supported drive shows up as
// a wrong command, a wrong flash or a wrong outcome.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/flash_updater.h"
#include "sim/faults.h"
#include "sim/kdr_drive.h"
#include "sumseal/seal.h"
#include "tests/support/engine_harness.h"
#include "tests/support/firmware_files.h"
#include "tests/support/temp_folder.h"

namespace enginetest {
namespace {

using Cdb = std::vector<uint8_t>;

constexpr DriveModel kMadeUpDrive = {
    "MADEUPCO",
    "DVD-RW MX-2040  ",
    "MADEUPCODVD-RW MX-2040  ",
    0x40000,   // imageSize: 256 KiB
    0x4000,    // bankSize
    0x100000,  // bufferSize
    0x010000,  // imageAddress
    0x0C0000,  // bootDataAddress
    0x2000,    // bootDataSize
    0x2800,    // sealWindowStart
    0x0800,    // sealWindowLength
    {0x1A, 0x2B, 0x3C},
    {0xF4, 0x02, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x31, 0x00, 0x00},
    0x3F000,  // endWindowFirst
    0x40000,  // endWindowLast
    {kOpRequestSense, kOpStartStopUnit, kOpWriteBuffer, kOpReadBuffer}};
static_assert(DriveModelIsUsable(kMadeUpDrive), "the made-up model must be servable");

constexpr uint32_t kBlocks = kMadeUpDrive.imageSize / 4096;

// A mode 2 buffer access of 4096 bytes at `address`, with the made-up model's check bytes.
Cdb BufferBlock(uint8_t opcode, uint32_t address) {
  return {opcode, 0x02, 0x00, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address),
          0x00,   0x10, 0x00, 0x1A,                   0x2B,                 0x3C};
}

class SecondModelTest : public ::testing::Test {
 protected:
  SecondModelTest() : drive(h.clock, kMadeUpDrive), fileImage(PatternImage(11)) {
    fileImage.resize(kMadeUpDrive.imageSize);
  }

  // The drive behind the plan's faults (recognised by the made-up model's commands), and one
  // run of `content` as a file of that format; `model` is the job's.
  void Run(const std::string& content, uint8_t isHex, const DriveModel* model = &kMadeUpDrive) {
    faulty = std::make_unique<sim::FaultyDevice>(drive, plan, kMadeUpDrive, &h.clock);
    h.Attach(*faulty);
    UpdateJob job = h.Job(folder.Write(isHex != 0 ? "fw.hex" : "fw.bin", content), isHex);
    job.model = model;
    FlashUpdater engine(owner, job, h.os());
    outcome = engine.Run();
    EXPECT_EQ(h.imagesHeld, 0) << "the image is released on every path";
  }
  std::string Bytes(const std::vector<uint8_t>& image) const {
    return std::string(image.begin(), image.end());
  }
  // What a clean run leaves in the flash: the drive's own boot data, the file's bytes, the seal
  // over the model's window in the last eight bytes.
  std::vector<uint8_t> Flashed() const {
    std::vector<uint8_t> image = fileImage;
    const std::vector<uint8_t> boot = sim::KdrDrive::FactoryBootData(kMadeUpDrive);
    std::copy(boot.begin(), boot.end(), image.begin());
    const uint32_t seal = sumseal::ComputeImageSeal(image.data(), kMadeUpDrive.imageSize,
                                                    kMadeUpDrive.sealWindowStart,
                                                    kMadeUpDrive.sealWindowLength);
    const uint8_t trailer[8] = {uint8_t(seal >> 24), uint8_t(seal >> 16), uint8_t(seal >> 8),
                                uint8_t(seal), 0xFF, 0xFF, 0xFF, 0xFF};
    std::copy(trailer, trailer + 8, image.end() - 8);
    return image;
  }
  std::vector<uint8_t> FactoryFlash() {
    sim::VirtualClock clock;
    sim::KdrDrive fresh(clock, kMadeUpDrive);
    return fresh.flash();
  }
  int Writes() const { return CountCommands(h.trace, kOpWriteBuffer, 0x02); }

  Harness h;
  sim::KdrDrive drive;
  sim::FaultPlan plan;
  std::unique_ptr<sim::FaultyDevice> faulty;
  FakeOwner owner;
  std::vector<uint8_t> fileImage;
  testsupport::TempFolder folder;
  UpdateOutcome outcome = UpdateOutcome::kFailed;
};

TEST_F(SecondModelTest, CleanRunSendsTheModelsCommandsAndFlashesItsImage) {
  Run(TextRecordsFor(fileImage), 1);

  EXPECT_EQ(outcome, UpdateOutcome::kSucceeded);
  EXPECT_EQ(drive.identity().vendor, "MADEUPCO");
  EXPECT_EQ(drive.flash().size(), size_t{kMadeUpDrive.imageSize});
  EXPECT_EQ(drive.flash(), Flashed());
  EXPECT_EQ(drive.commits(), 1u);

  // Stop twice; the model's prepare block; its boot data (two blocks) read twice from its
  // address; every block of its image written and read back from the image's buffer address;
  // the commit with the image sum and the model's check bytes; then only polls.
  std::vector<Cdb> expected = {{kOpStartStopUnit, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                               {kOpStartStopUnit, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                               Cdb(kMadeUpDrive.prepareReadBack,
                                   kMadeUpDrive.prepareReadBack + kModelCdbLength)};
  for (uint32_t pass = 0; pass < 2; ++pass) {
    for (uint32_t off = 0; off < kMadeUpDrive.bootDataSize; off += 4096) {
      expected.push_back(BufferBlock(kOpReadBuffer, kMadeUpDrive.bootDataAddress + off));
    }
  }
  for (uint32_t b = 0; b < kBlocks; ++b) {
    expected.push_back(BufferBlock(kOpWriteBuffer, kMadeUpDrive.imageAddress + b * 4096));
    expected.push_back(BufferBlock(kOpReadBuffer, kMadeUpDrive.imageAddress + b * 4096));
  }
  uint16_t sum = 0;
  for (uint8_t b : Flashed()) sum = uint16_t(sum + b);
  expected.push_back({kOpWriteBuffer, 0x01, 0x01, uint8_t(sum >> 8), uint8_t(sum), 0, 0, 0, 0,
                      0x1A, 0x2B, 0x3C});
  ASSERT_GT(h.trace.size(), expected.size());
  std::vector<Cdb> sent;
  for (size_t i = 0; i < expected.size(); ++i) sent.push_back(h.trace[i].cdb);
  EXPECT_EQ(sent, expected);
  for (size_t i = expected.size(); i < h.trace.size(); ++i) {
    EXPECT_EQ(h.trace[i].cdb[0], kOpRequestSense) << "command " << i;
  }

  // The transfer's progress runs over the model's block count; the end came from its window.
  ASSERT_GT(h.progress.size(), size_t{kBlocks + 2});
  EXPECT_EQ(h.progress[kBlocks / 2], 50);
  EXPECT_EQ(h.progress[kBlocks], 100);
  EXPECT_EQ(h.progress.back(), 100);
}

// The image's size is the model's: a file of exactly that many bytes is flashed; one byte more,
// or a record just past it, is refused with nothing sent to the drive's buffer.
TEST_F(SecondModelTest, TheModelsImageSizeBoundsTheFile) {
  const std::string record = ":01000000AA55\r\n:0100000000FF\r\n:00000055AB\r\n"
                             ":00000055AB\r\n:00000055AB\r\n:00000055AB\r\n:0100000011EE\r\n"
                             ":00000001FF\r\n";
  const struct {
    const char* name;
    std::string content;
    uint8_t isHex;
    UpdateOutcome outcome;
    const char* status;  // the run's last status line
  } cases[] = {
      {"binary of the whole image", Bytes(fileImage), 0, UpdateOutcome::kSucceeded, "Finished"},
      {"binary one byte longer", Bytes(fileImage) + "x", 0, UpdateOutcome::kUntouched,
       "ERR: input file format mismatched!"},
      // The fourth bank record places the last data record at 0x40000: one past the image.
      {"record past the image", record, 1, UpdateOutcome::kUntouched,
       "ERR: input file format mismatched!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    h.trace.clear();
    const std::vector<uint8_t> before = drive.flash();
    Run(c.content, c.isHex);
    EXPECT_EQ(outcome, c.outcome);
    ASSERT_FALSE(h.statuses.empty());
    EXPECT_EQ(h.statuses.back(), c.status);
    if (c.outcome == UpdateOutcome::kSucceeded) {
      EXPECT_EQ(drive.flash(), Flashed());
    } else {
      EXPECT_EQ(Writes(), 0);
      EXPECT_EQ(drive.flash(), before);
    }
  }
}

// A refusal names the sizes of the model that was loaded, not the supported drive's.
TEST_F(SecondModelTest, ARefusalSaysTheModelsSizes) {
  const std::string longer = Bytes(fileImage) + "x";
  MemoryReader source(reinterpret_cast<const uint8_t*>(longer.data()), longer.size());
  FirmwareImage image{};
  const LoadResult load =
      LoadFirmware(h.os(), source, 0, AbortQuery{nullptr, [](void*) -> uint8_t { return 0; }},
                   image, kMadeUpDrive);
  ReleaseImage(h.os(), image);
  char said[128];
  ASSERT_TRUE(DescribeLoadDetail(load, said, sizeof said, kMadeUpDrive));
  EXPECT_STREQ(said, "the file is longer than the 262144-byte image");
}

// A job that names no model is the supported drive's: its prepare block and check bytes are
// not the made-up drive's, which refuses them, and nothing is programmed.
TEST_F(SecondModelTest, AJobWithoutAModelIsTheSupportedDrivesAndReachesNoOtherFlash) {
  Run(Bytes(fileImage), 0, nullptr);
  EXPECT_EQ(outcome, UpdateOutcome::kUntouched);
  EXPECT_EQ(drive.commits(), 0u);
  EXPECT_EQ(drive.flash(), FactoryFlash());
  ASSERT_GE(h.trace.size(), 3u);
  EXPECT_EQ(h.trace[2].cdb[0], kOpPrepareReadBack);
}

// The fault wrapper finds the model's commands where the model puts them: its boot data
// address, its image's last block, its end window.
TEST_F(SecondModelTest, FaultsAtTheModelsAddressesDecideTheRun) {
  const struct {
    const char* name;
    sim::FaultPlan plan;
    UpdateOutcome outcome;
    bool programmed;
  } cases[] = {
      {"boot data read-back fails", [] { sim::FaultPlan p; p.failBootReadBack = true; return p; }(),
       UpdateOutcome::kUntouched, false},
      {"last block never written",
       [] { sim::FaultPlan p; p.failWriteBlock = kBlocks - 1; p.failWriteTimes = 6; return p; }(),
       UpdateOutcome::kUntouched, false},
      {"last block written on the sixth try",
       [] { sim::FaultPlan p; p.failWriteBlock = kBlocks - 1; p.failWriteTimes = 5; return p; }(),
       UpdateOutcome::kSucceeded, true},
      {"end window skipped", [] { sim::FaultPlan p; p.skipEndWindow = true; return p; }(),
       UpdateOutcome::kEndNotSeen, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::KdrDrive fresh(h.clock, kMadeUpDrive);
    h.trace.clear();
    plan = c.plan;
    faulty = std::make_unique<sim::FaultyDevice>(fresh, plan, kMadeUpDrive, &h.clock);
    h.Attach(*faulty);
    UpdateJob job = h.Job(folder.Write("fw.bin", Bytes(fileImage)), 0);
    job.model = &kMadeUpDrive;
    FlashUpdater engine(owner, job, h.os());
    EXPECT_EQ(engine.Run(), c.outcome);
    EXPECT_GT(faulty->injected(), 0u);
    EXPECT_EQ(fresh.flash(), c.programmed ? Flashed() : FactoryFlash());
    EXPECT_EQ(h.imagesHeld, 0);
  }
}

}  // namespace
}  // namespace enginetest
