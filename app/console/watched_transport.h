// The update's commands as the Linux front end follows them: a transport that forwards every
// command to the real one and notes, from the command block and the answer, which phase of the
// update it belongs to, which block it carries, how far each phase has come and what the last
// failed command was, with its sense. It also holds back the commit once a stop was asked for.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "drive/drive.h"
#include "drive/drive_transport.h"

// The phases in the order an update goes through them.
enum class UpdatePhase : uint8_t {
  kPreparing,    // the stop commands before the image is loaded
  kBootData,     // the drive's own boot data read back into the image
  kTransfer,     // the 128 blocks, each written and read back
  kCommit,       // the command that has the drive program its flash
  kProgramming,  // the polls while the drive programs
  kRevision,     // the drive asked again what it runs (the front end's own step)
};

// "boot data", "transfer", "commit", "programming", "revision" (preparing counts as boot data).
const char* PhaseName(UpdatePhase phase);

// A command that did not bring what its caller needs.
struct FailedCommand {
  bool present = false;
  UpdatePhase phase = UpdatePhase::kPreparing;
  int block = -1;        // the transfer's block (0..127); -1 elsewhere
  int attempts = 0;      // tries at that block so far, this one included
  uint8_t opcode = 0;
  std::string reason;    // what became of it, in the tool's words: "ended in CHECK CONDITION"
  bool hasSense = false;
  uint8_t key = 0, asc = 0, ascq = 0;
};

struct WatchState {
  UpdatePhase phase = UpdatePhase::kPreparing;
  int bootReads = 0;          // boot data read-backs that came back whole (of kBootReads)
  int blocksDone = 0;         // blocks written and read back equal, in order
  int programmedPercent = 0;  // from the drive's progress in its sense data
  bool commitSent = false;    // the commit went to the drive
  bool commitHeld = false;    // a stop held the commit back: it never reached the drive
  bool stopRequested = false;
  FailedCommand lastFailure;      // the last command that failed
  FailedCommand reportedFailure;  // a poll that found the drive reporting a failure
};

// Boot data read-backs in a run: 16 KiB twice, 4096 bytes at a time.
constexpr int kBootReads = 8;
constexpr int kTransferBlocks = 128;

class WatchedTransport final : public DriveTransport {
 public:
  WatchedTransport(platform::Os& os, DriveTransport& inner) : DriveTransport(os), inner_(inner) {}

  bool Load(TransportState& state) override { return inner_.Load(state); }
  void Release(TransportState& state) override { inner_.Release(state); }
  void Discover(DriveList& drives) override { inner_.Discover(drives); }
  void ReleaseDrives(DriveList& drives) override { inner_.ReleaseDrives(drives); }

  // Asks the run to stop. True while nothing has been committed: the engine stops at its next
  // check, and a commit not yet sent is not sent. False once the commit went to the drive,
  // whose programming nothing may interrupt.
  bool RequestStop();
  // For the engine's abort query.
  bool StopRequested() const;
  // The front end's own step after the run.
  void EnterRevisionPhase();
  WatchState Snapshot() const;

 protected:
  ScsiOutcome Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) override;

 private:
  void NoteAnswer(const ScsiRequest& request, ScsiOutcome outcome, uint32_t moved);
  void NoteFailure(const std::string& reason, const uint8_t* sense);
  void NotePoll(const ScsiRequest& request, uint32_t moved);

  DriveTransport& inner_;
  mutable std::mutex mutex_;
  WatchState state_;
  int block_ = -1;  // the block of the command under way
  std::vector<uint8_t> lastWritten_;  // the transfer block last written, to judge its read-back
  int lastWrittenBlock_ = -1;
};
