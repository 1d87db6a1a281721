// Simulated devices as a drive transport: what it reports of each command, the trace lines it
// writes, its handles and its discovery.
#include "sim/device_transport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drive/command_trace.h"
#include "tests/support/recording_device.h"
#include "tests/support/system_os.h"

namespace {

const uint8_t kReadBufferCdb[12] = {0x3C, 0x02, 0x00, 0x00, 0x10, 0x00,
                                    0x00, 0x10, 0x00, 0x0A, 0x0B, 0x0C};
const char kReadBufferLine[] = "3C 02 00 00 10 00 00 10 00 0A 0B 0C ";

// The trace lines a transport writes while it lives, into a file that removes itself.
class TraceLines {
 public:
  explicit TraceLines(DriveTransport& transport)
      : transport_(transport), file_(std::tmpfile()), trace_(file_) {
    transport_.SetTrace(&trace_);
  }
  ~TraceLines() {
    transport_.SetTrace(nullptr);
    if (file_ != nullptr) std::fclose(file_);
  }
  std::vector<std::string> Read() {
    std::vector<std::string> lines;
    if (file_ == nullptr) return lines;
    std::rewind(file_);
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, file_) != nullptr) {
      std::string line(buffer);
      if (!line.empty() && line.back() == '\n') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

 private:
  DriveTransport& transport_;
  std::FILE* file_;
  drive::CommandTrace trace_;
};

sim::Outcome Busy() {
  sim::Outcome busy = sim::Good();
  busy.status = 0x08;  // delivered, but neither GOOD nor CHECK CONDITION
  return busy;
}

class DeviceTransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_.deviceHandle = transport_.OpenNumbered(0);
    ASSERT_NE(drive_.deviceHandle, platform::InvalidHandle());
    std::memset(sense_, 0xAA, sizeof sense_);
    std::memset(data_, 0x5A, sizeof data_);
  }

  ScsiRequest Request(uint8_t direction, uint32_t length) {
    return RequestFor(drive_, kReadBufferCdb, sizeof kReadBufferCdb, direction, data_, length,
                      sense_);
  }

  std::unique_ptr<platform::WindowsOs> os_ = testsupport::NewSystemOs();
  fake::RecordingDevice device_;
  sim::DeviceTransport transport_{*os_, {&device_}};
  DriveRecord drive_{};
  uint8_t sense_[kSenseAreaSize];
  uint8_t data_[256];
};

struct ResultCase {
  const char* name;
  sim::Outcome answer;
  bool malformed;  // no CDB length: refused before anything reaches the device
  ScsiOutcome expected;
  const char* traced;  // the end of the trace line; nullptr: no line
};

// Each command's result in the categories the pass-through transports use. Only a GOOD command
// hands its data to the caller; a failed one leaves the buffer as it was, and the sense area
// holds the device's sense for a status other than GOOD, zeros otherwise.
TEST_F(DeviceTransportTest, ResultSaysWhatBecameOfTheCommand) {
  const ResultCase cases[] = {
      {"good", sim::Good(), false, ScsiOutcome::kGood, "in 64 ok"},
      {"check condition", sim::CheckCondition(0x05, 0x24, 0x00), false,
       ScsiOutcome::kCheckCondition, "in 64 fail 05/24/00"},
      {"other status", Busy(), false, ScsiOutcome::kHostError, "in 64 fail 00/00/00"},
      {"not delivered", sim::NoAnswer(), false, ScsiOutcome::kOsError, "in 64 fail 00/00/00"},
      {"short data-in", sim::GoodWithResidual(10), false, ScsiOutcome::kGood,
       "in 64 ok moved 54"},
      {"malformed", sim::Good(), true, ScsiOutcome::kNotSent, nullptr},
  };
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(sense_, 0xAA, sizeof sense_);
    std::memset(data_, 0x5A, sizeof data_);
    device_.answer = c.answer;
    const size_t seenBefore = device_.seen().size();
    ScsiRequest request = Request(kDataIn, 64);
    if (c.malformed) request.cdbLength = 0;
    TraceLines trace(transport_);

    EXPECT_EQ(transport_.Send(request), c.expected);

    const std::vector<std::string> lines = trace.Read();
    if (c.traced == nullptr) {
      EXPECT_TRUE(lines.empty());
      EXPECT_EQ(device_.seen().size(), seenBefore);
      continue;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string(kReadBufferLine) + c.traced);
    ASSERT_EQ(device_.seen().size(), seenBefore + 1);
    EXPECT_NE(device_.seen().back().buffer, data_);  // staged, never the caller's buffer
    if (c.expected == ScsiOutcome::kGood) {
      // What the device did not send is what the caller's buffer held.
      const uint32_t sent = 64 - c.answer.residual;
      for (uint32_t i = 0; i < 64; ++i) {
        ASSERT_EQ(data_[i], i < sent ? static_cast<uint8_t>(i * 7 + 1) : 0x5A) << i;
      }
      EXPECT_EQ(data_[64], 0x5A);  // exactly dataLength bytes
      for (int i = 0; i < 16; ++i) EXPECT_EQ(sense_[i], 0) << i;
      continue;
    }
    EXPECT_EQ(data_[0], 0x5A);
    uint8_t sense[kSenseAreaSize] = {};
    if (c.answer.delivered && c.answer.status != sim::kStatusGood) {
      std::memcpy(sense, c.answer.sense, sim::kSenseLength);
    }
    EXPECT_EQ(0, std::memcmp(sense_, sense, sizeof sense));
  }
}

struct DirectionCase {
  uint8_t direction;
  uint32_t length;
  uint8_t seen;  // the direction the device is given
};

TEST_F(DeviceTransportTest, DirectionAndDataOutReachTheDevice) {
  const DirectionCase cases[] = {
      {kDataIn, 100, sim::kDirIn},
      {kDataOut, 100, sim::kDirOut},
      {kDataIn, 0, sim::kDirNone},
      {0, 0, sim::kDirNone},
      {0, 10, sim::kDirOut},  // a data phase without a direction goes out, as in a pass-through
  };
  for (uint32_t i = 0; i < sizeof data_; ++i) data_[i] = static_cast<uint8_t>(i ^ 0x3C);
  for (const DirectionCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "direction " << int{c.direction} << " length " << c.length);
    ASSERT_EQ(transport_.Send(Request(c.direction, c.length)), ScsiOutcome::kGood);
    const fake::RecordingDevice::Seen& seen = device_.seen().back();
    EXPECT_EQ(seen.direction, c.seen);
    EXPECT_EQ(seen.dataLength, c.length);
    EXPECT_EQ(seen.cdb, std::vector<uint8_t>(kReadBufferCdb, kReadBufferCdb + 12));
    if (c.seen == sim::kDirOut) {
      EXPECT_EQ(seen.dataOut, std::vector<uint8_t>(data_, data_ + c.length));
    }
  }
}

TEST_F(DeviceTransportTest, HandlesAreDistinctAndAClosedOneReachesNoDevice) {
  const platform::Handle second = transport_.OpenNumbered(0);
  EXPECT_NE(second, drive_.deviceHandle);
  EXPECT_EQ(transport_.OpenNumbered(1), platform::InvalidHandle());  // past the last device
  EXPECT_EQ(transport_.openCount(), 2u);
  transport_.CloseNumbered(second);
  transport_.CloseNumbered(drive_.deviceHandle);
  EXPECT_EQ(transport_.openCount(), 0u);

  std::memset(data_, 0x5A, sizeof data_);
  EXPECT_EQ(transport_.Send(Request(kDataIn, 64)), ScsiOutcome::kOsError);
  EXPECT_TRUE(device_.seen().empty());
  EXPECT_EQ(data_[0], 0x5A);
}

// A question asked directly is the device's answer as it gave it: a shorter answer than asked
// for is still GOOD, and the bytes it moved are in the reply.
TEST_F(DeviceTransportTest, AskReportsTheDevicesOwnAnswer) {
  const uint8_t inquiry[6] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
  sim::BasicDevice drive(sim::SupportedDriveIdentity());
  sim::DeviceTransport transport(*os_, {&drive});
  const platform::Handle handle = transport.OpenNumbered(0);
  uint8_t reply[96] = {};
  TraceLines trace(transport);

  const DeviceAnswer answer = transport.Ask(handle, inquiry, sizeof inquiry, reply, sizeof reply, 2);

  EXPECT_TRUE(answer.delivered);
  EXPECT_EQ(answer.status, sim::kStatusGood);
  EXPECT_EQ(0, std::memcmp(reply + 8, "KORVADSKRW/DVD KDR-7305CTR07", 28));
  EXPECT_EQ(reply[36], 0);  // the device sent 36 bytes
  EXPECT_EQ(trace.Read(), std::vector<std::string>{"12 00 00 00 60 00 in 96 ok"});

  sim::FailingInquiryDevice failing(sim::OtherOpticalIdentity());
  sim::DeviceTransport failingTransport(*os_, {&failing});
  const DeviceAnswer refused = failingTransport.Ask(failingTransport.OpenNumbered(0), inquiry,
                                                    sizeof inquiry, reply, sizeof reply, 2);
  EXPECT_TRUE(refused.delivered);
  EXPECT_EQ(refused.status, sim::kStatusCheckCondition);
  EXPECT_EQ(refused.sense[2], 0x04);
  EXPECT_EQ(refused.sense[12], 0x44);
}

// Discovery goes through the devices in number order and lists the CD-ROM-class ones that
// answer INQUIRY, each with its own open handle; the others' handles are closed again.
TEST(DeviceTransportDiscovery, ListsTheOpticalDrivesInNumberOrder) {
  sim::BasicDevice disk(sim::DiskIdentity());
  sim::BasicDevice other(sim::OtherOpticalIdentity());
  sim::FailingInquiryDevice silent(sim::OtherOpticalIdentity());
  sim::BasicDevice supported(sim::SupportedDriveIdentity());
  const std::unique_ptr<platform::WindowsOs> os = testsupport::NewSystemOs();
  sim::DeviceTransport transport(*os, {&disk, &other, &silent, &supported});
  DriveList drives{};
  TraceLines trace(transport);

  transport.Discover(drives);

  ASSERT_EQ(drives.count, 2u);
  EXPECT_STREQ(drives.records[0]->identity, "OTHERCO DVD-ROM DR-1600 ");
  EXPECT_STREQ(drives.records[0]->revision, "1.02");
  EXPECT_STREQ(drives.records[1]->identity, "KORVADSKRW/DVD KDR-7305C");
  EXPECT_STREQ(drives.records[1]->revision, "TR07");
  EXPECT_NE(drives.records[0]->deviceHandle, drives.records[1]->deviceHandle);
  EXPECT_EQ(transport.openCount(), 2u);
  EXPECT_EQ(trace.Read(), (std::vector<std::string>{
                              "12 00 00 00 24 00 in 36 ok", "12 00 00 00 24 00 in 36 ok",
                              "12 00 00 00 24 00 in 36 fail 04/44/00",
                              "12 00 00 00 24 00 in 36 ok"}));

  // The record's handle carries commands to its device.
  uint8_t sense[kSenseAreaSize];
  const uint8_t startUnit[6] = {0x1B, 0x00, 0x00, 0x00, 0x00, 0x00};
  ScsiRequest stop{drives.records[1], 0, 0, nullptr, sizeof startUnit, startUnit, sense, 0};
  EXPECT_EQ(transport.Send(stop), ScsiOutcome::kGood);
  EXPECT_FALSE(supported.started());
  EXPECT_TRUE(other.started());

  transport.ReleaseDrives(drives);
  EXPECT_EQ(drives.count, 0u);
  EXPECT_EQ(transport.openCount(), 0u);
}

TEST(DeviceTransportDiscovery, AFullListTakesNoMore) {
  std::vector<sim::BasicDevice> optical(kMaxDrives + 1, sim::BasicDevice(sim::OtherOpticalIdentity()));
  std::vector<sim::Device*> devices;
  for (sim::BasicDevice& device : optical) devices.push_back(&device);
  const std::unique_ptr<platform::WindowsOs> os = testsupport::NewSystemOs();
  sim::DeviceTransport transport(*os, devices);
  DriveList drives{};
  transport.Discover(drives);
  EXPECT_EQ(drives.count, kMaxDrives);
  EXPECT_EQ(transport.openCount(), kMaxDrives);
  transport.ReleaseDrives(drives);
  EXPECT_EQ(transport.openCount(), 0u);
}

}  // namespace
