// The command transport: one ScsiRequest becomes one ASPI SRB_ExecSCSICmd or one NT
// IOCTL_SCSI_PASS_THROUGH_DIRECT request, carried out synchronously on the calling thread.
#include <cstring>

#include "drive/aspi_entry_points.h"
#include "drive/command_trace.h"
#include "drive/drive.h"
#include "drive/pass_through_request.h"
#include "platform/nt_scsi.h"

namespace {

constexpr uint32_t kClearedSenseBytes = 16;
constexpr uint32_t kPassThroughTimeOutSeconds = 0xFFFF;
constexpr uint32_t kStatusPollPaceMs = 1;

// The trace line of a request that reached the transport (sense read only on failure).
void Trace(const ScsiRequest& request, bool ok) {
  drive::TraceCommand(request.cdb, request.cdbLength, request.direction, request.dataLength, ok,
                      request.senseArea);
}

// One SRB_ExecSCSICmd through the ASPI manager.
// Returns 1 when SRB_Status ends SS_COMP; 0 otherwise, with the SRB's 16 sense bytes copied
// (0 without sending when no ASPI manager is bound).
int SendAspi(const ScsiRequest& request, bool& sent) {
  SendASPI32CommandFn send = BoundAspiEntryPoints().sendCommand;
  if (send == nullptr) return 0;
  sent = true;

  SRB_ExecSCSICmd srb;
  std::memset(&srb, 0, sizeof(srb));
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = request.drive->adapterId;
  srb.SRB_Flags = request.direction;
  srb.SRB_Target = request.drive->targetId;
  srb.SRB_Lun = 0;
  srb.SRB_BufLen = request.dataLength;
  srb.SRB_BufPointer = request.data;
  srb.SRB_SenseLen = SENSE_LEN;
  srb.SRB_CDBLen = request.cdbLength;
  std::memcpy(srb.CDBByte, request.cdb, request.cdbLength);

  platform::Handle event = platform::os().createEvent();
  if (event != nullptr) {
    srb.SRB_Flags |= SRB_EVENT_NOTIFY;
    srb.SRB_PostProc = event;
    if (send(&srb) == SS_PENDING) platform::os().waitEvent(event);
    platform::os().closeHandle(event);
  } else {
    // Without an event the manager reports completion only through SRB_Status. As with an
    // event, any answer but SS_PENDING means the request is already over: a manager that refuses
    // it at once may leave SRB_Status at 0, and polling that would never end.
    if (send(&srb) == SS_PENDING) {
      volatile uint8_t* status = &srb.SRB_Status;
      while (*status == SS_PENDING) platform::os().sleepMs(kStatusPollPaceMs);
    }
  }

  if (srb.SRB_Status == SS_COMP) return 1;
  std::memcpy(request.senseArea, srb.SenseArea, sizeof(srb.SenseArea));
  return 0;
}

// One SCSI_PASS_THROUGH_DIRECT on the drive's device handle, data moved through a staging
// buffer aligned to the drive's alignmentMask (a direct transfer needs the adapter's alignment).
// Result: 1 delivered with ScsiStatus 0 (and a data-in phase delivered in full); 0 no staging
// buffer (not sent), DeviceIoControl failed, ScsiStatus nonzero or a data-in phase short (sense
// area = the block's 32 sense bytes, zeros where none were written).
int SendPassThrough(const ScsiRequest& request, bool& sent) {
  const DriveRecord& drive = *request.drive;
  const uint64_t stagingSize = uint64_t{drive.alignmentMask} + request.dataLength;
  if (stagingSize > static_cast<size_t>(-1)) return 0;
  void* staging = platform::os().allocBuffer(stagingSize == 0 ? 1 : static_cast<size_t>(stagingSize));
  if (staging == nullptr) return 0;
  const uintptr_t mask = drive.alignmentMask;
  uint8_t* transfer = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(staging) + mask) & ~mask);

  uint8_t dataIn = 0;  // no data phase goes out as 0, the same code as data out
  if (request.direction & SRB_DIR_OUT) {
    dataIn = SCSI_IOCTL_DATA_OUT;
    if (request.dataLength > 0) std::memcpy(transfer, request.data, request.dataLength);
  } else if (request.direction & SRB_DIR_IN) {
    dataIn = SCSI_IOCTL_DATA_IN;
  }
  PassThroughBlock block;
  drive::FillPassThroughBlock(block, {drive.adapterId, drive.targetId, request.cdb, request.cdbLength,
                                      dataIn, request.dataLength, transfer,
                                      kPassThroughTimeOutSeconds});

  uint32_t returned = 0;
  sent = true;
  const bool delivered = platform::os().deviceControl(
      drive.deviceHandle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof(SCSI_PASS_THROUGH_DIRECT),
      &block, sizeof(PassThroughBlock), &returned);

  // The port driver returns in DataTransferLength how many bytes actually moved. A data-in
  // command that delivered fewer than asked for has failed: the rest of the transfer area is
  // not the drive's answer and must not reach the caller as if it were.
  const bool readsData = dataIn == SCSI_IOCTL_DATA_IN;
  const bool shortRead = readsData && block.sptd.DataTransferLength < request.dataLength;
  int result = 0;
  if (!delivered || block.sptd.ScsiStatus != 0 || shortRead) {
    std::memcpy(request.senseArea, block.sense, sizeof(block.sense));
  } else {
    if (readsData && request.dataLength > 0) {
      std::memcpy(request.data, transfer, request.dataLength);
    }
    result = 1;
  }
  platform::os().freeBuffer(staging);
  return result;
}

}  // namespace

AspiEntryPoints& BoundAspiEntryPoints() {
  static AspiEntryPoints entryPoints{nullptr, nullptr};
  return entryPoints;
}

// Result: true when the transport can be used (always on the NT family).
bool LoadTransport(TransportState& state, uint8_t isWindowsNt, void* owner) {
  if (isWindowsNt != 0) return true;  // the NT family: nothing to load
  platform::Os& os = platform::os();
  state.aspiLibrary = os.loadLibrary("WNASPI32");
  void* support = state.aspiLibrary ? os.getProcAddress(state.aspiLibrary, "GetASPI32SupportInfo") : nullptr;
  void* send = state.aspiLibrary ? os.getProcAddress(state.aspiLibrary, "SendASPI32Command") : nullptr;
  if (support == nullptr || send == nullptr) {
    BoundAspiEntryPoints() = AspiEntryPoints{nullptr, nullptr};
    os.messageBox(owner, "Cannot Load Dynamic Library!!!", os.applicationName(),
                  platform::kMbOkCancel | platform::kMbSystemModal);
    return false;
  }
  BoundAspiEntryPoints() = AspiEntryPoints{reinterpret_cast<GetASPI32SupportInfoFn>(support),
                                           reinterpret_cast<SendASPI32CommandFn>(send)};
  return true;
}

void ReleaseTransport(TransportState& state) {
  if (state.aspiLibrary != nullptr) {
    platform::os().freeLibrary(state.aspiLibrary);
    state.aspiLibrary = nullptr;
  }
}

// Result: 1 the command completed successfully; 0 it failed (sense in senseArea) or was not sent.
int SendScsiRequest(const ScsiRequest& request) {
  std::memset(request.senseArea, 0, kClearedSenseBytes);
  if (request.drive == nullptr || request.cdb == nullptr || request.cdbLength == 0 ||
      request.cdbLength > kMaxCdbLength || (request.dataLength > 0 && request.data == nullptr)) {
    return 0;
  }
  bool sent = false;
  const int result =
      request.useNtPassThrough == 0 ? SendAspi(request, sent) : SendPassThrough(request, sent);
  if (sent) Trace(request, result == 1);
  return result;
}
