// The pass-through request as SG_IO sees it, with the ioctl replaced by a recorder.
#include "platform/linux/sg_io.h"

#include <gtest/gtest.h>
#include <scsi/sg.h>

#include <cstring>
#include <vector>

#include "platform/nt_scsi.h"

namespace {

struct Recorder {
  int calls = 0;
  unsigned long request = 0;
  sg_io_hdr_t hdr{};
  std::vector<uint8_t> cdb;
  // What the "device" answers.
  int result = 0;
  unsigned char status = 0;
  unsigned short hostStatus = 0;
  unsigned short driverStatus = 0;
  int resid = 0;
  std::vector<uint8_t> sense;
};
Recorder* g_recorder = nullptr;

int RecordingIoctl(int, unsigned long request, void* arg) {
  Recorder& r = *g_recorder;
  ++r.calls;
  r.request = request;
  auto* hdr = static_cast<sg_io_hdr_t*>(arg);
  r.hdr = *hdr;
  r.cdb.assign(hdr->cmdp, hdr->cmdp + hdr->cmd_len);
  hdr->status = r.status;
  hdr->host_status = r.hostStatus;
  hdr->driver_status = r.driverStatus;
  hdr->resid = r.resid;
  if (!r.sense.empty() && hdr->sbp != nullptr) {
    std::memcpy(hdr->sbp, r.sense.data(), std::min<size_t>(r.sense.size(), hdr->mx_sb_len));
  }
  return r.result;
}

class SgIoTest : public ::testing::Test {
 protected:
  const platform::ScopedOs restore_;  // the ioctl is the test's for its life
  void SetUp() override {
    g_recorder = &recorder_;
    platform::os().ioctlNode = &RecordingIoctl;
    std::memset(&block_, 0, sizeof(block_));
    block_.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    block_.sptd.CdbLength = 12;
    const uint8_t cdb[12] = {0x3C, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x10, 0x00, 0x0A, 0x0B, 0x0C};
    std::memcpy(block_.sptd.Cdb, cdb, sizeof(cdb));
    block_.sptd.SenseInfoLength = 24;
    block_.sptd.SenseInfoOffset = kPassThroughSenseOffset;
    block_.sptd.TimeOutValue = 0xFFFF;
    block_.sptd.DataBuffer = data_;
  }
  void TearDown() override { g_recorder = nullptr; }
  bool Send() {
    return platform::linux_sg::PassThrough(7, &block_, sizeof(SCSI_PASS_THROUGH_DIRECT), &block_,
                                           sizeof(block_));
  }

  Recorder recorder_;
  PassThroughBlock block_;
  uint8_t data_[4096];
};

struct DirectionCase {
  uint8_t dataIn;
  uint32_t length;
  int expected;
};

TEST_F(SgIoTest, MapsEveryFieldIntoOneSgIoRequest) {
  const DirectionCase cases[] = {
      {SCSI_IOCTL_DATA_IN, 4096, SG_DXFER_FROM_DEV},
      {SCSI_IOCTL_DATA_OUT, 4096, SG_DXFER_TO_DEV},
      {SCSI_IOCTL_DATA_IN, 0, SG_DXFER_NONE},  // no data: no transfer whatever DataIn says
      {SCSI_IOCTL_DATA_OUT, 0, SG_DXFER_NONE},
  };
  for (const DirectionCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "DataIn " << int{c.dataIn} << " length " << c.length);
    recorder_ = Recorder{};
    block_.sptd.DataIn = c.dataIn;
    block_.sptd.DataTransferLength = c.length;
    ASSERT_TRUE(Send());
    EXPECT_EQ(recorder_.calls, 1);
    EXPECT_EQ(recorder_.request, static_cast<unsigned long>(SG_IO));
    EXPECT_EQ(recorder_.hdr.interface_id, 'S');
    EXPECT_EQ(recorder_.hdr.dxfer_direction, c.expected);
    EXPECT_EQ(recorder_.hdr.dxfer_len, c.length);
    EXPECT_EQ(recorder_.hdr.dxferp, static_cast<void*>(data_));
    EXPECT_EQ(recorder_.cdb, (std::vector<uint8_t>{0x3C, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x10,
                                                   0x00, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(recorder_.hdr.sbp, block_.sense);
    EXPECT_EQ(recorder_.hdr.mx_sb_len, 24);
    EXPECT_EQ(recorder_.hdr.timeout, 65535u * 1000u);
  }
}

TEST_F(SgIoTest, TimeOutIsSecondsInMilliseconds) {
  block_.sptd.TimeOutValue = 2;
  ASSERT_TRUE(Send());
  EXPECT_EQ(recorder_.hdr.timeout, 2000u);
}

TEST_F(SgIoTest, CheckConditionIsDeliveredWithStatusAndSense) {
  recorder_.status = 0x02;
  recorder_.driverStatus = 0x08;  // DRIVER_SENSE
  recorder_.sense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x04, 0x07};
  std::memset(block_.sense, 0, sizeof(block_.sense));
  ASSERT_TRUE(Send());
  EXPECT_EQ(block_.sptd.ScsiStatus, 0x02);
  EXPECT_EQ(block_.sense[2], 0x02);
  EXPECT_EQ(block_.sense[12], 0x04);
  EXPECT_EQ(block_.sense[13], 0x07);
}

struct ResidualCase {
  uint8_t dataIn;
  uint32_t length;
  int resid;
  uint32_t transferred;  // DataTransferLength afterwards
};

// SG_IO's residual count comes back as the NT port driver reports it: DataTransferLength is
// the number of bytes actually moved, so that the transport can tell a short read.
TEST_F(SgIoTest, ResidualCountShortensTheTransferLength) {
  const ResidualCase cases[] = {
      {SCSI_IOCTL_DATA_IN, 4096, 0, 4096},
      {SCSI_IOCTL_DATA_IN, 4096, 1, 4095},
      {SCSI_IOCTL_DATA_IN, 4096, 4096, 0},
      {SCSI_IOCTL_DATA_IN, 18, 4, 14},
      {SCSI_IOCTL_DATA_OUT, 4096, 96, 4000},
      {SCSI_IOCTL_DATA_IN, 100, 5000, 0},  // a count beyond the length moves nothing, not less
      {SCSI_IOCTL_DATA_IN, 100, -3, 100},  // a negative count (none reported) moves it all
  };
  for (const ResidualCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "length " << c.length << " resid " << c.resid);
    recorder_ = Recorder{};
    recorder_.resid = c.resid;
    block_.sptd.DataIn = c.dataIn;
    block_.sptd.DataTransferLength = c.length;
    ASSERT_TRUE(Send());
    EXPECT_EQ(block_.sptd.DataTransferLength, c.transferred);
  }
}

struct FailureCase {
  const char* name;
  int result;
  unsigned short host;
  unsigned short driver;
};

TEST_F(SgIoTest, TransportErrorsFailTheRequest) {
  const FailureCase cases[] = {
      {"ioctl failed", -1, 0, 0},
      {"host: no connect", 0, 0x01, 0},
      {"host: time out", 0, 0x03, 0},
      {"driver: time out", 0, 0, 0x06},
      {"driver: error with sense", 0, 0, 0x08 | 0x04},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_ = Recorder{};
    recorder_.result = c.result;
    recorder_.hostStatus = c.host;
    recorder_.driverStatus = c.driver;
    EXPECT_FALSE(Send());
    EXPECT_EQ(recorder_.calls, 1);
  }
}

TEST_F(SgIoTest, MalformedBlocksAreNotSent) {
  block_.sptd.SenseInfoOffset = sizeof(block_) - 10;  // sense buffer would run past the block
  EXPECT_FALSE(Send());
  block_.sptd.SenseInfoOffset = kPassThroughSenseOffset;
  block_.sptd.CdbLength = 17;
  EXPECT_FALSE(Send());
  EXPECT_FALSE(platform::linux_sg::PassThrough(7, &block_, 8, &block_, sizeof(block_)));
  EXPECT_EQ(recorder_.calls, 0);
}

TEST(DriveLetterTest, LettersCToZNameSr0ToSr23) {
  const struct {
    const char* path;
    int index;
  } cases[] = {
      {"\\\\.\\c:", 0},  {"\\\\.\\d:", 1},     {"\\\\.\\D:", 1},  {"\\\\.\\z:", 23},
      {"\\\\.\\Z:", 23}, {"\\\\.\\b:", -1},    {"\\\\.\\a:", -1}, {"c:", -1},
      {"\\\\.\\d", -1},  {"\\\\.\\d:x", -1},   {"/dev/sr0", -1},  {"\\\\.\\1:", -1},
      {"", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::linux_sg::DriveLetterToSrIndex(c.path), c.index) << c.path;
  }
  EXPECT_EQ(platform::linux_sg::DriveLetterToSrIndex(nullptr), -1);
}

}  // namespace
