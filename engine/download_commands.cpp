// The drive's download protocol: seven commands, each one fixed 12-byte command block sent
// through the transport. Bytes a block does not name are 0.
#include "engine/download_commands.h"

#include <cstring>

#include "drive/supported_model.h"
#include "engine/firmware_image.h"

namespace {

constexpr uint8_t kCdbLength = kModelCdbLength;

// Mode 2 WRITE BUFFER / READ BUFFER: buffer ID 0, 24-bit address, length 0x001000, and the
// model's check bytes.
void BuildBufferBlock(uint8_t cdb[kCdbLength], uint8_t opcode, uint32_t address,
                      const DriveModel& model) {
  std::memset(cdb, 0, kCdbLength);
  cdb[0] = opcode;
  cdb[1] = 0x02;
  cdb[3] = static_cast<uint8_t>(address >> 16);
  cdb[4] = static_cast<uint8_t>(address >> 8);
  cdb[5] = static_cast<uint8_t>(address);
  cdb[7] = 0x10;
  cdb[9] = model.checkBytes[0];
  cdb[10] = model.checkBytes[1];
  cdb[11] = model.checkBytes[2];
}

constexpr uint8_t kUnitAttention = 0x06;
// The bytes of fixed-format sense data that the poll reads: the key (2), the INFORMATION field
// (3-6) and ASC/ASCQ (12-13).
constexpr uint32_t kPolledSenseBytes = 14;

// Sends one 12-byte command block through the link's transport; `moved` receives the bytes the
// data phase moved as the transport reports them. A command answered with UNIT ATTENTION was
// not executed: a reset or a changed medium is reported that way once, so it is sent once more.
ScsiOutcome Send(const DriveLink& link, const uint8_t cdb[kCdbLength], uint8_t direction,
                 uint8_t* data, uint32_t length, uint8_t* senseArea, uint32_t timeOutSeconds,
                 uint32_t& moved) {
  const ScsiRequest request = RequestFor(*link.drive, cdb, kCdbLength, direction, data, length,
                                         senseArea, timeOutSeconds);
  ScsiOutcome outcome = link.transport->Send(request, moved);
  if (outcome == ScsiOutcome::kCheckCondition && (senseArea[2] & 0x0F) == kUnitAttention) {
    outcome = link.transport->Send(request, moved);
  }
  return outcome;
}

bool SendGood(const DriveLink& link, const uint8_t cdb[kCdbLength], uint8_t direction,
              uint8_t* data, uint32_t length, uint8_t* senseArea, uint32_t timeOutSeconds) {
  uint32_t moved = kMovedUnknown;
  return Send(link, cdb, direction, data, length, senseArea, timeOutSeconds, moved) ==
         ScsiOutcome::kGood;
}

// A data-in phase brought at least `needed` bytes, or its transport cannot tell.
bool Brought(uint32_t moved, uint32_t needed) { return moved == kMovedUnknown || moved >= needed; }

}  // namespace

bool StopUnit(const DriveLink& link, uint8_t* senseArea) {
  uint8_t cdb[kCdbLength] = {link.model->opcodes.startStopUnit};  // START 0, LOEJ 0: stop
  return SendGood(link, cdb, 0, nullptr, 0, senseArea, kCommandTimeOutSeconds);
}

bool WriteBlock(const DriveLink& link, uint32_t address, const uint8_t* block,
                uint8_t* senseArea) {
  // The transport gets a copy: nothing it does to its data buffer can reach the image.
  uint8_t out[kBlockSize];
  std::memcpy(out, block, kBlockSize);
  uint8_t cdb[kCdbLength];
  BuildBufferBlock(cdb, link.model->opcodes.writeBuffer, address, *link.model);
  return SendGood(link, cdb, kDataOut, out, kBlockSize, senseArea, kCommandTimeOutSeconds);
}

bool VerifyBlock(const DriveLink& link, uint32_t address, const uint8_t* expected,
                 uint8_t* senseArea) {
  // Every byte starts as the complement of the one expected: a byte the drive did not send
  // cannot pass for the block, even where the transport reports no residual.
  uint8_t in[kBlockSize];
  for (uint32_t i = 0; i < kBlockSize; ++i) in[i] = static_cast<uint8_t>(~expected[i]);
  uint8_t cdb[kCdbLength];
  BuildBufferBlock(cdb, link.model->opcodes.readBuffer, address, *link.model);
  uint32_t moved = kMovedUnknown;
  if (Send(link, cdb, kDataIn, in, kBlockSize, senseArea, kCommandTimeOutSeconds, moved) !=
      ScsiOutcome::kGood) {
    return false;
  }
  if (!Brought(moved, kBlockSize)) return false;
  return std::memcmp(in, expected, kBlockSize) == 0;
}

bool ReadDriveBuffer(const DriveLink& link, uint32_t address, uint32_t length,
                     uint8_t* destination) {
  uint8_t sense[kSenseAreaSize];
  uint8_t cdb[kCdbLength];
  // Always 4096 in the block, whatever `length` is.
  BuildBufferBlock(cdb, link.model->opcodes.readBuffer, address, *link.model);
  uint32_t moved = kMovedUnknown;
  return Send(link, cdb, kDataIn, destination, length, sense, kCommandTimeOutSeconds, moved) ==
             ScsiOutcome::kGood &&
         Brought(moved, length);
}

bool PrepareReadBack(const DriveLink& link) {
  uint8_t sense[kSenseAreaSize];
  uint8_t cdb[kCdbLength];
  std::memcpy(cdb, link.model->prepareReadBack, kCdbLength);
  return SendGood(link, cdb, kDataIn, nullptr, 0, sense, kCommandTimeOutSeconds);
}

bool CommitUpdate(const DriveLink& link, uint16_t imageSum, CommitOptions options,
                  uint8_t* senseArea, ScsiOutcome* outcome) {
  uint8_t cdb[kCdbLength] = {link.model->opcodes.writeBuffer, 0x01, 0x01};  // mode 1, buffer 1
  cdb[3] = static_cast<uint8_t>(imageSum >> 8);
  cdb[4] = static_cast<uint8_t>(imageSum);
  const uint8_t* check = link.model->checkBytes;
  cdb[9] = options.forceBootOverwrite ? static_cast<uint8_t>(check[0] | 0x80) : check[0];
  cdb[10] = options.disableChecksumProtect ? 0x00 : check[1];
  cdb[11] = options.disableChecksumProtect ? 0x00 : check[2];
  // A data-in phase of 4096 bytes is offered, though the block announces none: a drive moves
  // nothing for it, so however many bytes the transport reports is fine.
  uint8_t scratch[kBlockSize] = {};
  uint32_t moved = kMovedUnknown;
  const ScsiOutcome result = Send(link, cdb, kDataIn, scratch, kBlockSize, senseArea,
                                  kCommitTimeOutSeconds, moved);
  if (outcome != nullptr) *outcome = result;
  return result == ScsiOutcome::kGood;
}

namespace {

// A reply is taken only when it reads as fixed-format sense data (response code 70h or 71h):
// the zero-filled buffer of a reply that never came does not, even where a stack reports no
// residual. Where the transport reported no count at all, its additional length must also
// cover the bytes the poll reads.
bool LooksLikeSense(const uint8_t* reply, uint32_t moved) {
  const uint8_t code = reply[0] & 0x7F;
  if (code != 0x70 && code != 0x71) return false;
  return moved == kMovedUnknown ? 8u + reply[7] >= kPolledSenseBytes
                                : moved >= kPolledSenseBytes;
}

}  // namespace

uint8_t PollProgress(const DriveLink& link, ProgressFlags& flags, PollAnswer* answer) {
  uint8_t sense[kSenseAreaSize];
  uint8_t reply[18] = {};
  const uint8_t cdb[kCdbLength] = {link.model->opcodes.requestSense, 0, 0, 0, 18};
  // A failed request is no answer: its zero-filled reply would read as "no longer
  // programming" and end the polling while the drive may still be at work. The caller decides
  // how long to wait for an answer. So is a reply too short to hold the bytes read below.
  uint32_t moved = kMovedUnknown;
  const bool replied = Send(link, cdb, kDataIn, reply, sizeof reply, sense,
                            kPollTimeOutSeconds, moved) == ScsiOutcome::kGood &&
                       LooksLikeSense(reply, moved);
  const uint8_t key = reply[2];  // the whole byte: flag bits set mean "not programming"
  PollAnswer kind = !replied ? PollAnswer::kNoAnswer
                    : (key & 0x0F) == kUnitAttention ? PollAnswer::kUnitAttention
                                                     : PollAnswer::kAboutProgramming;
  if (answer != nullptr) *answer = kind;
  if (kind != PollAnswer::kAboutProgramming) return 0;
  const uint8_t asc = reply[12];
  const uint8_t ascq = reply[13];
  if (key == 0x02 && asc == 0x04 && ascq == 0x07) {
    flags.programmingSeen = 1;
    const uint32_t done = (uint32_t{reply[4]} << 16) | (uint32_t{reply[5]} << 8) | reply[6];
    if (done >= link.model->endWindowFirst && done <= link.model->endWindowLast) {
      flags.completionSeen = 1;
      flags.updateSucceeded = 1;
      return 100;
    }
    return static_cast<uint8_t>(done * 100u / link.model->imageSize);
  }
  flags.updateSucceeded = flags.completionSeen == 1 ? 1 : 0;
  // Idle: no sense, a recovered error, or a drive without a disc. Any other key is a failure
  // the drive reports.
  flags.endedReady = key == 0x00 || key == 0x01 || (key == 0x02 && asc == 0x3A) ? 1 : 0;
  return 100;
}
