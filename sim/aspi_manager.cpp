#include "sim/aspi_manager.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sim {
namespace {

AspiManager* g_current = nullptr;
char g_libraryToken;

bool IsAspiLibraryName(const char* name) {
  if (name == nullptr) return false;
  std::string lower;
  for (const char* p = name; *p != '\0'; ++p) {
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*p))));
  }
  return lower == "wnaspi32" || lower == "wnaspi32.dll";
}

}  // namespace

void SetHaUnique(uint8_t unique[16], uint16_t alignmentMask, uint8_t maxTargets,
                 uint32_t maxTransferLength) {
  std::memset(unique, 0, 16);
  unique[0] = static_cast<uint8_t>(alignmentMask);
  unique[1] = static_cast<uint8_t>(alignmentMask >> 8);
  unique[3] = maxTargets;
  unique[4] = static_cast<uint8_t>(maxTransferLength);
  unique[5] = static_cast<uint8_t>(maxTransferLength >> 8);
  unique[6] = static_cast<uint8_t>(maxTransferLength >> 16);
  unique[7] = static_cast<uint8_t>(maxTransferLength >> 24);
}

AspiManager::~AspiManager() {
  if (g_current == this) g_current = nullptr;
}

AspiManager* AspiManager::Current() { return g_current; }
void AspiManager::MakeCurrent() { g_current = this; }
void* AspiManager::LibraryToken() { return &g_libraryToken; }

uint8_t AspiManager::AddAdapter(const uint8_t haUnique[16]) {
  AspiAdapter adapter;
  std::memcpy(adapter.haUnique, haUnique, 16);
  adapters_.push_back(adapter);
  return static_cast<uint8_t>(adapters_.size() - 1);
}

void AspiManager::AddTarget(uint8_t ha, uint8_t target, Device* device) {
  AddTarget(ha, target, device, device != nullptr ? (device->PeripheralByte() & 0x1F) : 0x1F);
}

void AspiManager::AddTarget(uint8_t ha, uint8_t target, Device* device, uint8_t deviceType) {
  if (ha >= adapters_.size()) return;
  adapters_[ha].targets.push_back(AspiTarget{target, deviceType, device});
}

void AspiManager::SetAdapterInquiryFails(uint8_t ha, bool fails) {
  if (ha < adapters_.size()) adapters_[ha].inquiryFails = fails;
}

const AspiTarget* AspiManager::FindTarget(uint8_t ha, uint8_t target) const {
  if (ha >= adapters_.size()) return nullptr;
  for (const AspiTarget& t : adapters_[ha].targets) {
    if (t.target == target) return &t;
  }
  return nullptr;
}

uint32_t AspiManager::GetSupportInfo() {
  const uint32_t count = reportedCount_ >= 0 ? static_cast<uint32_t>(reportedCount_)
                                             : static_cast<uint32_t>(adapters_.size());
  return uint32_t{supportStatus_} << 8 | (count & 0xFF);
}

void AspiManager::Execute(SRB_ExecSCSICmd& srb) {
  const AspiTarget* target = srb.SRB_Lun == 0 ? FindTarget(srb.SRB_HaId, srb.SRB_Target) : nullptr;
  if (srb.SRB_HaId >= adapters_.size()) {
    srb.SRB_Status = SS_INVALID_HA;
    return;
  }
  if (target == nullptr || target->device == nullptr) {
    srb.SRB_HaStat = HASTAT_SEL_TO;
    srb.SRB_Status = SS_ERR;
    return;
  }
  Command command{};
  command.cdb = srb.CDBByte;
  command.cdbLength = std::min<uint8_t>(srb.SRB_CDBLen, 16);
  command.direction = srb.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
  command.data = srb.SRB_BufPointer;
  command.dataLength = srb.SRB_BufLen;
  if (command.dataLength == 0) command.direction = kDirNone;
  const Outcome outcome = target->device->Execute(command);
  if (!outcome.delivered) {
    srb.SRB_HaStat = HASTAT_SEL_TO;
    srb.SRB_Status = SS_ERR;
    return;
  }
  srb.SRB_TargStat = outcome.status;
  if (outcome.status == kStatusGood) {
    srb.SRB_Status = SS_COMP;
    return;
  }
  // Automatic sense: the manager copies SRB_SenseLen bytes (at most the area's 16).
  const size_t n = std::min<size_t>({srb.SRB_SenseLen, sizeof(srb.SenseArea), kSenseLength});
  std::memcpy(srb.SenseArea, outcome.sense, n);
  srb.SRB_Status = SS_ERR;
}

uint32_t AspiManager::SendCommand(void* block) {
  if (block == nullptr) return SS_INVALID_SRB;
  auto* header = static_cast<uint8_t*>(block);  // SRB_Cmd, SRB_Status, SRB_HaId, SRB_Flags
  switch (header[0]) {
    case SC_HA_INQUIRY: {
      auto* srb = static_cast<SRB_HAInquiry*>(block);
      ++haInquiries_;
      if (srb->SRB_HaId >= adapters_.size() || adapters_[srb->SRB_HaId].inquiryFails) {
        srb->SRB_Status = SS_INVALID_HA;
        return srb->SRB_Status;
      }
      srb->HA_Count = static_cast<uint8_t>(adapters_.size());
      srb->HA_SCSI_ID = 7;
      std::memcpy(srb->HA_ManagerId, "ASPI for WIN32  ", 16);
      std::memcpy(srb->HA_Identifier, "SIMULATED HA    ", 16);
      std::memcpy(srb->HA_Unique, adapters_[srb->SRB_HaId].haUnique, 16);
      srb->SRB_Status = SS_COMP;
      return SS_COMP;
    }
    case SC_GET_DEV_TYPE: {
      auto* srb = static_cast<SRB_GDEVBlock*>(block);
      typeQueries_.emplace_back(srb->SRB_HaId, srb->SRB_Target);
      if (srb->SRB_HaId >= adapters_.size()) {
        srb->SRB_Status = SS_INVALID_HA;
        return srb->SRB_Status;
      }
      const AspiTarget* target = srb->SRB_Lun == 0 ? FindTarget(srb->SRB_HaId, srb->SRB_Target) : nullptr;
      if (target == nullptr) {
        srb->SRB_Status = SS_NO_DEVICE;
        return srb->SRB_Status;
      }
      srb->SRB_DeviceType = target->deviceType;
      srb->SRB_Status = SS_COMP;
      return SS_COMP;
    }
    case SC_EXEC_SCSI_CMD: {
      auto* srb = static_cast<SRB_ExecSCSICmd*>(block);
      executed_.push_back(*srb);
      switch (completion_) {
        case AspiCompletion::kFailImmediately:
          srb->SRB_Status = SS_ERR;
          return SS_ERR;
        case AspiCompletion::kImmediate:
          Execute(*srb);
          return srb->SRB_Status;
        case AspiCompletion::kPending:
          if ((srb->SRB_Flags & SRB_EVENT_NOTIFY) != 0 && srb->SRB_PostProc != nullptr) {
            Execute(*srb);
            if (events_ != nullptr) events_->setEvent(srb->SRB_PostProc);
          } else {
            srb->SRB_Status = SS_PENDING;
            pending_.push_back(srb);
          }
          return SS_PENDING;
      }
      return SS_ERR;
    }
    default:
      header[1] = SS_INVALID_CMD;
      return SS_INVALID_CMD;
  }
}

void AspiManager::CompletePending() {
  std::vector<SRB_ExecSCSICmd*> pending;
  pending.swap(pending_);
  for (SRB_ExecSCSICmd* srb : pending) Execute(*srb);
}

void* AspiManager::LoadAspiLibrary(const char* name) {
  if (!IsAspiLibraryName(name) || libraryMissing_) return nullptr;
  ++loaded_;
  return LibraryToken();
}

void* AspiManager::AspiProcAddress(void* library, const char* name) {
  if (library != LibraryToken() || name == nullptr || missingExport_ == name) return nullptr;
  if (std::strcmp(name, "GetASPI32SupportInfo") == 0) {
    return reinterpret_cast<void*>(&AspiGetSupportInfo);
  }
  if (std::strcmp(name, "SendASPI32Command") == 0) {
    return reinterpret_cast<void*>(&AspiSendCommand);
  }
  return nullptr;
}

bool AspiManager::FreeAspiLibrary(void* library) {
  if (library != LibraryToken()) return false;
  ++freed_;
  return true;
}

AspiManagerOs::AspiManagerOs(platform::WindowsOs& target, AspiManager& manager)
    : WindowsOsWrapper(target), manager_(manager) {
  manager_.SetEvents(*this);
  manager_.MakeCurrent();
}

void* AspiManagerOs::loadLibrary(const char* name) {
  if (!IsAspiLibraryName(name)) return target().loadLibrary(name);
  manager_.MakeCurrent();
  return manager_.LoadAspiLibrary(name);
}

void* AspiManagerOs::getProcAddress(void* library, const char* name) {
  if (library == AspiManager::LibraryToken()) return manager_.AspiProcAddress(library, name);
  return target().getProcAddress(library, name);
}

void AspiManagerOs::freeLibrary(void* library) {
  if (manager_.FreeAspiLibrary(library)) return;
  if (library != AspiManager::LibraryToken()) target().freeLibrary(library);
}

uint32_t AspiGetSupportInfo() {
  return g_current != nullptr ? g_current->GetSupportInfo() : uint32_t{SS_NO_ADAPTERS} << 8;
}

uint32_t AspiSendCommand(void* srb) {
  return g_current != nullptr ? g_current->SendCommand(srb) : SS_NO_ADAPTERS;
}

}  // namespace sim
