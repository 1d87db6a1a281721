// The ASPI transport of the Windows 95/98/Me family: the WNASPI32 manager's two entry points,
// one SRB_ExecSCSICmd per command, and discovery over its host adapters and targets.
#pragma once

#include "drive/drive_transport.h"
#include "platform/aspi.h"
#include "platform/windows_os.h"

class AspiTransport final : public DriveTransport {
 public:
  explicit AspiTransport(platform::WindowsOs& os) : DriveTransport(os), windows_(os) {}

  // Loads "WNASPI32" and binds its two entry points. False when either is missing.
  bool Load(TransportState& state) override;
  void Release(TransportState& state) override;
  void Discover(DriveList& drives) override;

 protected:
  ScsiOutcome Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) override;

 private:
  platform::WindowsOs& windows_;
  // The manager's entry points, bound by Load; both null until then and after Release.
  GetASPI32SupportInfoFn getSupportInfo_ = nullptr;
  SendASPI32CommandFn sendCommand_ = nullptr;
};
