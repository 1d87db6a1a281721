// The NT family's transport: drive-letter devices, one IOCTL_SCSI_PASS_THROUGH_DIRECT request
// per command (with the pass-through's own time-out of 65535 s), and discovery by each letter's
// stored inquiry data (NT 4 and older) or by an INQUIRY through each letter (later versions).
#pragma once

#include "drive/drive_transport.h"
#include "platform/windows_os.h"

class NtPassThroughTransport final : public DriveTransport {
 public:
  NtPassThroughTransport(platform::WindowsOs& os, bool nt4Walk)
      : DriveTransport(os), windows_(os), nt4Walk_(nt4Walk) {}

  // The NT family has nothing to load.
  bool Load(TransportState&) override { return true; }
  void Release(TransportState&) override {}
  void Discover(DriveList& drives) override;

 protected:
  ScsiOutcome Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) override;
  void CloseDevice(platform::Handle device) override { windows_.closeHandle(device); }

 private:
  void DiscoverNt4(DriveList& drives);
  void DiscoverNt5(DriveList& drives);
  uint32_t ListStoredInquiryData(const uint8_t* buffer, platform::Handle handle, DriveList& drives);
  bool PassThroughInquiry(platform::Handle handle, uint8_t* reply);

  platform::WindowsOs& windows_;
  const bool nt4Walk_;
};
