// The iSCSI target of the simulated drives: login, the PDUs of SCSI commands (Data-In with
// status, R2T and Data-Out, immediate data, sense), the housekeeping PDUs, and the command
// blocks and answers the devices see behind it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/iscsi/pdu.h"
#include "sim/iscsi/scenario_units.h"
#include "sim/iscsi/session.h"
#include "sim/optical_answers.h"
#include "tests/sim/kdr_blocks.h"

namespace sim {
namespace iscsi {
namespace {

const char kIqn[] = "iqn.2026-01.test:sim";

Pdu Request(uint8_t opcode, uint32_t tag, uint32_t cmdSN, bool immediate = false) {
  Pdu pdu;
  pdu.header[0] = static_cast<uint8_t>(opcode | (immediate ? 0x40 : 0));
  pdu.header[1] = 0x80;
  Put32(pdu.header + 16, tag);
  Put32(pdu.header + 24, cmdSN);
  return pdu;
}

Pdu LoginRequest(const std::string& target) {
  Pdu pdu = Request(kOpLogin, 7, 100, true);
  pdu.header[1] = 0x80 | (1 << 2) | 3;  // transit from operational negotiation to full feature
  AppendKey(pdu.data, "InitiatorName", "iqn.2008-11.org.linux-kvm");
  AppendKey(pdu.data, "TargetName", target);
  AppendKey(pdu.data, "SessionType", "Normal");
  AppendKey(pdu.data, "HeaderDigest", "None,CRC32C");
  AppendKey(pdu.data, "DataDigest", "None");
  AppendKey(pdu.data, "InitialR2T", "No");
  AppendKey(pdu.data, "ImmediateData", "Yes");
  AppendKey(pdu.data, "MaxRecvDataSegmentLength", "1024");
  AppendKey(pdu.data, "X-Unknown", "1");
  return pdu;
}

Pdu ScsiCommand(uint32_t tag, uint32_t cmdSN, std::vector<uint8_t> cdb, bool read, bool write,
                uint32_t expected, uint32_t lun = 0) {
  Pdu pdu = Request(kOpScsiCommand, tag, cmdSN);
  pdu.header[1] = static_cast<uint8_t>(0x80 | (read ? 0x40 : 0) | (write ? 0x20 : 0));
  pdu.header[9] = static_cast<uint8_t>(lun);
  Put32(pdu.header + 20, expected);
  std::memcpy(pdu.header + 32, cdb.data(), cdb.size());
  return pdu;
}

std::vector<uint8_t> BufferCdb(uint8_t opcode, uint32_t address) {
  // As QEMU forwards the drive's 12-byte block: ten bytes, then zeros.
  return {opcode, 0x02, 0x00, static_cast<uint8_t>(address >> 16),
          static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0x00, 0x10, 0x00,
          0x0A};
}

// The supported drive as LUN 0, an optical drive of another model as LUN 1.
Scenario TwoDrives() {
  Scenario scenario = DefaultScenario();
  scenario.devices[1] = DeviceKind::kOtherOptical;
  scenario.deviceCount = 2;
  return scenario;
}

class TargetTest : public ::testing::Test {
 protected:
  TargetTest()
      : devices_(TwoDrives(), clock_, KdrDriveConfig()),
        units_(devices_, clock_, nullptr),
        session_(Config(), units_) {}

  static SessionConfig Config() {
    SessionConfig config;
    config.targetName = kIqn;
    config.address = "127.0.0.1:3260,1";
    return config;
  }

  std::vector<Pdu> Send(const Pdu& in, bool expectOpen = true) {
    std::vector<Pdu> out;
    EXPECT_EQ(session_.Receive(in, out), expectOpen);
    return out;
  }

  void LogIn() { ASSERT_EQ(Send(LoginRequest(kIqn)).size(), 1u); }

  VirtualClock clock_;
  ScenarioDevices devices_;
  ScenarioUnits units_;
  Session session_;
};

TEST_F(TargetTest, LoginAnswersEveryKeyAndOpensTheSession) {
  const std::vector<Pdu> out = Send(LoginRequest(kIqn));
  ASSERT_EQ(out.size(), 1u);
  const Pdu& answer = out[0];
  EXPECT_EQ(Opcode(answer), kOpLoginResponse);
  EXPECT_EQ(answer.header[1], 0x80 | (1 << 2) | 3);
  EXPECT_EQ(answer.header[36], 0);  // success
  EXPECT_NE(answer.header[15], 0);  // TSIH
  EXPECT_EQ(Get32(answer.header + 28), 100u);  // ExpCmdSN: the login's CmdSN
  const TextKeys keys = ParseKeys(answer.data);
  const TextKeys want = {{"TargetPortalGroupTag", "1"}, {"HeaderDigest", "None"},
                         {"DataDigest", "None"},        {"InitialR2T", "Yes"},
                         {"ImmediateData", "Yes"},      {"MaxRecvDataSegmentLength", "262144"},
                         {"X-Unknown", "NotUnderstood"}};
  EXPECT_EQ(keys, want);
  EXPECT_TRUE(session_.loggedIn());
}

TEST_F(TargetTest, LoginToAnotherTargetOrWithoutOneFailsAndCloses) {
  const std::vector<Pdu> out = Send(LoginRequest("iqn.other"), false);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].header[36], 0x02);
  EXPECT_EQ(out[0].header[37], 0x03);  // target not found
  EXPECT_TRUE(out[0].data.empty());

  Session second(Config(), units_);
  Pdu nameless = Request(kOpLogin, 1, 1, true);
  nameless.header[1] = 0x80 | (1 << 2) | 3;
  std::vector<Pdu> answers;
  EXPECT_FALSE(second.Receive(nameless, answers));
  EXPECT_EQ(answers.at(0).header[37], 0x07);  // missing parameter

  Session third(Config(), units_);
  EXPECT_FALSE(third.Receive(ScsiCommand(1, 1, {0x00}, false, false, 0), answers));
}

TEST_F(TargetTest, ReadAnswersDataInSegmentsWithStatusOnTheLast) {
  LogIn();
  const std::vector<Pdu> out = Send(ScsiCommand(9, 100, {0x12, 0, 0, 0, 36, 0}, true, false, 36));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Opcode(out[0]), kOpDataIn);
  EXPECT_EQ(out[0].header[1], 0x81);  // F and S
  EXPECT_EQ(out[0].header[3], kStatusGood);
  EXPECT_EQ(TaskTag(out[0]), 9u);
  EXPECT_EQ(Get32(out[0].header + 28), 101u);  // ExpCmdSN moved past the command
  ASSERT_EQ(out[0].data.size(), 36u);
  EXPECT_EQ(std::string(out[0].data.begin() + 8, out[0].data.begin() + 16), "KORVADSK");

  // 4096 bytes to an initiator that takes 1024 at a time: four PDUs, status on the fourth.
  const std::vector<Pdu> blocks = Send(ScsiCommand(10, 101, BufferCdb(0x3C, 0), true, false, 4096));
  ASSERT_EQ(blocks.size(), 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(Get32(blocks[i].header + 36), i);          // DataSN
    EXPECT_EQ(Get32(blocks[i].header + 40), i * 1024);   // buffer offset
    EXPECT_EQ(blocks[i].header[1], i == 3 ? 0x81 : 0x00);
  }
  EXPECT_EQ(Get32(blocks[3].header + 24), Get32(out[0].header + 24) + 1);  // StatSN advances
}

TEST_F(TargetTest, WriteTakesImmediateDataAndAsksForTheRestWithR2T) {
  LogIn();
  std::vector<uint8_t> block(4096);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  Pdu write = ScsiCommand(20, 100, BufferCdb(0x3B, 0x1000), false, true, 4096);
  write.data.assign(block.begin(), block.begin() + 1000);  // immediate data
  std::vector<Pdu> out = Send(write);
  ASSERT_EQ(out.size(), 1u);
  const Pdu& r2t = out[0];
  EXPECT_EQ(Opcode(r2t), kOpReadyToTransfer);
  EXPECT_EQ(TaskTag(r2t), 20u);
  EXPECT_EQ(Get32(r2t.header + 40), 1000u);  // buffer offset
  EXPECT_EQ(Get32(r2t.header + 44), 3096u);  // desired length

  Pdu dataOut = Request(kOpDataOut, 20, 0);
  dataOut.header[1] = 0x80;
  Put32(dataOut.header + 20, Get32(r2t.header + 20));
  Put32(dataOut.header + 40, 1000);
  dataOut.data.assign(block.begin() + 1000, block.end());
  out = Send(dataOut);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Opcode(out[0]), kOpScsiResponse);
  EXPECT_EQ(out[0].header[3], kStatusGood);

  const std::vector<Pdu> back = Send(ScsiCommand(21, 101, BufferCdb(0x3C, 0x1000), true, false, 4096));
  std::vector<uint8_t> read;
  for (const Pdu& pdu : back) read.insert(read.end(), pdu.data.begin(), pdu.data.end());
  EXPECT_EQ(read, block);
}

TEST_F(TargetTest, DataOutThatNoR2TAskedForIsRejected) {
  LogIn();
  Pdu stray = Request(kOpDataOut, 55, 0);
  stray.data.assign(16, 0);
  const std::vector<Pdu> out = Send(stray);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Opcode(out[0]), kOpReject);
  EXPECT_EQ(out[0].data.size(), kHeaderSize);
}

TEST_F(TargetTest, CheckConditionCarriesSenseInTheResponse) {
  LogIn();
  struct Case {
    uint32_t lun;
    std::vector<uint8_t> cdb;
    uint8_t key, asc, ascq;
  } cases[] = {
      {0, {0x00, 0, 0, 0, 0, 0}, 0x02, 0x3A, 0x00},  // TEST UNIT READY: no disc
      {1, {0xF1, 0x01, 0, 0, 0x40, 0x7D, 0, 0, 0, 0x26, 0, 0}, 0x05, 0x20, 0x00},  // not its own
      {5, {0x12, 0, 0, 0, 36, 0}, 0x05, 0x25, 0x00},  // no such logical unit
  };
  uint32_t cmdSN = 100;
  for (const Case& c : cases) {
    const std::vector<Pdu> out = Send(ScsiCommand(30, cmdSN++, c.cdb, true, false, 36, c.lun));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Opcode(out[0]), kOpScsiResponse);
    EXPECT_EQ(out[0].header[3], kStatusCheckCondition);
    EXPECT_EQ(out[0].header[1] & 0x02, 0x02);  // underflow: no data
    EXPECT_EQ(Get32(out[0].header + 44), 36u);
    ASSERT_EQ(out[0].data.size(), 2 + kSenseLength);
    EXPECT_EQ(out[0].data[1], kSenseLength);
    EXPECT_EQ(out[0].data[2 + 2], c.key);
    EXPECT_EQ(out[0].data[2 + 12], c.asc);
    EXPECT_EQ(out[0].data[2 + 13], c.ascq);
  }
}

TEST_F(TargetTest, NopTextTaskManagementAndLogout) {
  LogIn();
  Pdu ping = Request(kOpNopOut, 40, 100, true);
  ping.data = {1, 2, 3};
  std::vector<Pdu> out = Send(ping);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Opcode(out[0]), kOpNopIn);
  EXPECT_EQ(TaskTag(out[0]), 40u);
  EXPECT_EQ(Get32(out[0].header + 20), kNoTag);
  EXPECT_EQ(out[0].data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_TRUE(Send(Request(kOpNopOut, kNoTag, 100, true)).empty());  // answers a ping of ours

  Pdu text = Request(kOpText, 41, 100);
  AppendKey(text.data, "SendTargets", "All");
  out = Send(text);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(ParseKeys(out[0].data),
            (TextKeys{{"TargetName", kIqn}, {"TargetAddress", "127.0.0.1:3260,1"}}));

  Pdu abort = Request(kOpTaskManagement, 42, 101, true);
  abort.header[1] = 0x80 | 1;
  out = Send(abort);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Opcode(out[0]), kOpTaskManagementResponse);
  EXPECT_EQ(out[0].header[2], 0);  // function complete
  abort.header[1] = 0x80 | 8;      // task reassign
  EXPECT_EQ(Send(abort).at(0).header[2], 5);

  out = Send(Request(kOpLogout, 43, 101, true), false);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Opcode(out[0]), kOpLogoutResponse);
}

// All the data-in bytes that answer a command, in order, and the PDU with its status.
struct ReadAnswer {
  std::vector<uint8_t> data;
  const Pdu* status = nullptr;
};

ReadAnswer Collect(const std::vector<Pdu>& out) {
  ReadAnswer answer;
  for (const Pdu& pdu : out) {
    if (Opcode(pdu) == kOpDataIn) {
      answer.data.insert(answer.data.end(), pdu.data.begin(), pdu.data.end());
    }
    if (Opcode(pdu) == kOpScsiResponse || (Opcode(pdu) == kOpDataIn && (pdu.header[1] & 0x01))) {
      answer.status = &pdu;
    }
  }
  return answer;
}

// The target sends only what the unit moved and reports the rest as iSCSI does: U and
// ResidualCount on the PDU with the status (the last Data-In, S, or the SCSI Response).
TEST_F(TargetTest, SendsWhatTheUnitMovedAndReportsTheUnderflow) {
  LogIn();
  const std::vector<uint8_t> prepare = {0xF1, 0x01, 0, 0, 0x40, 0x7D, 0, 0, 0, 0x26, 0, 0};
  const struct {
    const char* name;
    std::vector<uint8_t> cdb;
    uint32_t expected;
    uint32_t moved;
    uint8_t statusOpcode;
  } cases[] = {
      {"INQUIRY, as much expected", {0x12, 0, 0, 0, 36, 0}, 36, 36, kOpDataIn},
      {"INQUIRY allocating 96", {0x12, 0, 0, 0, 96, 0}, 96, 36, kOpDataIn},
      {"REQUEST SENSE, 252 expected", {0x03, 0, 0, 0, 0xFC, 0}, 252, 18, kOpDataIn},
      {"a read-back, 8192 expected", BufferCdb(0x3C, 0), 8192, 4096, kOpDataIn},
      {"the 0xF1 command, 4096 expected", prepare, 4096, 0, kOpScsiResponse},
  };
  uint32_t cmdSN = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Pdu> out = Send(ScsiCommand(50, cmdSN++, c.cdb, true, false, c.expected));
    const ReadAnswer answer = Collect(out);
    ASSERT_NE(answer.status, nullptr);
    EXPECT_EQ(answer.data.size(), c.moved);
    EXPECT_EQ(Opcode(*answer.status), c.statusOpcode);
    EXPECT_EQ(answer.status->header[3], kStatusGood);
    const uint32_t residual = c.expected - c.moved;
    EXPECT_EQ(answer.status->header[1] & 0x06, residual > 0 ? 0x02 : 0x00);  // U, never O
    EXPECT_EQ(Get32(answer.status->header + 44), residual);
  }
}

// The updater's own commit through the target: the 4096-byte data-in it offers brings nothing
// back, all of it residual; a write that the unit takes less of reports its underflow too.
TEST_F(TargetTest, TheCommitBringsNothingBack) {
  LogIn();
  uint16_t sum = 0;
  std::vector<uint8_t> image = testing_blocks::SealedImage(sum);
  uint32_t cmdSN = 100;
  for (uint32_t a = 0; a < image.size(); a += 4096) {
    Pdu write = ScsiCommand(60, cmdSN++, BufferCdb(0x3B, a), false, true, 4096);
    write.data.assign(image.begin() + a, image.begin() + a + 4096);  // all of it immediate
    const std::vector<Pdu> out = Send(write);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].header[3], kStatusGood);
    ASSERT_EQ(out[0].header[1] & 0x02, 0);
  }
  const std::vector<uint8_t> commit = {0x3B, 0x01, 0x01, uint8_t(sum >> 8), uint8_t(sum),
                                       0, 0, 0, 0, 0x0A};  // as QEMU forwards it: ten bytes
  std::vector<Pdu> out = Send(ScsiCommand(61, cmdSN++, commit, true, false, 4096));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Opcode(out[0]), kOpScsiResponse);
  EXPECT_EQ(out[0].header[3], kStatusGood);
  EXPECT_EQ(out[0].header[1] & 0x02, 0x02);
  EXPECT_EQ(Get32(out[0].header + 44), 4096u);
  EXPECT_TRUE(devices_.supportedDrive()->programming());

  // Once programming has ended: a WRITE BUFFER announcing 16 bytes with 1000 sent.
  clock_.Advance(60000);
  std::vector<uint8_t> sixteen = BufferCdb(0x3B, 0);
  sixteen[7] = 0x00;
  sixteen[8] = 0x10;
  Pdu write = ScsiCommand(62, cmdSN++, sixteen, false, true, 1000);
  write.data.assign(1000, 0x11);
  out = Send(write);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].header[3], kStatusGood);
  EXPECT_EQ(out[0].header[1] & 0x02, 0x02);
  EXPECT_EQ(Get32(out[0].header + 44), 984u);
}

// A LOGICAL UNIT RESET resets its unit and a target reset every unit: each raises 06/29/03, and
// the supported drive's programming goes on through it.
TEST_F(TargetTest, ResetsRaiseAUnitAttentionAndProgrammingGoesOn) {
  LogIn();
  KdrDrive& drive = *devices_.supportedDrive();
  uint16_t sum = 0;
  std::vector<uint8_t> image = testing_blocks::SealedImage(sum);
  ASSERT_TRUE(testing_blocks::Upload(drive, image));
  std::vector<uint8_t> scratch(4096);
  ASSERT_EQ(testing_blocks::Send(drive, testing_blocks::CommitCdb(sum), kDirIn, scratch.data(),
                                 4096)
                .status,
            kStatusGood);
  clock_.Advance(2000);
  uint32_t cmdSN = 100;
  auto reset = [&](uint8_t function, uint32_t lun) {
    Pdu tmf = Request(kOpTaskManagement, 70, cmdSN, true);
    tmf.header[1] = 0x80 | function;
    tmf.header[9] = static_cast<uint8_t>(lun);
    const std::vector<Pdu> out = Send(tmf);
    EXPECT_EQ(out.size(), 1u);
    return out.empty() ? uint8_t{0xFF} : out[0].header[2];
  };
  // The sense a command reports: REQUEST SENSE's data, or a CHECK CONDITION's.
  auto sense = [&](uint32_t lun, std::vector<uint8_t> cdb) {
    const std::vector<Pdu> out = Send(ScsiCommand(71, cmdSN++, cdb, true, false, 18, lun));
    const ReadAnswer answer = Collect(out);
    std::vector<uint8_t> bytes = answer.data;
    if (answer.status != nullptr && answer.status->header[3] != kStatusGood) {
      bytes.assign(answer.status->data.begin() + 2, answer.status->data.end());
    }
    bytes.resize(18);
    return std::vector<uint8_t>{bytes[2], bytes[12], bytes[13]};
  };
  const std::vector<uint8_t> rs = {0x03, 0, 0, 0, 18, 0};
  const std::vector<uint8_t> tur = {0x00, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> resetOccurred = {0x06, 0x29, 0x03};
  const std::vector<uint8_t> programming = {0x02, 0x04, 0x07};
  const std::vector<uint8_t> noDisc = {0x02, 0x3A, 0x00};

  EXPECT_EQ(reset(5, 0), 0);  // LOGICAL UNIT RESET of the supported drive
  EXPECT_EQ(sense(0, rs), resetOccurred);
  EXPECT_EQ(sense(0, rs), programming);
  EXPECT_EQ(sense(1, tur), noDisc) << "the other unit was not reset";
  EXPECT_EQ(reset(5, 7), 1) << "no such unit";

  EXPECT_EQ(reset(6, 0), 0);  // TARGET WARM RESET
  EXPECT_EQ(sense(1, tur), resetOccurred);
  EXPECT_EQ(sense(1, tur), noDisc);
  EXPECT_EQ(sense(0, tur), resetOccurred);
  EXPECT_EQ(sense(0, tur), programming);
  clock_.Advance(60000);
  EXPECT_EQ(drive.flash(), image);
}

TEST(DeviceCdbTest, BlocksCutToTheirGroupLengthAreCompletedOnlyForTheDownloadProtocol) {
  struct Case {
    std::vector<uint8_t> received;
    uint8_t length;
    bool completed;
  } cases[] = {
      {{0x3C, 0x02, 0, 0x18, 0, 0, 0, 0x10, 0, 0x0A, 0, 0}, 12, true},   // read-back block
      {{0x3B, 0x01, 0x01, 0x12, 0x34, 0, 0, 0, 0, 0x8A, 0, 0}, 12, true},  // commit, boot bit
      {{0x3B, 0x02, 0, 0, 0, 0, 0, 0x10, 0, 0x0A, 0x0B, 0x0C}, 10, false},  // arrived whole
      {{0x3B, 0x02, 0, 0, 0, 0, 0, 0x10, 0, 0x00, 0, 0}, 10, false},      // another WRITE BUFFER
      {{0x12, 0, 0, 0, 36, 0}, 6, false},
      {{0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 128, 0}, 10, false},
      {{0xF1, 0x01, 0, 0, 0x40, 0x7D, 0, 0, 0, 0x26, 0, 0}, 12, false},
  };
  for (const Case& c : cases) {
    uint8_t received[16] = {};
    std::memcpy(received, c.received.data(), c.received.size());
    uint8_t cdb[16];
    bool completed = false;
    EXPECT_EQ(DeviceCdb(received, cdb, completed), c.length) << int(received[0]);
    EXPECT_EQ(completed, c.completed) << int(received[0]);
    if (c.completed) {
      EXPECT_EQ(cdb[10], 0x0B);
      EXPECT_EQ(cdb[11], 0x0C);
      EXPECT_EQ(std::memcmp(cdb, received, 10), 0);
    }
  }
}

TEST(PduTest, SerializePadsTheDataAndFillsItsLength) {
  Pdu pdu;
  pdu.header[0] = kOpNopIn;
  pdu.data = {1, 2, 3, 4, 5};
  const std::vector<uint8_t> wire = Serialize(pdu);
  ASSERT_EQ(wire.size(), kHeaderSize + 8);
  EXPECT_EQ(DataSegmentLength(wire.data()), 5u);
  EXPECT_EQ(wire[kHeaderSize + 4], 5);
  EXPECT_EQ(wire[kHeaderSize + 5], 0);
  const std::vector<uint8_t> text = {'A', '=', '1', 0, 'j', 'u', 'n', 'k', 0, 'B', '=', 0};
  EXPECT_EQ(ParseKeys(text), (TextKeys{{"A", "1"}, {"B", ""}}));
}

// What an optical drive without a disc answers an operating system, and the supported drive
// while it programs.
TEST(OpticalAnswersTest, DriveWithoutDiscAndWhileProgramming) {
  VirtualClock clock;
  KdrDrive drive(clock);
  uint8_t data[64];
  auto run = [&](std::vector<uint8_t> cdb, uint32_t length) {
    std::memset(data, 0xEE, sizeof data);
    Command command{cdb.data(), static_cast<uint8_t>(cdb.size()), kDirIn, data, length, 0};
    return drive.Execute(command);
  };
  Outcome o = run({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);  // READ CAPACITY(10)
  EXPECT_EQ(o.status, kStatusGood);
  EXPECT_EQ(std::vector<uint8_t>(data, data + 8), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 8, 0}));
  o = run({0x12, 0x01, 0x00, 0, 64, 0}, 64);  // vital product data page 0
  EXPECT_EQ(std::vector<uint8_t>(data, data + 5), (std::vector<uint8_t>{5, 0, 0, 1, 0}));
  EXPECT_EQ(run({0x12, 0x01, 0x80, 0, 64, 0}, 64).sense[12], 0x24);  // no serial number page
  o = run({0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 64, 0}, 64);  // MODE SENSE(10), capabilities
  EXPECT_EQ(o.status, kStatusGood);
  EXPECT_EQ(data[1], 8 + 22 - 2);
  EXPECT_EQ(data[8], 0x2A);
  EXPECT_EQ(data[9], 20);
  o = run({0x1A, 0x08, 0x3F, 0, 64, 0}, 64);  // MODE SENSE(6), all pages
  EXPECT_EQ(data[0], 4 + 22 - 1);
  EXPECT_EQ(data[4], 0x2A);
  o = run({0x4A, 0x01, 0, 0, 0x10, 0, 0, 0, 8, 0}, 8);  // GET EVENT STATUS NOTIFICATION
  EXPECT_EQ(std::vector<uint8_t>(data, data + 8), (std::vector<uint8_t>{0, 6, 4, 0x10, 0, 0, 0, 0}));
  o = run({0x46, 0x02, 0, 0, 0, 0, 0, 0, 64, 0}, 64);  // GET CONFIGURATION, profile list
  EXPECT_EQ(data[3], 4 + 4 + 16);  // after the length field: header rest, feature header, list
  EXPECT_EQ(data[7], 0);  // no current profile: no disc
  EXPECT_EQ(data[8 + 5], 0x08);  // CD-ROM first
  EXPECT_EQ(run({0x1E, 0, 0, 0, 1, 0}, 0).status, kStatusGood);

  // Once programming runs, the operating system's polling is refused with the progress.
  uint8_t commit[12] = {0x3B, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0x0A, 0, 0};
  std::vector<uint8_t> scratch(4096);  // the commit's data-in phase, as the updater sends it
  Command c{commit, 12, kDirIn, scratch.data(), static_cast<uint32_t>(scratch.size()), 0};
  ASSERT_EQ(drive.Execute(c).status, kStatusGood);
  clock.Advance(4000);
  o = run({0x00, 0, 0, 0, 0, 0}, 0);
  EXPECT_EQ(o.sense[2], 0x02);
  EXPECT_EQ(o.sense[12], 0x04);
  EXPECT_EQ(o.sense[13], 0x07);
  EXPECT_EQ(o.sense[0], 0xF0);
  EXPECT_EQ((o.sense[4] << 16) | (o.sense[5] << 8) | o.sense[6], 0x40000);
}

}  // namespace
}  // namespace iscsi
}  // namespace sim
