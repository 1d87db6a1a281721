// The native Linux transport with the kernel replaced: which /dev/sr* it finds, the one SG_IO
// request it builds from a command, and what it says became of it.
#include "drive/linux/sg_io_transport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/support/system_os.h"

namespace {

// A fake device behind a file descriptor: its INQUIRY data, or how it answers other commands.
struct FakeSr {
  uint8_t peripheralByte = 5;
  std::string identity;  // vendor and product, 24 characters
  int ioctlResult = 0;
  unsigned char status = 0;
  unsigned short hostStatus = 0;
  unsigned short driverStatus = 0;
  int resid = 0;
};

constexpr int kFirstFd = 900;  // far above what the test process has open

// The kernel as the transport sees it: /sys/class/block lists `listed`, /dev/srN opens when a
// device N was added, and SG_IO answers as the device says.
class FakeKernel final : public platform::Kernel {
 public:
  int openNode(const char* path, int flags) override {
    opened.push_back(path);
    openFlags.push_back(flags);
    uint32_t number = 0;
    const std::string name = path;
    if (name.compare(0, 5, "/dev/") != 0 || !drive::SrNumberOfName(name.substr(5), number) ||
        devices.count(kFirstFd + static_cast<int>(number)) == 0) {
      errno = ENOENT;
      return -1;
    }
    if (readOnly && (flags & O_ACCMODE) != O_RDONLY) {
      errno = EACCES;
      return -1;
    }
    return kFirstFd + static_cast<int>(number);
  }
  int ioctlNode(int fd, unsigned long request, void* arg) override {
    if (request != SG_IO || devices.count(fd) == 0) return -1;
    const FakeSr& device = devices.at(fd);
    auto* hdr = static_cast<sg_io_hdr_t*>(arg);
    headers.push_back(*hdr);
    cdbs.emplace_back(hdr->cmdp, hdr->cmdp + hdr->cmd_len);
    if (hdr->cmdp[0] == 0x12) {  // INQUIRY
      auto* data = static_cast<uint8_t*>(hdr->dxferp);
      std::memset(data, 0, 36);
      data[0] = device.peripheralByte;
      std::memcpy(data + 8, device.identity.data(), device.identity.size());
      std::memcpy(data + 32, "1.00", 4);
      hdr->resid = static_cast<int>(hdr->dxfer_len) - 36;
      return 0;
    }
    if (hdr->dxfer_direction == SG_DXFER_FROM_DEV && hdr->dxfer_len > 0) {
      std::memset(hdr->dxferp, 0x5A, hdr->dxfer_len);
    }
    hdr->status = device.status;
    hdr->host_status = device.hostStatus;
    hdr->driver_status = device.driverStatus;
    hdr->resid = device.resid;
    if (device.status == 0x02 && hdr->sbp != nullptr) {
      const uint8_t sense[14] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
      std::memcpy(hdr->sbp, sense, sizeof sense);
    }
    return device.ioctlResult;
  }
  void closeNode(int fd) override { closed.push_back(fd); }
  int startPosixThread(void* (*)(void*), void*) override { return EAGAIN; }
  bool listDirectory(const char* path, std::vector<std::string>& names) override {
    names = listed;
    return std::string(path) == "/sys/class/block";
  }

  std::map<int, FakeSr> devices;
  std::vector<std::string> listed;
  bool readOnly = false;
  std::vector<std::string> opened;
  std::vector<int> openFlags;
  std::vector<int> closed;
  std::vector<sg_io_hdr_t> headers;
  std::vector<std::vector<uint8_t>> cdbs;
};

class SgIoTransportTest : public ::testing::Test {
 protected:
  void Add(uint32_t number, FakeSr device) {
    kernel_.devices[kFirstFd + static_cast<int>(number)] = device;
    kernel_.listed.push_back("sr" + std::to_string(number));
  }
  // One command on the first drive found.
  ScsiOutcome Send(const uint8_t* cdb, uint8_t direction, uint8_t* data, uint32_t length,
                   uint32_t timeOutSeconds, uint32_t& moved) {
    if (drives_.count == 0) {
      transport_.Discover(drives_);
      kernel_.headers.clear();
      kernel_.cdbs.clear();
    }
    request_ = ScsiRequest{};
    request_.drive = drives_.records[0];
    request_.direction = direction;
    request_.dataLength = length;
    request_.data = data;
    request_.cdbLength = 12;
    request_.cdb = cdb;
    request_.senseArea = sense_;
    request_.timeOutSeconds = timeOutSeconds;
    return transport_.Send(request_, moved);
  }
  void TearDown() override { transport_.ReleaseDrives(drives_); }

  std::unique_ptr<platform::WindowsOs> os_ = testsupport::NewSystemOs();
  FakeKernel kernel_;
  drive::SgIoTransport transport_{*os_, kernel_};
  DriveList drives_{};
  ScsiRequest request_{};
  uint8_t sense_[kSenseAreaSize] = {};
};

TEST_F(SgIoTransportTest, FindsTheOpticalDrivesTheSystemListsInNumberOrder) {
  Add(3, {5, "OTHERCO DVD-ROM DR-1600 "});
  Add(0, {5, "KORVADSKRW/DVD KDR-7305C"});
  Add(1, {0, "ATA     FIXED DISK 80G  "});  // not a CD-ROM-class device
  kernel_.listed.insert(kernel_.listed.begin(), {"sda", "sr", "sr01", "loop0", "sr1x"});
  transport_.Discover(drives_);

  EXPECT_EQ(kernel_.opened, (std::vector<std::string>{"/dev/sr0", "/dev/sr1", "/dev/sr3"}));
  for (const int flags : kernel_.openFlags) EXPECT_EQ(flags, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_EQ(drives_.count, 2u);
  EXPECT_STREQ(drives_.records[0]->identity, "KORVADSKRW/DVD KDR-7305C");
  EXPECT_STREQ(drives_.records[0]->revision, "1.00");
  EXPECT_STREQ(drives_.records[1]->identity, "OTHERCO DVD-ROM DR-1600 ");
  EXPECT_EQ(kernel_.closed, std::vector<int>{kFirstFd + 1}) << "the disk is closed again";
  // One standard INQUIRY to each device that opened.
  const std::vector<uint8_t> inquiry = {0x12, 0x00, 0x00, 0x00, 0x24, 0x00};
  EXPECT_EQ(kernel_.cdbs, (std::vector<std::vector<uint8_t>>{inquiry, inquiry, inquiry}));
  transport_.ReleaseDrives(drives_);
  EXPECT_EQ(kernel_.closed.size(), 3u) << "releasing the records closes their devices";
}

TEST_F(SgIoTransportTest, ADriveThisUserMayOnlyReadIsOpenedReadOnly) {
  Add(2, {5, "KORVADSKRW/DVD KDR-7305C"});
  kernel_.readOnly = true;
  const platform::Handle handle = transport_.OpenNumbered(2);
  ASSERT_NE(handle, platform::InvalidHandle());
  EXPECT_EQ(kernel_.openFlags, (std::vector<int>{O_RDWR | O_NONBLOCK | O_CLOEXEC,
                                                 O_RDONLY | O_NONBLOCK | O_CLOEXEC}));
  EXPECT_EQ(transport_.OpenNumbered(4), platform::InvalidHandle());
  transport_.CloseNumbered(handle);
}

struct DirectionCase {
  uint8_t direction;
  uint32_t length;
  int expected;
};

TEST_F(SgIoTransportTest, EachCommandIsOneSgIoRequestWithEveryField) {
  Add(0, {5, "KORVADSKRW/DVD KDR-7305C"});
  const DirectionCase cases[] = {
      {kDataIn, 4096, SG_DXFER_FROM_DEV},
      {kDataOut, 4096, SG_DXFER_TO_DEV},
      {kDataIn, 0, SG_DXFER_NONE},  // no data: no transfer whatever the direction says
      {0, 4096, SG_DXFER_TO_DEV},      // a data phase without a direction goes out
  };
  const uint8_t cdb[12] = {0x3C, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x10, 0x00, 0x0A, 0x0B, 0x0C};
  uint8_t data[4096];
  for (const DirectionCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "direction " << int{c.direction} << " length " << c.length);
    kernel_.headers.clear();
    uint32_t moved = 0;
    ASSERT_EQ(Send(cdb, c.direction, data, c.length, 5, moved), ScsiOutcome::kGood);
    ASSERT_EQ(kernel_.headers.size(), 1u);
    const sg_io_hdr_t& hdr = kernel_.headers[0];
    EXPECT_EQ(hdr.interface_id, 'S');
    EXPECT_EQ(hdr.dxfer_direction, c.expected);
    EXPECT_EQ(hdr.dxfer_len, c.length);
    EXPECT_EQ(hdr.cmd_len, 12);
    EXPECT_EQ(kernel_.cdbs.back(), std::vector<uint8_t>(cdb, cdb + 12));
    EXPECT_EQ(hdr.mx_sb_len, kSenseAreaSize);
    EXPECT_EQ(hdr.timeout, 5000u);
  }
  uint32_t moved = 0;
  ASSERT_EQ(Send(cdb, kDataIn, data, 16, 0, moved), ScsiOutcome::kGood);
  EXPECT_EQ(kernel_.headers.back().timeout, 60000u) << "no time-out of its own: a minute";
}

struct ResidualCase {
  uint8_t direction;
  uint32_t length;
  int resid;
  uint32_t moved;
};

// SG_IO's residual count says how many of the bytes asked for did not move.
TEST_F(SgIoTransportTest, TheResidualCountGivesTheBytesMoved) {
  Add(0, {5, "KORVADSKRW/DVD KDR-7305C"});
  const ResidualCase cases[] = {
      {kDataIn, 4096, 0, 4096},   {kDataIn, 4096, 1, 4095},
      {kDataIn, 4096, 4096, 0},   {kDataIn, 18, 4, 14},
      {kDataOut, 4096, 96, 4000},
      {kDataIn, 100, 5000, 0},   // a count beyond the length moves nothing, not less
      {kDataIn, 100, -3, 100},   // a negative count (none reported) moves it all
  };
  const uint8_t cdb[12] = {0x3C, 0x02};
  uint8_t data[4096];
  for (const ResidualCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "length " << c.length << " resid " << c.resid);
    kernel_.devices[kFirstFd].resid = c.resid;
    uint32_t moved = 0;
    ASSERT_EQ(Send(cdb, c.direction, data, c.length, 5, moved), ScsiOutcome::kGood);
    EXPECT_EQ(moved, c.moved);
  }
}

TEST_F(SgIoTransportTest, TheResultSaysWhatBecameOfTheCommand) {
  const struct {
    const char* name;
    FakeSr answer;
    ScsiOutcome expected;
  } cases[] = {
      {"good", {5, "", 0, 0x00, 0, 0, 0}, ScsiOutcome::kGood},
      {"check condition", {5, "", 0, 0x02, 0, 0x08, 0}, ScsiOutcome::kCheckCondition},
      {"busy", {5, "", 0, 0x08, 0, 0, 0}, ScsiOutcome::kHostError},
      {"host: no connect", {5, "", 0, 0x00, 0x01, 0, 0}, ScsiOutcome::kHostError},
      {"host: time out", {5, "", 0, 0x00, 0x03, 0, 0}, ScsiOutcome::kHostError},
      {"driver: time out", {5, "", 0, 0x00, 0, 0x06, 0}, ScsiOutcome::kHostError},
      {"driver: error with sense", {5, "", 0, 0x02, 0, 0x08 | 0x04, 0}, ScsiOutcome::kHostError},
      {"ioctl failed", {5, "", -1, 0x00, 0, 0, 0}, ScsiOutcome::kOsError},
  };
  Add(0, {5, "KORVADSKRW/DVD KDR-7305C"});
  const uint8_t cdb[12] = {0x3C, 0x02};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSr answer = c.answer;
    answer.identity = kernel_.devices[kFirstFd].identity;
    kernel_.devices[kFirstFd] = answer;
    uint8_t data[64];
    std::memset(data, 0xC3, sizeof data);
    uint32_t moved = 0;
    EXPECT_EQ(Send(cdb, kDataIn, data, sizeof data, 5, moved), c.expected);
    if (c.expected == ScsiOutcome::kCheckCondition) {
      EXPECT_EQ(sense_[2], 0x05);
      EXPECT_EQ(sense_[12], 0x24);
    }
    if (c.expected != ScsiOutcome::kGood) {
      EXPECT_EQ(data[0], 0xC3) << "a failed data-in leaves the caller's buffer as it was";
    } else {
      EXPECT_EQ(data[0], 0x5A);
    }
  }
  const uint8_t none[12] = {};
  request_.cdbLength = 0;
  request_.cdb = none;
  EXPECT_EQ(transport_.Send(request_), ScsiOutcome::kNotSent) << "malformed";
}

// The front end opens /dev/srN by number and asks it directly: an INQUIRY answered with fewer
// bytes than asked for is GOOD, and says how many came.
TEST_F(SgIoTransportTest, DeviceNumberNIsDevSrNAskedDirectly) {
  Add(3, {5, "KORVADSKRW/DVD KDR-7305C"});
  const platform::Handle handle = transport_.OpenNumbered(3);
  ASSERT_NE(handle, platform::InvalidHandle());
  const uint8_t inquiry[6] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
  uint8_t reply[96] = {};
  const DeviceAnswer answer = transport_.Ask(handle, inquiry, sizeof inquiry, reply, sizeof reply, 2);
  EXPECT_TRUE(answer.delivered);
  EXPECT_EQ(answer.status, 0);
  EXPECT_EQ(answer.moved, 36u);
  EXPECT_EQ(0, std::memcmp(reply + 8, "KORVADSKRW/DVD KDR-7305C1.00", 28));
  transport_.CloseNumbered(handle);
  EXPECT_FALSE(transport_.Ask(handle, inquiry, sizeof inquiry, reply, sizeof reply, 2).delivered)
      << "a closed handle reaches nothing";
}

TEST(SrNameTest, OnlySrAndADecimalNumberNameAnOpticalDrive) {
  const struct {
    const char* name;
    bool valid;
    uint32_t number;
  } cases[] = {{"sr0", true, 0},   {"sr7", true, 7},   {"sr23", true, 23}, {"sr124", true, 124},
               {"sr", false, 0},   {"sr01", false, 0}, {"sr-1", false, 0}, {"sda", false, 0},
               {"sr1a", false, 0}, {"xsr1", false, 0}, {"", false, 0}};
  for (const auto& c : cases) {
    uint32_t number = 99;
    EXPECT_EQ(drive::SrNumberOfName(c.name, number), c.valid) << c.name;
    if (c.valid) {
      EXPECT_EQ(number, c.number) << c.name;
    }
  }
}

}  // namespace
