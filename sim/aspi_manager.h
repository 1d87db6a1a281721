// The simulated ASPI manager (WNASPI32): host adapters with their HA_Unique bytes, targets with
// device types and simulated devices, and the three ways a manager ends an SC_EXEC_SCSI_CMD.
// AspiManagerOs is a Windows binding whose "WNASPI32" library is a manager; AspiGetSupportInfo
// and AspiSendCommand are its two entry points. Plain C++ with no host-specific code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/aspi.h"
#include "platform/windows_os.h"
#include "sim/device.h"

namespace sim {

// How the manager ends an SC_EXEC_SCSI_CMD.
enum class AspiCompletion {
  // Returns SS_PENDING. With SRB_EVENT_NOTIFY the command runs and then the SRB_PostProc event is
  // set (through the binding SetEvents names); without it SRB_Status stays SS_PENDING until
  // CompletePending().
  kPending,
  kImmediate,        // runs the command and returns its final status at once
  kFailImmediately,  // runs nothing; SRB_Status and the return value are SS_ERR at once
};

struct AspiTarget {
  uint8_t target;
  uint8_t deviceType;  // what SC_GET_DEV_TYPE reports
  Device* device;      // nullptr: the type is reported but commands find no device
};

struct AspiAdapter {
  uint8_t haUnique[16];
  bool inquiryFails = false;
  std::vector<AspiTarget> targets;
};

// HA_Unique bytes as a real adapter would report them.
// byte 0: alignment mask low byte; byte 3: maximum targets; bytes 4..7: max transfer (LE).
void SetHaUnique(uint8_t unique[16], uint16_t alignmentMask, uint8_t maxTargets,
                 uint32_t maxTransferLength);

class AspiManager {
 public:
  AspiManager() = default;
  // A current manager stops being current.
  ~AspiManager();
  AspiManager(const AspiManager&) = delete;
  AspiManager& operator=(const AspiManager&) = delete;

  // Adds a host adapter; returns its number.
  uint8_t AddAdapter(const uint8_t haUnique[16]);
  // Adds LUN 0 of `target` on adapter `ha`; the type defaults to the device's peripheral type.
  void AddTarget(uint8_t ha, uint8_t target, Device* device);
  void AddTarget(uint8_t ha, uint8_t target, Device* device, uint8_t deviceType);
  void SetAdapterInquiryFails(uint8_t ha, bool fails);
  // GetASPI32SupportInfo's status byte (SS_COMP unless set) and adapter count (the number of
  // adapters unless set).
  void SetSupportStatus(uint8_t status) { supportStatus_ = status; }
  void SetReportedAdapterCount(int count) { reportedCount_ = count; }
  void SetCompletion(AspiCompletion completion) { completion_ = completion; }
  // Entry points the library does not export (by exact name), for load-failure paths.
  void SetMissingExport(const std::string& name) { missingExport_ = name; }
  void SetLibraryMissing(bool missing) { libraryMissing_ = missing; }

  // The entry points.
  uint32_t GetSupportInfo();
  uint32_t SendCommand(void* srb);

  // Ends the commands left pending without an event (kPending without SRB_EVENT_NOTIFY).
  void CompletePending();
  size_t pendingCount() const { return pending_.size(); }

  // The binding whose setEvent ends a pending command with SRB_EVENT_NOTIFY; it must outlive
  // the manager's use.
  void SetEvents(platform::WindowsOs& events) { events_ = &events; }

  // The manager that the two entry points below reach, from now on. The ASPI manager's exports
  // take no argument that could name their manager, so one pointer names it; the manager that
  // is current when it is destroyed leaves none current.
  void MakeCurrent();
  static AspiManager* Current();
  // What loadLibrary hands out for the manager's library.
  static void* LibraryToken();

  // What happened.
  const std::vector<SRB_ExecSCSICmd>& executed() const { return executed_; }  // as submitted
  uint32_t haInquiries() const { return haInquiries_; }
  const std::vector<std::pair<uint8_t, uint8_t>>& typeQueries() const { return typeQueries_; }
  uint32_t librariesLoaded() const { return loaded_; }
  uint32_t librariesFreed() const { return freed_; }

  // Library bindings (AspiManagerOs forwards to them).
  void* LoadAspiLibrary(const char* name);
  void* AspiProcAddress(void* library, const char* name);
  bool FreeAspiLibrary(void* library);

 private:
  const AspiTarget* FindTarget(uint8_t ha, uint8_t target) const;
  void Execute(SRB_ExecSCSICmd& srb);

  std::vector<AspiAdapter> adapters_;
  uint8_t supportStatus_ = SS_COMP;
  int reportedCount_ = -1;
  AspiCompletion completion_ = AspiCompletion::kPending;
  std::string missingExport_;
  bool libraryMissing_ = false;
  std::vector<SRB_ExecSCSICmd*> pending_;
  std::vector<SRB_ExecSCSICmd> executed_;
  uint32_t haInquiries_ = 0;
  std::vector<std::pair<uint8_t, uint8_t>> typeQueries_;
  uint32_t loaded_ = 0;
  uint32_t freed_ = 0;
  platform::WindowsOs* events_ = nullptr;
};

// A Windows binding whose library "WNASPI32" (any case, with or without ".dll") is `manager`:
// loading it makes the manager current; every other library, and everything else, goes to
// `target`. Events of the manager are set through this binding.
class AspiManagerOs : public platform::WindowsOsWrapper {
 public:
  AspiManagerOs(platform::WindowsOs& target, AspiManager& manager);
  void* loadLibrary(const char* name) override;
  void* getProcAddress(void* library, const char* name) override;
  void freeLibrary(void* library) override;

 private:
  AspiManager& manager_;
};

// The ASPI entry points of the current manager (SS_NO_ADAPTERS status / SS_NO_ASPI when none).
uint32_t AspiGetSupportInfo();
uint32_t AspiSendCommand(void* srb);

}  // namespace sim
