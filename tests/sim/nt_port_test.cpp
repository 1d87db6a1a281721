// The simulated NT port driver as a port driver's client sees it.
#include "sim/nt_port.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/support/system_os.h"

namespace {

class NtPortTest : public ::testing::Test {
 protected:
  std::unique_ptr<platform::WindowsOs> system_ = testsupport::NewSystemOs();
  sim::NtPort port_;
  sim::NtPortOs os_{*system_, port_};
};

TEST_F(NtPortTest, StoredInquiryDataIsABusTableWithEntryChains) {
  sim::BasicDevice drive(sim::SupportedDriveIdentity());
  sim::BasicDevice disk(sim::DiskIdentity());
  port_.Attach('d', &drive);
  port_.ListDevice('d', 0, 0, 1, drive);
  port_.ListDevice('d', 0, 0, 2, disk);
  port_.ListDevice('d', 1, 1, 0, drive);
  platform::Handle h = os_.openDevice("\\\\.\\D:");  // letters in either case
  ASSERT_NE(h, platform::InvalidHandle());
  uint8_t buffer[2048] = {};
  uint32_t returned = 0;
  ASSERT_TRUE(os_.deviceControl(h, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer,
                                           sizeof(buffer), &returned));
  SCSI_ADAPTER_BUS_INFO info;
  std::memcpy(&info, buffer, sizeof(info));
  ASSERT_EQ(info.NumberOfBuses, 2);
  SCSI_BUS_DATA buses[2];
  std::memcpy(buses, buffer + offsetof(SCSI_ADAPTER_BUS_INFO, BusData), sizeof(buses));

  SCSI_INQUIRY_DATA entry;
  std::memcpy(&entry, buffer + buses[0].InquiryDataOffset, sizeof(entry));
  EXPECT_EQ(entry.TargetId, 1);
  EXPECT_EQ(entry.InquiryDataLength, 36u);
  const uint8_t* inquiry = buffer + buses[0].InquiryDataOffset + offsetof(SCSI_INQUIRY_DATA, InquiryData);
  EXPECT_EQ(inquiry[0], 5);
  EXPECT_EQ(0, std::memcmp(inquiry + 8, "KORVADSKRW/DVD KDR-7305C", 24));
  ASSERT_NE(entry.NextInquiryDataOffset, 0u);
  std::memcpy(&entry, buffer + entry.NextInquiryDataOffset, sizeof(entry));
  EXPECT_EQ(entry.TargetId, 2);
  EXPECT_EQ(entry.NextInquiryDataOffset, 0u);
  std::memcpy(&entry, buffer + buses[1].InquiryDataOffset, sizeof(entry));
  EXPECT_EQ(entry.PathId, 1);
  EXPECT_LE(returned, sizeof(buffer));
}

TEST_F(NtPortTest, PassThroughSenseIsCutToSenseInfoLength) {
  sim::BasicDevice drive(sim::SupportedDriveIdentity());
  port_.Attach('e', &drive);
  platform::Handle h = os_.openDevice("\\\\.\\e:");
  PassThroughBlock block{};
  block.sptd.Length = sizeof(block.sptd);
  block.sptd.CdbLength = 6;
  block.sptd.Cdb[0] = 0xF9;  // not a command the device knows
  block.sptd.SenseInfoLength = 8;
  block.sptd.SenseInfoOffset = offsetof(PassThroughBlock, sense);
  uint32_t returned = 0;
  ASSERT_TRUE(os_.deviceControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                           sizeof(block.sptd), &block, sizeof(block), &returned));
  EXPECT_EQ(block.sptd.ScsiStatus, sim::kStatusCheckCondition);
  EXPECT_EQ(block.sense[2], 0x05);
  EXPECT_EQ(block.sense[12], 0);  // ASC lies beyond the 8 bytes asked for
}

TEST_F(NtPortTest, HandlesAreDistinctAndClosingIsRecorded) {
  sim::BasicDevice drive(sim::SupportedDriveIdentity());
  port_.Attach('d', &drive);
  platform::Handle a = os_.openDevice("\\\\.\\d:");
  platform::Handle b = os_.openDevice("\\\\.\\d:");
  EXPECT_NE(a, b);
  EXPECT_EQ(os_.openDevice("\\\\.\\q:"), platform::InvalidHandle());
  os_.closeHandle(b);
  EXPECT_TRUE(port_.WasClosed(b));
  EXPECT_FALSE(port_.WasClosed(a));
  PassThroughBlock block{};
  block.sptd.CdbLength = 6;
  uint32_t returned = 0;
  EXPECT_FALSE(os_.deviceControl(b, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                            sizeof(block.sptd), &block, sizeof(block), &returned));
}

TEST_F(NtPortTest, DisappearedDriveFailsOpenAndEveryRequest) {
  sim::BasicDevice drive(sim::SupportedDriveIdentity());
  port_.Attach('d', &drive);
  platform::Handle h = os_.openDevice("\\\\.\\d:");
  port_.Disappear('d');
  PassThroughBlock block{};
  block.sptd.CdbLength = 6;
  uint32_t returned = 0;
  EXPECT_FALSE(os_.deviceControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                            sizeof(block.sptd), &block, sizeof(block), &returned));
  IO_SCSI_CAPABILITIES caps{};
  EXPECT_FALSE(os_.deviceControl(h, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps,
                                            sizeof(caps), &returned));
  EXPECT_EQ(os_.openDevice("\\\\.\\d:"), platform::InvalidHandle());
}

}  // namespace
