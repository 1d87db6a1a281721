// One interface for reaching drives: loading what a transport needs, discovery, and sending a
// command with a result that says what happened. One implementation per transport (ASPI, NT
// pass-through), each in its own file; the one the Windows version calls for is chosen once.
#pragma once

#include <cstdint>

#include "drive/drive.h"

class DriveTransport {
 public:
  virtual ~DriveTransport() = default;

  // Binds what the transport needs (the ASPI manager's library into `state`).
  // Returns false when it cannot be used; it shows nothing.
  virtual bool Load(TransportState& state) = 0;
  // Frees what Load bound.
  virtual void Release(TransportState& state) = 0;
  // Fills `drives` (from empty) with the CD-ROM-class devices it reaches, at most kMaxDrives.
  virtual void Discover(DriveList& drives) = 0;

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

 protected:
  // Carries a well-formed request. `sent` becomes true once the request went to the transport;
  // `moved` (kMovedUnknown on entry) the bytes moved, where the transport reports them.
  virtual ScsiOutcome Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) = 0;
};

// The ASPI manager (WNASPI32) of the Windows 95/98/Me family.
DriveTransport& AspiTransport();
// SCSI pass-through on drive-letter devices, NT family. The NT 4 transport finds drives by
// walking each letter's stored inquiry data; the later one by an INQUIRY through each letter.
DriveTransport& NtPassThroughTransport();
DriveTransport& Nt4PassThroughTransport();

// The transport the Windows version calls for: ASPI off the NT family, else NT pass-through
// (with the NT 4 walk on NT 4 and older).
DriveTransport& TransportFor(uint8_t isWindowsNt, uint8_t isNt4OrOlder);
