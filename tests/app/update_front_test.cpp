// The Linux front end's update: the watched transport over whole engine runs against the
// simulated drive (which phase and block a failed command belonged to, its sense, a stop that
// holds the commit back), the failure in the tool's words, the progress lines and the question.
#include <unistd.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/console/phase_view.h"
#include "app/console/update_report.h"
#include "app/console/watched_transport.h"
#include "app/console/yes_no_question.h"
#include "engine/flash_updater.h"
#include "sim/faults.h"
#include "sim/kdr_drive.h"
#include "tests/support/engine_harness.h"
#include "tests/support/failing_drive.h"
#include "tests/support/firmware_files.h"
#include "tests/support/temp_folder.h"

namespace {

using enginetest::CountCommands;
using enginetest::Harness;

WatchedTransport* watchedOfRun = nullptr;
uint8_t StopAsked(void*) { return watchedOfRun->StopRequested() ? 1 : 0; }

// One engine run through a WatchedTransport in front of the harness's transport, whose abort
// query is the watched transport's stop, as the front end sets it up.
class WatchedRun : public ::testing::Test {
 protected:
  UpdateOutcome Run(sim::Device& device) {
    h.Attach(device);
    const std::string path =
        folder.Write("firmware.hex", enginetest::TextRecordsFor(enginetest::PatternImage(5)));
    UpdateJob job = h.Job(path, 1);
    watched = std::make_unique<WatchedTransport>(h.os(), *job.transport);
    watchedOfRun = watched.get();
    job.transport = watched.get();
    job.callbacks.isAbortRequestedOf = StopAsked;
    FlashUpdater engine(owner, job, h.os());
    const UpdateOutcome outcome = engine.Run();
    watchedOfRun = nullptr;
    return outcome;
  }
  // Asks for a stop just before the command that `when` picks reaches the drive.
  void StopAt(std::function<bool(const enginetest::TraceEntry&)> when) {
    h.onCommand = [this, when](const enginetest::TraceEntry& entry) {
      if (when(entry)) stopAnswers.push_back(watched->RequestStop());
    };
  }

  Harness h;
  enginetest::FakeOwner owner;
  testsupport::TempFolder folder;
  std::unique_ptr<WatchedTransport> watched;
  std::vector<bool> stopAnswers;
};

bool IsBlockWrite(const enginetest::TraceEntry& e, int block) {
  return e.cdb[0] == 0x3B && e.cdb[1] == 0x02 &&
         ((e.cdb[3] << 16) | (e.cdb[4] << 8) | e.cdb[5]) == block * 4096;
}

TEST_F(WatchedRun, ACleanRunPassesEveryPhaseToItsEnd) {
  sim::KdrDrive drive(h.clock);
  EXPECT_EQ(Run(drive), UpdateOutcome::kSucceeded);
  const WatchState s = watched->Snapshot();
  EXPECT_EQ(s.phase, UpdatePhase::kProgramming);
  EXPECT_EQ(s.bootReads, kBootReads);
  EXPECT_EQ(s.blocksDone, kTransferBlocks);
  EXPECT_TRUE(s.commitSent);
  EXPECT_EQ(s.programmedPercent, 100);
  EXPECT_FALSE(s.reportedFailure.present);
  EXPECT_FALSE(s.lastFailure.present);
}

// The command that ended a failed run, with its phase, block, attempts and sense, as the drive
// answered it.
TEST_F(WatchedRun, TheFailedCommandIsKnownByPhaseBlockAndSense) {
  struct Case {
    const char* name;
    sim::FaultPlan plan;
    UpdatePhase phase;
    int block;
    int attempts;
    uint8_t opcode;
    bool sense;
    const char* words;  // in the explanation
  };
  sim::FaultPlan writeFails;
  writeFails.failWriteBlock = 3;
  writeFails.failWriteTimes = 6;
  sim::FaultPlan corrupt;
  corrupt.corruptReadBlock = 10;
  corrupt.corruptReadTimes = 6;
  sim::FaultPlan commit;
  commit.failCommit = true;
  commit.senseKey = 0x05;
  commit.asc = 0x24;
  sim::FaultPlan boot;
  boot.failBootReadBack = true;
  sim::FaultPlan shortRead;
  shortRead.shortReadAddress = 7 * 4096;
  const Case cases[] = {
      {"a block's writes fail", writeFails, UpdatePhase::kTransfer, 3, 6, 0x3B, true,
       "sending block 3 of 128: WRITE BUFFER ended in CHECK CONDITION, sense key 4 (Hardware "
       "Error), ASC 0x44 ASCQ 0x00 (Internal target failure) (6 attempts)"},
      {"a block reads back changed", corrupt, UpdatePhase::kTransfer, 10, 6, 0x3C, false,
       "sending block 10 of 128: READ BUFFER brought back other bytes than the block sent (6 "
       "attempts)"},
      {"the commit is refused", commit, UpdatePhase::kCommit, -1, 0, 0x3B, true,
       "starting the drive's programming: the commit (WRITE BUFFER mode 1) ended in CHECK "
       "CONDITION, sense key 5 (Illegal Request), ASC 0x24 ASCQ 0x00 (Invalid field in cdb)"},
      {"the boot data cannot be read", boot, UpdatePhase::kBootData, -1, 0, 0x3C, true,
       "reading the drive's boot data: READ BUFFER ended in CHECK CONDITION"},
      {"a read-back comes short", shortRead, UpdatePhase::kTransfer, 7, 6, 0x3C, false,
       "sending block 7 of 128: READ BUFFER brought 2048 of 4096 bytes (6 attempts)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::KdrDrive drive(h.clock);
    sim::FaultyDevice faulty(drive, c.plan);
    EXPECT_EQ(Run(faulty), UpdateOutcome::kUntouched);
    const FailedCommand f = watched->Snapshot().lastFailure;
    ASSERT_TRUE(f.present);
    EXPECT_EQ(f.phase, c.phase);
    EXPECT_EQ(f.block, c.block);
    EXPECT_EQ(f.attempts, c.attempts);
    EXPECT_EQ(f.opcode, c.opcode);
    EXPECT_EQ(f.hasSense, c.sense);
    const UpdateError e = ExplainCommand(f);
    EXPECT_NE(e.message.find(c.words), std::string::npos) << e.message;
    EXPECT_EQ(e.block, c.phase == UpdatePhase::kTransfer ? c.block : -1);
    EXPECT_EQ(drive.commits(), 0u);
  }
}

// A drive that reports a failure while it programs: the poll's sense is the reason.
TEST_F(WatchedRun, AFailureTheDriveReportsWhileProgrammingIsKept) {
  // Half way through its programming the drive answers with a medium error in its sense data.
  sim::KdrDrive drive(h.clock);
  enginetest::FailingWhileProgramming device(drive, 0x40000, 0x03, 0x0C, 0x02);
  EXPECT_EQ(Run(device), UpdateOutcome::kFailed);
  const WatchState s = watched->Snapshot();
  const FailedCommand f = s.reportedFailure;
  ASSERT_TRUE(f.present);
  EXPECT_EQ(f.phase, UpdatePhase::kProgramming);
  EXPECT_GE(s.programmedPercent, 40);
  EXPECT_LT(s.programmedPercent, 60);
  EXPECT_TRUE(f.hasSense);
  EXPECT_EQ(f.key, 0x03);
  EXPECT_EQ(f.asc, 0x0C);
  EXPECT_EQ(f.ascq, 0x02);
  EXPECT_NE(ExplainCommand(f).message.find("while the drive programmed its flash: REQUEST SENSE found the drive reporting a "
                 "failure, sense key 3 (Medium Error)"),
            std::string::npos);
}

// A stop before the commit ends the run with nothing committed, even one asked for after the
// engine's last check before the commit; once the commit went out a stop is refused and the
// drive programs to its end.
TEST_F(WatchedRun, AStopBeforeTheCommitHoldsItBackAndNoneStopsProgramming) {
  {
    SCOPED_TRACE("at block 20");
    sim::KdrDrive drive(h.clock);
    StopAt([](const enginetest::TraceEntry& e) { return IsBlockWrite(e, 20); });
    EXPECT_EQ(Run(drive), UpdateOutcome::kUntouched);
    EXPECT_EQ(stopAnswers, std::vector<bool>{true});
    EXPECT_EQ(CountCommands(h.trace, 0x3B, 0x01), 0);
    EXPECT_LE(CountCommands(h.trace, 0x3B, 0x02), 21);
    EXPECT_EQ(drive.commits(), 0u);
  }
  {
    SCOPED_TRACE("at the last block's read-back, after the engine's last check");
    sim::KdrDrive drive(h.clock);
    stopAnswers.clear();
    StopAt([](const enginetest::TraceEntry& e) {
      return e.cdb[0] == 0x3C && e.cdb[1] == 0x02 && e.cdb[3] == 0x07 && e.cdb[4] == 0xF0;
    });
    EXPECT_EQ(Run(drive), UpdateOutcome::kUntouched);
    EXPECT_EQ(stopAnswers, std::vector<bool>{true});
    EXPECT_TRUE(watched->Snapshot().commitHeld);
    EXPECT_EQ(drive.commits(), 0u);
  }
  {
    SCOPED_TRACE("while programming");
    sim::KdrDrive drive(h.clock);
    stopAnswers.clear();
    int polls = 0;
    h.onCommand = [&](const enginetest::TraceEntry& e) {
      if (e.cdb[0] == 0x03 && ++polls == 3) {
        stopAnswers.push_back(watched->RequestStop());
        stopAnswers.push_back(watched->RequestStop());
      }
    };
    EXPECT_EQ(Run(drive), UpdateOutcome::kSucceeded);
    EXPECT_EQ(stopAnswers, (std::vector<bool>{false, false}));
    EXPECT_FALSE(watched->StopRequested());
  }
}

// The update's document: the envelope, the update's members and the error with its sense.
TEST(UpdateJson, CarriesTheEnvelopeTheUpdateAndTheErrorWithItsSense) {
  UpdateReport report;
  report.status = 5;
  report.outcome = "untouched";
  report.device = "/dev/sr0";
  report.model = "KORVADSK RW/DVD KDR-7305C";
  report.revisionBefore = "TR07";
  report.revisionRead = true;
  report.revisionAfter = "TR07";
  report.file = "QF2TR08.BIN";
  report.imageSum = "0x1234";
  report.log = {"Firmware update failed!"};
  report.hasError = true;
  report.error.message = "sending block 3 of 128: ...";
  report.error.phase = "transfer";
  report.error.block = 3;
  report.error.engineText = "Execute command error!!  4/44/ 0";
  report.error.hasSense = true;
  report.error.key = 4;
  report.error.asc = 0x44;
  const std::string json = UpdateJson(report);
  for (const char* part :
       {"{\"format\":1,\"program\":\"fwloader\",\"version\":\"", "\"command\":\"update\"",
        "\"exit_status\":5", "\"update\":{\"device\":\"/dev/sr0\"", "\"outcome\":\"untouched\"",
        "\"log\":[\"Firmware update failed!\"]", "\"phase\":\"transfer\",\"block\":3",
        "\"engine_text\":\"Execute command error!!  4/44/ 0\"",
        "\"sense\":{\"key\":4,\"asc\":68,\"ascq\":0,\"key_text\":\"Hardware Error\","
        "\"asc_text\":\"Internal target failure\"}"}) {
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  }
  report.hasError = false;
  EXPECT_EQ(UpdateJson(report).find("\"error\""), std::string::npos);
}

std::string Drawn(ViewStyle style, const std::function<void(PhaseView&)>& draw) {
  std::string out;
  PhaseView view(style, [&out](const std::string& text) { out += text; });
  draw(view);
  return out;
}

// A redrawing terminal only where it is a terminal and not "dumb"; colour there, unless
// NO_COLOR is set to anything.
TEST(PhaseView, TheStyleFollowsTheTerminalTermAndNoColor) {
  struct Case {
    bool terminal;
    const char* term;
    const char* noColor;
    bool redraw, colour;
  } cases[] = {
      {true, "xterm", nullptr, true, true},   {true, "xterm", "1", true, false},
      {true, "xterm", "", true, true},        {true, "dumb", nullptr, false, false},
      {true, nullptr, nullptr, false, false}, {false, "xterm", nullptr, false, false},
  };
  for (const Case& c : cases) {
    const ViewStyle s = StyleFor(c.terminal, c.term, c.noColor);
    EXPECT_EQ(s.redraw, c.redraw) << c.term;
    EXPECT_EQ(s.colour, c.colour) << c.term;
  }
}

TEST(PhaseView, WithoutRedrawEachPhaseIsALinePerTenPerCentAndNoEscape) {
  const std::string out = Drawn(ViewStyle{}, [](PhaseView& v) {
    v.Begin("Sending");
    for (int p = 0; p <= 100; p += 3) v.Progress(p);
    v.Progress(100);
    v.Begin("Programming");  // ends the one before as done
    v.Progress(55);
    v.End("failed", false);
  });
  EXPECT_EQ(out,
            "Sending ...\n  10 %\n  20 %\n  30 %\n  40 %\n  50 %\n  60 %\n  70 %\n  80 %\n"
            "  90 %\n  100 %\nSending: done\nProgramming ...\n  10 %\n  20 %\n  30 %\n  40 %\n"
            "  50 %\nProgramming: failed\n");
}

// A redrawn line that would wrap on the terminal is cut to its width.
TEST(PhaseView, ARedrawnLineKeepsWithinTheTerminal) {
  const std::string out = Drawn(ViewStyle{true, false, 60}, [](PhaseView& v) {
    v.Begin("Sending 128 blocks, each read back");
    v.Progress(4, "block 5/128");
  });
  const size_t last = out.rfind('\r');
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(out.size() - last - 1 - 3, 59u) << out;  // the line, less "\033[K"
}

TEST(PhaseView, OnATerminalTheBarIsRedrawnInPlaceAndLinesKeepOffIt) {
  const std::string out = Drawn(ViewStyle{true, false}, [](PhaseView& v) {
    v.Begin("Sending");
    v.Progress(50, "block 64 of 128");
    v.Say("Ctrl-C: stopping");
    v.End("stopped", false);
  });
  const std::string label = "Sending" + std::string(41, ' ');  // padded: the bars align
  const std::string half = "[" + std::string(10, '#') + std::string(10, ' ') + "]";
  EXPECT_EQ(out, "\r" + label + " [" + std::string(20, ' ') + "]   0 %\033[K" + "\r" + label +
                     " " + half + "  50 %  block 64 of 128\033[K" + "\r\033[KCtrl-C: stopping\n" +
                     "\r" + label + " " + half + "  50 %  block 64 of 128\033[K" + "\r" +
                     label + " " + half + " 50 %  block 64 of 128  stopped\033[K\n");
  EXPECT_NE(Drawn(ViewStyle{true, true}, [](PhaseView& v) {
              v.Begin("x");
              v.End("done", true);
            }).find("\033[32mdone\033[0m"),
            std::string::npos);
}

// The question takes one line: only y or yes is yes; a Ctrl-C or a termination while it waits
// ends it.
TEST(AskYesNo, OnlyYOrYesIsYesAndSignalsEndTheQuestion) {
  struct Case {
    const char* typed;
    bool interrupt, terminate;
    QuestionAnswer answer;
  } cases[] = {
      {"y\n", false, false, QuestionAnswer::kYes},
      {" YES \n", false, false, QuestionAnswer::kYes},
      {"\n", false, false, QuestionAnswer::kNo},
      {"yes please\n", false, false, QuestionAnswer::kNo},
      {"", false, false, QuestionAnswer::kEndOfInput},
      {"y", false, false, QuestionAnswer::kEndOfInput},
      {"y\n", true, false, QuestionAnswer::kInterrupted},
      {"y\n", false, true, QuestionAnswer::kTerminated},
  };
  for (const Case& c : cases) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const std::string typed = c.typed;
    ASSERT_EQ(write(pipeFds[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    close(pipeFds[1]);
    std::atomic<bool> interrupted{c.interrupt};
    std::atomic<int> terminations{0};
    std::string shown;
    const QuestionAnswer answer = AskYesNo(
        "Update now?", pipeFds[0], interrupted,
        terminations, [&](const std::string& text) {
          shown += text;
          if (c.terminate) terminations = 1;  // arrives while the question waits
        });
    close(pipeFds[0]);
    EXPECT_EQ(answer, c.answer) << c.typed;
    EXPECT_EQ(shown.rfind("Update now? [y/N] ", 0), 0u) << shown;
    EXPECT_FALSE(interrupted.load());
  }
}

}  // namespace
