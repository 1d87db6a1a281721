// Whole runs against a drive that behaves as real ones do: unit attentions wherever they may
// come, short sense data, a commit that moves nothing, and the ways programming can end. The
// outcome must say what the flash holds: never a failure for a good flash, never a success
// without the drive's end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/flash_updater.h"
#include "sim/faults.h"
#include "sim/kdr_drive.h"
#include "tests/support/engine_harness.h"
#include "tests/support/failing_drive.h"
#include "tests/support/firmware_files.h"
#include "tests/support/temp_folder.h"

namespace enginetest {
namespace {

// The commands of a clean run, counted from 1: two STOP UNIT, the 0xF1 prepare, eight boot-data
// reads, 128 blocks written and read back, then the commit and the polls.
constexpr uint32_t kFirstBootRead = 4;
constexpr uint32_t kFirstBlockWrite = 12;
constexpr uint32_t kCommit = kFirstBlockWrite + 2 * 128;

class DriveMannersTest : public ::testing::Test {
 protected:
  DriveMannersTest() : fileImage(PatternImage(3)) {}

  UpdateOutcome RunOn(sim::Device& device) {
    h.Attach(device);
    h.trace.clear();
    h.logs.clear();
    const std::string path = folder.Write("firmware.hex", TextRecordsFor(fileImage));
    FlashUpdater engine(owner, h.Job(path, 1), h.os());
    return engine.Run();
  }
  std::vector<uint8_t> Flashed() {
    return FinishedImage(fileImage, sim::KdrDrive::FactoryBootData());
  }
  int Count(uint8_t opcode, int mode = -1) const { return CountCommands(h.trace, opcode, mode); }

  Harness h;
  FakeOwner owner;
  std::vector<uint8_t> fileImage;
  testsupport::TempFolder folder;
};

// A unit attention means the command it met was not executed: the command goes once more, and a
// unit attention read by a poll is asked about again. Wherever one comes, the update succeeds
// and sends each command of the run exactly once more than it met one.
TEST_F(DriveMannersTest, AUnitAttentionAnywhereCostsOneCommandAgain) {
  const struct {
    const char* name;
    bool atPowerOn;
    uint32_t atCommand;
    bool afterProgramming;
  } cases[] = {
      {"at power-on (the first STOP UNIT)", true, 0, false},
      {"at the second STOP UNIT", false, 2, false},
      {"at the prepare command", false, 3, false},
      {"at a boot-data read", false, kFirstBootRead + 2, false},
      {"at a block's WRITE BUFFER", false, kFirstBlockWrite + 40, false},
      {"at a block's read-back", false, kFirstBlockWrite + 41, false},
      {"at the commit", false, kCommit, false},
      {"during the polling", false, kCommit + 5, false},
      {"when programming ends", false, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::KdrDriveConfig config;
    config.unitAttentionAtPowerOn = c.atPowerOn;
    config.unitAttentionAtCommand = c.atCommand;
    config.unitAttentionAfterProgramming = c.afterProgramming;
    sim::KdrDrive drive(h.clock, config);
    EXPECT_EQ(RunOn(drive), UpdateOutcome::kSucceeded);
    EXPECT_EQ(drive.flash(), Flashed());
    EXPECT_EQ(drive.commits(), 1u);
    const bool inPolling = c.afterProgramming || c.atCommand > kCommit;
    const int again = inPolling ? 0 : 1;
    EXPECT_EQ(Count(0x3B, 0x02) + Count(0x3C, 0x02) + Count(0x1B) + Count(0xF1) + Count(0x3B, 0x01),
              128 + 128 + 8 + 2 + 1 + 1 + again);
  }
}

// REQUEST SENSE that brings fewer bytes than the 18 asked for still carries every byte the poll
// reads down to 14; below that the drive's answers are no answer, and a minute of them ends the
// polling as an end not seen, the flash written all the same.
TEST_F(DriveMannersTest, ShortSenseDataIsJudgedByTheBytesThePollReads) {
  const struct {
    uint32_t senseLength;
    UpdateOutcome outcome;
  } cases[] = {
      {18, UpdateOutcome::kSucceeded},
      {14, UpdateOutcome::kSucceeded},
      {13, UpdateOutcome::kEndNotSeen},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.senseLength);
    sim::KdrDriveConfig config;
    config.senseLength = c.senseLength;
    sim::KdrDrive drive(h.clock, config);
    EXPECT_EQ(RunOn(drive), c.outcome);
    EXPECT_EQ(drive.flash(), Flashed());
  }
}

// However programming ends and however long it takes, a drive that wrote the flash is never
// reported as having failed: it is a success when a poll saw its end window, and an end not
// seen otherwise. A drive that stays in its end window for longer than one poll interval is
// always seen.
TEST_F(DriveMannersTest, EveryWayProgrammingEndsIsToldByWhatWasSeen) {
  const sim::ProgrammingEnd ends[] = {sim::ProgrammingEnd::kIdle, sim::ProgrammingEnd::kReset,
                                      sim::ProgrammingEnd::kVanish};
  int seen = 0;
  int missed = 0;
  for (sim::ProgrammingEnd end : ends) {
    for (uint32_t finishMs : {0u, 40u, 200u}) {
      for (uint32_t programMs = 6000; programMs <= 12000; programMs += 750) {
        SCOPED_TRACE(::testing::Message() << "end " << static_cast<int>(end) << ", window "
                                          << finishMs << " ms, programming " << programMs
                                          << " ms");
        sim::KdrDriveConfig config;
        config.programMs = programMs;
        config.finishMs = finishMs;
        config.end = end;
        sim::KdrDrive drive(h.clock, config);
        const UpdateOutcome outcome = RunOn(drive);
        EXPECT_EQ(drive.flash(), Flashed());
        if (finishMs >= kPollIntervalMs) {
          EXPECT_EQ(outcome, UpdateOutcome::kSucceeded);
        } else {
          EXPECT_TRUE(outcome == UpdateOutcome::kSucceeded ||
                      outcome == UpdateOutcome::kEndNotSeen)
              << static_cast<int>(outcome);
        }
        (outcome == UpdateOutcome::kSucceeded ? seen : missed) += 1;
      }
    }
  }
  // Both branches are taken: with no window of its own the end is sometimes missed.
  EXPECT_GT(seen, 0);
  EXPECT_GT(missed, 0);
}

// A drive that reports a failure where its end should be has failed: that is not an end not
// seen, which the terminal program may then take for an update.
TEST_F(DriveMannersTest, ADriveThatReportsAFailureAtItsEndHasFailed) {
  // Near its end the drive answers with a hardware error in its sense data.
  sim::KdrDrive drive(h.clock);
  FailingWhileProgramming device(drive, 0x7C000, 0x04, 0x44, 0x00);
  EXPECT_EQ(RunOn(device), UpdateOutcome::kFailed);
}

// Boot data that cannot be the drive's is never programmed: one byte value throughout (what an
// erased or unprepared memory reads), or a short read where the stack reports no residual (the
// two reads, from complementary fills, then differ). Nothing is written to the drive's buffer.
TEST_F(DriveMannersTest, BootDataThatCannotBeTheDrivesIsRefused) {
  // The drive's buffer at the boot data address holds one value when it is read back.
  class BlankBootData : public sim::Device {
   public:
    BlankBootData(sim::Device& inner, uint8_t value) : inner_(inner), value_(value) {}
    sim::Outcome Execute(const sim::Command& command) override {
      const sim::Outcome outcome = inner_.Execute(command);
      if (sim::IsBufferAccess(command, 0x3C) && sim::Be24(command.cdb + 3) >= 0x180000 &&
          outcome.status == sim::kStatusGood) {
        std::memset(command.data, value_, command.dataLength - outcome.residual);
      }
      return outcome;
    }
    uint8_t PeripheralByte() const override { return inner_.PeripheralByte(); }
    void StandardInquiry(uint8_t out[36]) const override { inner_.StandardInquiry(out); }

   private:
    sim::Device& inner_;
    uint8_t value_;
  };
  const struct {
    const char* name;
    int value;  // -1: not blank, but read short with no residual reported
    const char* log;
  } cases[] = {
      {"all 0x00", 0x00,
       "The drive's boot data read back as 16384 bytes of 0x00: that is no boot code, and it is "
       "not programmed."},
      {"all 0xFF", 0xFF,
       "The drive's boot data read back as 16384 bytes of 0xFF: that is no boot code, and it is "
       "not programmed."},
      {"short, no residual", -1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::KdrDrive drive(h.clock);
    const std::vector<uint8_t> before = drive.flash();
    sim::FaultPlan plan;
    plan.residual = sim::ResidualReport::kNone;
    plan.shortReadAddress = c.value < 0 ? 0x181000 : -1;
    sim::FaultyDevice faulty(drive, plan, &h.clock);
    BlankBootData blank(faulty, static_cast<uint8_t>(c.value));
    sim::Device& device = c.value < 0 ? static_cast<sim::Device&>(faulty) : blank;
    EXPECT_EQ(RunOn(device), UpdateOutcome::kUntouched);
    EXPECT_EQ(Count(0x3B, 0x02), 0) << "a block was written";
    EXPECT_EQ(drive.commits(), 0u);
    EXPECT_EQ(drive.flash(), before);
    if (c.log != nullptr) {
      ASSERT_FALSE(h.logs.empty());
      EXPECT_EQ(h.logs.front(), c.log);
    }
  }
}

// Other ways a real drive or host stack answers: the update either goes through with the right
// flash or stops before anything was committed, never anything in between.
TEST_F(DriveMannersTest, OtherManners) {
  const struct {
    const char* name;
    void (*set)(sim::KdrDriveConfig&, sim::FaultPlan&);
    UpdateOutcome outcome;
  } cases[] = {
      {"a disc in the drive", [](sim::KdrDriveConfig& d, sim::FaultPlan&) { d.disc = true; },
       UpdateOutcome::kSucceeded},
      // The medium-changed unit attention is read by a poll, which asks again.
      {"a disc inserted while the drive programs",
       [](sim::KdrDriveConfig& d, sim::FaultPlan&) { d.discInsertMs = 20; },
       UpdateOutcome::kSucceeded},
      // Still becoming ready when the prepare command comes: the boot data cannot be read.
      {"becoming ready for a while",
       [](sim::KdrDriveConfig& d, sim::FaultPlan&) { d.notReadyMs = 60000; },
       UpdateOutcome::kUntouched},
      {"the commit fills its buffer",
       [](sim::KdrDriveConfig& d, sim::FaultPlan&) { d.commitFills = true; },
       UpdateOutcome::kSucceeded},
      // Every full read-back looks short: nothing can be verified, so nothing is committed.
      {"a stack with bogus residuals",
       [](sim::KdrDriveConfig&, sim::FaultPlan& f) { f.residual = sim::ResidualReport::kBogus; },
       UpdateOutcome::kUntouched},
      {"a stack that reports no residual",
       [](sim::KdrDriveConfig&, sim::FaultPlan& f) { f.residual = sim::ResidualReport::kNone; },
       UpdateOutcome::kSucceeded},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::KdrDriveConfig config;
    sim::FaultPlan plan;
    c.set(config, plan);
    sim::KdrDrive drive(h.clock, config);
    const std::vector<uint8_t> before = drive.flash();
    sim::FaultyDevice device(drive, plan, &h.clock);
    EXPECT_EQ(RunOn(device), c.outcome);
    EXPECT_EQ(drive.flash(), c.outcome == UpdateOutcome::kSucceeded ? Flashed() : before);
    EXPECT_EQ(drive.commits(), c.outcome == UpdateOutcome::kSucceeded ? 1u : 0u);
  }
}

}  // namespace
}  // namespace enginetest
