#include "sim/optical_answers.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpModeSense6 = 0x1A;
constexpr uint8_t kOpPreventAllow = 0x1E;
constexpr uint8_t kOpReadCapacity10 = 0x25;
constexpr uint8_t kOpGetConfiguration = 0x46;
constexpr uint8_t kOpGetEventStatus = 0x4A;
constexpr uint8_t kOpModeSense10 = 0x5A;

constexpr uint8_t kPageCapabilities = 0x2A;
constexpr uint8_t kPageAll = 0x3F;
constexpr uint8_t kMediumTypeNoDisc = 0x70;  // door closed, no disc
constexpr uint8_t kMediumTypeDataDisc = 0x01;  // 120 mm CD-ROM, data only
constexpr uint16_t kProfileCdRom = 0x0008;

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void PutBe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

// Sends a reply of `size` bytes as the data-in phase, no more than the allocation length the
// command block allows.
Outcome Reply(const Command& command, const uint8_t* reply, uint32_t size, uint32_t allocation) {
  return ReplyIn(command, reply, std::min(size, allocation));
}

void PutBe32(uint8_t* p, uint32_t v) {
  PutBe16(p, v >> 16);
  PutBe16(p + 2, v & 0xFFFF);
}

Outcome InvalidField() { return CheckCondition(0x05, 0x24, 0x00); }

// The CD/DVD capabilities and mechanical status page: reads CD-R, CD-RW and DVD-ROM, writes
// CD-R and CD-RW, a tray that locks and ejects. Page code and length come first.
constexpr uint32_t kCapabilitiesSize = 22;
void CapabilitiesPage(uint8_t page[kCapabilitiesSize], bool changeable) {
  std::memset(page, 0, kCapabilitiesSize);
  page[0] = kPageCapabilities;
  page[1] = kCapabilitiesSize - 2;
  if (changeable) return;  // nothing in it can be changed
  page[2] = 0x0B;   // reads CD-R, CD-RW, DVD-ROM
  page[3] = 0x03;   // writes CD-R, CD-RW
  page[4] = 0x41;   // audio play, multisession
  page[5] = 0x03;   // CD-DA commands, accurate stream
  page[6] = 0x29;   // tray loading, eject, lock
  PutBe16(page + 8, 7056);    // maximum read speed, kB/s
  PutBe16(page + 10, 256);    // volume levels
  PutBe16(page + 12, 2048);   // buffer size, KiB
  PutBe16(page + 14, 7056);   // current read speed
  PutBe16(page + 18, 7056);   // maximum write speed
  PutBe16(page + 20, 7056);   // current write speed
}

Outcome ModeSense(const Command& command, bool ten, bool disc) {
  const uint8_t* cdb = command.cdb;
  const uint8_t control = cdb[2] >> 6;  // 0 current, 1 changeable, 2 default, 3 saved
  const uint8_t page = cdb[2] & 0x3F;
  if (control == 3) return CheckCondition(0x05, 0x39, 0x00);  // saving not supported
  if (page != kPageCapabilities && page != kPageAll) return InvalidField();
  const uint32_t header = ten ? 8 : 4;
  uint8_t reply[8 + kCapabilitiesSize] = {};
  CapabilitiesPage(reply + header, control == 1);
  const uint32_t size = header + kCapabilitiesSize;
  const uint8_t mediumType = disc ? kMediumTypeDataDisc : kMediumTypeNoDisc;
  if (ten) {
    PutBe16(reply, size - 2);
    reply[2] = mediumType;
  } else {
    reply[0] = static_cast<uint8_t>(size - 1);
    reply[1] = mediumType;
  }
  const uint32_t allocation = ten ? Be16(cdb + 7) : cdb[4];
  return Reply(command, reply, size, allocation);
}

// Polled media events only: the tray is closed, with a disc or empty; a disc that arrived is
// reported once as new media, then as no change.
Outcome GetEventStatus(const Command& command, OpticalMedium& medium) {
  const uint8_t* cdb = command.cdb;
  if ((cdb[1] & 0x01) == 0) return InvalidField();  // asynchronous notification
  constexpr uint8_t kMediaClass = 0x10;
  constexpr uint8_t kNewMedia = 0x02;
  constexpr uint8_t kMediaPresent = 0x02;
  uint8_t reply[8] = {};
  reply[3] = kMediaClass;  // the classes the drive supports
  uint32_t size = 4;
  if ((cdb[4] & kMediaClass) != 0) {
    reply[2] = 0x04;  // media class
    reply[4] = medium.newMedia ? kNewMedia : 0x00;
    reply[5] = medium.present ? kMediaPresent : 0x00;
    medium.newMedia = false;
    size = 8;
  } else {
    reply[2] = 0x80;  // no event available of the requested classes
  }
  PutBe16(reply, size - 2);
  return Reply(command, reply, size, Be16(cdb + 7));
}

// The profile list (CD-ROM, CD-R, CD-RW, DVD-ROM; CD-ROM current with a disc, none without)
// and the core feature (ATAPI).
Outcome GetConfiguration(const Command& command, bool disc) {
  const uint8_t* cdb = command.cdb;
  const uint8_t requestType = cdb[1] & 0x03;
  const uint16_t start = Be16(cdb + 2);
  uint8_t reply[64] = {};
  uint32_t size = 8;  // header; current profile 0 without a disc
  if (disc) PutBe16(reply + 6, kProfileCdRom);
  auto wanted = [&](uint16_t feature) {
    return requestType == 2 ? feature == start : feature >= start;
  };
  if (wanted(0x0000)) {
    const uint16_t profiles[] = {0x0008, 0x0009, 0x000A, 0x0010};
    uint8_t* f = reply + size;
    f[2] = 0x03;  // persistent, current
    f[3] = static_cast<uint8_t>(4 * (sizeof profiles / sizeof profiles[0]));
    for (size_t i = 0; i < sizeof profiles / sizeof profiles[0]; ++i) {
      PutBe16(f + 4 + 4 * i, profiles[i]);
      if (disc && profiles[i] == kProfileCdRom) f[4 + 4 * i + 2] = 0x01;  // current
    }
    size += 4 + f[3];
  }
  if (wanted(0x0001)) {
    uint8_t* f = reply + size;
    f[1] = 0x01;
    f[2] = 0x0B;  // version 2, persistent, current
    f[3] = 8;
    f[7] = 0x02;  // ATAPI
    f[8] = 0x01;  // device busy events
    size += 12;
  }
  reply[0] = static_cast<uint8_t>((size - 4) >> 24);
  reply[1] = static_cast<uint8_t>((size - 4) >> 16);
  PutBe16(reply + 2, size - 4);
  return Reply(command, reply, size, Be16(cdb + 7));
}

}  // namespace

bool AnswerOptical(const Command& command, OpticalMedium& medium, Outcome& outcome) {
  if (command.cdbLength == 0) return false;
  const uint8_t* cdb = command.cdb;
  switch (cdb[0]) {
    case kOpTestUnitReady:
      outcome = medium.present
                    ? GoodMoved(command, 0)
                    : CheckCondition(kKeyNotReadyNoMedium, kAscMediumNotPresent, 0x00);
      return true;
    case kOpReadCapacity10: {
      // Without a disc a drive would report NOT READY; a pass-through layer that opens the drive
      // as a block device (QEMU's iSCSI initiator) insists on a block size, so the drive answers
      // with an empty disc of 2048-byte blocks instead.
      uint8_t reply[8] = {};
      PutBe32(reply, medium.present ? kDiscLastBlock : 0);
      PutBe32(reply + 4, kOpticalBlockSize);
      outcome = Reply(command, reply, sizeof reply, sizeof reply);
      return true;
    }
    case kOpModeSense6:
    case kOpModeSense10:
      if (command.cdbLength < (cdb[0] == kOpModeSense10 ? 10 : 6)) return false;
      outcome = ModeSense(command, cdb[0] == kOpModeSense10, medium.present);
      return true;
    case kOpGetEventStatus:
      if (command.cdbLength < 10) return false;
      outcome = GetEventStatus(command, medium);
      return true;
    case kOpGetConfiguration:
      if (command.cdbLength < 10) return false;
      outcome = GetConfiguration(command, medium.present);
      return true;
    case kOpPreventAllow:
      outcome = GoodMoved(command, 0);
      return true;
    default:
      return false;
  }
}

Outcome AnswerVitalProductData(const Command& command, uint8_t peripheralByte) {
  if (command.cdbLength < 5 || command.cdb[2] != 0x00) return InvalidField();
  const uint8_t reply[5] = {peripheralByte, 0x00, 0x00, 0x01, 0x00};  // supported: page 0
  const uint32_t allocation = Be16(command.cdb + 3);
  return Reply(command, reply, sizeof reply, allocation);
}

}  // namespace sim
