#include "drive/aspi_transport.h"

#include <cstring>

#include "drive/drive_records.h"

namespace {

static_assert(kDataIn == SRB_DIR_IN && kDataOut == SRB_DIR_OUT,
              "a request's direction is the SRB_Flags direction");

constexpr uint32_t kStatusPollPaceMs = 1;
constexpr uint8_t kDefaultTargetCount = 2;

}  // namespace

// Result: true when both entry points are bound.
bool AspiTransport::Load(TransportState& state) {
  state.aspiLibrary = windows_.loadLibrary("WNASPI32");
  void* support = state.aspiLibrary ? windows_.getProcAddress(state.aspiLibrary,
                                                              "GetASPI32SupportInfo")
                                    : nullptr;
  void* send =
      state.aspiLibrary ? windows_.getProcAddress(state.aspiLibrary, "SendASPI32Command") : nullptr;
  if (support == nullptr || send == nullptr) {
    getSupportInfo_ = nullptr;
    sendCommand_ = nullptr;
    return false;
  }
  getSupportInfo_ = reinterpret_cast<GetASPI32SupportInfoFn>(support);
  sendCommand_ = reinterpret_cast<SendASPI32CommandFn>(send);
  return true;
}

void AspiTransport::Release(TransportState& state) {
  getSupportInfo_ = nullptr;
  sendCommand_ = nullptr;
  if (state.aspiLibrary != nullptr) {
    windows_.freeLibrary(state.aspiLibrary);
    state.aspiLibrary = nullptr;
  }
}

// One SRB_ExecSCSICmd through the ASPI manager, which moves data straight into the caller's
// buffer and reports no residual: `moved` stays kMovedUnknown.
// Result: kGood when SRB_Status ends SS_COMP; otherwise the SRB's 16 sense bytes are copied and
// the result is kCheckCondition for an error the target reported as CHECK CONDITION, kHostError
// for any other; kNotSent (nothing copied) when no ASPI manager is bound.
ScsiOutcome AspiTransport::Carry(const ScsiRequest& request, bool& sent, uint32_t&) {
  SendASPI32CommandFn send = sendCommand_;
  if (send == nullptr) return ScsiOutcome::kNotSent;
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

  platform::Handle event = windows_.createEvent();
  if (event != nullptr) {
    srb.SRB_Flags |= SRB_EVENT_NOTIFY;
    srb.SRB_PostProc = event;
    if (send(&srb) == SS_PENDING) windows_.waitEvent(event);
    windows_.closeHandle(event);
  } else {
    // Without an event the manager reports completion only through SRB_Status. As with an
    // event, any answer but SS_PENDING means the request is already over: a manager that refuses
    // it at once may leave SRB_Status at 0, and polling that would never end.
    if (send(&srb) == SS_PENDING) {
      volatile uint8_t* status = &srb.SRB_Status;
      while (*status == SS_PENDING) windows_.sleepMs(kStatusPollPaceMs);
    }
  }

  if (srb.SRB_Status == SS_COMP) return ScsiOutcome::kGood;
  std::memcpy(request.senseArea, srb.SenseArea, sizeof(srb.SenseArea));
  if (srb.SRB_Status == SS_ERR && srb.SRB_HaStat == 0 &&
      srb.SRB_TargStat == kScsiStatusCheckCondition) {
    return ScsiOutcome::kCheckCondition;
  }
  return ScsiOutcome::kHostError;
}

// Result: appends each adapter's LUN-0 targets whose INQUIRY byte 0 is exactly 5.
void AspiTransport::Discover(DriveList& drives) {
  drives.count = 0;
  if (getSupportInfo_ == nullptr || sendCommand_ == nullptr) return;
  const uint32_t support = getSupportInfo_();
  const uint8_t status = static_cast<uint8_t>(support >> 8);
  const uint8_t adapters = static_cast<uint8_t>(support);
  if (status != SS_COMP || adapters == 0) return;

  for (uint8_t a = 0; a < adapters; ++a) {
    SRB_HAInquiry inquiry;
    std::memset(&inquiry, 0, sizeof(inquiry));
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    inquiry.SRB_HaId = a;
    sendCommand_(&inquiry);
    if (inquiry.SRB_Status != SS_COMP) continue;

    const uint8_t* unique = inquiry.HA_Unique;
    const uint8_t targets = unique[3] != 0 ? unique[3] : kDefaultTargetCount;
    const uint32_t maxTransfer = uint32_t{unique[4]} | uint32_t{unique[5]} << 8 |
                                 uint32_t{unique[6]} << 16 | uint32_t{unique[7]} << 24;

    for (uint8_t t = 0; t < targets; ++t) {
      SRB_GDEVBlock device;
      std::memset(&device, 0, sizeof(device));
      device.SRB_Cmd = SC_GET_DEV_TYPE;
      device.SRB_HaId = a;
      device.SRB_Target = t;
      device.SRB_Lun = 0;
      sendCommand_(&device);
      if (device.SRB_Status != SS_COMP || device.SRB_DeviceType != 5) continue;
      // A ninth drive has no slot: it is not listed and nothing is asked of it.
      if (drive::ListIsFull(drives)) continue;

      DriveRecord* record = NewRecord();
      if (record == nullptr) continue;
      record->adapterId = a;
      record->targetId = t;
      record->maxTransferLength = maxTransfer;
      record->alignmentMask = unique[0];

      uint8_t reply[drive::kStandardInquiryLength] = {};
      uint8_t sense[kSenseAreaSize] = {};
      static const uint8_t kInquiryCdb[12] = {0x12, 0, 0, 0, drive::kStandardInquiryLength, 0,
                                              0,    0, 0, 0, 0,                             0};
      const ScsiRequest request = RequestFor(*record, kInquiryCdb, sizeof(kInquiryCdb), kDataIn,
                                             reply, sizeof(reply), sense);
      if (Send(request) == ScsiOutcome::kGood && reply[0] == drive::kCdRomPeripheralByte) {
        drive::SetIdentity(*record, reply);
        drive::Append(drives, record);
      } else {
        windows_.heapFree(record);
      }
    }
  }
}

