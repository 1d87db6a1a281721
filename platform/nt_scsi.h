// The SCSI port driver's control requests and structures: the pass-through request, the stored
// inquiry data of an adapter's buses and the adapter's capabilities. On Windows they come from
// the system headers; on Linux the same layout is declared here so that the drive layer and the
// simulated port driver see one set of names on both sides.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#else

constexpr uint32_t IOCTL_SCSI_GET_INQUIRY_DATA = 0x0004100C;
constexpr uint32_t IOCTL_SCSI_GET_CAPABILITIES = 0x00041010;
constexpr uint32_t IOCTL_SCSI_PASS_THROUGH_DIRECT = 0x0004D014;

constexpr uint8_t SCSI_IOCTL_DATA_OUT = 0;
constexpr uint8_t SCSI_IOCTL_DATA_IN = 1;
constexpr uint8_t SCSI_IOCTL_DATA_UNSPECIFIED = 2;

struct SCSI_PASS_THROUGH_DIRECT {
  uint16_t Length;
  uint8_t ScsiStatus;
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
  uint8_t CdbLength;
  uint8_t SenseInfoLength;
  uint8_t DataIn;
  uint32_t DataTransferLength;
  uint32_t TimeOutValue;
  void* DataBuffer;
  uint32_t SenseInfoOffset;
  uint8_t Cdb[16];
};

struct SCSI_BUS_DATA {
  uint8_t NumberOfLogicalUnits;
  uint8_t InitiatorBusId;
  uint32_t InquiryDataOffset;
};

struct SCSI_ADAPTER_BUS_INFO {
  uint8_t NumberOfBuses;
  SCSI_BUS_DATA BusData[1];
};

struct SCSI_INQUIRY_DATA {
  uint8_t PathId;
  uint8_t TargetId;
  uint8_t Lun;
  uint8_t DeviceClaimed;
  uint32_t InquiryDataLength;
  uint32_t NextInquiryDataOffset;
  uint8_t InquiryData[1];
};

struct IO_SCSI_CAPABILITIES {
  uint32_t Length;
  uint32_t MaximumTransferLength;
  uint32_t MaximumPhysicalPages;
  uint32_t SupportedAsynchronousEvents;
  uint32_t AlignmentMask;
  uint8_t TaggedQueuing;
  uint8_t AdapterScansDown;
  uint8_t AdapterUsesPio;
};

#endif

// The one buffer of a pass-through request: the request itself, then the sense buffer that the
// port driver fills (its offset goes into SenseInfoOffset).
struct PassThroughBlock {
  SCSI_PASS_THROUGH_DIRECT sptd;
  uint32_t filler;
  uint8_t sense[32];
};

constexpr uint32_t kPassThroughSenseOffset = offsetof(PassThroughBlock, sense);
constexpr uint32_t kPassThroughSenseLength = 24;  // what the port driver may fill

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "SCSI_PASS_THROUGH_DIRECT is 44 bytes");
static_assert(sizeof(PassThroughBlock) == 80, "PassThroughBlock is 80 bytes");
static_assert(offsetof(PassThroughBlock, sense) == 48, "sense buffer at 48");
static_assert(sizeof(IO_SCSI_CAPABILITIES) == 24, "IO_SCSI_CAPABILITIES is 24 bytes");
#endif
