// The drive's download protocol: seven commands, each one fixed 12-byte command block sent
// through the transport. Bytes a block does not name are 0.
#include "engine/download_commands.h"

#include <cstring>

#include "drive/supported_model.h"
#include "engine/firmware_image.h"

namespace {

constexpr uint8_t kCdbLength = 12;

// Mode 2 WRITE BUFFER / READ BUFFER: buffer ID 0, 24-bit address, length 0x001000, and the
// fixed check bytes 0A 0B 0C.
void BuildBufferBlock(uint8_t cdb[kCdbLength], uint8_t opcode, uint32_t address) {
  std::memset(cdb, 0, kCdbLength);
  cdb[0] = opcode;
  cdb[1] = 0x02;
  cdb[3] = static_cast<uint8_t>(address >> 16);
  cdb[4] = static_cast<uint8_t>(address >> 8);
  cdb[5] = static_cast<uint8_t>(address);
  cdb[7] = 0x10;
  cdb[9] = kSupportedDrive.checkBytes[0];
  cdb[10] = kSupportedDrive.checkBytes[1];
  cdb[11] = kSupportedDrive.checkBytes[2];
}

// Sends one 12-byte command block through the link's transport.
bool Send(const DriveLink& link, const uint8_t cdb[kCdbLength], uint8_t direction, uint8_t* data,
          uint32_t length, uint8_t* senseArea) {
  ScsiRequest request{};
  request.drive = link.drive;
  request.direction = direction;
  request.dataLength = length;
  request.data = data;
  request.cdbLength = kCdbLength;
  request.cdb = cdb;
  request.useNtPassThrough = link.useNtPassThrough;
  request.senseArea = senseArea;
  return link.transport->Send(request) == ScsiOutcome::kGood;
}

}  // namespace

bool StopUnit(const DriveLink& link, uint8_t* senseArea) {
  uint8_t cdb[kCdbLength] = {kOpStartStopUnit};  // START 0, LOEJ 0: stop without ejecting
  return Send(link, cdb, 0, nullptr, 0, senseArea);
}

bool WriteBlock(const DriveLink& link, uint32_t address, const uint8_t* block,
                uint8_t* senseArea) {
  // The transport gets a copy: nothing it does to its data buffer can reach the image.
  uint8_t out[kBlockSize];
  std::memcpy(out, block, kBlockSize);
  uint8_t cdb[kCdbLength];
  BuildBufferBlock(cdb, kOpWriteBuffer, address);
  return Send(link, cdb, SRB_DIR_OUT, out, kBlockSize, senseArea);
}

bool VerifyBlock(const DriveLink& link, uint32_t address, const uint8_t* expected,
                 uint8_t* senseArea) {
  uint8_t in[kBlockSize];
  uint8_t cdb[kCdbLength];
  BuildBufferBlock(cdb, kOpReadBuffer, address);
  if (!Send(link, cdb, SRB_DIR_IN, in, kBlockSize, senseArea)) return false;
  return std::memcmp(in, expected, kBlockSize) == 0;
}

bool ReadDriveBuffer(const DriveLink& link, uint32_t address, uint32_t length,
                     uint8_t* destination) {
  uint8_t sense[kSenseAreaSize];
  uint8_t cdb[kCdbLength];
  BuildBufferBlock(cdb, kOpReadBuffer, address);  // always 4096 in the block, whatever `length` is
  return Send(link, cdb, SRB_DIR_IN, destination, length, sense);
}

bool PrepareReadBack(const DriveLink& link) {
  uint8_t sense[kSenseAreaSize];
  const uint8_t cdb[kCdbLength] = {kOpPrepareReadBack, 0x01, 0x00, 0x00, 0x40, 0x7D,
                                   0x00, 0x00, 0x00, 0x26, 0x00, 0x00};
  return Send(link, cdb, SRB_DIR_IN, nullptr, 0, sense);
}

bool CommitUpdate(const DriveLink& link, uint16_t imageSum, CommitOptions options,
                  uint8_t* senseArea) {
  uint8_t cdb[kCdbLength] = {kOpWriteBuffer, 0x01, 0x01};  // mode 1, buffer ID 1
  cdb[3] = static_cast<uint8_t>(imageSum >> 8);
  cdb[4] = static_cast<uint8_t>(imageSum);
  const uint8_t* check = kSupportedDrive.checkBytes;
  cdb[9] = options.forceBootOverwrite ? static_cast<uint8_t>(check[0] | 0x80) : check[0];
  cdb[10] = options.disableChecksumProtect ? 0x00 : check[1];
  cdb[11] = options.disableChecksumProtect ? 0x00 : check[2];
  // The drive expects a data-in phase of 4096 bytes, though the block announces none.
  uint8_t scratch[kBlockSize];
  return Send(link, cdb, SRB_DIR_IN, scratch, kBlockSize, senseArea);
}

uint8_t PollProgress(const DriveLink& link, ProgressFlags& flags, bool* answered) {
  uint8_t sense[kSenseAreaSize];
  uint8_t reply[18] = {};
  const uint8_t cdb[kCdbLength] = {kOpRequestSense, 0, 0, 0, 18};
  // A failed request is no answer: its zero-filled reply would read as "no longer
  // programming" and end the polling while the drive may still be at work. The caller decides
  // how long to wait for an answer.
  const bool replied = Send(link, cdb, SRB_DIR_IN, reply, sizeof reply, sense);
  if (answered != nullptr) *answered = replied;
  if (!replied) return 0;
  const uint8_t key = reply[2];  // the whole byte: flag bits set mean "not programming"
  const uint8_t asc = reply[12];
  const uint8_t ascq = reply[13];
  if (key == 0x02 && asc == 0x04 && ascq == 0x07) {
    const uint32_t done = (uint32_t{reply[4]} << 16) | (uint32_t{reply[5]} << 8) | reply[6];
    if (done >= kEndWindowFirst && done <= kEndWindowLast) {
      flags.completionSeen = 1;
      flags.updateSucceeded = 1;
      return 100;
    }
    return static_cast<uint8_t>(done * 100u / kImageSize);
  }
  flags.updateSucceeded = flags.completionSeen == 1 ? 1 : 0;
  return 100;
}
