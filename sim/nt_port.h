// The simulated NT port and class drivers behind drive letters: what CreateFileA,
// DeviceIoControl and CloseHandle do with "\\.\x:" devices. Each letter may open a simulated
// device, carries the port driver's stored inquiry data (buses and entry chains, laid out as
// SCSI_ADAPTER_BUS_INFO), the adapter's capabilities, and executes pass-through requests on its
// device. NtPortOs is a Windows binding whose drive-letter devices are a port's; the port is used
// by one thread at a time (discovery, then one update run).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/nt_scsi.h"
#include "platform/windows_os.h"
#include "sim/device.h"

namespace sim {

// One device that a letter's stored inquiry data lists.
struct ListedDevice {
  uint8_t pathId;
  uint8_t targetId;
  uint8_t lun;
  std::array<uint8_t, 36> inquiry;  // standard INQUIRY data as the port driver stored it
};

// What the port saw of one pass-through request.
struct PassThroughRecord {
  platform::Handle handle;
  char letter;
  SCSI_PASS_THROUGH_DIRECT request;  // as it arrived
  uint32_t inSize;
  uint32_t outSize;
  bool delivered;
};

class NtPort {
 public:
  NtPort() = default;
  NtPort(const NtPort&) = delete;
  NtPort& operator=(const NtPort&) = delete;

  // Makes the letter open; its pass-through requests go to `device` (nullptr: a letter that opens
  // but whose requests fail). pathId/targetId are where the device sits on its adapter. Until
  // ListDevice, ListInquiry or ListNothing says otherwise, the letter's stored inquiry data lists
  // its own device there, on bus 0.
  void Attach(char letter, Device* device, uint8_t pathId = 0, uint8_t targetId = 0);
  // A letter whose device exists but cannot be opened.
  void SetOpenFails(char letter, bool fails);
  // Lists `device` in the letter's stored inquiry data on bus `bus` (chain order = call order).
  void ListDevice(char letter, uint8_t bus, uint8_t pathId, uint8_t targetId, const Device& device);
  void ListInquiry(char letter, uint8_t bus, const ListedDevice& entry);
  // The letter's stored inquiry data lists no device (one empty bus).
  void ListNothing(char letter);
  // Replaces the letter's stored inquiry data with these exact bytes (malformed layouts).
  void SetRawInquiryData(char letter, std::vector<uint8_t> bytes);
  void SetInquiryDataFails(char letter, bool fails);
  // What IOCTL_SCSI_GET_CAPABILITIES reports. The port also demands the alignment it reports: a
  // pass-through whose DataBuffer has any of the mask's bits set fails, as a Windows port
  // driver refuses it (STATUS_INVALID_PARAMETER).
  void SetCapabilities(char letter, uint32_t alignmentMask, uint32_t maximumTransferLength);
  void SetCapabilitiesFail(char letter, bool fails);
  // The letter's device goes away: it no longer opens, and requests on open handles fail.
  void Disappear(char letter);

  // What happened.
  const std::vector<platform::Handle>& openedHandles() const { return opened_; }
  const std::vector<platform::Handle>& closedHandles() const { return closed_; }
  bool WasClosed(platform::Handle handle) const;
  char LetterOf(platform::Handle handle) const;  // 0 when the port never handed it out
  const std::vector<PassThroughRecord>& passThroughs() const { return passThroughs_; }
  const std::vector<char>& openAttempts() const { return openAttempts_; }
  // The layout the letter's inquiry-data query returns (built from the listed devices).
  std::vector<uint8_t> InquiryDataBytes(char letter) const;

  // The three operations NtPortOs forwards to.
  platform::Handle OpenDevice(const char* path);
  bool DeviceControl(platform::Handle handle, uint32_t code, void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* bytesReturned);
  bool CloseHandle(platform::Handle handle);  // false: not a handle of this port

 private:
  struct Letter {
    Device* device = nullptr;
    bool attached = false;
    bool openFails = false;
    bool gone = false;
    uint8_t pathId = 0;
    uint8_t targetId = 0;
    std::vector<std::vector<ListedDevice>> buses;
    bool listingSet = false;
    bool hasRaw = false;
    std::vector<uint8_t> raw;
    bool inquiryDataFails = false;
    bool capabilitiesFail = false;
    uint32_t alignmentMask = 0;
    uint32_t maximumTransferLength = 0x10000;
  };

  Letter& At(char letter);
  std::vector<uint8_t> LayOut(const Letter& state) const;
  const Letter* Find(char letter) const;
  bool PassThrough(platform::Handle handle, char letter, Letter& state, void* in, uint32_t inSize, void* out,
                   uint32_t outSize);

  std::map<char, Letter> letters_;
  std::map<platform::Handle, char> handles_;   // handles open now
  std::map<platform::Handle, char> letterOf_;  // every handle ever handed out
  // The device's Attachment() when each handle was opened: a device that left the bus and came
  // back does not answer on the handles of before.
  std::map<platform::Handle, uint32_t> attachmentOf_;
  std::vector<platform::Handle> opened_;
  std::vector<platform::Handle> closed_;
  std::vector<PassThroughRecord> passThroughs_;
  std::vector<char> openAttempts_;
  // Handles are distinct addresses well away from null and INVALID_HANDLE_VALUE, never reused.
  uintptr_t nextHandle_ = 0x5100;
};

// A Windows binding whose openDevice, deviceControl and closeHandle reach `port`; handles that
// are not the port's are closed by `target`, which serves everything else too.
class NtPortOs : public platform::WindowsOsWrapper {
 public:
  NtPortOs(platform::WindowsOs& target, NtPort& port) : WindowsOsWrapper(target), port_(port) {}
  platform::Handle openDevice(const char* path) override { return port_.OpenDevice(path); }
  bool deviceControl(platform::Handle device, uint32_t code, void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* bytesReturned) override {
    return port_.DeviceControl(device, code, in, inSize, out, outSize, bytesReturned);
  }
  void closeHandle(platform::Handle handle) override {
    if (!port_.CloseHandle(handle)) target().closeHandle(handle);
  }

 private:
  NtPort& port_;
};

}  // namespace sim
