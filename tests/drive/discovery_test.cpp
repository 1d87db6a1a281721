// Discovery on its three Windows paths, against the simulated ASPI manager and NT port driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drive/aspi_transport.h"
#include "drive/drive.h"
#include "drive/nt_pass_through_transport.h"
#include "tests/support/fake_os.h"
#include "tests/support/system_os.h"
#include "platform/nt_scsi.h"
#include "sim/aspi_manager.h"
#include "sim/device.h"
#include "sim/nt_port.h"

namespace {

const char kSupportedIdentity[] = "KORVADSKRW/DVD KDR-7305C";

sim::Identity WithPeripheral(sim::Identity identity, uint8_t peripheral) {
  identity.peripheralByte = peripheral;
  return identity;
}

// The fakes over the system that each bus is put on; the list is released when the test ends,
// by the transport that filled it.
class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { std::memset(&drives_, 0, sizeof(drives_)); }
  void TearDown() override {
    if (releaser_ != nullptr) releaser_->ReleaseDrives(drives_);
  }
  sim::BasicDevice* Make(const sim::Identity& identity) {
    devices_.push_back(std::make_unique<sim::BasicDevice>(identity));
    return devices_.back().get();
  }
  const DriveRecord& At(uint32_t i) const { return *drives_.records[i]; }

  std::unique_ptr<platform::WindowsOs> system_ = testsupport::NewSystemOs();
  fake::FakeOs fakes_{*system_};
  std::vector<std::unique_ptr<sim::BasicDevice>> devices_;
  DriveList drives_;
  DriveTransport* releaser_ = nullptr;
};

// --- ASPI ----------------------------------------------------------------------------------

class AspiDiscoveryTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    manager_.SetCompletion(sim::AspiCompletion::kImmediate);
    releaser_ = &aspi_;
  }
  void Discover() { Discover(aspi_); }
  void Discover(AspiTransport& aspi) {
    TransportState transport{};
    ASSERT_TRUE(aspi.Load(transport));
    aspi.Discover(drives_);
    aspi.Release(transport);
  }
  sim::AspiManager manager_;
  sim::AspiManagerOs os_{fakes_, manager_};
  AspiTransport aspi_{os_};
};

TEST_F(AspiDiscoveryTest, ListsCdRomTargetsByAdapterThenTarget) {
  uint8_t narrow[16];
  sim::SetHaUnique(narrow, 0x01FF, 0, 0x00012345);  // byte 3 = 0: targets 0 and 1 only
  uint8_t wide[16];
  sim::SetHaUnique(wide, 0x0003, 16, 0x00020000);
  manager_.AddAdapter(narrow);
  manager_.AddAdapter(wide);
  manager_.AddTarget(0, 0, Make(sim::DiskIdentity()));
  manager_.AddTarget(0, 1, Make(sim::SupportedDriveIdentity()));
  manager_.AddTarget(0, 2, Make(sim::OtherOpticalIdentity()));  // beyond the two scanned
  manager_.AddTarget(1, 15, Make(sim::OtherOpticalIdentity()));
  manager_.AddTarget(1, 3, Make(sim::SupportedDriveIdentity()));
  Discover();

  ASSERT_EQ(drives_.count, 3u);
  EXPECT_EQ(At(0).adapterId, 0);
  EXPECT_EQ(At(0).targetId, 1);
  EXPECT_STREQ(At(0).identity, kSupportedIdentity);
  EXPECT_STREQ(At(0).revision, "TR07");
  EXPECT_EQ(At(0).deviceHandle, nullptr);
  EXPECT_EQ(At(0).alignmentMask, 0xFFu);  // the low byte of the 16-bit mask alone
  EXPECT_EQ(At(0).maxTransferLength, 0x00012345u);
  EXPECT_EQ(At(1).adapterId, 1);
  EXPECT_EQ(At(1).targetId, 3);
  EXPECT_EQ(At(1).alignmentMask, 3u);
  EXPECT_EQ(At(1).maxTransferLength, 0x00020000u);
  EXPECT_EQ(At(2).adapterId, 1);
  EXPECT_EQ(At(2).targetId, 15);  // the highest target of a 16-target adapter
  EXPECT_STREQ(At(2).identity, "OTHERCO DVD-ROM DR-1600 ");

  // Adapter 0 is scanned at targets 0 and 1, adapter 1 at 0 to 15, LUN 0 only.
  std::vector<std::pair<uint8_t, uint8_t>> expected = {{0, 0}, {0, 1}};
  for (uint8_t t = 0; t < 16; ++t) expected.emplace_back(1, t);
  EXPECT_EQ(manager_.typeQueries(), expected);
  ASSERT_EQ(manager_.executed().size(), 3u);  // INQUIRY for each type-5 target scanned
  for (const SRB_ExecSCSICmd& srb : manager_.executed()) {
    EXPECT_EQ(srb.SRB_Lun, 0);
    const uint8_t inquiry[12] = {0x12, 0, 0, 0, 0x24, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(srb.CDBByte, inquiry, 12));
    EXPECT_EQ(srb.SRB_BufLen, 36u);
  }
}

TEST_F(AspiDiscoveryTest, TargetsThatAreNotPlainCdRomsAreNotListed) {
  uint8_t unique[16];
  sim::SetHaUnique(unique, 0, 8, 0);
  manager_.AddAdapter(unique);
  // Type 5 to the type query, but INQUIRY fails.
  devices_.push_back(std::make_unique<sim::FailingInquiryDevice>(sim::SupportedDriveIdentity()));
  manager_.AddTarget(0, 0, devices_.back().get());
  // Type 5 to the type query, but INQUIRY byte 0 is 0x25 (qualifier 1).
  manager_.AddTarget(0, 1, Make(WithPeripheral(sim::SupportedDriveIdentity(), 0x25)), 5);
  // A type-5 target with no device behind it.
  manager_.AddTarget(0, 2, nullptr, 5);
  manager_.AddTarget(0, 3, Make(sim::DiskIdentity()));
  manager_.AddTarget(0, 4, Make(sim::SupportedDriveIdentity()));
  Discover();
  ASSERT_EQ(drives_.count, 1u);
  EXPECT_EQ(At(0).targetId, 4);
}

struct SupportCase {
  const char* name;
  uint8_t status;
  int reportedCount;
  bool firstInquiryFails;
  uint32_t expectedDrives;
};

TEST_F(AspiDiscoveryTest, SupportInfoAndAdapterInquiryDecideWhatIsScanned) {
  const SupportCase cases[] = {
      {"all well", SS_COMP, -1, false, 2},
      {"status not SS_COMP", SS_NO_ADAPTERS, -1, false, 0},
      {"no adapters", SS_COMP, 0, false, 0},
      {"failed adapter inquiry skips that adapter", SS_COMP, -1, true, 1},
  };
  for (const SupportCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::AspiManager manager;
    sim::AspiManagerOs managerOs(fakes_, manager);
    AspiTransport aspi(managerOs);
    uint8_t unique[16];
    sim::SetHaUnique(unique, 0, 2, 0);
    manager.AddAdapter(unique);
    manager.AddAdapter(unique);
    manager.AddTarget(0, 0, Make(sim::SupportedDriveIdentity()));
    manager.AddTarget(1, 1, Make(sim::OtherOpticalIdentity()));
    manager.SetSupportStatus(c.status);
    manager.SetReportedAdapterCount(c.reportedCount);
    manager.SetAdapterInquiryFails(0, c.firstInquiryFails);
    Discover(aspi);
    EXPECT_EQ(drives_.count, c.expectedDrives);
    if (c.expectedDrives == 0) {
      EXPECT_EQ(manager.haInquiries(), 0u);
    }
    aspi.ReleaseDrives(drives_);
  }
}

TEST_F(AspiDiscoveryTest, NinthDriveIsNotListed) {
  uint8_t unique[16];
  sim::SetHaUnique(unique, 0, 16, 0);
  manager_.AddAdapter(unique);
  for (uint8_t t = 0; t < 9; ++t) manager_.AddTarget(0, t, Make(sim::OtherOpticalIdentity()));
  Discover();
  ASSERT_EQ(drives_.count, kMaxDrives);
  EXPECT_EQ(At(7).targetId, 7);
  EXPECT_EQ(manager_.executed().size(), 8u);  // the ninth is not even asked
}

// --- NT 4 ----------------------------------------------------------------------------------

class Nt4DiscoveryTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    releaser_ = &transport_;
  }
  sim::NtPort port_;
  sim::NtPortOs os_{fakes_, port_};
  NtPassThroughTransport transport_{os_, true};
};

TEST_F(Nt4DiscoveryTest, DrivesListedByTwoLettersGiveFourRecords) {
  sim::BasicDevice* first = Make(sim::SupportedDriveIdentity());
  sim::BasicDevice* second = Make(sim::OtherOpticalIdentity());
  for (char letter : {'d', 'e'}) {
    port_.Attach(letter, letter == 'd' ? first : second, 1, letter == 'd' ? 0 : 1);
    port_.ListDevice(letter, 0, 1, 0, *first);
    port_.ListDevice(letter, 0, 1, 1, *second);
  }
  port_.SetCapabilities('d', 1, 0x10000);
  port_.SetCapabilities('e', 3, 0x20000);
  transport_.Discover(drives_);

  ASSERT_EQ(drives_.count, 4u);
  const platform::Handle d = At(0).deviceHandle;
  const platform::Handle e = At(2).deviceHandle;
  EXPECT_EQ(port_.LetterOf(d), 'd');
  EXPECT_EQ(port_.LetterOf(e), 'e');
  const struct {
    platform::Handle handle;
    uint8_t target;
    const char* identity;
    uint32_t mask;
  } expected[] = {
      {d, 0, kSupportedIdentity, 1},
      {d, 1, "OTHERCO DVD-ROM DR-1600 ", 1},
      {e, 0, kSupportedIdentity, 3},
      {e, 1, "OTHERCO DVD-ROM DR-1600 ", 3},
  };
  for (uint32_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(At(i).deviceHandle, expected[i].handle);
    EXPECT_EQ(At(i).adapterId, 1);
    EXPECT_EQ(At(i).targetId, expected[i].target);
    EXPECT_STREQ(At(i).identity, expected[i].identity);
    EXPECT_EQ(At(i).alignmentMask, expected[i].mask);
  }
  EXPECT_EQ(At(0).maxTransferLength, 0x10000u);
  EXPECT_EQ(At(2).maxTransferLength, 0x20000u);
  EXPECT_TRUE(port_.closedHandles().empty());  // both letters' handles are in records

  releaser_->ReleaseDrives(drives_);
  EXPECT_EQ(port_.closedHandles(), (std::vector<platform::Handle>{d, e}));  // each once
}

TEST_F(Nt4DiscoveryTest, LettersCToYInOrderAndBusThenChainOrder) {
  sim::BasicDevice* a = Make(sim::SupportedDriveIdentity());
  sim::BasicDevice* b = Make(sim::OtherOpticalIdentity());
  port_.Attach('z', a);  // never examined on this path
  port_.ListDevice('z', 0, 0, 0, *a);
  port_.Attach('g', b);
  port_.ListDevice('g', 1, 2, 5, *a);  // bus 1
  port_.ListDevice('g', 0, 0, 6, *b);  // bus 0, first of its chain
  port_.ListDevice('g', 0, 0, 2, *a);  // bus 0, second
  port_.Attach('c', Make(sim::DiskIdentity()));
  port_.ListDevice('c', 0, 0, 0, *devices_.back());
  port_.Attach('f', b);
  port_.SetInquiryDataFails('f', true);
  transport_.Discover(drives_);

  std::vector<char> expectedAttempts;
  for (char l = 'c'; l <= 'y'; ++l) expectedAttempts.push_back(l);
  EXPECT_EQ(port_.openAttempts(), expectedAttempts);
  ASSERT_EQ(drives_.count, 3u);
  EXPECT_EQ(At(0).targetId, 6);
  EXPECT_EQ(At(1).targetId, 2);
  EXPECT_EQ(At(2).targetId, 5);
  EXPECT_EQ(At(2).adapterId, 2);
  // c (a disk) and f (inquiry data query fails) took no record: both handles closed.
  ASSERT_EQ(port_.closedHandles().size(), 2u);
  EXPECT_EQ(port_.LetterOf(port_.closedHandles()[0]), 'c');
  EXPECT_EQ(port_.LetterOf(port_.closedHandles()[1]), 'f');
}

TEST_F(Nt4DiscoveryTest, LetterListsItsOwnDriveUnlessToldOtherwise) {
  port_.Attach('d', Make(sim::SupportedDriveIdentity()), 2, 5);
  port_.Attach('e', Make(sim::SupportedDriveIdentity()));
  port_.ListNothing('e');
  transport_.Discover(drives_);
  ASSERT_EQ(drives_.count, 1u);
  EXPECT_EQ(At(0).adapterId, 2);
  EXPECT_EQ(At(0).targetId, 5);
  EXPECT_STREQ(At(0).identity, kSupportedIdentity);
  ASSERT_EQ(port_.closedHandles().size(), 1u);
  EXPECT_EQ(port_.LetterOf(port_.closedHandles()[0]), 'e');
}

TEST_F(Nt4DiscoveryTest, FailedCapabilitiesStillListTheDriveWithZeros) {
  port_.Attach('d', Make(sim::SupportedDriveIdentity()));
  port_.ListDevice('d', 0, 0, 0, *devices_.back());
  port_.SetCapabilitiesFail('d', true);
  transport_.Discover(drives_);
  ASSERT_EQ(drives_.count, 1u);
  EXPECT_EQ(At(0).alignmentMask, 0u);
  EXPECT_EQ(At(0).maxTransferLength, 0u);
}

TEST_F(Nt4DiscoveryTest, QualifiedPeripheralByteAndTextCopyRule) {
  sim::ListedDevice qualified{0, 1, 0, {}};
  qualified.inquiry[0] = 0x25;
  sim::ListedDevice shortText{0, 2, 0, {}};
  shortText.inquiry[0] = 5;
  std::memcpy(&shortText.inquiry[8], "AB\0CDEFG", 8);  // stops at the NUL
  std::memcpy(&shortText.inquiry[32], "1\0" "23", 4);
  sim::ListedDevice fullText{0, 3, 0, {}};
  fullText.inquiry[0] = 5;
  std::memcpy(&fullText.inquiry[8], "  VENDOR  PRODUCT NAME  X!", 26);  // 2 bytes run past 24
  port_.Attach('d', Make(sim::SupportedDriveIdentity()));
  port_.ListInquiry('d', 0, qualified);
  port_.ListInquiry('d', 0, shortText);
  port_.ListInquiry('d', 0, fullText);
  transport_.Discover(drives_);
  ASSERT_EQ(drives_.count, 2u);
  EXPECT_STREQ(At(0).identity, "AB");
  EXPECT_STREQ(At(0).revision, "1");
  EXPECT_EQ(std::string(At(1).identity), "  VENDOR  PRODUCT NAME  ");  // 24, no trimming
  EXPECT_EQ(std::string(At(1).revision), std::string("X!\0\0", 2));
  for (size_t i = 24; i < sizeof(At(1).identity); ++i) EXPECT_EQ(At(1).identity[i], 0);
}

TEST_F(Nt4DiscoveryTest, NinthDriveIsNotListed) {
  port_.Attach('d', Make(sim::SupportedDriveIdentity()));
  for (uint8_t t = 0; t < 8; ++t) port_.ListDevice('d', 0, 0, t, *devices_.back());
  port_.Attach('e', devices_.back().get());
  port_.ListDevice('e', 0, 0, 0, *devices_.back());
  transport_.Discover(drives_);
  ASSERT_EQ(drives_.count, kMaxDrives);
  // e's only drive found no slot, so e's handle was closed.
  ASSERT_EQ(port_.closedHandles().size(), 1u);
  EXPECT_EQ(port_.LetterOf(port_.closedHandles()[0]), 'e');
}

// Stored inquiry data as raw bytes, for layouts a faulty port driver might return.
class RawInquiryData {
 public:
  RawInquiryData() : bytes_(2048, 0) {}
  RawInquiryData& Buses(uint8_t n) {
    bytes_[0] = n;
    return *this;
  }
  RawInquiryData& Bus(uint8_t i, uint32_t offset) {
    Put(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + i * sizeof(SCSI_BUS_DATA) +
            offsetof(SCSI_BUS_DATA, InquiryDataOffset),
        offset);
    return *this;
  }
  RawInquiryData& Entry(uint32_t at, uint8_t target, uint32_t next, uint8_t peripheral = 5) {
    bytes_[at + offsetof(SCSI_INQUIRY_DATA, TargetId)] = target;
    Put(at + offsetof(SCSI_INQUIRY_DATA, InquiryDataLength), 36);
    Put(at + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset), next);
    bytes_[at + offsetof(SCSI_INQUIRY_DATA, InquiryData)] = peripheral;
    return *this;
  }
  std::vector<uint8_t> bytes() const { return bytes_; }

 private:
  void Put(size_t at, uint32_t value) { std::memcpy(&bytes_[at], &value, sizeof(value)); }
  std::vector<uint8_t> bytes_;
};

constexpr uint32_t kEntrySize = offsetof(SCSI_INQUIRY_DATA, InquiryData) + 36;

struct MalformedCase {
  const char* name;
  RawInquiryData data;
  std::vector<uint8_t> targets;  // listed, in order
};

TEST_F(Nt4DiscoveryTest, MalformedInquiryDataIsWalkedOnlyInsideTheBuffer) {
  const MalformedCase cases[] = {
      {"offset beyond the buffer", RawInquiryData().Buses(1).Bus(0, 4096), {}},
      {"offset at the very end", RawInquiryData().Buses(1).Bus(0, 2048), {}},
      {"entry runs past the end", RawInquiryData().Buses(1).Bus(0, 2048 - kEntrySize + 1), {}},
      {"last entry that just fits",
       RawInquiryData().Buses(1).Bus(0, 2048 - kEntrySize).Entry(2048 - kEntrySize, 4, 0), {4}},
      {"chain leaves the buffer after one entry",
       RawInquiryData().Buses(1).Bus(0, 100).Entry(100, 1, 0xFFFFFFF0), {1}},
      {"bad bus does not stop the next bus",
       RawInquiryData().Buses(2).Bus(0, 5000).Bus(1, 200).Entry(200, 2, 0), {2}},
      {"255 buses: the table is read inside the buffer",
       RawInquiryData().Buses(255).Bus(0, 1000).Entry(1000, 3, 0), {3}},
      {"chain that loops back on itself",
       RawInquiryData().Buses(1).Bus(0, 300).Entry(300, 5, 400).Entry(400, 6, 300, 0), {5}},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::NtPort port;
    sim::NtPortOs portOs(fakes_, port);
    NtPassThroughTransport nt4(portOs, true);
    port.Attach('d', Make(sim::SupportedDriveIdentity()));
    port.SetRawInquiryData('d', c.data.bytes());
    nt4.Discover(drives_);
    std::vector<uint8_t> targets;
    for (uint32_t i = 0; i < drives_.count; ++i) targets.push_back(At(i).targetId);
    EXPECT_EQ(targets, c.targets);
    EXPECT_EQ(port.closedHandles().size(), drives_.count == 0 ? 1u : 0u);
    nt4.ReleaseDrives(drives_);
  }
}

// --- NT 5 and later ------------------------------------------------------------------------

class Nt5DiscoveryTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    releaser_ = &transport_;
  }
  sim::NtPort port_;
  sim::NtPortOs os_{fakes_, port_};
  NtPassThroughTransport transport_{os_, false};
};

TEST_F(Nt5DiscoveryTest, OnePassThroughInquiryPerLetterThroughZ) {
  port_.Attach('c', Make(sim::DiskIdentity()));
  port_.Attach('d', Make(sim::SupportedDriveIdentity()), 1, 4);
  devices_.push_back(std::make_unique<sim::FailingInquiryDevice>(sim::SupportedDriveIdentity()));
  port_.Attach('e', devices_.back().get());
  port_.Attach('f', nullptr);  // opens, but pass-through fails
  port_.Attach('g', Make(WithPeripheral(sim::OtherOpticalIdentity(), 0x25)));
  port_.Attach('h', Make(sim::SupportedDriveIdentity()));
  port_.SetOpenFails('h', true);
  port_.Attach('z', Make(sim::OtherOpticalIdentity()));
  transport_.Discover(drives_);

  std::vector<char> expectedAttempts;
  for (char l = 'c'; l <= 'z'; ++l) expectedAttempts.push_back(l);
  EXPECT_EQ(port_.openAttempts(), expectedAttempts);
  ASSERT_EQ(drives_.count, 2u);
  EXPECT_EQ(port_.LetterOf(At(0).deviceHandle), 'd');
  EXPECT_EQ(port_.LetterOf(At(1).deviceHandle), 'z');
  EXPECT_STREQ(At(0).identity, kSupportedIdentity);
  EXPECT_STREQ(At(0).revision, "TR07");
  EXPECT_STREQ(At(1).identity, "OTHERCO DVD-ROM DR-1600 ");
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(At(i).adapterId, 0);
    EXPECT_EQ(At(i).targetId, 0);
    EXPECT_EQ(At(i).alignmentMask, 2047u);
    EXPECT_EQ(At(i).maxTransferLength, 0u);
  }
  std::vector<char> closed;
  for (platform::Handle h : port_.closedHandles()) closed.push_back(port_.LetterOf(h));
  EXPECT_EQ(closed, (std::vector<char>{'c', 'e', 'f', 'g'}));

  ASSERT_EQ(port_.passThroughs().size(), 6u);  // c d e f g z
  for (const sim::PassThroughRecord& record : port_.passThroughs()) {
    const SCSI_PASS_THROUGH_DIRECT& s = record.request;
    EXPECT_EQ(record.inSize, sizeof(PassThroughBlock));
    EXPECT_EQ(record.outSize, sizeof(PassThroughBlock));
    EXPECT_EQ(s.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(s.PathId, 0);
    EXPECT_EQ(s.TargetId, 0);
    EXPECT_EQ(s.CdbLength, 6);
    const uint8_t inquiry[6] = {0x12, 0x00, 0x00, 0x00, 0x7F, 0x00};
    EXPECT_EQ(0, std::memcmp(s.Cdb, inquiry, 6));
    EXPECT_EQ(s.SenseInfoLength, 24);
    EXPECT_EQ(s.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(s.DataTransferLength, 2048u);
    EXPECT_EQ(s.TimeOutValue, 2u);
    EXPECT_EQ(s.SenseInfoOffset, offsetof(PassThroughBlock, sense));
  }
}

TEST_F(Nt5DiscoveryTest, NinthDriveIsNotListedAndItsHandleClosed) {
  for (char letter = 'c'; letter <= 'k'; ++letter) port_.Attach(letter, Make(sim::SupportedDriveIdentity()));
  transport_.Discover(drives_);
  ASSERT_EQ(drives_.count, kMaxDrives);
  EXPECT_EQ(port_.LetterOf(At(7).deviceHandle), 'j');
  ASSERT_EQ(port_.closedHandles().size(), 1u);
  EXPECT_EQ(port_.LetterOf(port_.closedHandles()[0]), 'k');
}

}  // namespace
