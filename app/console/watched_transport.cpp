#include "app/console/watched_transport.h"

#include <cstring>

#include "drive/supported_model.h"
#include "engine/download_commands.h"
#include "engine/firmware_image.h"

namespace {

constexpr uint8_t kBufferMode = 0x02;  // WRITE/READ BUFFER of the transfer and the boot data
constexpr uint8_t kCommitMode = 0x01;

uint32_t AddressOf(const uint8_t* cdb) {
  return (uint32_t{cdb[3]} << 16) | (uint32_t{cdb[4]} << 8) | cdb[5];
}

const char* OutcomeWords(ScsiOutcome outcome) {
  switch (outcome) {
    case ScsiOutcome::kCheckCondition: return "ended in CHECK CONDITION";
    case ScsiOutcome::kHostError: return "ended in a host or driver error";
    case ScsiOutcome::kOsError: return "ended in an operating-system error";
    case ScsiOutcome::kNotSent: return "could not be sent";
    case ScsiOutcome::kGood: break;
  }
  return "ended in GOOD";
}

}  // namespace

const char* PhaseName(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::kPreparing:
    case UpdatePhase::kBootData: return "boot data";
    case UpdatePhase::kTransfer: return "transfer";
    case UpdatePhase::kCommit: return "commit";
    case UpdatePhase::kProgramming: return "programming";
    case UpdatePhase::kRevision: return "revision";
  }
  return "boot data";
}

bool WatchedTransport::RequestStop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_.commitSent) return false;
  state_.stopRequested = true;
  return true;
}

bool WatchedTransport::StopRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_.stopRequested;
}

void WatchedTransport::EnterRevisionPhase() {
  std::lock_guard<std::mutex> lock(mutex_);
  state_.phase = UpdatePhase::kRevision;
}

WatchState WatchedTransport::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

ScsiOutcome WatchedTransport::Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) {
  // The real transport traces what it carries: this one adds no line of its own.
  sent = false;
  const uint8_t* cdb = request.cdb;
  const uint8_t mode = request.cdbLength > 1 ? static_cast<uint8_t>(cdb[1] & 0x1F) : 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    block_ = -1;
    if (cdb[0] == kOpPrepareReadBack) {
      state_.phase = UpdatePhase::kBootData;
    } else if ((cdb[0] == kOpWriteBuffer || cdb[0] == kOpReadBuffer) && mode == kBufferMode &&
               request.cdbLength >= 6) {
      const uint32_t address = AddressOf(cdb);
      if (address >= kSupportedDrive.bootDataAddress) {
        state_.phase = UpdatePhase::kBootData;
      } else {
        state_.phase = UpdatePhase::kTransfer;
        block_ = static_cast<int>(address / kBlockSize);
      }
      if (cdb[0] == kOpWriteBuffer && block_ >= 0) {
        lastWrittenBlock_ = block_;
        lastWritten_.assign(request.data, request.data + request.dataLength);
      }
    } else if (cdb[0] == kOpWriteBuffer && mode == kCommitMode) {
      state_.phase = UpdatePhase::kCommit;
      // A stop asked for before the commit went out keeps it from the drive, however close
      // behind the last block's check it came.
      if (state_.stopRequested) {
        state_.commitHeld = true;
        return ScsiOutcome::kNotSent;
      }
      state_.commitSent = true;
    } else if (cdb[0] == kOpRequestSense && state_.commitSent) {
      state_.phase = UpdatePhase::kProgramming;
    }
  }
  const ScsiOutcome outcome = inner_.Send(request, moved);
  NoteAnswer(request, outcome, moved);
  return outcome;
}

void WatchedTransport::NoteAnswer(const ScsiRequest& request, ScsiOutcome outcome,
                                  uint32_t moved) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint8_t op = request.cdb[0];
  if (outcome != ScsiOutcome::kGood) {
    NoteFailure(OutcomeWords(outcome),
                outcome == ScsiOutcome::kCheckCondition ? request.senseArea : nullptr);
    state_.lastFailure.opcode = op;
    return;
  }
  const bool readBack = op == kOpReadBuffer && (request.cdb[1] & 0x1F) == kBufferMode;
  if (readBack && moved != kMovedUnknown && moved < request.dataLength) {
    NoteFailure("brought " + std::to_string(moved) + " of " +
                    std::to_string(request.dataLength) + " bytes",
                nullptr);
    state_.lastFailure.opcode = op;
    return;
  }
  if (readBack && state_.phase == UpdatePhase::kBootData) {
    ++state_.bootReads;
  } else if (readBack && block_ >= 0) {
    if (block_ != lastWrittenBlock_ || lastWritten_.size() != request.dataLength ||
        std::memcmp(lastWritten_.data(), request.data, request.dataLength) != 0) {
      NoteFailure("brought back other bytes than the block sent", nullptr);
      state_.lastFailure.opcode = op;
      return;
    }
    if (block_ + 1 > state_.blocksDone) state_.blocksDone = block_ + 1;
  } else if (op == kOpRequestSense && state_.phase == UpdatePhase::kProgramming) {
    NotePoll(request, moved);
  }
}

void WatchedTransport::NoteFailure(const std::string& reason, const uint8_t* sense) {
  FailedCommand& f = state_.lastFailure;
  const int attempts = block_ >= 0 && f.present && f.block == block_ ? f.attempts : 0;
  f = FailedCommand{};
  f.present = true;
  f.phase = state_.phase;
  f.block = block_;
  f.attempts = block_ >= 0 ? attempts + 1 : 0;
  f.reason = reason;
  if (sense != nullptr && (sense[0] & 0x7F) >= 0x70) {
    f.hasSense = true;
    f.key = static_cast<uint8_t>(sense[2] & 0x0F);
    f.asc = sense[12];
    f.ascq = sense[13];
  }
}

// The drive's progress, or the failure it reports, in the sense data a poll brought.
void WatchedTransport::NotePoll(const ScsiRequest& request, uint32_t moved) {
  const uint8_t* reply = request.data;
  if (reply == nullptr || request.dataLength < 14) return;
  if (moved != kMovedUnknown && moved < 14) return;
  const uint8_t code = reply[0] & 0x7F;
  if (code != 0x70 && code != 0x71) return;
  const uint8_t key = reply[2] & 0x0F;
  const uint8_t asc = reply[12];
  const uint8_t ascq = reply[13];
  if (key == 0x02 && asc == 0x04 && ascq == 0x07) {
    const uint32_t done = (uint32_t{reply[4]} << 16) | (uint32_t{reply[5]} << 8) | reply[6];
    const uint32_t size = kSupportedDrive.imageSize;
    // The drive's end window counts as the end, as the engine takes it.
    state_.programmedPercent =
        done >= kEndWindowFirst ? 100 : static_cast<int>(done * 100u / size);
    return;
  }
  if (key == 0x06) return;  // a unit attention says nothing of the programming
  if (key == 0x00 || key == 0x01 || (key == 0x02 && asc == 0x3A)) return;  // idle
  FailedCommand& f = state_.reportedFailure;
  f = FailedCommand{};
  f.present = true;
  f.phase = UpdatePhase::kProgramming;
  f.opcode = kOpRequestSense;
  f.reason = "found the drive reporting a failure";
  f.hasSense = true;
  f.key = key;
  f.asc = asc;
  f.ascq = ascq;
}
