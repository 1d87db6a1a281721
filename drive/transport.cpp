// The choice of transport by the Windows version, and the free functions that are the
// transports' entry points for callers that hold the Windows-version flags.
#include "drive/drive.h"
#include "drive/drive_transport.h"

DriveTransport& TransportFor(uint8_t isWindowsNt, uint8_t isNt4OrOlder) {
  if (isWindowsNt == 0) return AspiTransport();  // the Windows 95/98/Me family
  return isNt4OrOlder != 0 ? Nt4PassThroughTransport() : NtPassThroughTransport();
}

// Result: true when the transport can be used (always on the NT family).
bool LoadTransport(TransportState& state, uint8_t isWindowsNt) {
  return TransportFor(isWindowsNt, 0).Load(state);
}

// Only the ASPI transport holds anything.
void ReleaseTransport(TransportState& state) { AspiTransport().Release(state); }

// Result: see ScsiOutcome.
ScsiOutcome SendScsiCommand(const ScsiRequest& request) {
  return (request.useNtPassThrough == 0 ? AspiTransport() : NtPassThroughTransport())
      .Send(request);
}

// Result: 1 the command completed successfully; 0 it failed (sense in senseArea) or was not sent.
int SendScsiRequest(const ScsiRequest& request) {
  return SendScsiCommand(request) == ScsiOutcome::kGood ? 1 : 0;
}

// Result: none; the list holds the CD-ROM-class devices found, at most kMaxDrives.
void DiscoverDrives(uint8_t isWindowsNt, uint8_t isNt4OrOlder, DriveList& drives) {
  TransportFor(isWindowsNt, isNt4OrOlder).Discover(drives);
}
