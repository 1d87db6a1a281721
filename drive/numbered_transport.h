// A transport whose devices are numbered (on Linux N of /dev/srN): a front end that names
// drives by number opens each one itself, asks it a data-in command whose answer it judges
// itself (an INQUIRY that may come back shorter than the length asked for), and sends the
// update's commands through the transport on the handle it opened.
#pragma once

#include <cstdint>
#include <vector>

#include "drive/drive.h"
#include "drive/drive_transport.h"

// What a device made of one command, as it answered it: no judgement of how many bytes moved.
struct DeviceAnswer {
  bool delivered;                 // false: the command reached no device, or it did not answer
  uint8_t status;                 // the SCSI status, when delivered
  uint8_t sense[kSenseAreaSize];  // the sense the device reported (zeros where none)
  uint32_t moved;                 // bytes of the reply the device sent; kMovedUnknown: not told
};

class NumberedTransport : public DriveTransport {
 public:
  using DriveTransport::DriveTransport;

  // The numbers of the devices there are now, ascending.
  virtual std::vector<uint32_t> DeviceNumbers() = 0;
  // Opens device `number`; InvalidHandle() when there is none or it cannot be opened. The
  // handle names the device in a DriveRecord's deviceHandle; it is closed with CloseNumbered.
  virtual platform::Handle OpenNumbered(uint32_t number) = 0;
  virtual void CloseNumbered(platform::Handle device) = 0;

  // One data-in command of `replyLength` bytes straight to an open device, traced (ok when
  // delivered with GOOD status). `reply` receives what the device sent, however much that was.
  DeviceAnswer Ask(platform::Handle device, const uint8_t* cdb, uint8_t cdbLength, uint8_t* reply,
                   uint32_t replyLength, uint32_t timeOutSeconds);

  // Each device in number order that answers a standard INQUIRY (36 bytes, 2 s, traced) with
  // GOOD and peripheral byte 5 becomes a record: its open handle, ids 0, alignment mask 2047,
  // identity and revision from that INQUIRY, until the list is full; every other handle is
  // closed again. ReleaseDrives closes the records' handles.
  void Discover(DriveList& drives) override;

 protected:
  void CloseDevice(platform::Handle device) override { CloseNumbered(device); }
  virtual DeviceAnswer AskDevice(platform::Handle device, const uint8_t* cdb, uint8_t cdbLength,
                                 uint8_t* reply, uint32_t replyLength,
                                 uint32_t timeOutSeconds) = 0;
};
