// ASPI for Win32: the request blocks and codes of the ASPI manager (WNASPI32), from their
// published layouts, packed to 1-byte alignment as the manager reads them.
#pragma once

#include <cstddef>
#include <cstdint>

// ASPI commands (SRB_Cmd).
constexpr uint8_t SC_HA_INQUIRY = 0x00;
constexpr uint8_t SC_GET_DEV_TYPE = 0x01;
constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;
constexpr uint8_t SC_ABORT_SRB = 0x03;
constexpr uint8_t SC_RESET_DEV = 0x04;

// Request status (SRB_Status) and the status byte of GetASPI32SupportInfo.
constexpr uint8_t SS_PENDING = 0x00;
constexpr uint8_t SS_COMP = 0x01;
constexpr uint8_t SS_ABORTED = 0x02;
constexpr uint8_t SS_ABORT_FAIL = 0x03;
constexpr uint8_t SS_ERR = 0x04;
constexpr uint8_t SS_INVALID_CMD = 0x80;
constexpr uint8_t SS_INVALID_HA = 0x81;
constexpr uint8_t SS_NO_DEVICE = 0x82;
constexpr uint8_t SS_INVALID_SRB = 0xE0;
constexpr uint8_t SS_FAILED_INIT = 0xE4;
constexpr uint8_t SS_ASPI_IS_BUSY = 0xE5;
constexpr uint8_t SS_BUFFER_TO_BIG = 0xE6;
constexpr uint8_t SS_NO_ADAPTERS = 0xE8;

// Request flags (SRB_Flags).
constexpr uint8_t SRB_POSTING = 0x01;
constexpr uint8_t SRB_ENABLE_RESIDUAL_COUNT = 0x04;
constexpr uint8_t SRB_DIR_IN = 0x08;
constexpr uint8_t SRB_DIR_OUT = 0x10;
constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;

constexpr uint8_t SENSE_LEN = 14;

// Host adapter status (SRB_HaStat) for a target that does not answer selection.
constexpr uint8_t HASTAT_SEL_TO = 0x11;

#pragma pack(push, 1)

struct SRB_HAInquiry {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t HA_Count;
  uint8_t HA_SCSI_ID;
  uint8_t HA_ManagerId[16];
  uint8_t HA_Identifier[16];
  uint8_t HA_Unique[16];
  uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint8_t SRB_DeviceType;
  uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint16_t SRB_Rsvd1;
  uint32_t SRB_BufLen;
  uint8_t* SRB_BufPointer;
  uint8_t SRB_SenseLen;
  uint8_t SRB_CDBLen;
  uint8_t SRB_HaStat;
  uint8_t SRB_TargStat;
  void* SRB_PostProc;
  uint8_t SRB_Rsvd2[20];
  uint8_t CDBByte[16];
  uint8_t SenseArea[SENSE_LEN + 2];
};

#pragma pack(pop)

// The two entry points of the ASPI manager (cdecl, as the manager exports them).
using GetASPI32SupportInfoFn = uint32_t (*)();
using SendASPI32CommandFn = uint32_t (*)(void* srb);

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SRB_ExecSCSICmd) == 80, "SRB_ExecSCSICmd is 80 bytes");
static_assert(sizeof(SRB_HAInquiry) == 60, "SRB_HAInquiry is 60 bytes");
static_assert(sizeof(SRB_GDEVBlock) == 12, "SRB_GDEVBlock is 12 bytes");
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48, "CDBByte at 48");
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64, "SenseArea at 64");
#endif
