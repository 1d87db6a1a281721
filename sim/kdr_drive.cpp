#include "sim/kdr_drive.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sumseal/seal.h"

namespace sim {

uint32_t Be24(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }

bool IsBufferAccess(const Command& command, uint8_t opcode) {
  return command.cdbLength >= 10 && command.cdb[0] == opcode &&
         (command.cdb[1] & 0x1F) == 0x02 && command.cdb[2] == 0x00;
}

bool IsCommit(const Command& command, const DriveModel& model) {
  return command.cdbLength >= 3 && command.cdb[0] == model.opcodes.writeBuffer &&
         (command.cdb[1] & 0x1F) == 0x01 && command.cdb[2] == 0x01;
}

namespace {

constexpr uint8_t kInquiry = 0x12;

// The drive's old firmware: its boot code at the start (a fixed pseudo-random pattern), then
// erased flash.
std::vector<uint8_t> FactoryFlash(const DriveModel& model) {
  std::vector<uint8_t> flash(model.imageSize, 0xFF);
  uint32_t x = 0x7305C;
  const uint32_t bootDataSize = model.bootDataSize < model.imageSize ? model.bootDataSize : 0;
  for (uint32_t i = 0; i < bootDataSize; ++i) {
    x = x * 1103515245u + 12345u;
    flash[i] = static_cast<uint8_t>(x >> 16);
  }
  return flash;
}

Identity KdrIdentity(const DriveModel& model, const std::string& revision) {
  Identity identity = SupportedDriveIdentity();
  identity.vendor = model.vendor;
  identity.product = model.product;
  identity.revision = revision;
  return identity;
}

}  // namespace

std::vector<uint8_t> KdrDrive::FactoryBootData(const DriveModel& model) {
  const std::vector<uint8_t> flash = FactoryFlash(model);
  const size_t size = model.bootDataSize < flash.size() ? model.bootDataSize : flash.size();
  return std::vector<uint8_t>(flash.begin(), flash.begin() + static_cast<std::ptrdiff_t>(size));
}

KdrDrive::KdrDrive(const Clock& clock, KdrDriveConfig config)
    : KdrDrive(clock, kSupportedDrive, std::move(config)) {}

KdrDrive::KdrDrive(const Clock& clock, const DriveModel& model, KdrDriveConfig config)
    : BasicDevice(KdrIdentity(model, config.revision)),
      clock_(clock),
      model_(model),
      usable_(DriveModelIsUsable(model)),
      config_(std::move(config)),
      buffer_(model.bufferSize, 0x00),
      flash_(FactoryFlash(model)),
      powerOnMs_(clock.NowMs()) {
  LimitAnswers(config_.senseLength, config_.inquiryLength);
  if (config_.disc) {
    SetDisc(true);
    ClearVolatileState();  // a disc that was there at power-on is no change of medium
  }
  discPending_ = !config_.disc && config_.discInsertMs >= 0;
  if (config_.unitAttentionAtPowerOn) RaiseUnitAttention(0x29, 0x00);
}

const std::vector<uint8_t>& KdrDrive::flash() {
  Advance();
  return flash_;
}

std::vector<uint8_t> KdrDrive::BootData() {
  Advance();
  const size_t size = model_.bootDataSize < flash_.size() ? model_.bootDataSize : flash_.size();
  return std::vector<uint8_t>(flash_.begin(), flash_.begin() + static_cast<std::ptrdiff_t>(size));
}

bool KdrDrive::DumpFlash(const std::string& path) {
  Advance();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(flash_.data(), 1, flash_.size(), file) == flash_.size();
  return std::fclose(file) == 0 && written;
}

void KdrDrive::Advance() {
  const uint64_t now = clock_.NowMs();
  enum class Due { kNothing, kDisc, kEnd, kReturn };
  for (;;) {
    Due due = Due::kNothing;
    uint64_t at = UINT64_MAX;
    if (discPending_ && powerOnMs_ + static_cast<uint64_t>(config_.discInsertMs) < at) {
      at = powerOnMs_ + static_cast<uint64_t>(config_.discInsertMs);
      due = Due::kDisc;
    }
    if (programming_ && programStartMs_ + config_.programMs + config_.finishMs < at) {
      at = programStartMs_ + config_.programMs + config_.finishMs;
      due = Due::kEnd;
    }
    if (gone_ && returnMs_ < at) {
      at = returnMs_;
      due = Due::kReturn;
    }
    if (due == Due::kNothing || at > now) return;
    switch (due) {
      case Due::kDisc:
        discPending_ = false;
        SetDisc(true);
        break;
      case Due::kEnd:
        EndProgramming(at);
        break;
      case Due::kReturn:
        // Back on the bus as a new device: what it kept in memory is gone with its power.
        gone_ = false;
        ++attachment_;
        ClearVolatileState();
        RaiseUnitAttention(0x29, 0x00);
        if (config_.unitAttentionAfterProgramming) RaiseUnitAttention(0x3F, 0x01);
        break;
      case Due::kNothing:
        return;
    }
  }
}

void KdrDrive::EndProgramming(uint64_t atMs) {
  std::memcpy(flash_.data(), buffer_.data() + model_.imageAddress, model_.imageSize);
  programming_ = false;
  hasPendingSense_ = false;  // a "busy" refusal from during programming is no longer true
  SetRevision(config_.revisionAfterUpdate);
  switch (config_.end) {
    case ProgrammingEnd::kIdle:
      break;
    case ProgrammingEnd::kReset:
      ClearVolatileState();
      RaiseUnitAttention(0x29, 0x00);
      break;
    case ProgrammingEnd::kVanish:
      gone_ = true;
      returnMs_ = atMs + config_.vanishMs;
      return;  // the unit attentions come with the return
  }
  if (config_.unitAttentionAfterProgramming) RaiseUnitAttention(0x3F, 0x01);
}

Outcome KdrDrive::Execute(const Command& command) {
  Advance();
  if (gone_) return NoAnswer();
  return BasicDevice::Execute(command);
}

uint32_t KdrDrive::Attachment() {
  Advance();
  return attachment_;
}

bool KdrDrive::Present() {
  Advance();
  return !gone_;
}

// A LOGICAL UNIT RESET or a target reset clears what a power-on clears (the kept sense, pending
// unit attentions, a media event, the START STOP UNIT state) and raises 06/29/03; the buffer,
// the flash and the revision stay. Programming goes on: the drive programs its flash from its
// own memory, on its own, and a drive that stopped half way would be left without firmware; a
// reset reaches only the part of it that talks to the host. The not-ready time of power-on does
// not start again. A drive gone from the bus gets no reset.
void KdrDrive::Reset() {
  Advance();
  if (gone_) return;
  BasicDevice::Reset();
}

bool KdrDrive::programming() {
  Advance();
  return programming_;
}

uint32_t KdrDrive::BytesProgrammed() {
  Advance();
  const uint32_t flashSize = model_.imageSize;
  if (!programming_) return commits_ > 0 ? flashSize : 0;
  const uint64_t elapsed = clock_.NowMs() - programStartMs_;
  if (elapsed >= config_.programMs) return flashSize;
  return static_cast<uint32_t>(elapsed * flashSize / config_.programMs);
}

bool KdrDrive::BecomingReady() const { return clock_.NowMs() - powerOnMs_ < config_.notReadyMs; }

void KdrDrive::CurrentSense(uint8_t sense[kSenseLength]) {
  // While programming, the progress replaces whatever sense a refused command left behind.
  if (programming()) hasPendingSense_ = false;
  BasicDevice::CurrentSense(sense);
}

void KdrDrive::StateSense(uint8_t sense[kSenseLength]) {
  if (programming()) {
    ProgressSense(sense);
  } else if (BecomingReady()) {
    SetSense(sense, kKeyNotReady, kAscInProgress, kAscqBecomingReady);
  } else {
    BasicDevice::StateSense(sense);
  }
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

void KdrDrive::OnCommand(const Command&) {
  if (++received_ == config_.unitAttentionAtCommand) RaiseUnitAttention(0x28, 0x00);
}

bool KdrDrive::ExecuteOwn(const Command& command, Outcome& outcome) {
  if (command.cdbLength == 0) return false;
  const uint8_t opcode = command.cdb[0];
  if (opcode == model_.opcodes.requestSense || opcode == kInquiry) return false;
  if (programming()) {
    // Whatever else arrives while the flash is programmed (an operating system's own polling
    // included) is refused with the progress.
    outcome = CheckCondition(kKeyNotReady, kAscInProgress, kAscqInProgress);
    ProgressSense(outcome.sense);
    return true;
  }
  if (BecomingReady()) {
    outcome = CheckCondition(kKeyNotReady, kAscInProgress, kAscqBecomingReady);
    return true;
  }
  if (opcode == model_.opcodes.writeBuffer) {
    outcome = WriteBuffer(command);
  } else if (opcode == model_.opcodes.readBuffer) {
    outcome = ReadBuffer(command);
  } else if (opcode == model_.prepareReadBack[0]) {
    outcome = PrepareReadBack(command);
  } else {
    return false;
  }
  return true;
}

namespace {

constexpr uint8_t kCdbLength = kModelCdbLength;
constexpr uint32_t kCommitFillLength = 4096;

Outcome InvalidField() { return CheckCondition(kKeyIllegalRequest, kAscInvalidField, 0x00); }

// Checks a mode 2 / buffer ID 0 block; returns the buffer range it names. The data phase is the
// host's affair: the drive moves the range's bytes through whatever the host offers.
bool BufferRange(const Command& command, const DriveModel& model, uint32_t& offset,
                 uint32_t& length) {
  if (!IsBufferAccess(command, command.cdb[0])) return false;
  const uint8_t* cdb = command.cdb;
  const uint8_t* check = model.checkBytes;
  if (command.cdbLength != kCdbLength || cdb[9] != check[0] || cdb[10] != check[1] ||
      cdb[11] != check[2]) {
    return false;
  }
  offset = Be24(command.cdb + 3);
  length = Be24(command.cdb + 6);
  return uint64_t{offset} + length <= model.bufferSize;
}

}  // namespace

// The model's one prepare block (the supported drive's 0xF1 block: the boot data at 0x180000).
// It announces no data: nothing moves, whatever phase the host offers.
Outcome KdrDrive::PrepareReadBack(const Command& command) {
  if (!usable_ || command.cdbLength != kCdbLength ||
      std::memcmp(command.cdb, model_.prepareReadBack, kCdbLength) != 0) {
    return InvalidField();
  }
  std::memcpy(buffer_.data() + model_.bootDataAddress, flash_.data(), model_.bootDataSize);
  return GoodMoved(command, 0);
}

Outcome KdrDrive::WriteBuffer(const Command& command) {
  if (IsCommit(command, model_)) return Commit(command);
  uint32_t offset = 0;
  uint32_t length = 0;
  if (!BufferRange(command, model_, offset, length)) return InvalidField();
  const uint32_t n = Movable(command, kDirOut, length);
  if (n > 0) std::memcpy(buffer_.data() + offset, command.data, n);
  return GoodMoved(command, n);
}

Outcome KdrDrive::ReadBuffer(const Command& command) {
  uint32_t offset = 0;
  uint32_t length = 0;
  if (!BufferRange(command, model_, offset, length)) return InvalidField();
  const uint32_t n = Movable(command, kDirIn, length);
  if (n > 0) std::memcpy(command.data, buffer_.data() + offset, n);
  return GoodMoved(command, n);
}

// Commit: a 12-byte block with transfer length 0 (bytes 6-8); bytes 3-4 the 16-bit sum of the
// image in the buffer (the supported drive's: 0..0x7FFFF); byte 9 the first check byte (bit
// 0x80: overwrite the boot code too); bytes 10-11 the other two, or 00 00 to skip the seal
// check. It announces no data, so nothing moves: the updater's
// 4096-byte data-in buffer comes back untouched, all of it residual.
Outcome KdrDrive::Commit(const Command& command) {
  if (!usable_ || command.cdbLength != kCdbLength || Be24(command.cdb + 6) != 0) {
    return InvalidField();
  }
  const uint8_t* cdb = command.cdb;
  const uint8_t* check = model_.checkBytes;
  const bool sealChecked = cdb[10] == check[1] && cdb[11] == check[2];
  const bool sealSkipped = cdb[10] == 0x00 && cdb[11] == 0x00;
  if ((cdb[9] & 0x7F) != check[0] || !(sealChecked || sealSkipped)) {
    return InvalidField();
  }
  const uint8_t* image = buffer_.data() + model_.imageAddress;
  const uint32_t imageSize = model_.imageSize;
  uint16_t sum = 0;
  for (uint32_t i = 0; i < imageSize; ++i) sum = static_cast<uint16_t>(sum + image[i]);
  if (sum != ((cdb[3] << 8) | cdb[4])) {
    return CheckCondition(kKeyIllegalRequest, kAscParameterValue, kAscqSumMismatch);
  }
  if (sealChecked) {
    const uint8_t* trailer = image + imageSize - 8;
    const uint32_t stored = (uint32_t{trailer[0]} << 24) | (uint32_t{trailer[1]} << 16) |
                            (uint32_t{trailer[2]} << 8) | trailer[3];
    const bool padded = trailer[4] == 0xFF && trailer[5] == 0xFF && trailer[6] == 0xFF &&
                        trailer[7] == 0xFF;
    if (!padded || stored != sumseal::ComputeImageSeal(image, imageSize, model_.sealWindowStart,
                                                       model_.sealWindowLength)) {
      return CheckCondition(kKeyIllegalRequest, kAscParameterValue, kAscqSealMismatch);
    }
  }
  const uint32_t filled = config_.commitFills ? Movable(command, kDirIn, kCommitFillLength) : 0;
  if (filled > 0) std::memset(command.data, 0, filled);
  programming_ = true;
  programStartMs_ = clock_.NowMs();
  lastOptions_ = cdb[9];
  ++commits_;
  return GoodMoved(command, filled);
}

}  // namespace sim
