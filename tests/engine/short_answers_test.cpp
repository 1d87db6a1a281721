// Short answers judged by the command that asked, on every path a command can take: the
// transports report how many bytes moved (or that they cannot tell), and each download command
// decides whether that is enough for what its block announced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drive/aspi_transport.h"
#include "drive/drive_transport.h"
#include "drive/nt_pass_through_transport.h"
#include "engine/download_commands.h"
#include "engine/firmware_image.h"
#include "sim/aspi_manager.h"
#include "sim/device_transport.h"
#include "sim/nt_port.h"
#include "tests/support/fake_os.h"
#include "tests/support/system_os.h"

#ifndef _WIN32
#include <scsi/sg.h>

#include <cerrno>

#include "drive/linux/sg_io_transport.h"
#endif

namespace {

// How the host stack reports a residual: exactly, or not at all (libata, QEMU's iSCSI
// pass-through: the whole length reads as moved).
enum class Residual { kExact, kNone };

// A drive that moves `moves` bytes of every data-in phase (the commit: nothing, as its block
// announces), and a stack that reports the residual as `residual` says.
class ShortDrive : public sim::Device {
 public:
  sim::Outcome Execute(const sim::Command& command) override {
    uint32_t written = 0;
    if (command.direction == sim::kDirIn && command.data != nullptr) {
      const std::vector<uint8_t>& reply = command.cdb[0] == 0x03 ? sense : block;
      const bool commit = command.cdb[0] == 0x3B;
      written = commit ? 0 : std::min<uint32_t>({moves, command.dataLength,
                                                 static_cast<uint32_t>(reply.size())});
      if (written > 0) std::memcpy(command.data, reply.data(), written);
    }
    sim::Outcome outcome = sim::Good();
    if (command.direction == sim::kDirIn && residual == Residual::kExact) {
      outcome.residual = command.dataLength - written;
    }
    return outcome;
  }
  uint8_t PeripheralByte() const override { return 5; }
  void StandardInquiry(uint8_t out[36]) const override { std::memset(out, 0, 36); }

  uint32_t moves = 0;
  Residual residual = Residual::kExact;
  std::vector<uint8_t> block;  // what READ BUFFER sends
  std::vector<uint8_t> sense;  // what REQUEST SENSE sends: half of the image programmed
};

// One way to the drive: the transport built on the system (and fakes), and the drive record
// that names the drive on it.
class Path {
 public:
  virtual ~Path() = default;
  virtual const char* name() const = 0;
  // False where this path can tell how many bytes moved.
  virtual bool blind() const { return false; }
  DriveLink link() { return DriveLink{&record, transport}; }

 protected:
  std::unique_ptr<platform::WindowsOs> system_ = testsupport::NewSystemOs();
  fake::FakeOs fakes_{*system_};
  DriveRecord record{};
  DriveTransport* transport = nullptr;
};

class NtPath : public Path {
 public:
  explicit NtPath(sim::Device& drive) {
    port_.Attach('d', &drive, 0, 1);
    record.deviceHandle = os_.openDevice("\\\\.\\d:");
    record.targetId = 1;
    record.alignmentMask = 511;
    transport = &nt_;
  }
  ~NtPath() override { os_.closeHandle(record.deviceHandle); }
  const char* name() const override { return "NT pass-through"; }

 private:
  sim::NtPort port_;
  sim::NtPortOs os_{fakes_, port_};
  NtPassThroughTransport nt_{os_, false};
};

class AspiPath : public Path {
 public:
  explicit AspiPath(sim::Device& drive) {
    uint8_t unique[16];
    sim::SetHaUnique(unique, 0x0001, 8, 0x10000);
    manager_.AddAdapter(unique);
    manager_.AddTarget(0, 2, &drive);
    loaded_ = aspi_.Load(state_);
    record.targetId = 2;
    transport = &aspi_;
  }
  ~AspiPath() override { aspi_.Release(state_); }
  const char* name() const override { return "ASPI"; }
  bool blind() const override { return true; }  // the manager reports no residual
  bool loaded() const { return loaded_; }

 private:
  sim::AspiManager manager_;
  sim::AspiManagerOs os_{fakes_, manager_};
  AspiTransport aspi_{os_};
  TransportState state_{};
  bool loaded_ = false;
};

class SimulatedDevicesPath : public Path {
 public:
  explicit SimulatedDevicesPath(sim::Device& drive) : devices_(*system_, {&drive}) {
    record.deviceHandle = devices_.OpenNumbered(0);
    transport = &devices_;
  }
  const char* name() const override { return "simulated devices"; }

 private:
  sim::DeviceTransport devices_;
};

#ifndef _WIN32
// SG_IO with the kernel replaced by the drive: one fd, and the residual as the stack reports it
// in the header.
class DriveKernel final : public platform::Kernel {
 public:
  explicit DriveKernel(sim::Device& drive) : drive_(drive) {}
  int openNode(const char*, int) override { return kSgFd; }
  int ioctlNode(int fd, unsigned long request, void* arg) override {
    if (fd != kSgFd || request != SG_IO) return -1;
    auto* hdr = static_cast<sg_io_hdr_t*>(arg);
    sim::Command command{};
    command.cdb = hdr->cmdp;
    command.cdbLength = hdr->cmd_len;
    command.direction = hdr->dxfer_direction == SG_DXFER_FROM_DEV ? sim::kDirIn
                        : hdr->dxfer_direction == SG_DXFER_TO_DEV ? sim::kDirOut
                                                                  : sim::kDirNone;
    command.data = static_cast<uint8_t*>(hdr->dxferp);
    command.dataLength = hdr->dxfer_len;
    command.timeOutMs = hdr->timeout;
    const sim::Outcome outcome = drive_.Execute(command);
    hdr->status = outcome.status;
    hdr->resid = static_cast<int>(outcome.residual);
    return 0;
  }
  void closeNode(int) override {}
  int startPosixThread(void* (*)(void*), void*) override { return EAGAIN; }
  bool listDirectory(const char*, std::vector<std::string>& names) override {
    names = {"sr0"};
    return true;
  }

 private:
  static constexpr int kSgFd = 733;
  sim::Device& drive_;
};

class SgIoPath : public Path {
 public:
  explicit SgIoPath(sim::Device& drive) : kernel_(drive), sg_(*system_, kernel_) {
    record.deviceHandle = sg_.OpenNumbered(0);
    transport = &sg_;
  }
  ~SgIoPath() override { sg_.CloseNumbered(record.deviceHandle); }
  const char* name() const override { return "SG_IO"; }

 private:
  DriveKernel kernel_;
  drive::SgIoTransport sg_;
};
#endif

enum class Command { kVerifyBlock, kReadDriveBuffer, kCommit, kPoll };

// What the command made of the answer: a read-back or commit is 1 (accepted) or 0; a poll is its
// percentage, or -1 for no answer.
struct ShortCase {
  const char* name;
  Command command;
  uint32_t moves;
  int exact;  // where the stack reports the residual exactly
  int blind;  // where it reports none: the whole length reads as moved, or not told at all
};

int Perform(const ShortCase& c, const DriveLink& link, const std::vector<uint8_t>& expected) {
  uint8_t sense[kSenseAreaSize] = {};
  uint8_t destination[kBlockSize];
  switch (c.command) {
    case Command::kVerifyBlock:
      return VerifyBlock(link, 0x3000, expected.data(), sense) ? 1 : 0;
    case Command::kReadDriveBuffer:
      return ReadDriveBuffer(link, 0x180000, kBlockSize, destination) ? 1 : 0;
    case Command::kCommit:
      return CommitUpdate(link, 0x1234, CommitOptions{false, false}, sense) ? 1 : 0;
    case Command::kPoll: {
      ProgressFlags flags{};
      PollAnswer answer = PollAnswer::kNoAnswer;
      const uint8_t percent = PollProgress(link, flags, &answer);
      return answer == PollAnswer::kAboutProgramming ? percent : -1;
    }
  }
  return -2;
}

TEST(ShortAnswers, EachCommandJudgesTheBytesMovedOnEveryPath) {
  const ShortCase cases[] = {
      {"read-back in full", Command::kVerifyBlock, 4096, 1, 1},
      {"read-back one byte short", Command::kVerifyBlock, 4095, 0, 0},
      {"read-back of nothing", Command::kVerifyBlock, 0, 0, 0},
      {"boot data in full", Command::kReadDriveBuffer, 4096, 1, 1},
      // Without a residual a short boot-data read is caught by its second read (the run).
      {"boot data short", Command::kReadDriveBuffer, 2048, 0, 1},
      {"commit moves nothing", Command::kCommit, 0, 1, 1},
      {"sense of 18 bytes", Command::kPoll, 18, 50, 50},
      {"sense of 14 bytes", Command::kPoll, 14, 50, 50},
      // Without a residual a 13-byte reply that claims 18 cannot be told from a whole one.
      {"sense of 13 bytes", Command::kPoll, 13, -1, 100},
      {"no sense bytes", Command::kPoll, 0, -1, -1},
  };
  std::vector<uint8_t> expected(kBlockSize);
  for (uint32_t i = 0; i < kBlockSize; ++i) expected[i] = static_cast<uint8_t>(i * 13 + 5);
  std::vector<uint8_t> sense = {0xF0, 0, 0x02, 0, 0x04, 0x00, 0x00, 10, 0, 0,
                                0,    0, 0x04, 0x07, 0, 0, 0, 0};

  for (Residual residual : {Residual::kExact, Residual::kNone}) {
    for (int p = 0; p < 4; ++p) {
      ShortDrive drive;
      drive.residual = residual;
      drive.block = expected;
      drive.sense = sense;
      std::unique_ptr<Path> path;
      if (p == 0) path = std::make_unique<NtPath>(drive);
      if (p == 1) path = std::make_unique<AspiPath>(drive);
      if (p == 2) path = std::make_unique<SimulatedDevicesPath>(drive);
#ifndef _WIN32
      if (p == 3) path = std::make_unique<SgIoPath>(drive);
#endif
      if (!path) continue;
      const bool blind = path->blind() || residual == Residual::kNone;
      for (const ShortCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << path->name() << (residual == Residual::kExact ? ", exact" : ", none")
                     << " residual: " << c.name);
        drive.moves = c.moves;
        EXPECT_EQ(Perform(c, path->link(), expected), blind ? c.blind : c.exact);
      }
    }
  }
}

// A command answered with UNIT ATTENTION was not executed: it goes once more, and a second one
// is the command's failure.
class AttentiveDrive : public sim::Device {
 public:
  sim::Outcome Execute(const sim::Command& command) override {
    opcodes.push_back(command.cdb[0]);
    if (attentions > 0) {
      --attentions;
      return sim::CheckCondition(0x06, 0x29, 0x00);
    }
    if (command.direction == sim::kDirIn && command.data != nullptr && command.cdb[0] == 0x3C) {
      std::memset(command.data, 0x11, command.dataLength);
    }
    return sim::Good();
  }
  uint8_t PeripheralByte() const override { return 5; }
  void StandardInquiry(uint8_t out[36]) const override { std::memset(out, 0, 36); }

  int attentions = 0;
  std::vector<uint8_t> opcodes;
};

TEST(ShortAnswers, AUnitAttentionIsAnsweredBySendingTheCommandOnceMore) {
  std::vector<uint8_t> block(kBlockSize, 0x11);
  for (int attentions : {0, 1, 2}) {
    SCOPED_TRACE(::testing::Message() << attentions << " unit attention(s)");
    AttentiveDrive drive;
    SimulatedDevicesPath path(drive);
    const DriveLink link = path.link();
    uint8_t sense[kSenseAreaSize];
    const bool succeeds = attentions < 2;
    const struct {
      const char* name;
      uint8_t opcode;
      bool (*send)(const DriveLink&, const uint8_t*, uint8_t*);
    } commands[] = {
        {"stop", 0x1B, [](const DriveLink& l, const uint8_t*, uint8_t* s) { return StopUnit(l, s); }},
        {"prepare", 0xF1, [](const DriveLink& l, const uint8_t*, uint8_t*) { return PrepareReadBack(l); }},
        {"write", 0x3B, [](const DriveLink& l, const uint8_t* b, uint8_t* s) { return WriteBlock(l, 0, b, s); }},
        {"read-back", 0x3C, [](const DriveLink& l, const uint8_t* b, uint8_t* s) { return VerifyBlock(l, 0, b, s); }},
        {"commit", 0x3B, [](const DriveLink& l, const uint8_t*, uint8_t* s) {
           return CommitUpdate(l, 1, CommitOptions{false, false}, s);
         }},
    };
    for (const auto& command : commands) {
      SCOPED_TRACE(command.name);
      drive.attentions = attentions;
      drive.opcodes.clear();
      EXPECT_EQ(command.send(link, block.data(), sense), succeeds);
      EXPECT_EQ(drive.opcodes, std::vector<uint8_t>(std::min(attentions + 1, 2), command.opcode));
      if (!succeeds) {
        EXPECT_EQ(sense[2], 0x06);
      }
    }
  }
}

}  // namespace
