// Commands over both Windows transports, against the simulated ASPI manager and NT port driver.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "drive/aspi_transport.h"
#include "drive/drive.h"
#include "drive/nt_pass_through_transport.h"
#include "tests/support/fake_os.h"
#include "tests/support/system_os.h"
#include "platform/nt_scsi.h"
#include "tests/support/recording_device.h"
#include "sim/aspi_manager.h"
#include "sim/nt_port.h"

namespace {

using sim::PassThroughRecord;

const uint8_t kReadBufferCdb[12] = {0x3C, 0x02, 0x00, 0x00, 0x10, 0x00,
                                    0x00, 0x10, 0x00, 0x0A, 0x0B, 0x0C};

// A READ BUFFER-shaped request of `length` bytes to `drive`.
ScsiRequest ReadBufferRequest(const DriveRecord& drive, uint8_t direction, uint32_t length,
                              uint8_t* data, uint8_t* sense) {
  return RequestFor(drive, kReadBufferCdb, 12, direction, data, length, sense);
}

// What the drive answers, and what the transport should say became of the command.
struct OutcomeCase {
  const char* name;
  sim::Outcome answer;
  bool malformed;  // a CDB length of 0: refused before anything is sent
  ScsiOutcome expected;
};

sim::Outcome Busy() {
  sim::Outcome busy = sim::Good();
  busy.status = 0x08;  // BUSY: delivered, but neither GOOD nor CHECK CONDITION
  return busy;
}

// Sends `request` once per case with the device answering as the case says.
template <size_t N>
void ExpectOutcomes(const OutcomeCase (&cases)[N], fake::RecordingDevice& device,
                    DriveTransport& transport, const ScsiRequest& request) {
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.name);
    device.answer = c.answer;
    ScsiRequest r = request;
    if (c.malformed) r.cdbLength = 0;
    EXPECT_EQ(transport.Send(r), c.expected);
  }
}

// The system, fakes over it, and a simulated bus over those: what the transports are built on.
template <typename BusOs, typename Bus>
struct Layers {
  explicit Layers(Bus& bus) : fakes(*system), top(fakes, bus) {}
  std::unique_ptr<platform::WindowsOs> system = testsupport::NewSystemOs();
  fake::FakeOs fakes;
  BusOs top;
};

// --- NT pass-through -----------------------------------------------------------------------

class NtTransportTest : public ::testing::Test {
 public:
  void SetUp() override {
    port_.Attach('d', &device_, 1, 3);
    drive_.deviceHandle = os_.top.openDevice("\\\\.\\d:");
    ASSERT_NE(drive_.deviceHandle, platform::InvalidHandle());
    drive_.adapterId = 1;
    drive_.targetId = 3;
    drive_.alignmentMask = 2047;
    std::memset(sense_, 0xAA, sizeof(sense_));
    std::memset(data_, 0x5A, sizeof(data_));
  }

  ScsiRequest Request(uint8_t direction, uint32_t length) {
    return ReadBufferRequest(drive_, direction, length, data_, sense_);
  }
  const SCSI_PASS_THROUGH_DIRECT& Sent() const { return port_.passThroughs().back().request; }
  int SendScsiRequest(const ScsiRequest& request) {
    return transport_.Send(request) == ScsiOutcome::kGood ? 1 : 0;
  }

  sim::NtPort port_;
  Layers<sim::NtPortOs, sim::NtPort> os_{port_};
  fake::State& state_ = os_.fakes.state;
  NtPassThroughTransport transport_{os_.top, false};
  fake::RecordingDevice device_;
  DriveRecord drive_{};
  uint8_t sense_[kSenseAreaSize];
  uint8_t data_[4096];
};

TEST_F(NtTransportTest, FillsThePassThroughRequest) {
  ASSERT_EQ(SendScsiRequest(Request(SRB_DIR_IN, 4096)), 1);
  ASSERT_EQ(port_.passThroughs().size(), 1u);
  const PassThroughRecord& record = port_.passThroughs()[0];
  EXPECT_EQ(record.handle, drive_.deviceHandle);
  EXPECT_EQ(record.inSize, sizeof(SCSI_PASS_THROUGH_DIRECT));  // the request alone
  EXPECT_EQ(record.outSize, sizeof(PassThroughBlock));         // room for the sense buffer
  const SCSI_PASS_THROUGH_DIRECT& s = record.request;
  EXPECT_EQ(s.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
  EXPECT_EQ(s.PathId, 1);
  EXPECT_EQ(s.TargetId, 3);
  EXPECT_EQ(s.Lun, 0);
  EXPECT_EQ(s.CdbLength, 12);
  EXPECT_EQ(s.SenseInfoLength, 24);
  EXPECT_EQ(s.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(s.DataTransferLength, 4096u);
  EXPECT_EQ(s.TimeOutValue, 0xFFFFu);
  EXPECT_EQ(s.SenseInfoOffset, offsetof(PassThroughBlock, sense));
  EXPECT_EQ(0, std::memcmp(s.Cdb, kReadBufferCdb, 12));
  EXPECT_EQ(s.Cdb[12], 0);
}

TEST_F(NtTransportTest, DataInComesFromTheAlignedTransferAreaAndSenseStaysClear) {
  ASSERT_EQ(SendScsiRequest(Request(SRB_DIR_IN, 100)), 1);
  for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(data_[i], static_cast<uint8_t>(i * 7 + 1)) << i;
  EXPECT_EQ(data_[100], 0x5A);  // exactly dataLength bytes
  for (int i = 0; i < 16; ++i) EXPECT_EQ(sense_[i], 0) << i;
  for (int i = 16; i < 32; ++i) EXPECT_EQ(sense_[i], 0xAA) << i;  // untouched
  EXPECT_EQ(state_.stagingFreed, 1);
}

struct AlignmentCase {
  uint32_t mask;
  size_t offsetInPage;
};

TEST_F(NtTransportTest, StagingIsAlignedToTheMask) {
  const AlignmentCase cases[] = {{2047, 1}, {2047, 2048}, {2047, 2049}, {0, 1}, {0, 3}};
  for (const AlignmentCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mask " << c.mask << " offset " << c.offsetInPage);
    state_.stagingOffset = c.offsetInPage;
    state_.stagingHanded.clear();
    state_.stagingSizes.clear();
    drive_.alignmentMask = c.mask;
    ASSERT_EQ(SendScsiRequest(Request(SRB_DIR_IN, 4096)), 1);
    ASSERT_EQ(state_.stagingSizes.size(), 1u);
    EXPECT_EQ(state_.stagingSizes[0], c.mask + 4096u);
    const auto start = reinterpret_cast<uintptr_t>(state_.stagingHanded[0]);
    const auto area = reinterpret_cast<uintptr_t>(Sent().DataBuffer);
    if (c.mask == 0) {
      EXPECT_EQ(area, start);  // used as obtained
    } else {
      EXPECT_EQ(area % 2048, 0u);
      EXPECT_GE(area, start);
      EXPECT_LE(area + 4096, start + c.mask + 4096);
    }
    EXPECT_NE(Sent().DataBuffer, static_cast<void*>(data_));  // never the caller's buffer
  }
}

struct DirectionCase {
  uint8_t direction;
  uint32_t length;
  uint8_t dataIn;
};

TEST_F(NtTransportTest, DirectionBecomesDataIn) {
  const DirectionCase cases[] = {
      {SRB_DIR_IN, 4096, SCSI_IOCTL_DATA_IN},
      {SRB_DIR_OUT, 4096, SCSI_IOCTL_DATA_OUT},
      {0, 10, 0},  // no data phase: DataIn 0, the length as given
      {SRB_DIR_IN, 0, SCSI_IOCTL_DATA_IN},
  };
  for (const DirectionCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "direction " << int{c.direction} << " length " << c.length);
    std::memset(data_, 0x5A, sizeof(data_));
    ASSERT_EQ(SendScsiRequest(Request(c.direction, c.length)), 1);
    EXPECT_EQ(Sent().DataIn, c.dataIn);
    EXPECT_EQ(Sent().DataTransferLength, c.length);
    if (c.direction != SRB_DIR_IN || c.length == 0) {
      EXPECT_EQ(data_[0], 0x5A);  // nothing copied back
    }
  }
}

// A drive that does not answer makes DeviceIoControl fail: the operating system's error. The
// port driver reports adapter errors that way too, so the NT transport has no host error of its
// own beyond a status other than GOOD and CHECK CONDITION.
TEST_F(NtTransportTest, ResultSaysWhatBecameOfTheCommand) {
  const OutcomeCase cases[] = {
      {"good", sim::Good(), false, ScsiOutcome::kGood},
      {"check condition", sim::CheckCondition(0x05, 0x24, 0x00), false,
       ScsiOutcome::kCheckCondition},
      {"other status", Busy(), false, ScsiOutcome::kHostError},
      {"no answer", sim::NoAnswer(), false, ScsiOutcome::kOsError},
      {"malformed", sim::Good(), true, ScsiOutcome::kNotSent},
  };
  ExpectOutcomes(cases, device_, transport_, Request(SRB_DIR_IN, 64));
}

TEST_F(NtTransportTest, DataOutIsStagedFromTheCallersBuffer) {
  for (uint32_t i = 0; i < 4096; ++i) data_[i] = static_cast<uint8_t>(i ^ 0x3C);
  ASSERT_EQ(SendScsiRequest(Request(SRB_DIR_OUT, 4096)), 1);
  ASSERT_EQ(device_.seen().size(), 1u);
  EXPECT_EQ(device_.seen()[0].direction, sim::kDirOut);
  EXPECT_EQ(device_.seen()[0].dataOut, std::vector<uint8_t>(data_, data_ + 4096));
}

struct ShortReadCase {
  uint32_t length;
  uint32_t notTransferred;  // what the port driver reports as not moved
  uint32_t moved;
};

// The port driver returns the bytes actually moved in DataTransferLength. The transport reports
// them and leaves the judgement to the command (a commit moves nothing, a read-back must bring
// all): the answer is GOOD, and the bytes the drive did not send stay as the caller left them.
TEST_F(NtTransportTest, ADataInCommandReportsTheBytesMovedAndKeepsTheRestAsItWas) {
  const ShortReadCase cases[] = {
      {4096, 0, 4096},
      {4096, 1, 4095},
      {4096, 2048, 2048},
      {4096, 4096, 0},
      {18, 4, 14},
  };
  for (const ShortReadCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.notTransferred << " of " << c.length << " not moved");
    std::memset(data_, 0x5A, sizeof(data_));
    std::memset(sense_, 0xAA, sizeof(sense_));
    device_.answer = sim::GoodWithResidual(c.notTransferred);
    uint32_t moved = 0;
    EXPECT_EQ(transport_.Send(Request(SRB_DIR_IN, c.length), moved),
              ScsiOutcome::kGood);
    EXPECT_EQ(moved, c.moved);
    for (uint32_t i = 0; i < c.length; ++i) {
      ASSERT_EQ(data_[i], i < c.moved ? static_cast<uint8_t>(i * 7 + 1) : 0x5A) << i;
    }
    for (int i = 0; i < 16; ++i) EXPECT_EQ(sense_[i], 0) << i;
  }
  EXPECT_EQ(state_.stagingFreed, 5);
}

TEST_F(NtTransportTest, CheckConditionCopiesAllThirtyTwoSenseBytesAndNoData) {
  device_.answer = sim::CheckCondition(0x02, 0x04, 0x07);
  ASSERT_EQ(SendScsiRequest(Request(SRB_DIR_IN, 64)), 0);
  EXPECT_EQ(sense_[0], 0x70);
  EXPECT_EQ(sense_[2], 0x02);
  EXPECT_EQ(sense_[12], 0x04);
  EXPECT_EQ(sense_[13], 0x07);
  for (int i = 24; i < 32; ++i) EXPECT_EQ(sense_[i], 0) << i;  // beyond SenseInfoLength
  EXPECT_EQ(data_[0], 0x5A);
  EXPECT_EQ(state_.stagingFreed, 1);
}

TEST_F(NtTransportTest, FailedDeviceIoControlIsAFailedCommandWithZeroSense) {
  port_.Disappear('d');
  ASSERT_EQ(SendScsiRequest(Request(SRB_DIR_IN, 64)), 0);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(sense_[i], 0) << i;
  EXPECT_EQ(data_[0], 0x5A);
  EXPECT_EQ(state_.stagingFreed, 1);
}

TEST_F(NtTransportTest, DeviceThatDoesNotAnswerFailsTheCommand) {
  device_.answer = sim::NoAnswer();
  EXPECT_EQ(SendScsiRequest(Request(0, 0)), 0);
}

TEST_F(NtTransportTest, NoStagingBufferMeansNothingSent) {
  state_.allocBufferFails = true;
  EXPECT_EQ(SendScsiRequest(Request(SRB_DIR_OUT, 4096)), 0);
  EXPECT_TRUE(port_.passThroughs().empty());
  for (int i = 0; i < 16; ++i) EXPECT_EQ(sense_[i], 0) << i;
}

TEST_F(NtTransportTest, MalformedRequestsAreRefusedUnsent) {
  for (uint8_t length : {uint8_t{0}, uint8_t{17}, uint8_t{255}}) {
    ScsiRequest r = Request(SRB_DIR_IN, 16);
    r.cdbLength = length;
    EXPECT_EQ(SendScsiRequest(r), 0) << int{length};
  }
  ScsiRequest noData = Request(SRB_DIR_OUT, 16);
  noData.data = nullptr;  // a length with no buffer behind it
  EXPECT_EQ(SendScsiRequest(noData), 0);
  ScsiRequest noDrive = Request(SRB_DIR_IN, 16);
  noDrive.drive = nullptr;
  EXPECT_EQ(SendScsiRequest(noDrive), 0);
  EXPECT_TRUE(port_.passThroughs().empty());
  EXPECT_TRUE(state_.stagingSizes.empty());
}

// --- ASPI ----------------------------------------------------------------------------------

class AspiTransportTest : public ::testing::Test {
 public:
  void SetUp() override {
    uint8_t unique[16];
    sim::SetHaUnique(unique, 0x0001, 8, 0x10000);
    manager_.AddAdapter(unique);
    manager_.AddAdapter(unique);
    manager_.AddTarget(1, 4, &device_);
    ASSERT_TRUE(aspi_.Load(transport_));
    drive_.adapterId = 1;
    drive_.targetId = 4;
    std::memset(sense_, 0xAA, sizeof(sense_));
    std::memset(data_, 0x5A, sizeof(data_));
  }
  void TearDown() override { aspi_.Release(transport_); }
  ScsiRequest Request(uint8_t direction, uint32_t length) {
    return ReadBufferRequest(drive_, direction, length, data_, sense_);
  }
  int SendScsiRequest(const ScsiRequest& request) {
    return aspi_.Send(request) == ScsiOutcome::kGood ? 1 : 0;
  }

  sim::AspiManager manager_;
  Layers<sim::AspiManagerOs, sim::AspiManager> os_{manager_};
  fake::State& state_ = os_.fakes.state;
  AspiTransport aspi_{os_.top};
  fake::RecordingDevice device_;
  TransportState transport_{};
  DriveRecord drive_{};
  uint8_t sense_[kSenseAreaSize];
  uint8_t data_[4096];
};

TEST_F(AspiTransportTest, FillsTheExecRequestAndWaitsForThePendingCommand) {
  ASSERT_EQ(SendScsiRequest(Request(SRB_DIR_IN, 4096)), 1);
  ASSERT_EQ(manager_.executed().size(), 1u);
  const SRB_ExecSCSICmd& srb = manager_.executed()[0];
  EXPECT_EQ(srb.SRB_Cmd, SC_EXEC_SCSI_CMD);
  EXPECT_EQ(srb.SRB_HaId, 1);
  EXPECT_EQ(srb.SRB_Target, 4);
  EXPECT_EQ(srb.SRB_Lun, 0);
  EXPECT_EQ(srb.SRB_Flags, SRB_DIR_IN | SRB_EVENT_NOTIFY);
  EXPECT_EQ(srb.SRB_BufLen, 4096u);
  // Packed fields are read into locals: the test must not bind references to them.
  const uint8_t* buffer = srb.SRB_BufPointer;
  void* postProc = srb.SRB_PostProc;
  EXPECT_EQ(buffer, data_);  // the caller's own buffer, no staging
  EXPECT_EQ(srb.SRB_SenseLen, SENSE_LEN);
  EXPECT_EQ(srb.SRB_CDBLen, 12);
  EXPECT_EQ(0, std::memcmp(srb.CDBByte, kReadBufferCdb, 12));
  EXPECT_TRUE(os_.fakes.IsFakeEvent(postProc));
  EXPECT_EQ(state_.eventsSet, 1);
  EXPECT_EQ(state_.eventsWaited, 1);
  ASSERT_EQ(state_.eventsClosed.size(), 1u);
  EXPECT_EQ(state_.eventsClosed[0], postProc);
  EXPECT_EQ(data_[1], 8);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(sense_[i], 0) << i;
  for (int i = 16; i < 32; ++i) EXPECT_EQ(sense_[i], 0xAA) << i;
  EXPECT_TRUE(state_.stagingSizes.empty());
}

TEST_F(AspiTransportTest, ImmediateCompletionNeedsNoWaitButClosesTheEvent) {
  manager_.SetCompletion(sim::AspiCompletion::kImmediate);
  EXPECT_EQ(SendScsiRequest(Request(SRB_DIR_OUT, 16)), 1);
  EXPECT_EQ(state_.eventsWaited, 0);
  EXPECT_EQ(state_.eventsClosed.size(), 1u);
}

TEST_F(AspiTransportTest, ImmediateErrorFailsWithoutWaiting) {
  manager_.SetCompletion(sim::AspiCompletion::kFailImmediately);
  EXPECT_EQ(SendScsiRequest(Request(SRB_DIR_IN, 16)), 0);
  EXPECT_EQ(state_.eventsWaited, 0);
  EXPECT_EQ(state_.eventsClosed.size(), 1u);
  EXPECT_TRUE(device_.seen().empty());
  for (int i = 0; i < 16; ++i) EXPECT_EQ(sense_[i], 0) << i;
}

TEST_F(AspiTransportTest, WithoutAnEventTheStatusIsPolledUntilTheCommandEnds) {
  state_.createEventFails = true;
  state_.onSleepContext = this;
  state_.onSleep = [](void* context) {
    auto* test = static_cast<AspiTransportTest*>(context);
    if (test->state_.sleeps == 3) test->manager_.CompletePending();
  };
  ASSERT_EQ(SendScsiRequest(Request(SRB_DIR_IN, 16)), 1);
  const SRB_ExecSCSICmd& srb = manager_.executed()[0];
  EXPECT_EQ(srb.SRB_Flags, SRB_DIR_IN);  // no SRB_EVENT_NOTIFY
  void* postProc = srb.SRB_PostProc;
  EXPECT_EQ(postProc, nullptr);
  EXPECT_EQ(state_.sleeps, 3);
  EXPECT_EQ(manager_.pendingCount(), 0u);
  EXPECT_EQ(data_[1], 8);
}

TEST_F(AspiTransportTest, CdbLengthOutsideOneToSixteenIsRefusedUnsent) {
  for (uint8_t length : {uint8_t{0}, uint8_t{17}, uint8_t{255}}) {
    ScsiRequest r = Request(SRB_DIR_IN, 16);
    r.cdbLength = length;
    EXPECT_EQ(SendScsiRequest(r), 0) << int{length};
  }
  EXPECT_TRUE(manager_.executed().empty());
  EXPECT_EQ(state_.eventsCreated, 0);
}

// A manager that refuses a request at once and leaves SRB_Status as it found it (0).
SRB_ExecSCSICmd* g_refused = nullptr;
uint32_t RefuseWithoutStatus(void* srb) {
  g_refused = static_cast<SRB_ExecSCSICmd*>(srb);
  return SS_ASPI_IS_BUSY;
}

// The manager's SendASPI32Command export, as GetProcAddress finds it, is the refusing one.
class RefusingExportOs final : public platform::WindowsOsWrapper {
 public:
  using WindowsOsWrapper::WindowsOsWrapper;
  void* getProcAddress(void* library, const char* name) override {
    return std::strcmp(name, "SendASPI32Command") == 0
               ? reinterpret_cast<void*>(&RefuseWithoutStatus)
               : target().getProcAddress(library, name);
  }
};

TEST_F(AspiTransportTest, WithoutAnEventARefusalAtOnceFailsWithoutPolling) {
  state_.createEventFails = true;
  g_refused = nullptr;
  RefusingExportOs refusing(os_.top);
  AspiTransport aspi(refusing);
  TransportState loaded{};
  ASSERT_TRUE(aspi.Load(loaded));
  // Should the status be polled anyway, end the poll after one round instead of hanging.
  state_.onSleep = [](void*) { g_refused->SRB_Status = SS_ERR; };
  EXPECT_EQ(aspi.Send(Request(SRB_DIR_IN, 16)), ScsiOutcome::kHostError);
  ASSERT_NE(g_refused, nullptr);
  EXPECT_EQ(state_.sleeps, 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(sense_[i], 0) << i;
  aspi.Release(loaded);
}

// The ASPI manager stands between the program and the operating system: it has no operating-
// system error to report. A target that does not answer is the adapter's selection time-out.
TEST_F(AspiTransportTest, ResultSaysWhatBecameOfTheCommand) {
  const OutcomeCase cases[] = {
      {"good", sim::Good(), false, ScsiOutcome::kGood},
      {"check condition", sim::CheckCondition(0x05, 0x24, 0x00), false,
       ScsiOutcome::kCheckCondition},
      {"other status", Busy(), false, ScsiOutcome::kHostError},
      {"no answer", sim::NoAnswer(), false, ScsiOutcome::kHostError},
      {"malformed", sim::Good(), true, ScsiOutcome::kNotSent},
  };
  ExpectOutcomes(cases, device_, aspi_, Request(SRB_DIR_IN, 64));
  // Without a bound manager nothing can be sent.
  aspi_.Release(transport_);
  device_.answer = sim::Good();
  EXPECT_EQ(aspi_.Send(Request(SRB_DIR_IN, 64)), ScsiOutcome::kNotSent);
}

TEST_F(AspiTransportTest, FailedCommandCopiesSixteenSenseBytes) {
  for (sim::AspiCompletion completion : {sim::AspiCompletion::kPending, sim::AspiCompletion::kImmediate}) {
    manager_.SetCompletion(completion);
    device_.answer = sim::CheckCondition(0x05, 0x24, 0x00);
    device_.answer.sense[14] = 0x99;  // beyond what the manager copies (SRB_SenseLen 14)
    std::memset(sense_, 0xAA, sizeof(sense_));
    ASSERT_EQ(SendScsiRequest(Request(SRB_DIR_IN, 16)), 0);
    EXPECT_EQ(sense_[0], 0x70);
    EXPECT_EQ(sense_[2], 0x05);
    EXPECT_EQ(sense_[12], 0x24);
    EXPECT_EQ(sense_[13], 0x00);
    EXPECT_EQ(sense_[14], 0x00);
    EXPECT_EQ(sense_[15], 0x00);
    for (int i = 16; i < 32; ++i) EXPECT_EQ(sense_[i], 0xAA) << i;  // only 16 bytes copied
  }
}

// --- Loading the transport -----------------------------------------------------------------

class LoadTransportTest : public ::testing::Test {
 protected:
  // An INQUIRY through the ASPI transport to a target that is not there: kNotSent only when no
  // manager is bound.
  ScsiOutcome Inquiry() {
    manager_.SetCompletion(sim::AspiCompletion::kImmediate);
    const DriveRecord nobody{};
    uint8_t data[36];
    uint8_t sense[kSenseAreaSize];
    return aspi_.Send(ReadBufferRequest(nobody, SRB_DIR_IN, sizeof data, data, sense));
  }

  sim::AspiManager manager_;
  Layers<sim::AspiManagerOs, sim::AspiManager> os_{manager_};
  fake::State& state_ = os_.fakes.state;
  AspiTransport aspi_{os_.top};
};

TEST_F(LoadTransportTest, NtFamilyLoadsAndFreesNothing) {
  NtPassThroughTransport nt(os_.top, false);
  TransportState state{};
  EXPECT_TRUE(nt.Load(state));
  EXPECT_EQ(state.aspiLibrary, nullptr);
  nt.Release(state);
  EXPECT_EQ(manager_.librariesLoaded(), 0u);
  EXPECT_EQ(manager_.librariesFreed(), 0u);
  EXPECT_TRUE(state_.foreignLoads.empty());
}

TEST_F(LoadTransportTest, BindsBothEntryPointsAndFreesTheLibraryOnRelease) {
  TransportState state{};
  ASSERT_TRUE(aspi_.Load(state));
  EXPECT_EQ(state.aspiLibrary, sim::AspiManager::LibraryToken());
  EXPECT_NE(Inquiry(), ScsiOutcome::kNotSent) << "commands reach the manager";
  EXPECT_TRUE(state_.boxes.empty());
  aspi_.Release(state);
  EXPECT_EQ(manager_.librariesFreed(), 1u);
  EXPECT_EQ(Inquiry(), ScsiOutcome::kNotSent) << "the manager is unbound";
}

TEST_F(LoadTransportTest, MissingLibraryOrEntryPointFailsTheLoadAndShowsNothing) {
  const struct {
    const char* name;
    bool libraryMissing;
    const char* missingExport;
  } cases[] = {
      {"no library", true, ""},
      {"no GetASPI32SupportInfo", false, "GetASPI32SupportInfo"},
      {"no SendASPI32Command", false, "SendASPI32Command"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    state_.boxes.clear();
    manager_.SetLibraryMissing(c.libraryMissing);
    manager_.SetMissingExport(c.missingExport);
    TransportState state{};
    EXPECT_FALSE(aspi_.Load(state));
    EXPECT_TRUE(state_.boxes.empty());  // the dialog says so, not the drive layer
    EXPECT_EQ(Inquiry(), ScsiOutcome::kNotSent);
    aspi_.Release(state);
  }
}

}  // namespace
