#include "sim/device.h"

#include "sim/optical_answers.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "drive/supported_model.h"

namespace sim {
namespace {

void CopyPadded(uint8_t* out, const std::string& text, size_t width) {
  std::memset(out, ' ', width);
  std::memcpy(out, text.data(), std::min(text.size(), width));
}

}  // namespace

void SetSense(uint8_t sense[kSenseLength], uint8_t key, uint8_t asc, uint8_t ascq) {
  std::memset(sense, 0, kSenseLength);
  sense[0] = 0x70;
  sense[2] = key;
  sense[7] = 10;
  sense[12] = asc;
  sense[13] = ascq;
}

Outcome Good() {
  Outcome o{};
  o.status = kStatusGood;
  o.delivered = true;
  return o;
}

Outcome GoodWithResidual(uint32_t residual) {
  Outcome o = Good();
  o.residual = residual;
  return o;
}

Outcome CheckCondition(uint8_t key, uint8_t asc, uint8_t ascq) {
  Outcome o{};
  o.status = kStatusCheckCondition;
  o.delivered = true;
  SetSense(o.sense, key, asc, ascq);
  return o;
}

Outcome NoAnswer() {
  Outcome o{};
  o.delivered = false;
  return o;
}

uint32_t Movable(const Command& command, uint8_t direction, uint32_t wanted) {
  if (command.direction != direction || command.data == nullptr) return 0;
  return std::min(wanted, command.dataLength);
}

Outcome GoodMoved(const Command& command, uint32_t moved) {
  return GoodWithResidual(command.dataLength - std::min(moved, command.dataLength));
}

Outcome ReplyIn(const Command& command, const uint8_t* reply, uint32_t size) {
  const uint32_t n = Movable(command, kDirIn, size);
  if (n > 0) std::memcpy(command.data, reply, n);
  return GoodMoved(command, n);
}

BasicDevice::BasicDevice(Identity identity) : identity_(std::move(identity)) {}

void BasicDevice::StandardInquiry(uint8_t out[36]) const {
  std::memset(out, 0, 36);
  out[0] = identity_.peripheralByte;
  out[1] = (identity_.peripheralByte & 0x1F) == 5 ? 0x80 : 0x00;  // optical media are removable
  out[2] = 0x00;
  out[3] = 0x21;  // response data format 1 (ATAPI)
  out[4] = 31;    // additional length: 36 bytes in all, even when fewer are delivered
  CopyPadded(out + 8, identity_.vendor, 8);
  CopyPadded(out + 16, identity_.product, 16);
  CopyPadded(out + 32, identity_.revision, 4);
  std::memset(out + inquiryLength_, 0, 36 - inquiryLength_);
}

void BasicDevice::LimitAnswers(uint32_t senseLength, uint32_t inquiryLength) {
  senseLength_ = std::min(senseLength, kSenseLength);
  inquiryLength_ = std::min<uint32_t>(inquiryLength, 36);
}

void BasicDevice::RaiseUnitAttention(uint8_t asc, uint8_t ascq) {
  if (asc == 0x29) attentionCount_ = 0;  // a power-on or reset condition supersedes the rest
  for (uint32_t i = 0; i < attentionCount_; ++i) {
    if (attentions_[i].asc == asc && attentions_[i].ascq == ascq) return;
  }
  if (attentionCount_ == kMaxAttentions) return;
  attentions_[attentionCount_++] = Attention{asc, ascq};
}

bool BasicDevice::TakeUnitAttention(uint8_t sense[kSenseLength]) {
  if (attentionCount_ == 0) return false;
  SetSense(sense, 0x06, attentions_[0].asc, attentions_[0].ascq);
  std::memmove(attentions_, attentions_ + 1, (attentionCount_ - 1) * sizeof attentions_[0]);
  --attentionCount_;
  return true;
}

void BasicDevice::SetDisc(bool present) {
  if (present && !medium_.present) {
    medium_.newMedia = true;
    RaiseUnitAttention(0x28, 0x00);
  }
  medium_.present = present;
  if (!present) medium_.newMedia = false;
}

void BasicDevice::ClearVolatileState() {
  hasPendingSense_ = false;
  attentionCount_ = 0;
  medium_.newMedia = false;
  started_ = true;
}

void BasicDevice::Reset() {
  ClearVolatileState();
  RaiseUnitAttention(0x29, 0x03);
}

void BasicDevice::StateSense(uint8_t sense[kSenseLength]) { SetSense(sense, 0x00, 0x00, 0x00); }

void BasicDevice::CurrentSense(uint8_t sense[kSenseLength]) {
  if (hasPendingSense_) {
    std::memcpy(sense, pendingSense_, kSenseLength);
    hasPendingSense_ = false;
  } else if (!TakeUnitAttention(sense)) {
    StateSense(sense);
  }
}

bool BasicDevice::ExecuteOwn(const Command&, Outcome&) { return false; }

Outcome BasicDevice::Execute(const Command& command) {
  OnCommand(command);
  const uint8_t opcode = command.cdbLength > 0 ? command.cdb[0] : 0xFF;
  // The kept sense answers the REQUEST SENSE that follows its command, and nothing later.
  if (opcode != 0x03) hasPendingSense_ = false;
  // INQUIRY and REQUEST SENSE never report a unit attention; on an optical drive (MMC) neither
  // do GET CONFIGURATION and GET EVENT STATUS NOTIFICATION.
  const bool optical = (identity_.peripheralByte & 0x1F) == 5;
  const bool exempt = opcode == 0x03 || opcode == 0x12 ||
                      (optical && (opcode == 0x46 || opcode == 0x4A));
  Outcome outcome{};
  if (!exempt && attentionCount_ > 0) {
    outcome = CheckCondition(0x06, 0x00, 0x00);
    TakeUnitAttention(outcome.sense);  // reported here, once: the command is not executed
  } else {
    outcome = Dispatch(command);
  }
  // Nothing of the data phase moves with a failed command.
  if (outcome.delivered && outcome.status != kStatusGood) outcome.residual = command.dataLength;
  return Remember(outcome);
}

Outcome BasicDevice::Dispatch(const Command& command) {
  Outcome outcome{};
  if (ExecuteOwn(command, outcome)) return outcome;
  const uint8_t opcode = command.cdbLength > 0 ? command.cdb[0] : 0xFF;
  if (opcode == 0x12 && command.cdbLength > 1 && (command.cdb[1] & 0x01) != 0) {
    return AnswerVitalProductData(command, identity_.peripheralByte);
  }
  if ((identity_.peripheralByte & 0x1F) == 5 && AnswerOptical(command, medium_, outcome)) {
    return outcome;
  }
  switch (opcode) {
    case 0x12: {  // INQUIRY: allocation length in byte 4
      uint8_t inquiry[36];
      StandardInquiry(inquiry);
      const uint32_t allocation = command.cdbLength > 4 ? command.cdb[4] : 0;
      return ReplyIn(command, inquiry, std::min(allocation, inquiryLength_));
    }
    case 0x03: {  // REQUEST SENSE
      uint8_t sense[kSenseLength];
      CurrentSense(sense);
      const uint32_t allocation = command.cdbLength > 4 ? command.cdb[4] : 0;
      return ReplyIn(command, sense, std::min(allocation, senseLength_));
    }
    case 0x1B:  // START STOP UNIT: START is bit 0 of byte 4
      started_ = command.cdbLength > 4 && (command.cdb[4] & 0x01) != 0;
      return GoodMoved(command, 0);
    default:
      return CheckCondition(0x05, 0x20, 0x00);
  }
}

Outcome BasicDevice::Remember(const Outcome& outcome) {
  if (outcome.delivered && outcome.status == kStatusCheckCondition) {
    std::memcpy(pendingSense_, outcome.sense, kSenseLength);
    hasPendingSense_ = true;
  }
  return outcome;
}

bool FailingInquiryDevice::ExecuteOwn(const Command& command, Outcome& outcome) {
  if (command.cdbLength == 0 || command.cdb[0] != 0x12) return false;
  outcome = CheckCondition(0x04, 0x44, 0x00);
  return true;
}

Identity SupportedDriveIdentity() {
  return {kSupportedDrive.vendor, kSupportedDrive.product, "TR07", 0x05};
}
Identity OtherOpticalIdentity() { return {"OTHERCO ", "DVD-ROM DR-1600 ", "1.02", 0x05}; }
Identity DiskIdentity() { return {"ATA     ", "FIXED DISK 80G  ", "3.AA", 0x00}; }

}  // namespace sim
