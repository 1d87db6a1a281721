// The Linux tool's view of the optical drives: each one named by its device path /dev/srN, with
// what its INQUIRY answer says. The same functions serve --list, --device, the drive list that
// the update starts from and the revision read after the update, on real drives and on the
// simulated ones of --simulate alike: they reach the drives through the one numbered transport
// handed in at start, in which device number N is /dev/srN (SG_IO on the kernel's devices, or
// the simulated devices).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "drive/drive.h"
#include "drive/drive_transport.h"
#include "drive/numbered_transport.h"
#include "platform/linux/kernel.h"
#include "platform/os.h"

struct OpticalDrive {
  std::string path;  // /dev/srN
  bool answered = false;     // INQUIRY answered
  uint8_t deviceType = 0x1F;  // INQUIRY byte 0, peripheral device type (5: CD/DVD)
  std::string vendor, product, revision;  // trailing spaces removed
  bool supported = false;     // the model this program updates
};

// N of a path /dev/srN after following symbolic links (/dev/cdrom); -1 for anything else.
int SrIndexOfPath(const std::string& path);
std::string SrPath(int index);

// A text field of INQUIRY data or of a drive record: up to `length` characters, ended early by
// a NUL, without its trailing spaces, and escaped for a terminal (line feeds and carriage
// returns included) as TerminalText does.
std::string InquiryText(const char* text, size_t length);

// Opens /dev/srN through `devices` and sends INQUIRY (traced). False when it cannot be opened;
// `out.answered` false when it opened but did not answer.
bool InquireDrive(NumberedTransport& devices, int index, OpticalDrive& out);

// The optical drives (device type 5) that answer, in number order.
std::vector<OpticalDrive> ListOpticalDrives(NumberedTransport& devices);

// The optical drives the system lists that this user may not open, each as "/dev/srN: why"
// (Permission denied: a member of the group that owns it, or root, may): said when no drive
// was found, so that a drive the user cannot reach is not taken for no drive at all.
std::vector<std::string> UnopenableSrDevices(platform::Kernel& kernel);


// The update's transport as the Linux tool uses it: the drives it discovers are the optical
// drives by path (only /dev/sr<onlyIndex> when that is 0 or more), and every command goes
// through `devices`. The devices it opens are its own: they stay open until it ends, and
// ReleaseDrives frees the records alone.
class PathTransport final : public DriveTransport {
 public:
  PathTransport(platform::Os& os, NumberedTransport& devices, int onlyIndex)
      : DriveTransport(os), devices_(devices), onlyIndex_(onlyIndex) {}
  ~PathTransport() override;
  PathTransport(const PathTransport&) = delete;
  PathTransport& operator=(const PathTransport&) = delete;

  bool Load(TransportState& state) override { return devices_.Load(state); }
  void Release(TransportState& state) override { devices_.Release(state); }
  void Discover(DriveList& drives) override;
  // The path of a discovered drive's record; empty for another.
  std::string PathOf(const DriveRecord& drive) const;

 protected:
  ScsiOutcome Carry(const ScsiRequest& request, bool& sent, uint32_t& moved) override;

 private:
  bool MakeRoomFor(const uint8_t* reply, DriveList& drives);

  NumberedTransport& devices_;
  const int onlyIndex_;
  std::vector<std::pair<platform::Handle, std::string>> paths_;
};

// INQUIRY to a discovered drive through `transport`, as the update's commands go, retried every
// 500 ms (os's sleep) for up to `attempts` tries while the drive resets. False when it never
// answered with the 36 standard bytes.
bool ReadRevision(platform::Os& os, DriveTransport& transport, const DriveRecord& drive,
                  int attempts, std::string& revision);

// The drive of `vendor` and `product` found again after its programming, which may have reset
// it or taken it off the bus and back (a USB bridge), perhaps under another /dev/srN: each try
// opens the devices anew, `preferredIndex` first, then the others in order; tries are 500 ms
// apart (os's sleep), `attempts` in all. False when no device answers with that identity.
bool FindDriveAgain(platform::Os& os, NumberedTransport& devices, int preferredIndex,
                    const std::string& vendor, const std::string& product, int attempts,
                    OpticalDrive& found);
