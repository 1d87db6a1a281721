// The drive's download protocol: seven commands, each one fixed 12-byte command block sent
// through the drive's transport. Each answers true when the transport reports success, except
// where noted. `senseArea` (kSenseAreaSize bytes) receives the drive's sense data when a command
// fails.
#pragma once

#include <cstdint>

#include "drive/drive.h"
#include "drive/drive_transport.h"

// The drive that the commands go to, and how.
struct DriveLink {
  const DriveRecord* drive;
  DriveTransport* transport;
  uint8_t useNtPassThrough;  // carried in each request
};

bool StopUnit(const DriveLink& link, uint8_t* senseArea);
// WRITE BUFFER of the 4096 bytes at `block` to drive buffer `address`.
bool WriteBlock(const DriveLink& link, uint32_t address, const uint8_t* block,
                uint8_t* senseArea);
// True when the read-back of `address` succeeds and all 4096 bytes equal `expected`.
bool VerifyBlock(const DriveLink& link, uint32_t address, const uint8_t* expected,
                 uint8_t* senseArea);
bool ReadDriveBuffer(const DriveLink& link, uint32_t address, uint32_t length,
                     uint8_t* destination);
bool PrepareReadBack(const DriveLink& link);

// The two options of the commit, from the dialog's hidden check boxes.
struct CommitOptions {
  bool forceBootOverwrite;
  bool disableChecksumProtect;
};
bool CommitUpdate(const DriveLink& link, uint16_t imageSum, CommitOptions options,
                  uint8_t* senseArea);

// Drive progress values (bytes programmed) that count as the end of programming.
constexpr uint32_t kEndWindowFirst = 0x7E000;
constexpr uint32_t kEndWindowLast = 0x80000;

// What the polling of one run has seen.
struct ProgressFlags {
  int32_t completionSeen;   // 1 once a poll saw the end window
  int32_t updateSucceeded;  // the outcome of the last deciding poll
};

// The drive's programming progress in per cent; 100 ends the polling. Sets `flags`.
// `answered` (if given) says whether the drive answered at all: a REQUEST SENSE that failed is
// no answer, which decides nothing (the result is then 0 and the flags stay as they were).
uint8_t PollProgress(const DriveLink& link, ProgressFlags& flags, bool* answered = nullptr);
