// A transport whose devices are numbered 0, 1, ... in a fixed order (on Linux /dev/sr0,
// /dev/sr1, ...): a front end that names drives by number opens each one itself, asks it a
// data-in command whose answer it judges itself (an INQUIRY that may come back shorter than the
// length asked for), and sends the update's commands through the transport on the handle it
// opened.
#pragma once

#include <cstdint>

#include "drive/drive.h"
#include "drive/drive_transport.h"
#include "platform/platform.h"

// What a device made of one command, as it answered it: no judgement of how many bytes moved.
struct DeviceAnswer {
  bool delivered;                 // false: the command reached no device, or it did not answer
  uint8_t status;                 // the SCSI status, when delivered
  uint8_t sense[kSenseAreaSize];  // the sense the device reported (zeros where none)
  uint32_t moved;                 // bytes of the reply the device sent; kMovedUnknown: not told
};

class NumberedTransport : public DriveTransport {
 public:
  // Opens device `number`; InvalidHandle() when there is none or it cannot be opened. The
  // handle names the device in a DriveRecord's deviceHandle; it is closed with CloseNumbered.
  virtual platform::Handle OpenNumbered(uint32_t number) = 0;
  virtual void CloseNumbered(platform::Handle device) = 0;

  // One data-in command of `replyLength` bytes straight to an open device, traced (ok when
  // delivered with GOOD status). `reply` receives what the device sent, however much that was.
  DeviceAnswer Ask(platform::Handle device, const uint8_t* cdb, uint8_t cdbLength, uint8_t* reply,
                   uint32_t replyLength, uint32_t timeOutSeconds);

 protected:
  virtual DeviceAnswer AskDevice(platform::Handle device, const uint8_t* cdb, uint8_t cdbLength,
                                 uint8_t* reply, uint32_t replyLength,
                                 uint32_t timeOutSeconds) = 0;
};
