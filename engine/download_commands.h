// The drive's download protocol: seven commands, each one fixed 12-byte command block sent
// through the drive's transport. Each answers true when the transport reports success and the
// data phase brought what the command needs, except where noted. `senseArea` (kSenseAreaSize
// bytes) receives the drive's sense data when a command fails.
//
// A transport reports how many bytes moved, where it can tell; each command judges that by what
// its block announced: a read-back must bring all 4096 bytes, the commit brings nothing, the
// progress poll needs the sense bytes it reads. Where no count is reported, the answer is judged
// by its content. A command that the drive answers with UNIT ATTENTION was not executed: it is
// sent once more.
#pragma once

#include <cstdint>

#include "drive/drive.h"
#include "drive/drive_transport.h"
#include "drive/supported_model.h"

// The drive that the commands go to, and how: the model's description gives the commands their
// opcodes, check bytes, the prepare block, and the poll its image size and end window.
struct DriveLink {
  const DriveRecord* drive;
  DriveTransport* transport;
  const DriveModel* model = &kSupportedDrive;
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
// `outcome` (if given) receives what became of the command, so that a caller can tell a commit
// the drive refused (CHECK CONDITION: not executed) from one that may have reached it.
bool CommitUpdate(const DriveLink& link, uint16_t imageSum, CommitOptions options,
                  uint8_t* senseArea, ScsiOutcome* outcome = nullptr);

// The supported drive's progress values (bytes programmed) that count as the end of
// programming; a link's poll uses its own model's window.
constexpr uint32_t kEndWindowFirst = kSupportedDrive.endWindowFirst;
constexpr uint32_t kEndWindowLast = kSupportedDrive.endWindowLast;

// What the polling of one run has seen.
struct ProgressFlags {
  int32_t completionSeen;   // 1 once a poll saw the end window
  int32_t updateSucceeded;  // the outcome of the last deciding poll
  int32_t programmingSeen;  // 1 once a poll saw the drive programming (02/04/07)
  int32_t endedReady;       // 1 when the deciding poll found the drive idle, with no error
};

// What one progress poll brought.
enum class PollAnswer : uint8_t {
  kAboutProgramming,  // busy with its progress, or no longer programming: it decided
  kNoAnswer,          // failed, or too short to hold the bytes the poll reads: decides nothing
  kUnitAttention,     // the drive reported a unit attention: an answer, but not about programming
};

// The drive's programming progress in per cent; 100 ends the polling. Sets `flags`.
// `answer` (if given) says what the reply was; only kAboutProgramming decides anything (the
// result is otherwise 0 and the flags stay as they were).
uint8_t PollProgress(const DriveLink& link, ProgressFlags& flags, PollAnswer* answer = nullptr);

// Time-outs, in seconds, for a transport that bounds each command by its own (SG_IO): a minute
// for a command, as the field's tools give one; longer for the commit; a poll short enough that
// a drive gone silent is noticed well within the minute the run waits for an answer.
constexpr uint32_t kCommandTimeOutSeconds = 60;
constexpr uint32_t kCommitTimeOutSeconds = 300;
constexpr uint32_t kPollTimeOutSeconds = 5;
