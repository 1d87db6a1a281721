// The dialog logic against the in-memory controls: initialisation, drive selection, the Upgrade
// command's checks, Close and Enter during and outside a run, and the About item.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dialog_fixture.h"

namespace {

using Initialisation = DialogTest;

TEST_F(Initialisation, OneSupportedDriveStartsTheUpdateBeforeAnyInput) {
  World().discovered = {MakeRecord(kSupported, "1.05")};
  Open();
  EXPECT_EQ(Text(kDriveList), "KORVADSKRW/DVD KDR-7305C(0)");
  EXPECT_EQ(controls.State(kDriveList).entries,
            std::vector<std::string>{"KORVADSKRW/DVD KDR-7305C(0)"});
  EXPECT_EQ(Text(kDeviceRevision), "1.05");
  EXPECT_EQ(Text(kSourceFile), "QF2TR08.BIN");
  EXPECT_EQ(Text(kStatusLine), "");
  EXPECT_TRUE(dialog->ModelMatched());
  EXPECT_FALSE(Enabled(kCloseButton));
  ASSERT_EQ(World().pendingWorkers.size(), 1u);
  EXPECT_TRUE(dialog->RunActive());
  EXPECT_STREQ(dialog->Job().drive.identity, "KORVADSKRW/DVD KDR-7305C(0)");
  EXPECT_STREQ(dialog->Job().firmwarePath, "QF2TR08.BIN");
  EXPECT_EQ(dialog->Job().isHexFile, 0);  // "BIN" is "bin" in any case
  EXPECT_EQ(dialog->Job().transport, transport_.get());
  EXPECT_EQ(dialog->Job().callbacks.context, dialog.get());  // the run reports to this dialog
  RunPendingWorker();
}

TEST_F(Initialisation, SupportedDriveSecondIsListedSortedAndShownLast) {
  World().discovered = {MakeRecord(kOther, "1.00"), MakeRecord(kSupported, "1.05", 2, 1)};
  Open();
  EXPECT_EQ(controls.State(kDriveList).entries,
            (std::vector<std::string>{"KORVADSKRW/DVD KDR-7305C(1)", "PIONEER DVD-RW  DVR-110D(0)"}));
  EXPECT_EQ(Text(kDriveList), "KORVADSKRW/DVD KDR-7305C(1)");
  EXPECT_EQ(Text(kDeviceRevision), "1.05");
  EXPECT_EQ(dialog->Job().drive.adapterId, 2);
  EXPECT_EQ(World().pendingWorkers.size(), 1u);
  RunPendingWorker();
}

TEST_F(Initialisation, DriveDifferingOnlyInCaseDoesNotMatch) {
  World().discovered = {MakeRecord("korvadskRW/DVD KDR-7305C", "1.05")};
  Open();
  EXPECT_FALSE(dialog->ModelMatched());
  EXPECT_EQ(Text(kStatusLine), "Drive model doesn't match!!");
  EXPECT_FALSE(Enabled(kUpgradeButton));
  EXPECT_TRUE(World().pendingWorkers.empty());
  EXPECT_EQ(Text(kDriveList), "korvadskRW/DVD KDR-7305C(0)");  // the last record listed
}

TEST_F(Initialisation, NoDrives) {
  Open();
  EXPECT_TRUE(controls.State(kDriveList).entries.empty());
  EXPECT_EQ(Text(kStatusLine), "Drive model doesn't match!!");
  EXPECT_FALSE(Enabled(kUpgradeButton));
}

TEST_F(Initialisation, NoTransport) {
  World().transportLoads = false;
  World().discovered = {MakeRecord(kSupported, "1.05")};
  Open();
  EXPECT_EQ(World().discoveries, 0);
  EXPECT_TRUE(controls.State(kDriveList).entries.empty());
  EXPECT_FALSE(Enabled(kUpgradeButton));
  EXPECT_FALSE(Enabled(kDeviceRevision));
  EXPECT_EQ(Text(kStatusLine), "Drive model doesn't match!!");
  ASSERT_EQ(World().boxes.size(), 1u);
  EXPECT_EQ(World().boxes[0].text, "Cannot Load Dynamic Library!!!");
  EXPECT_EQ(World().boxes[0].caption, "fwloader");
  EXPECT_EQ(World().boxes[0].style, platform::kMbOkCancel | platform::kMbSystemModal);
  EXPECT_TRUE(World().pendingWorkers.empty());
  dialog->OnDestroy();
  EXPECT_EQ(World().releaseTransportCalls, 1);
}

// The transport the front end handed in is the one initialisation loads and discovers with,
// the one the run's job carries, and the one that releases the drives.
TEST_F(Initialisation, TheHandedInTransportIsTheOneUsed) {
  class HandedIn final : public DriveTransport {
   public:
    explicit HandedIn(platform::Os& os) : DriveTransport(os) {}
    int loads = 0;
    int releasedDrives = 0;
    int releases = 0;
    bool Load(TransportState&) override {
      ++loads;
      return true;
    }
    void Release(TransportState&) override { ++releases; }
    void Discover(DriveList& drives) override {
      drives.records[0] = new DriveRecord(MakeRecord(kSupported, "1.05"));
      drives.count = 1;
    }
    void ReleaseDrives(DriveList& drives) override {
      for (uint32_t i = 0; i < drives.count; ++i) delete drives.records[i];
      drives.count = 0;
      ++releasedDrives;
    }

   protected:
    ScsiOutcome Carry(const ScsiRequest&, bool&, uint32_t&) override { return ScsiOutcome::kNotSent; }
  };
  HandedIn handedIn(*os_);
  DialogServices services = FakeServices();
  services.transport = &handedIn;
  dialog = std::make_unique<UpdateDialog>(controls, services, *os_);
  EXPECT_TRUE(dialog->OnInitDialog());
  EXPECT_EQ(World().loadTransportCalls, 0);
  EXPECT_EQ(World().discoveries, 0);
  EXPECT_EQ(handedIn.loads, 1);
  EXPECT_EQ(dialog->DriveAccess(), &handedIn);
  EXPECT_EQ(dialog->Job().transport, &handedIn);
  EXPECT_STREQ(dialog->Job().drive.identity, "KORVADSKRW/DVD KDR-7305C(0)");
  RunPendingWorker();
  dialog->OnDestroy();
  EXPECT_EQ(handedIn.releases, 1);
  dialog.reset();
  EXPECT_EQ(handedIn.releasedDrives, 1);
}

// The terminal program's confirmation is asked with the complete job, before anything starts:
// declined, no worker starts and no run is counted; accepted, the run starts as without one.
TEST_F(Initialisation, ConfirmationDecidesWhetherTheRunStarts) {
  struct Asked {
    bool answer = false;
    int count = 0;
    std::string drive, file;
  };
  for (bool confirmed : {false, true}) {
    World().discovered = {MakeRecord(kSupported, "1.05")};
    Asked asked;
    asked.answer = confirmed;
    DialogOptions options;
    options.confirmContext = &asked;
    options.confirmUpgrade = [](void* context, const UpdateJob& job) {
      auto& a = *static_cast<Asked*>(context);
      ++a.count;
      a.drive = job.drive.identity;
      a.file = job.firmwarePath;
      return a.answer;
    };
    Open(options);
    EXPECT_EQ(asked.count, 1);
    EXPECT_EQ(asked.drive, "KORVADSKRW/DVD KDR-7305C(0)");
    EXPECT_EQ(asked.file, "QF2TR08.BIN");
    EXPECT_EQ(World().pendingWorkers.size(), confirmed ? 1u : 0u) << confirmed;
    EXPECT_EQ(dialog->RunsStarted(), confirmed ? 1u : 0u);
    EXPECT_EQ(dialog->RunActive(), confirmed);
    EXPECT_TRUE(Enabled(kCloseButton) != confirmed);
    if (confirmed) RunPendingWorker();
  }
}

// Bytes the front end read beforehand go only with the preset file they were read from: a run
// on any other Source File reads its own file, and without such bytes every run does.
TEST_F(Initialisation, PresetBytesGoOnlyWithThePresetFile) {
  static const uint8_t kBytes[4] = {1, 2, 3, 4};
  const struct {
    const char* name;
    bool withBytes;
    const char* sourceFile;  // null: the preset itself, as initialisation set it
    bool expectBytes;
  } cases[] = {
      {"preset file, bytes read", true, nullptr, true},
      {"other file, bytes read", true, "other.bin", false},
      {"preset spelled otherwise", true, "FW.BIN", false},
      {"preset file, nothing read", false, nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    World().discovered = {MakeRecord(kSupported, "1.05")};
    World().jobsRun.clear();
    World().pendingWorkers.clear();
    DialogOptions options;
    options.firmwarePreset = "fw.bin";
    if (c.withBytes) {
      options.firmwareBytes = kBytes;
      options.firmwareSize = sizeof kBytes;
    }
    Open(options);
    EXPECT_EQ(Text(kSourceFile), "fw.bin");
    if (c.sourceFile != nullptr) {
      RunPendingWorker();  // the automatic run
      controls.SetText(kSourceFile, c.sourceFile);
      dialog->OnUpgrade();
    }
    RunPendingWorker();
    ASSERT_FALSE(World().jobsRun.empty());
    const UpdateJob& run = World().jobsRun.back();
    EXPECT_STREQ(run.firmwarePath, c.sourceFile != nullptr ? c.sourceFile : "fw.bin");
    EXPECT_EQ(run.firmwareBytes, c.expectBytes ? kBytes : nullptr);
    EXPECT_EQ(run.firmwareSize, c.expectBytes ? sizeof kBytes : 0u);
  }
}

// Several supported drives: the first one is started, the others stay listed, and no second
// run refills the job the first one is reading.
TEST_F(Initialisation, OnlyTheFirstOfSeveralSupportedDrivesIsStarted) {
  World().discovered = {MakeRecord(kOther, "1.00"), MakeRecord(kSupported, "1.05", 1, 0),
                        MakeRecord(kSupported, "2.00", 2, 0)};
  Open();
  ASSERT_EQ(World().pendingWorkers.size(), 1u);
  EXPECT_STREQ(dialog->Job().drive.identity, "KORVADSKRW/DVD KDR-7305C(1)");
  EXPECT_EQ(Text(kDriveList), "KORVADSKRW/DVD KDR-7305C(1)");
  EXPECT_EQ(Text(kDeviceRevision), "1.05");
  EXPECT_EQ(controls.State(kDriveList).entries.size(), 3u);
  // The user picks the other supported drive while the first run is starting: Upgrade stays
  // disabled and a click does nothing.
  controls.SelectComboEntry(kDriveList, 1);
  dialog->OnDriveSelected();
  EXPECT_FALSE(Enabled(kUpgradeButton));
  dialog->OnUpgrade();
  EXPECT_EQ(World().pendingWorkers.size(), 1u);
  EXPECT_STREQ(dialog->Job().drive.identity, "KORVADSKRW/DVD KDR-7305C(1)");
  RunPendingWorker();
  ASSERT_EQ(World().jobsRun.size(), 1u);
  EXPECT_STREQ(World().jobsRun[0].drive.identity, "KORVADSKRW/DVD KDR-7305C(1)");
  // Once it has ended, the second drive can be updated.
  dialog->OnDriveSelected();
  EXPECT_TRUE(Enabled(kUpgradeButton));
  dialog->OnUpgrade();
  RunPendingWorker();
  ASSERT_EQ(World().jobsRun.size(), 2u);
  EXPECT_STREQ(World().jobsRun[1].drive.identity, "KORVADSKRW/DVD KDR-7305C(2)");
}

// A dialog handed a second description: a drive of either model matches, and the run gets the
// description of the one it matched. The default list knows only the supported drive.
constexpr DriveModel kSecondModel = {
    "MADEUPCO", "DVD-RW MX-2040  ", "MADEUPCODVD-RW MX-2040  ", 0x40000, 0x4000, 0x100000,
    0x10000, 0xC0000, 0x2000, 0x2800, 0x800, {0x1A, 0x2B, 0x3C},
    {0xF4, 0x02, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x31, 0x00, 0x00}, 0x3F000, 0x40000,
    {kOpRequestSense, kOpStartStopUnit, kOpWriteBuffer, kOpReadBuffer}};
const DriveModel* const kBothModels[] = {&kSupportedDrive, &kSecondModel};

TEST_F(Initialisation, TheMatchedModelsDescriptionGoesToTheRun) {
  const struct {
    const char* name;
    const char* identity;
    bool bothModels;
    const DriveModel* expected;  // null: no match, no run
  } cases[] = {
      {"supported drive, default list", kSupported, false, &kSupportedDrive},
      {"second model, default list", "MADEUPCODVD-RW MX-2040  ", false, nullptr},
      {"supported drive, both models", kSupported, true, &kSupportedDrive},
      {"second model, both models", "MADEUPCODVD-RW MX-2040  ", true, &kSecondModel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    World().discovered = {MakeRecord(kOther, "1.00"), MakeRecord(c.identity, "2.01", 2, 1)};
    World().jobsRun.clear();
    World().pendingWorkers.clear();
    DialogOptions options;
    if (c.bothModels) {
      options.models = kBothModels;
      options.modelCount = 2;
    }
    Open(options);
    EXPECT_EQ(dialog->ModelMatched(), c.expected != nullptr);
    if (c.expected == nullptr) {
      EXPECT_TRUE(World().pendingWorkers.empty());
      continue;
    }
    RunPendingWorker();
    ASSERT_EQ(World().jobsRun.size(), 1u);
    EXPECT_EQ(World().jobsRun[0].model, c.expected);
    EXPECT_EQ(World().jobsRun[0].drive.adapterId, 2);
  }
}

TEST(SupportedModels, MatchReturnsTheFirstDescriptionWithThatIdentity) {
  EXPECT_EQ(MatchModel("MADEUPCODVD-RW MX-2040  (1)", kBothModels, 2), &kSecondModel);
  EXPECT_EQ(MatchModel("KORVADSKRW/DVD KDR-7305C(0)", kBothModels, 2), &kSupportedDrive);
  EXPECT_EQ(MatchModel("MADEUPCODVD-RW MX-2040  ", kBothModels, 1), nullptr);
  EXPECT_EQ(MatchModel("MADEUPCODVD-RW MX-2040 ", kBothModels, 2), nullptr);
}

TEST(SupportedModels, FirstTwentyFourCharactersDecide) {
  EXPECT_TRUE(MatchesSupportedModel("KORVADSKRW/DVD KDR-7305C"));
  EXPECT_TRUE(MatchesSupportedModel("KORVADSKRW/DVD KDR-7305C(3)"));
  EXPECT_TRUE(MatchesSupportedModel("KORVADSKRW/DVD KDR-7305Cxyz"));
  EXPECT_FALSE(MatchesSupportedModel("KORVADSKRW/DVD KDR-7305c"));
  EXPECT_FALSE(MatchesSupportedModel("KORVADSKRW/DVD KDR-7305"));
  EXPECT_FALSE(MatchesSupportedModel(""));
}

// The drive list's label, index suffix included, is the key a record is found by: two drives
// of one model differ only by it, and the bare identity names neither.
TEST(RecordWithLabel, TheWholeLabelDecides) {
  DriveRecord first = MakeRecord("KORVADSKRW/DVD KDR-7305C(0)", "1.05");
  DriveRecord second = MakeRecord("KORVADSKRW/DVD KDR-7305C(1)", "2.00");
  DriveRecord twin = MakeRecord("KORVADSKRW/DVD KDR-7305C(1)", "3.00");
  DriveList drives{{&first, &second, &twin}, 3};
  const struct {
    const char* label;
    const DriveRecord* expected;
  } cases[] = {
      {"KORVADSKRW/DVD KDR-7305C(0)", &first},
      {"KORVADSKRW/DVD KDR-7305C(1)", &second},  // the first of equal labels
      {"KORVADSKRW/DVD KDR-7305C", nullptr},
      {"KORVADSKRW/DVD KDR-7305C(1) ", nullptr},
      {"korvadskRW/DVD KDR-7305C(0)", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(RecordWithLabel(drives, c.label), c.expected) << c.label;
  EXPECT_EQ(RecordWithLabel(DriveList{}, "KORVADSKRW/DVD KDR-7305C(0)"), nullptr);
}

class Selection : public DialogTest {
 protected:
  void SetUp() override {
    World().discovered = {MakeRecord(kOther, "1.00"), MakeRecord(kSupported, "1.05"),
                          MakeRecord("KORVADSKCD-ROM  KDR-1000X", "0.9")};
    Open();
    RunPendingWorker();  // the automatic run on the supported drive
    controls.SetText(kStatusLine, "before");
  }
  // Entries, sorted: 0 "KORVADSKCD-ROM  KDR-1000X(2)", 1 "KORVADSKRW/DVD KDR-7305C(1)",
  // 2 "PIONEER DVD-RW  DVR-110D(0)".
};

TEST_F(Selection, SupportedDriveEnablesUpgradeOthersDisableIt) {
  controls.SelectComboEntry(kDriveList, 2);
  dialog->OnDriveSelected();
  EXPECT_EQ(Text(kStatusLine), "CD-ROM drive model doesn't match!");
  EXPECT_EQ(Text(kDeviceRevision), "1.00");
  EXPECT_FALSE(Enabled(kUpgradeButton));
  controls.SelectComboEntry(kDriveList, 1);
  dialog->OnDriveSelected();
  EXPECT_EQ(Text(kStatusLine), "CD-ROM drive model is match up!");
  EXPECT_EQ(Text(kDeviceRevision), "1.05");
  EXPECT_TRUE(Enabled(kUpgradeButton));
  controls.SelectComboEntry(kDriveList, 0);
  dialog->OnDriveSelected();
  EXPECT_EQ(Text(kStatusLine), "CD-ROM drive model doesn't match!");
  EXPECT_EQ(Text(kDeviceRevision), "0.9");
  EXPECT_FALSE(Enabled(kUpgradeButton));
}

TEST_F(Selection, EntryNamingNoRecordChangesNothing) {
  controls.AddComboEntry(kDriveList, "AAA stray entry");
  controls.SelectComboEntry(kDriveList, 0);
  controls.Enable(kUpgradeButton, true);
  dialog->OnDriveSelected();
  controls.SelectComboEntry(kDriveList, -1);
  dialog->OnDriveSelected();
  EXPECT_EQ(Text(kStatusLine), "before");
  EXPECT_TRUE(Enabled(kUpgradeButton));
}

// The Upgrade command's checks, each with its status text and in their order.
class Upgrade : public DialogTest {
 protected:
  void SetUp() override {
    World().discovered = {MakeRecord(kSupported, "1.05"), MakeRecord(kOther, "1.00"),
                          MakeRecord("KORVADSKRW/DVD KDR-7305C", "1.05", 255, 0),
                          MakeRecord("KORVADSKRW/DVD KDR-7305C", "1.05", 3, 255)};
    Open();
    RunPendingWorker();
    World().jobsRun.clear();
  }
  // Sets the drive list's text and the Source File, runs the command and returns the status.
  std::string Press(const std::string& drive, const std::string& file) {
    controls.SetText(kDriveList, drive.c_str());
    controls.SetText(kSourceFile, file.c_str());
    controls.SetText(kStatusLine, "");
    dialog->OnUpgrade();
    bool started = !World().pendingWorkers.empty();
    if (started) RunPendingWorker();
    return started ? "started" : Text(kStatusLine);
  }
};

TEST_F(Upgrade, ChecksInOrder) {
  const std::string good = "KORVADSKRW/DVD KDR-7305C(0)";
  struct Case {
    std::string drive, file, result;
  };
  const Case cases[] = {
      {"PIONEER DVD-RW  DVR-110D(1)", "", "Drive model doesn't match!"},
      {good, "", "Update file name is not assigned!"},
      {"KORVADSKRW/DVD KDR-7305C(2)", "fw", "Update file name is not correct!"},
      {"KORVADSKRW/DVD KDR-7305C(2)", "fw.bin", "No Target Drive!"},
      {"KORVADSKRW/DVD KDR-7305C(3)", "fw.bin", "No Target Drive!"},
      {good, "fw.bin", "started"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Press(c.drive, c.file), c.result) << c.drive << " " << c.file;
  }
}

TEST_F(Upgrade, ExtensionTable) {
  const std::string good = "KORVADSKRW/DVD KDR-7305C(0)";
  struct Case {
    const char* file;
    int isHexFile;  // -1: refused with "Update file name is not correct!"
  };
  const Case cases[] = {
      {"QF2TR08.BIN", 0}, {"fw.bin", 0},       {"fw.Bin", 0},       {"fw.HEX", 1},
      {"a.b/fw.hex", 1},  {"fw.bin.txt", -1}, {"fw.", -1},         {"fw", -1},
      {"D:\\fw.d\\image", -1}, {"fw.binx", -1}, {"fw.he", -1},     {".bin", 0},
  };
  for (const Case& c : cases) {
    std::string result = Press(good, c.file);
    if (c.isHexFile < 0) {
      EXPECT_EQ(result, "Update file name is not correct!") << c.file;
    } else {
      ASSERT_EQ(result, "started") << c.file;
      EXPECT_EQ(World().jobsRun.back().isHexFile, c.isHexFile) << c.file;
      EXPECT_STREQ(World().jobsRun.back().firmwarePath, c.file);
    }
  }
}

TEST_F(Upgrade, SourceFileIsReadUpTo511Characters) {
  std::string longName(600, 'a');
  longName += ".bin";
  EXPECT_EQ(Press("KORVADSKRW/DVD KDR-7305C(0)", longName), "Update file name is not correct!");
}

TEST_F(Upgrade, TypedTextNamingNoDriveWithAZeroFilledJob) {
  dialog.reset();
  World().discovered = {MakeRecord(kOther, "1.00")};
  Open();
  EXPECT_EQ(Press("something typed", "fw.bin"), "Drive model doesn't match!");
}

TEST_F(Upgrade, TypedTextNamingNoDriveAfterASupportedOne) {
  // The job still holds the supported drive of the last run, with adapter and target 255.
  EXPECT_EQ(Press("something typed", "fw.bin"), "No Target Drive!");
}

TEST_F(Upgrade, FailedThreadStartLeavesTheDialogIdle) {
  World().threadStartFails = true;
  controls.SetText(kDriveList, "KORVADSKRW/DVD KDR-7305C(0)");
  dialog->OnUpgrade();
  EXPECT_FALSE(dialog->RunActive());
  EXPECT_TRUE(Enabled(kCloseButton));
  dialog->OnClose();
  EXPECT_EQ(controls.EndResult(), kResultCancel);
}

TEST_F(Upgrade, WorkerStepsAroundTheRun) {
  controls.SetText(kDriveList, "KORVADSKRW/DVD KDR-7305C(0)");
  controls.Enable(kUpgradeButton, true);
  World().run = [this](const UpdateOwner& owner, const UpdateJob&) {
    EXPECT_EQ(&owner, dialog.get());
    EXPECT_TRUE(dialog->RunActive());
    EXPECT_FALSE(Enabled(kUpgradeButton));
    EXPECT_FALSE(Enabled(kCloseButton));
    EXPECT_TRUE(dialog->RunActive());
  };
  dialog->OnUpgrade();
  EXPECT_FALSE(Enabled(kCloseButton));
  EXPECT_TRUE(dialog->RunActive());  // starting: busy before the worker has run
  RunPendingWorker();
  EXPECT_EQ(World().runs, 2);
  EXPECT_TRUE(Enabled(kCloseButton));
  EXPECT_FALSE(Enabled(kUpgradeButton));  // stays disabled until a supported drive is chosen
  EXPECT_FALSE(dialog->RunActive());
  EXPECT_FALSE(dialog->RunActive());
}

TEST_F(Upgrade, EngineReadsTheOptionBoxesThroughItsOwner) {
  World().run = [](const UpdateOwner& owner, const UpdateJob&) {
    EXPECT_EQ(owner.GetCheckState(kForceBootOverwriteBox), 0);
    EXPECT_EQ(owner.GetCheckState(kDisableChecksumProtectBox), 0);
  };
  EXPECT_EQ(Press("KORVADSKRW/DVD KDR-7305C(0)", "fw.bin"), "started");
}

class Close : public DialogTest {
 protected:
  void SetUp() override {
    World().discovered = {MakeRecord(kSupported, "1.05")};
    Open();  // the run is starting: the worker has been started but has not run
  }
};

TEST_F(Close, OutsideARunEndsTheDialog) {
  RunPendingWorker();
  dialog->OnClose();
  EXPECT_TRUE(World().boxes.empty());
  EXPECT_EQ(controls.EndResult(), kResultCancel);
}

TEST_F(Close, WhileStartingAsksAndNeverEndsTheDialog) {
  World().answers = {platform::kIdCancel};
  dialog->OnClose();
  ASSERT_EQ(World().boxes.size(), 1u);
  EXPECT_EQ(World().boxes[0].text, "Terminate???");
  EXPECT_EQ(World().boxes[0].caption, "fwloader");
  EXPECT_EQ(World().boxes[0].style, platform::kMbOkCancel);
  EXPECT_EQ(controls.EndResult(), -1);
  EXPECT_FALSE(dialog->AbortRequested());
}

TEST_F(Close, ConfirmedTerminateIsSeenByTheRunAndClearedAfterIt) {
  uint8_t seen = 0;
  World().run = [&seen](const UpdateOwner&, const UpdateJob& job) {
    seen = job.callbacks.isAbortRequested();
  };
  World().answers = {platform::kIdOk};
  dialog->OnClose();
  EXPECT_EQ(controls.EndResult(), -1);
  EXPECT_TRUE(dialog->AbortRequested());
  RunPendingWorker();
  EXPECT_EQ(seen, 1);
  EXPECT_FALSE(dialog->AbortRequested());
}

TEST_F(Close, EnterDuringARunDoesNotEndTheDialog) {
  dialog->OnOk();
  EXPECT_EQ(controls.EndResult(), -1);
  RunPendingWorker();
  dialog->OnOk();
  EXPECT_EQ(controls.EndResult(), kResultOk);
}

// A terminate confirmed when the run had already ended does not stop the next run.
TEST_F(Close, LateTerminateDoesNotCarryOverIntoTheNextRun) {
  RunPendingWorker();
  // As if the OK came just after the worker cleared the request, before it ended the run.
  UpdateDialogTestPeer::LeaveTerminateRequested(*dialog);
  uint8_t seen = 0xEE;
  World().run = [&seen](const UpdateOwner&, const UpdateJob& job) {
    seen = job.callbacks.isAbortRequested();
  };
  controls.SetText(kDriveList, "KORVADSKRW/DVD KDR-7305C(0)");
  dialog->OnUpgrade();
  RunPendingWorker();
  EXPECT_EQ(seen, 0);
}

TEST_F(Close, AboutItemMasksTheLowFourBits) {
  RunPendingWorker();
  for (uint32_t command = 0; command < 64; ++command) {
    bool about = command >= 16 && command <= 31;
    EXPECT_EQ(dialog->OnSysCommand(command), about) << command;
  }
  EXPECT_EQ(controls.AboutCount(), 16);
  EXPECT_FALSE(dialog->OnSysCommand(0xF060));  // SC_CLOSE goes to default processing
  EXPECT_EQ(controls.EndResult(), -1);
}

// A termination that asks no question (SIGTERM, SIGHUP) acts as a confirmed "Terminate???":
// the run sees the request, no box is shown; outside a run the dialog ends.
TEST_F(Close, TerminateWithoutAskingStopsTheRunOrEndsTheDialog) {
  uint8_t seen = 0;
  World().run = [&seen](const UpdateOwner&, const UpdateJob& job) {
    seen = job.callbacks.isAbortRequested();
  };
  dialog->TerminateWithoutAsking();
  EXPECT_TRUE(World().boxes.empty());
  EXPECT_EQ(controls.EndResult(), -1);
  RunPendingWorker();
  EXPECT_EQ(seen, 1);
  EXPECT_FALSE(dialog->AbortRequested());
  dialog->TerminateWithoutAsking();
  EXPECT_TRUE(World().boxes.empty());
  EXPECT_FALSE(dialog->AbortRequested());
  EXPECT_EQ(controls.EndResult(), kResultCancel);
}

}  // namespace
