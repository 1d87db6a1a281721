// Whole update runs against the simulated supported drive: the flash afterwards, the commands
// the drive saw, and everything the user saw (status line, log, progress, message boxes, the
// restart), for a clean run and for each way a run can fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/flash_updater.h"
#include "sim/faults.h"
#include "sim/kdr_drive.h"
#include "tests/support/firmware_files.h"
#include "tests/support/engine_harness.h"
#include "tests/support/temp_folder.h"

namespace enginetest {
namespace {

using ::testing::ElementsAre;

constexpr uint32_t kOk = platform::kMbSystemModal;
constexpr uint32_t kYesNo = platform::kMbSystemModal | platform::kMbYesNo;
constexpr char kUnable[] =
    "Unable to start upgrade firmware.\nPlease close all other program and try again.";
constexpr char kFailed[] = "Firmware update failed!";
constexpr char kRetryRestart[] =
    "The system must be restarted and try again. Please save all unsaved data before rebooting "
    "this system.\nWould you like to restart the system now?";
constexpr char kRestart[] =
    "The system must be restarted. Please save all unsaved data before rebooting this "
    "system.\nWould you like to restart the system now?";

// The events of a run that ends with the failed-update messages.
std::vector<std::string> FailedEnding() {
  return {"log: Firmware update failed!", std::string("box: ") + kFailed,
          std::string("box: ") + kRetryRestart};
}

class RunTest : public ::testing::Test {
 protected:
  RunTest() : drive(h.clock), fileImage(PatternImage(7)) {}

  // Attaches the drive behind the plan's faults.
  void Connect() {
    faulty = std::make_unique<sim::FaultyDevice>(drive, plan, &h.clock);
    h.Attach(*faulty);
  }
  std::string HexFile() {
    return folder.Write("firmware.hex", TextRecordsFor(fileImage));
  }
  std::string BinFile(const std::string& content) {
    return folder.Write("firmware.bin", content);
  }
  void RunWith(const std::string& path, uint8_t isHex, uint8_t useNt = 1) {
    if (!faulty) Connect();
    FlashUpdater engine(owner, h.Job(path, isHex, useNt), h.os());
    outcome = engine.Run();
    EXPECT_EQ(h.imagesHeld, 0) << "the image is released on every path";
    EXPECT_EQ(h.inputFilesOpen, 0) << "the firmware file is closed on every path";
  }
  // The image the drive should hold after a clean run of fileImage: its boot data as it left
  // the factory, whatever the run may have done to it.
  std::vector<uint8_t> Flashed() {
    return FinishedImage(fileImage, sim::KdrDrive::FactoryBootData());
  }
  UpdateOutcome outcome = UpdateOutcome::kFailed;  // what the last run returned
  int Writes() const { return CountCommands(h.trace, 0x3B, 0x02); }
  int Reads() const { return CountCommands(h.trace, 0x3C, 0x02); }
  int Polls() const { return CountCommands(h.trace, 0x03); }

  Harness h;
  sim::KdrDrive drive;
  sim::FaultPlan plan;
  std::unique_ptr<sim::FaultyDevice> faulty;
  FakeOwner owner;
  std::vector<uint8_t> fileImage;
  testsupport::TempFolder folder;
};

TEST_F(RunTest, CleanRunFlashesTheImageAndShowsEachStage) {
  h.answers = {platform::kIdNo};
  RunWith(HexFile(), 1);

  EXPECT_EQ(drive.flash(), Flashed());
  EXPECT_FALSE(drive.programming());
  EXPECT_EQ(drive.commits(), 1u);
  EXPECT_EQ(h.events, (std::vector<std::string>{
                          "status: Transferring.....", "status: Updating.....",
                          "log: Please wait for a moment ......",
                          "log: Firmware update successfully completed!",
                          "log: Restarting CDROM....", "log: Complete", "status: Finished",
                          std::string("box: ") + kRestart}));
  ASSERT_EQ(h.boxes.size(), 1u);
  EXPECT_EQ(h.boxes[0].caption, "NOTE");
  EXPECT_EQ(h.boxes[0].style, kYesNo);
  EXPECT_FALSE(h.boxes[0].hasOwner);
  EXPECT_TRUE(h.exitRequests.empty()) << "No restarts nothing";
  EXPECT_EQ(h.privilegeRequests, 0);

  // The commands in order: stop twice, boot data (prepared, then read twice), 128 blocks each
  // written and read back, the commit with the image sum, then polls until the drive is done.
  const auto& t = h.trace;
  ASSERT_GE(t.size(), 2u + 9 + 256 + 1 + 2);
  EXPECT_EQ(t[0].cdb[0], 0x1B);
  EXPECT_EQ(t[1].cdb[0], 0x1B);
  EXPECT_EQ(t[2].cdb[0], 0xF1);
  for (uint32_t i = 0; i < 8; ++i) {
    EXPECT_THAT(t[3 + i].cdb, ElementsAre(0x3C, 0x02, 0x00, 0x18, 0x10 * (i % 4), 0, 0x00, 0x10,
                                          0x00, 0x0A, 0x0B, 0x0C));
  }
  for (uint32_t b = 0; b < 128; ++b) {
    const TraceEntry& w = t[11 + 2 * b];
    const TraceEntry& r = t[12 + 2 * b];
    const uint32_t address = b * 4096;
    EXPECT_THAT(w.cdb, ElementsAre(0x3B, 0x02, 0x00, address >> 16, (address >> 8) & 0xFF, 0,
                                   0x00, 0x10, 0x00, 0x0A, 0x0B, 0x0C));
    EXPECT_EQ(r.cdb[0], 0x3C);
    EXPECT_EQ(r.cdb[4], (address >> 8) & 0xFF);
  }
  const TraceEntry& commit = t[11 + 256];
  uint16_t sum = 0;
  for (uint8_t b : Flashed()) sum = uint16_t(sum + b);
  EXPECT_THAT(commit.cdb, ElementsAre(0x3B, 0x01, 0x01, sum >> 8, sum & 0xFF, 0, 0, 0, 0, 0x0A,
                                      0x0B, 0x0C));
  EXPECT_EQ(Polls(), int(t.size()) - (11 + 257));

  // Progress: 128 block steps from 0 up to 100, back to 0, the drive's reports, then 100.
  ASSERT_GT(h.progress.size(), 131u);
  EXPECT_EQ(h.progress[0], 0);
  EXPECT_THAT(std::vector<int>(h.progress.begin() + 1, h.progress.begin() + 9),
              ElementsAre(0, 1, 2, 3, 3, 4, 5, 6));
  EXPECT_EQ(h.progress[64], 50);
  EXPECT_EQ(h.progress[128], 100);
  EXPECT_EQ(h.progress[129], 0);
  for (size_t i = 130; i + 1 < h.progress.size(); ++i) {
    EXPECT_LE(h.progress[i], 98);
    EXPECT_GE(h.progress[i], h.progress[i - 1]);
  }
  EXPECT_EQ(h.progress.back(), 100);

  // Sleeps: 168 ms between polls, then 1500 ms before the closing messages.
  ASSERT_EQ(h.sleeps.size(), size_t(Polls()));
  for (size_t i = 0; i + 1 < h.sleeps.size(); ++i) EXPECT_EQ(h.sleeps[i], 168u);
  EXPECT_EQ(h.sleeps.back(), 1500u);
  EXPECT_EQ(h.librariesLoaded, std::vector<std::string>{"sumseal"});
}

TEST_F(RunTest, BinaryFileRunsAlike) {
  RunWith(BinFile(std::string(fileImage.begin(), fileImage.end())), 0);
  EXPECT_EQ(drive.flash(), Flashed());
  EXPECT_EQ(h.statuses.back(), "Finished");
}

struct RestartCase {
  const char* name;
  uint8_t useNt;
  bool privilege;
  int answer;
  int privilegeRequests;
  std::vector<uint32_t> exits;
};

TEST_F(RunTest, RestartStepsFollowTheAnswerAndTheFamily) {
  const RestartCase cases[] = {
      {"NT, Yes", 1, true, platform::kIdYes, 1, {platform::kEwxReboot | platform::kEwxForce}},
      {"NT, Yes, no privilege", 1, false, platform::kIdYes, 1, {}},
      {"NT, No", 1, true, platform::kIdNo, 0, {}},
  };
  const std::string path = HexFile();
  for (const RestartCase& c : cases) {
    SCOPED_TRACE(c.name);
    h.privilegeRequests = 0;
    h.exitRequests.clear();
    h.privilegeGranted = c.privilege;
    h.answers = {c.answer};
    RunWith(path, 1, c.useNt);
    EXPECT_EQ(h.privilegeRequests, c.privilegeRequests);
    EXPECT_EQ(h.exitRequests, c.exits);
  }
}

TEST_F(RunTest, NineXFamilyRestartsWithoutAPrivilegeStep) {
  // No ASPI manager is there: every command fails, and the run ends with the failure messages.
  h.answers = {platform::kIdOk, platform::kIdYes};
  RunWith(BinFile(""), 0, /*useNt=*/0);
  EXPECT_EQ(h.privilegeRequests, 0);
  EXPECT_EQ(h.exitRequests, std::vector<uint32_t>{platform::kEwxReboot | platform::kEwxForce});
}

struct LoadFailureCase {
  const char* name;
  std::string content;  // empty name below: no file at all
  uint8_t isHex;
  bool missing;
  bool noStorage;
  std::vector<std::string> statuses;
};

TEST_F(RunTest, LoadFailuresShowTheirMessageAndEndAsFailed) {
  const std::string e3 = "ERR: fail to open input file!";
  const std::string e5 = "ERR: fail to read input file!";
  const std::string e6 = "ERR: input file format mismatched!";
  const std::string e11 = "ERR: fail to allocate memory!";
  const LoadFailureCase cases[] = {
      {"file cannot be opened", "", 1, true, false, {e3, e5}},
      {"empty binary", "", 0, false, false, {e5}},
      {"binary longer than the image", std::string(kImageSize + 1, 'x'), 0, false, false, {e6}},
      {"text format error", ":01400000417F\r\n:00000001FF\r\n", 1, false, false, {e6}},
      {"no end record", ":01400000417E\r\n", 1, false, false, {e6}},
      {"storage not obtained", ":00000001FF\r\n", 1, false, true, {e11}},
  };
  for (const LoadFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    h.events.clear();
    h.statuses.clear();
    h.trace.clear();
    h.boxes.clear();
    h.failImageStorage = c.noStorage;
    const std::string path = c.missing ? folder.File("missing.bin") : BinFile(c.content);
    RunWith(path, c.isHex);
    EXPECT_EQ(h.statuses, c.statuses) << "one message per failure, the loader's or the run's";
    std::vector<std::string> expected;
    for (const std::string& s : c.statuses) expected.push_back("status: " + s);
    for (const std::string& s : FailedEnding()) expected.push_back(s);
    EXPECT_EQ(h.events, expected);
    EXPECT_EQ(Writes(), 0);
    ASSERT_EQ(h.boxes.size(), 2u);
    EXPECT_EQ(h.boxes[0].style, kOk);
    EXPECT_EQ(h.boxes[1].style, kYesNo);
    EXPECT_EQ(h.boxes[1].caption, "NOTE");
  }
}

TEST_F(RunTest, FiveFailedAttemptsThenSuccessIsNoFailure) {
  plan.failWriteBlock = 9;
  plan.failWriteTimes = 5;
  RunWith(HexFile(), 1);
  EXPECT_EQ(drive.flash(), Flashed());
  EXPECT_EQ(Writes(), 128 + 5);
  EXPECT_EQ(Reads(), 128 + 8) << "no read-back after a failed write";
  EXPECT_EQ(h.statuses.back(), "Finished");
  EXPECT_EQ(h.boxes.size(), 1u);
}

struct SixFailuresCase {
  const char* name;
  bool corruptRead;
  const char* status;
  int writes, reads;
};

class SixFailuresTest : public RunTest, public ::testing::WithParamInterface<SixFailuresCase> {};

TEST_P(SixFailuresTest, ShowTheLastSenseAndSendNoMore) {
  const SixFailuresCase& c = GetParam();
  if (c.corruptRead) {
    plan.corruptReadBlock = 20;
    plan.corruptReadTimes = 6;
  } else {
    plan.failWriteBlock = 20;
    plan.failWriteTimes = 6;
  }
  RunWith(HexFile(), 1);
  std::vector<std::string> expected = {"status: Transferring.....", std::string("box: ") + kUnable,
                                       std::string("status: ") + c.status};
  for (const std::string& s : FailedEnding()) expected.push_back(s);
  EXPECT_EQ(h.events, expected);
  ASSERT_FALSE(h.boxes.empty());
  EXPECT_EQ(h.boxes[0].style, kOk);
  EXPECT_EQ(h.boxes[0].caption, "NOTE");
  EXPECT_EQ(Writes(), c.writes);
  EXPECT_EQ(Reads(), c.reads);
  EXPECT_EQ(drive.commits(), 0u);
  EXPECT_EQ(h.progress.back(), 20 * 100 / 128);
  EXPECT_EQ(h.sleeps, std::vector<uint32_t>{1500});
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, SixFailuresTest,
    ::testing::Values(
        // The write's own sense: HARDWARE ERROR 04/44/00, each as %2X.
        SixFailuresCase{"write", false, "Execute command error!!  4/44/ 0", 20 + 6, 8 + 20},
        // A read-back that differs leaves no sense: the READ BUFFER itself succeeded.
        SixFailuresCase{"readback", true, "Execute command error!!  0/ 0/ 0", 20 + 6,
                        8 + 20 + 6}),
    [](const ::testing::TestParamInfo<SixFailuresCase>& p) { return p.param.name; });

TEST_F(RunTest, SenseBytesPrintInUpperCaseHex) {
  plan.failWriteBlock = 0;
  plan.failWriteTimes = 6;
  plan.senseKey = 0x03;
  plan.asc = 0x3A;
  plan.ascq = 0xBC;
  RunWith(HexFile(), 1);
  EXPECT_EQ(h.statuses.back(), "Execute command error!!  3/3A/BC");
}

// When the terminate request comes: after loading (with the last boot data read-back) and
// before the first block, in the middle of the transfer, or while the drive programs.
struct TerminateCase {
  const char* name;
  uint8_t opcode;    // the request comes as this command is sent ...
  uint32_t address;  // ... to this buffer address (WRITE BUFFER and READ BUFFER)
  int writes;
  bool committed;      // the request came after the commit was sent
  bool skipEndWindow;  // the drive's progress jumps past its end window: a failed update
};

class TerminateTest : public RunTest, public ::testing::WithParamInterface<TerminateCase> {};

TEST_P(TerminateTest, EndsWithTheTerminateMessage) {
  const TerminateCase& c = GetParam();
  bool requested = false;
  h.onCommand = [&](const TraceEntry& e) {
    const bool buffer = c.opcode == 0x3B || c.opcode == 0x3C;
    if (e.cdb[0] == c.opcode &&
        (!buffer || ((uint32_t{e.cdb[3]} << 16) | (e.cdb[4] << 8)) == c.address)) {
      requested = true;
    }
  };
  h.abortAnswer = [&](int) -> uint8_t { return requested ? 1 : 0; };
  plan.skipEndWindow = c.skipEndWindow;
  RunWith(HexFile(), 1);
  EXPECT_EQ(Writes(), c.writes);
  const std::string terminated = "status: ERR: terminate upgrade/backup flash!";
  std::vector<std::string> expected;
  if (c.committed) {
    // A drive that programs its flash cannot be stopped: the run says so once, follows the
    // drive to its end and reports what the drive reported, not a terminated update.
    expected = {"status: Transferring.....", "status: Updating.....",
                "log: Please wait for a moment ......",
                std::string("log: ") + kTerminateWhileProgrammingText};
    if (c.skipEndWindow) {
      for (const std::string& s : FailedEnding()) expected.push_back(s);
    } else {
      for (const char* s : {"log: Firmware update successfully completed!",
                            "log: Restarting CDROM....", "log: Complete", "status: Finished"}) {
        expected.push_back(s);
      }
      expected.push_back(std::string("box: ") + kRestart);
      EXPECT_EQ(drive.flash(), Flashed());
    }
    EXPECT_EQ(drive.commits(), 1u);
  } else {
    expected = {"status: Transferring.....", std::string("box: ") + kUnable, terminated};
    for (const std::string& s : FailedEnding()) expected.push_back(s);
    EXPECT_EQ(drive.commits(), 0u);
  }
  EXPECT_EQ(h.events, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, TerminateTest,
    ::testing::Values(TerminateCase{"BeforeFirstBlock", 0x3C, 0x183000, 0, false, false},
                      TerminateCase{"MidTransfer", 0x3B, 0x28000, 41, false, false},
                      TerminateCase{"DuringPolling", 0x03, 0, 128, true, false},
                      TerminateCase{"DuringPollingOfAFailingDrive", 0x03, 0, 128, true, true}),
    [](const ::testing::TestParamInfo<TerminateCase>& p) { return p.param.name; });

TEST_F(RunTest, FailedCommitStillPollsAndEndsAsFailed) {
  plan.failCommit = true;
  RunWith(HexFile(), 1);
  std::vector<std::string> expected = {
      "status: Transferring.....", "status: Updating.....", "log: Please wait for a moment ......",
      std::string("box: ") + kUnable, std::string("log: ") + kUnable};
  for (const std::string& s : FailedEnding()) expected.push_back(s);
  EXPECT_EQ(h.events, expected);
  EXPECT_EQ(Polls(), 1);
  EXPECT_NE(drive.flash(), Flashed());
}

TEST_F(RunTest, DriveThatSkipsTheEndWindowCountsAsFailed) {
  plan.skipEndWindow = true;
  RunWith(HexFile(), 1);
  EXPECT_EQ(h.logs.back(), kFailed);
  EXPECT_EQ(h.progress.back(), 100);
}

// A drive that programs its flash may miss answers to the progress poll. The run keeps polling
// every 168 ms until the drive answers again; only a minute without an answer ends it, failed.
struct SilenceCase {
  const char* name;
  uint32_t missedAnswers;  // REQUEST SENSE answers the drive misses right after the commit
  bool silentForGood;
  bool succeeded;
  uint32_t pollingMs;  // virtual time from the commit to the end of the polling
  int polls;           // REQUEST SENSE commands sent after the commit
};

TEST_F(RunTest, MissedProgressAnswersWaitUpToAMinute) {
  const SilenceCase cases[] = {
      {"one missed answer", 1, false, true, 0, 0},
      {"silent for 59.8 s", 357, false, true, 0, 0},
      // The 358th miss comes 59 976 ms after the commit, under a minute: the next poll answers.
      {"silent for 59.976 s", 358, false, true, 0, 0},
      {"silent for 60.144 s", 359, false, false, 358 * 168, 359},
      // A drive that hangs holds each command for the request's own time-out: on the NT
      // pass-through that is 65535 s, so the first poll alone outlasts the minute.
      {"silent for good", 0, true, false, 65535000, 1},
  };
  const std::string path = HexFile();
  for (const SilenceCase& c : cases) {
    SCOPED_TRACE(c.name);
    // A drive that takes longer than the silence to program, so that it is still at work when
    // it answers again.
    sim::KdrDriveConfig config;
    config.programMs = 70000;
    sim::KdrDrive slow(h.clock, config);
    sim::FaultPlan faults;
    faults.missedSenseAnswers = c.missedAnswers;
    faults.silentAfterCommit = c.silentForGood;
    sim::FaultyDevice device(slow, faults, &h.clock);
    h.Attach(device);
    h.logs.clear();
    h.sleeps.clear();
    h.trace.clear();
    uint64_t commitMs = 0;
    h.onCommand = [&](const TraceEntry& e) {
      if (e.cdb[0] == 0x3B && e.cdb[1] == 0x01) commitMs = h.clock.NowMs();
    };
    {
      FlashUpdater engine(owner, h.Job(path, 1), h.os());
      engine.Run();
    }
    h.onCommand = nullptr;
    const uint64_t pollingMs = h.clock.NowMs() - kClosingPauseMs - commitMs;
    if (c.succeeded) {
      EXPECT_EQ(h.logs.back(), "Complete");
      EXPECT_EQ(slow.flash(), Flashed());
      // Followed until the drive reported its end window, 0x7E000 of 0x80000 bytes into 70 s.
      EXPECT_GE(pollingMs, 70000u * 0x7E000 / 0x80000);
    } else {
      EXPECT_EQ(h.logs.back(), kFailed);
      EXPECT_EQ(pollingMs, c.pollingMs);
      EXPECT_GE(pollingMs, kSilenceLimitMs);
      EXPECT_EQ(Polls(), c.polls);
      EXPECT_EQ(h.progress.back(), 100);
    }
  }
}

// Each way in which the drive's boot data is not known for sure ends the run before a block is
// sent, with "fail to read flash!" and the failed-update messages.
// Ways in which the drive's boot data is not known: the image is never finished then.
struct BootDataCase {
  const char* name;
  bool failPrepare;
  bool failReadBack;
  int32_t corruptReadBlock;  // buffer address / 4096 of a read-back that differs once
  int64_t shortReadAddress;
  int readBacks;  // READ BUFFER commands sent
};

TEST_F(RunTest, BootDataNotReadCleanlySendsNothingAndEndsAsFailed) {
  const BootDataCase cases[] = {
      {"the read-back fails", false, true, -1, -1, 1},
      {"the prepare command fails", true, false, -1, -1, 0},
      {"the first read of 0x180000 differs", false, false, 0x180, -1, 5},
      {"the first read of 0x183000 differs", false, false, 0x183, -1, 8},
      {"a read-back of 0x181000 arrives half", false, false, -1, 0x181000, 2},
  };
  const std::string paths[2] = {BinFile(std::string(0x6000, '\x77')), HexFile()};
  for (const BootDataCase& c : cases) {
    for (uint8_t isHex : {0, 1}) {
      SCOPED_TRACE(::testing::Message() << c.name << (isHex ? " (.hex)" : " (.bin)"));
      sim::KdrDrive fresh(h.clock);
      const std::vector<uint8_t> flashBefore(fresh.flash().begin(), fresh.flash().end());
      sim::FaultPlan faults;
      faults.failPrepare = c.failPrepare;
      faults.failBootReadBack = c.failReadBack;
      faults.corruptReadBlock = c.corruptReadBlock;
      faults.corruptReadTimes = 1;
      faults.shortReadAddress = c.shortReadAddress;
      sim::FaultyDevice device(fresh, faults, &h.clock);
      h.Attach(device);
      h.events.clear();
      h.trace.clear();
      {
        FlashUpdater engine(owner, h.Job(paths[isHex], isHex), h.os());
        engine.Run();
      }
      EXPECT_EQ(h.imagesHeld, 0);
      EXPECT_EQ(h.inputFilesOpen, 0);
      std::vector<std::string> expected = {"status: ERR: fail to read flash!"};
      for (const std::string& s : FailedEnding()) expected.push_back(s);
      EXPECT_EQ(h.events, expected);
      EXPECT_EQ(Reads(), c.readBacks);
      EXPECT_EQ(Writes(), 0);
      EXPECT_EQ(fresh.commits(), 0u);
      EXPECT_EQ(fresh.flash(), flashBefore);
    }
  }
}

TEST_F(RunTest, ASecondRunIsJudgedByItsOwnOutcome) {
  RunWith(HexFile(), 1);
  ASSERT_EQ(h.statuses.back(), "Finished");
  ASSERT_EQ(outcome, UpdateOutcome::kSucceeded);
  h.events.clear();
  // The second run fails before it polls: it must not inherit the first run's success.
  RunWith(BinFile(""), 0);
  std::vector<std::string> expected = {"status: ERR: fail to read input file!"};
  for (const std::string& s : FailedEnding()) expected.push_back(s);
  EXPECT_EQ(h.events, expected);
  EXPECT_EQ(outcome, UpdateOutcome::kUntouched);
}

TEST_F(RunTest, OptionsReachTheDrive) {
  owner.forceBootOverwrite = 1;
  owner.disableChecksumProtect = 1;
  RunWith(HexFile(), 1);
  EXPECT_EQ(drive.lastCommitOptions(), 0x8A);
  EXPECT_EQ(drive.flash(), Flashed());
}

// The boxes' states as BM_GETCHECK answers them: only a plain "checked" turns an option on.
TEST_F(RunTest, TheCommitReadsTheTwoOptionBoxes) {
  const struct {
    int forceBox, disableBox;
    uint8_t b9, b10, b11;
  } cases[] = {
      {0, 0, 0x0A, 0x0B, 0x0C},
      {1, 0, 0x8A, 0x0B, 0x0C},
      {0, 1, 0x0A, 0x00, 0x00},
      {2, 2, 0x0A, 0x0B, 0x0C},  // indeterminate counts as off
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.forceBox << "/" << c.disableBox);
    owner.forceBootOverwrite = c.forceBox;
    owner.disableChecksumProtect = c.disableBox;
    h.trace.clear();
    RunWith(BinFile(std::string(0x4100, '\x21')), 0);
    const TraceEntry* commit = nullptr;
    for (const TraceEntry& e : h.trace) {
      if (e.cdb[0] == 0x3B && e.cdb[1] == 0x01) commit = &e;
    }
    ASSERT_NE(commit, nullptr);
    EXPECT_EQ(commit->cdb[9], c.b9);
    EXPECT_EQ(commit->cdb[10], c.b10);
    EXPECT_EQ(commit->cdb[11], c.b11);
  }
}

}  // namespace
}  // namespace enginetest
