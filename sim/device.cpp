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

BasicDevice::BasicDevice(Identity identity) : identity_(std::move(identity)) {}

void BasicDevice::StandardInquiry(uint8_t out[36]) const {
  std::memset(out, 0, 36);
  out[0] = identity_.peripheralByte;
  out[1] = (identity_.peripheralByte & 0x1F) == 5 ? 0x80 : 0x00;  // optical media are removable
  out[2] = 0x00;
  out[3] = 0x21;  // response data format 1 (ATAPI)
  out[4] = 31;    // additional length: 36 bytes in all
  CopyPadded(out + 8, identity_.vendor, 8);
  CopyPadded(out + 16, identity_.product, 16);
  CopyPadded(out + 32, identity_.revision, 4);
}

void BasicDevice::CurrentSense(uint8_t sense[kSenseLength]) {
  if (hasPendingSense_) {
    std::memcpy(sense, pendingSense_, kSenseLength);
    hasPendingSense_ = false;
  } else {
    SetSense(sense, 0x00, 0x00, 0x00);
  }
}

bool BasicDevice::ExecuteOwn(const Command&, Outcome&) { return false; }

Outcome BasicDevice::Execute(const Command& command) {
  Outcome outcome{};
  if (ExecuteOwn(command, outcome)) return Remember(outcome);
  const uint8_t opcode = command.cdbLength > 0 ? command.cdb[0] : 0xFF;
  if (opcode == 0x12 && command.cdbLength > 1 && (command.cdb[1] & 0x01) != 0) {
    return Remember(AnswerVitalProductData(command, identity_.peripheralByte));
  }
  if ((identity_.peripheralByte & 0x1F) == 5 && AnswerOpticalWithoutDisc(command, outcome)) {
    return Remember(outcome);
  }
  switch (opcode) {
    case 0x12: {  // INQUIRY: allocation length in byte 4
      uint8_t inquiry[36];
      StandardInquiry(inquiry);
      const uint32_t allocation = command.cdbLength > 4 ? command.cdb[4] : 0;
      const uint32_t n = std::min<uint32_t>({allocation, command.dataLength, 36});
      if (command.direction == kDirIn && command.data != nullptr) {
        std::memcpy(command.data, inquiry, n);
      }
      return GoodWithResidual(command.dataLength - n);
    }
    case 0x03: {  // REQUEST SENSE
      uint8_t sense[kSenseLength];
      CurrentSense(sense);
      const uint32_t allocation = command.cdbLength > 4 ? command.cdb[4] : 0;
      const uint32_t n = std::min<uint32_t>({allocation, command.dataLength, kSenseLength});
      if (command.direction == kDirIn && command.data != nullptr) {
        std::memcpy(command.data, sense, n);
      }
      return GoodWithResidual(command.dataLength - n);
    }
    case 0x1B:  // START STOP UNIT: START is bit 0 of byte 4
      started_ = command.cdbLength > 4 && (command.cdb[4] & 0x01) != 0;
      return Good();
    default:
      return Remember(CheckCondition(0x05, 0x20, 0x00));
  }
}

Outcome BasicDevice::Remember(const Outcome& outcome) {
  if (outcome.status == kStatusCheckCondition) {
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
