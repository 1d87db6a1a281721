// What any simulated optical drive answers, with a disc or without, to the commands that an
// operating system and a SCSI pass-through layer send to open and watch it: TEST UNIT READY,
// READ CAPACITY(10), MODE SENSE(6)/(10) with the capabilities page 0x2A, GET EVENT STATUS
// NOTIFICATION, GET CONFIGURATION and PREVENT ALLOW MEDIUM REMOVAL. The device model
// (sim/device) calls this for devices of peripheral type 5 after a device's own commands.
#pragma once

#include "sim/device.h"

namespace sim {

constexpr uint8_t kKeyNotReadyNoMedium = 0x02;  // with ASC 0x3A: medium not present
constexpr uint8_t kAscMediumNotPresent = 0x3A;
constexpr uint32_t kOpticalBlockSize = 2048;
constexpr uint32_t kDiscLastBlock = 299999;  // the disc in a drive that has one: about 600 MB

// Answers `command` when it is one of the commands above (true, `outcome` set, data written);
// false for any other opcode. A media event that GET EVENT STATUS NOTIFICATION reports is
// cleared in `medium`.
bool AnswerOptical(const Command& command, OpticalMedium& medium, Outcome& outcome);

// INQUIRY with EVPD set, for any device: page 0 lists the supported pages (page 0 only); any
// other page is an invalid field. `peripheralByte` is byte 0 of every page.
Outcome AnswerVitalProductData(const Command& command, uint8_t peripheralByte);

}  // namespace sim
