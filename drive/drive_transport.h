// One interface for reaching drives: loading what a transport needs, discovery, and sending a
// command with a result that says what happened. One implementation per transport (ASPI, NT
// pass-through, SG_IO, the simulated devices), each in its own file, each built with the
// operating system it reaches drives through.
#pragma once

#include <cstdint>

#include "drive/command_trace.h"
#include "drive/drive.h"
#include "platform/os.h"

class DriveTransport {
 public:
  // Records are allocated from `os`'s heap; `os` must outlive the transport.
  explicit DriveTransport(platform::Os& os) : os_(os) {}
  virtual ~DriveTransport() = default;
  DriveTransport(const DriveTransport&) = delete;
  DriveTransport& operator=(const DriveTransport&) = delete;

  // Binds what the transport needs (the ASPI manager's library into `state`).
  // Returns false when it cannot be used; it shows nothing.
  virtual bool Load(TransportState& state) = 0;
  // Frees what Load bound.
  virtual void Release(TransportState& state) = 0;
  // Fills `drives` (from empty) with the CD-ROM-class devices it reaches, at most kMaxDrives.
  virtual void Discover(DriveList& drives) = 0;
  // Releases the records of a list that Discover filled: the devices they hold are closed (a
  // device several records share, once) and the records freed. The list is empty afterwards.
  virtual void ReleaseDrives(DriveList& drives);

  // Sends one command and waits until it has ended. First clears the first 16 sense bytes; a
  // malformed request (no drive or CDB, a CDB length outside 1..16, data length without data) is
  // kNotSent. Every command that reached the transport is traced.
  // A GOOD answer says nothing of how much data moved: `moved` receives the bytes the data
  // phase moved as the transport reports them (kMovedUnknown where it cannot tell), and the
  // caller, which knows what its command announced, judges a short answer. A data-in buffer
  // keeps what it held wherever the drive wrote nothing.
  ScsiOutcome Send(const ScsiRequest& request, uint32_t& moved);
  ScsiOutcome Send(const ScsiRequest& request) {
    uint32_t moved = kMovedUnknown;
    return Send(request, moved);
  }

  // Where the commands are traced from now on; null: nowhere. The trace must outlive its use.
  void SetTrace(drive::CommandTrace* trace) { trace_ = trace; }
  drive::CommandTrace* trace() const { return trace_; }

 protected:
  // Carries a well-formed request. `sent` becomes true once the request went to the transport;
  // `moved` (kMovedUnknown on entry) the bytes moved, where the transport reports them.
  virtual ScsiOutcome Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) = 0;
  // Closes a device that records of this transport hold (ReleaseDrives); nothing by default.
  virtual void CloseDevice(platform::Handle) {}

  // A zero-filled record from the heap; nullptr when there is no memory.
  DriveRecord* NewRecord();
  // Traces one command, if a trace is set.
  void Trace(const uint8_t* cdb, uint8_t cdbLength, uint8_t direction, uint32_t dataLength,
             bool ok, const uint8_t* sense, uint32_t moved = kMovedUnknown);
  platform::Os& os() const { return os_; }

 private:
  platform::Os& os_;
  drive::CommandTrace* trace_ = nullptr;
};
