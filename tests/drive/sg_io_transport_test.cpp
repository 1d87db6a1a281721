// The native Linux transport with open(2) and the SG_IO ioctl replaced: which /dev/sr* it finds,
// and what it says became of a command.
#include "drive/linux/sg_io_transport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/sg_io.h"
#include "platform/platform.h"

namespace {

// A fake device behind a file descriptor: its INQUIRY data, or how it answers other commands.
struct FakeSr {
  uint8_t peripheralByte = 5;
  std::string identity;  // vendor and product, 24 characters
  int ioctlResult = 0;
  unsigned char status = 0;
  unsigned short hostStatus = 0;
  unsigned short driverStatus = 0;
};

constexpr int kFirstFd = 900;  // far above what the test process has open
std::map<int, FakeSr>* g_devices = nullptr;
std::vector<std::string>* g_opened = nullptr;
std::vector<std::vector<uint8_t>>* g_cdbs = nullptr;
int g_lastOpenFlags = 0;

int FakeOpen(const char* path, int flags) {
  g_opened->push_back(path);
  g_lastOpenFlags = flags;
  const int index = platform::linux_sg::SrPathToIndex(path);
  return g_devices->count(kFirstFd + index) != 0 ? kFirstFd + index : -1;
}

int FakeIoctl(int fd, unsigned long request, void* arg) {
  if (request != SG_IO || g_devices->count(fd) == 0) return -1;
  const FakeSr& device = g_devices->at(fd);
  auto* hdr = static_cast<sg_io_hdr_t*>(arg);
  g_cdbs->emplace_back(hdr->cmdp, hdr->cmdp + hdr->cmd_len);
  if (hdr->cmdp[0] == 0x12) {  // INQUIRY
    auto* data = static_cast<uint8_t*>(hdr->dxferp);
    std::memset(data, 0, 36);
    data[0] = device.peripheralByte;
    std::memcpy(data + 8, device.identity.data(), device.identity.size());
    std::memcpy(data + 32, "1.00", 4);
    hdr->resid = static_cast<int>(hdr->dxfer_len) - 36;
    return 0;
  }
  hdr->status = device.status;
  hdr->host_status = device.hostStatus;
  hdr->driver_status = device.driverStatus;
  if (device.status == 0x02 && hdr->sbp != nullptr) {
    const uint8_t sense[14] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
    std::memcpy(hdr->sbp, sense, sizeof sense);
  }
  return device.ioctlResult;
}

class SgIoTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::os() = platform::RealOs();
    g_devices = &devices_;
    g_opened = &opened_;
    g_cdbs = &cdbs_;
    platform::os().openNode = &FakeOpen;
    platform::os().ioctlNode = &FakeIoctl;
  }
  void TearDown() override { ReleaseDrives(drives_); }
  void Add(int index, FakeSr device) { devices_[kFirstFd + index] = device; }

  platform::ScopedOs scoped_;
  std::map<int, FakeSr> devices_;
  std::vector<std::string> opened_;
  std::vector<std::vector<uint8_t>> cdbs_;
  DriveList drives_{};
};

TEST_F(SgIoTransportTest, FindsTheOpticalDrivesAmongDevSrByPathInOrder) {
  Add(0, {5, "KORVADSKRW/DVD KDR-7305C"});
  Add(1, {0, "ATA     FIXED DISK 80G  "});  // not a CD-ROM-class device
  Add(3, {5, "OTHERCO DVD-ROM DR-1600 "});
  SgIoTransport().Discover(drives_);

  ASSERT_EQ(opened_.size(), 24u);
  for (size_t i = 0; i < opened_.size(); ++i) EXPECT_EQ(opened_[i], "/dev/sr" + std::to_string(i));
  ASSERT_EQ(drives_.count, 2u);
  EXPECT_STREQ(drives_.records[0]->identity, "KORVADSKRW/DVD KDR-7305C");
  EXPECT_STREQ(drives_.records[0]->revision, "1.00");
  EXPECT_STREQ(drives_.records[1]->identity, "OTHERCO DVD-ROM DR-1600 ");
  for (uint32_t i = 0; i < drives_.count; ++i) {
    EXPECT_NE(drives_.records[i]->deviceHandle, nullptr);
    EXPECT_EQ(drives_.records[i]->alignmentMask, 2047u);
  }
  // One six-byte INQUIRY (allocation length 127) to each device that opened.
  const std::vector<uint8_t> inquiry = {0x12, 0x00, 0x00, 0x00, 0x7F, 0x00};
  EXPECT_EQ(cdbs_, (std::vector<std::vector<uint8_t>>{inquiry, inquiry, inquiry}));
}

// The terminal program opens /dev/srN by number, read-write, non-blocking and close-on-exec,
// and asks it directly: an INQUIRY answered with fewer bytes than asked for is GOOD.
TEST_F(SgIoTransportTest, DeviceNumberNIsDevSrNAskedDirectly) {
  Add(3, {5, "KORVADSKRW/DVD KDR-7305C"});
  NumberedTransport& transport = SgIoTransport();
  EXPECT_EQ(transport.OpenNumbered(2), platform::InvalidHandle());
  const platform::Handle handle = transport.OpenNumbered(3);
  ASSERT_NE(handle, platform::InvalidHandle());
  EXPECT_EQ(opened_, (std::vector<std::string>{"/dev/sr2", "/dev/sr3"}));
  EXPECT_EQ(g_lastOpenFlags, O_RDWR | O_NONBLOCK | O_CLOEXEC);

  const uint8_t inquiry[6] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
  uint8_t reply[96] = {};
  const DeviceAnswer answer = transport.Ask(handle, inquiry, sizeof inquiry, reply, sizeof reply, 2);
  EXPECT_TRUE(answer.delivered);
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(0, std::memcmp(reply + 8, "KORVADSKRW/DVD KDR-7305C1.00", 28));
  EXPECT_EQ(cdbs_, (std::vector<std::vector<uint8_t>>{{0x12, 0x00, 0x00, 0x00, 0x60, 0x00}}));
  transport.CloseNumbered(handle);
}

TEST_F(SgIoTransportTest, ResultSaysWhatBecameOfTheCommand) {
  const struct {
    const char* name;
    FakeSr answer;
    bool malformed;
    ScsiOutcome expected;
  } cases[] = {
      {"good", {5, "", 0, 0x00, 0, 0}, false, ScsiOutcome::kGood},
      {"check condition", {5, "", 0, 0x02, 0, 0x08}, false, ScsiOutcome::kCheckCondition},
      {"host error", {5, "", 0, 0x00, 0x01, 0}, false, ScsiOutcome::kHostError},
      {"driver error", {5, "", 0, 0x00, 0, 0x06}, false, ScsiOutcome::kHostError},
      {"ioctl failed", {5, "", -1, 0x00, 0, 0}, false, ScsiOutcome::kOsError},
      {"malformed", {5, "", 0, 0x00, 0, 0}, true, ScsiOutcome::kNotSent},
  };
  Add(0, {5, "KORVADSKRW/DVD KDR-7305C"});
  SgIoTransport().Discover(drives_);
  ASSERT_EQ(drives_.count, 1u);
  const uint8_t cdb[6] = {0x00, 0, 0, 0, 0, 0};  // TEST UNIT READY
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSr answer = c.answer;
    answer.identity = devices_[kFirstFd].identity;
    devices_[kFirstFd] = answer;
    uint8_t sense[kSenseAreaSize];
    ScsiRequest request{};
    request.drive = drives_.records[0];
    request.cdbLength = c.malformed ? 0 : sizeof cdb;
    request.cdb = cdb;
    request.senseArea = sense;
    EXPECT_EQ(SgIoTransport().Send(request), c.expected);
    if (c.expected == ScsiOutcome::kCheckCondition) {
      EXPECT_EQ(sense[2], 0x05);
      EXPECT_EQ(sense[12], 0x24);
    }
  }
}

}  // namespace
