#include "sim/kdr_drive.h"

#include <cstdio>
#include <cstring>

#include "sumseal/seal.h"

namespace sim {

uint32_t Be24(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }

bool IsBufferAccess(const Command& command, uint8_t opcode) {
  return command.cdbLength >= 10 && command.cdb[0] == opcode &&
         (command.cdb[1] & 0x1F) == 0x02 && command.cdb[2] == 0x00;
}

bool IsCommit(const Command& command) {
  return command.cdbLength >= 3 && command.cdb[0] == kOpWriteBuffer &&
         (command.cdb[1] & 0x1F) == 0x01 && command.cdb[2] == 0x01;
}

namespace {

constexpr uint8_t kInquiry = 0x12;

// The drive's old firmware: its boot code in the first 16 KiB (a fixed pseudo-random pattern),
// then erased flash.
std::vector<uint8_t> FactoryFlash() {
  std::vector<uint8_t> flash(KdrDrive::kFlashSize, 0xFF);
  uint32_t x = 0x7305C;
  for (uint32_t i = 0; i < KdrDrive::kBootDataSize; ++i) {
    x = x * 1103515245u + 12345u;
    flash[i] = static_cast<uint8_t>(x >> 16);
  }
  return flash;
}

Identity KdrIdentity(const std::string& revision) {
  Identity identity = SupportedDriveIdentity();
  identity.revision = revision;
  return identity;
}

}  // namespace

std::vector<uint8_t> KdrDrive::FactoryBootData() {
  const std::vector<uint8_t> flash = FactoryFlash();
  return std::vector<uint8_t>(flash.begin(), flash.begin() + kBootDataSize);
}

KdrDrive::KdrDrive(const Clock& clock, KdrDriveConfig config)
    : BasicDevice(KdrIdentity(config.revision)),
      clock_(clock),
      config_(std::move(config)),
      buffer_(kBufferSize, 0x00),
      flash_(FactoryFlash()) {}

const std::vector<uint8_t>& KdrDrive::flash() {
  Advance();
  return flash_;
}

std::vector<uint8_t> KdrDrive::BootData() {
  Advance();
  return std::vector<uint8_t>(flash_.begin(), flash_.begin() + kBootDataSize);
}

bool KdrDrive::DumpFlash(const std::string& path) {
  Advance();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(flash_.data(), 1, flash_.size(), file) == flash_.size();
  return std::fclose(file) == 0 && written;
}

void KdrDrive::Advance() {
  if (!programming_) return;
  if (clock_.NowMs() - programStartMs_ < uint64_t{config_.programMs} + config_.finishMs) return;
  std::memcpy(flash_.data(), buffer_.data(), kFlashSize);
  programming_ = false;
  hasPendingSense_ = false;  // a "busy" refusal from during programming is no longer true
  SetRevision(config_.revisionAfterUpdate);
}

bool KdrDrive::programming() {
  Advance();
  return programming_;
}

uint32_t KdrDrive::BytesProgrammed() {
  Advance();
  if (!programming_) return commits_ > 0 ? kFlashSize : 0;
  const uint64_t elapsed = clock_.NowMs() - programStartMs_;
  if (elapsed >= config_.programMs) return kFlashSize;
  return static_cast<uint32_t>(elapsed * kFlashSize / config_.programMs);
}

void KdrDrive::CurrentSense(uint8_t sense[kSenseLength]) {
  if (!programming()) {
    BasicDevice::CurrentSense(sense);
    return;
  }
  // This replaces whatever sense a refused command left behind.
  hasPendingSense_ = false;
  ProgressSense(sense);
}

// NOT READY, operation in progress, with the bytes done in the INFORMATION field.
void KdrDrive::ProgressSense(uint8_t sense[kSenseLength]) {
  SetSense(sense, kKeyNotReady, kAscInProgress, kAscqInProgress);
  sense[0] = 0xF0;  // INFORMATION is valid
  const uint32_t done = BytesProgrammed();
  sense[3] = static_cast<uint8_t>(done >> 24);
  sense[4] = static_cast<uint8_t>(done >> 16);
  sense[5] = static_cast<uint8_t>(done >> 8);
  sense[6] = static_cast<uint8_t>(done);
}

bool KdrDrive::ExecuteOwn(const Command& command, Outcome& outcome) {
  if (command.cdbLength == 0) return false;
  const uint8_t opcode = command.cdb[0];
  if (programming() && opcode != kOpRequestSense && opcode != kInquiry) {
    // Whatever else arrives while the flash is programmed (an operating system's own polling
    // included) is refused with the progress.
    outcome = CheckCondition(kKeyNotReady, kAscInProgress, kAscqInProgress);
    ProgressSense(outcome.sense);
    return true;
  }
  switch (opcode) {
    case kOpWriteBuffer:
      outcome = WriteBuffer(command);
      return true;
    case kOpReadBuffer:
      outcome = ReadBuffer(command);
      return true;
    case kOpPrepareReadBack:
      outcome = PrepareReadBack(command);
      return true;
    default:
      return false;
  }
}

namespace {

constexpr uint8_t kCdbLength = 12;
constexpr uint32_t kCommitDataLength = 4096;

// The one 0xF1 block the drive knows: place the boot data at 0x180000.
constexpr uint8_t kPrepareBlock[kCdbLength] = {0xF1, 0x01, 0x00, 0x00, 0x40, 0x7D,
                                               0x00, 0x00, 0x00, 0x26, 0x00, 0x00};

Outcome InvalidField() { return CheckCondition(kKeyIllegalRequest, kAscInvalidField, 0x00); }

// Checks a mode 2 / buffer ID 0 block and its data phase; returns the buffer range it names.
bool BufferRange(const Command& command, uint8_t direction, uint32_t& offset, uint32_t& length) {
  if (!IsBufferAccess(command, command.cdb[0])) return false;
  const uint8_t* cdb = command.cdb;
  if (command.cdbLength != kCdbLength || cdb[9] != 0x0A || cdb[10] != 0x0B || cdb[11] != 0x0C) {
    return false;
  }
  offset = Be24(command.cdb + 3);
  length = Be24(command.cdb + 6);
  if (uint64_t{offset} + length > KdrDrive::kBufferSize) return false;
  if (length == 0) return true;
  return command.direction == direction && command.data != nullptr &&
         command.dataLength >= length;
}

}  // namespace

Outcome KdrDrive::PrepareReadBack(const Command& command) {
  if (command.cdbLength != kCdbLength || command.dataLength != 0 ||
      std::memcmp(command.cdb, kPrepareBlock, kCdbLength) != 0) {
    return InvalidField();
  }
  std::memcpy(buffer_.data() + kBootDataAddress, flash_.data(), kBootDataSize);
  return Good();
}

Outcome KdrDrive::WriteBuffer(const Command& command) {
  if (IsCommit(command)) return Commit(command);
  uint32_t offset = 0;
  uint32_t length = 0;
  if (!BufferRange(command, kDirOut, offset, length)) return InvalidField();
  if (length > 0) std::memcpy(buffer_.data() + offset, command.data, length);
  return Good();
}

Outcome KdrDrive::ReadBuffer(const Command& command) {
  uint32_t offset = 0;
  uint32_t length = 0;
  if (!BufferRange(command, kDirIn, offset, length)) return InvalidField();
  if (length > 0) std::memcpy(command.data, buffer_.data() + offset, length);
  // The block says how much the drive sends; a larger data phase is left short.
  return GoodWithResidual(command.dataLength - length);
}

// Commit: a 12-byte block with a data-in phase of 4096 bytes; bytes 3-4 the 16-bit sum of the
// image in buffer 0..0x7FFFF; byte 9 0x0A (bit 0x80: overwrite the boot code too); bytes 10-11
// 0B 0C, or 00 00 to skip the seal check.
Outcome KdrDrive::Commit(const Command& command) {
  if (command.cdbLength != kCdbLength || command.direction != kDirIn ||
      command.dataLength != kCommitDataLength || command.data == nullptr) {
    return InvalidField();
  }
  const uint8_t* cdb = command.cdb;
  const uint8_t* check = kSupportedDrive.checkBytes;
  const bool sealChecked = cdb[10] == check[1] && cdb[11] == check[2];
  const bool sealSkipped = cdb[10] == 0x00 && cdb[11] == 0x00;
  if ((cdb[9] & 0x7F) != check[0] || !(sealChecked || sealSkipped)) {
    return InvalidField();
  }
  uint16_t sum = 0;
  for (uint32_t i = 0; i < kFlashSize; ++i) sum = static_cast<uint16_t>(sum + buffer_[i]);
  if (sum != ((cdb[3] << 8) | cdb[4])) {
    return CheckCondition(kKeyIllegalRequest, kAscParameterValue, kAscqSumMismatch);
  }
  if (sealChecked) {
    const uint8_t* trailer = buffer_.data() + kFlashSize - 8;
    const uint32_t stored = (uint32_t{trailer[0]} << 24) | (uint32_t{trailer[1]} << 16) |
                            (uint32_t{trailer[2]} << 8) | trailer[3];
    const bool padded = trailer[4] == 0xFF && trailer[5] == 0xFF && trailer[6] == 0xFF &&
                        trailer[7] == 0xFF;
    if (!padded || stored != sumseal::ComputeImageSeal(buffer_.data(), kFlashSize,
                                                       kSupportedDrive.sealWindowStart,
                                                       kSupportedDrive.sealWindowLength)) {
      return CheckCondition(kKeyIllegalRequest, kAscParameterValue, kAscqSealMismatch);
    }
  }
  // The data phase carries nothing of meaning, but the drive fills all of it.
  std::memset(command.data, 0, kCommitDataLength);
  programming_ = true;
  programStartMs_ = clock_.NowMs();
  lastOptions_ = cdb[9];
  ++commits_;
  return Good();
}

}  // namespace sim
