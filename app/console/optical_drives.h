// The Linux tool's view of the optical drives: each one named by its device path /dev/srN, with
// what its INQUIRY answer says. The same functions serve --list, --device, the drive list that
// the update starts from and the revision read after the update, on real drives and on the
// simulated ones of --simulate alike: they reach the drives through the platform's device seam,
// in which /dev/srN is drive letter c + N.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drive/drive.h"

struct OpticalDrive {
  std::string path;  // /dev/srN
  bool answered = false;     // INQUIRY answered
  uint8_t deviceType = 0x1F;  // INQUIRY byte 0, peripheral device type (5: CD/DVD)
  std::string vendor, product, revision;  // trailing spaces removed
  bool supported = false;     // the model this program updates
};

constexpr int kMaxSrDevices = 24;  // /dev/sr0 .. /dev/sr23

// N of a path /dev/srN (0 <= N < kMaxSrDevices) after following symbolic links (/dev/cdrom);
// -1 for anything else.
int SrIndexOfPath(const std::string& path);
std::string SrPath(int index);

// Opens /dev/srN through the seam and sends INQUIRY (traced). False when it cannot be opened;
// `out.answered` false when it opened but did not answer.
bool InquireDrive(int index, OpticalDrive& out);

// The optical drives (device type 5) that answer, in path order.
std::vector<OpticalDrive> ListOpticalDrives();

// The drive list that the update starts from: each optical drive as a DriveRecord with its
// device open, as discovery makes them; only /dev/sr<onlyIndex> when onlyIndex >= 0.
// `paths[i]` is the path of drives.records[i].
void DiscoverOpticalDrives(int onlyIndex, DriveList& drives, std::vector<std::string>& paths);

// INQUIRY through the drive's open record, as the update's commands go, retried every 500 ms
// (the seam's sleep) for up to `attempts` tries while the drive resets. False when it never
// answered.
bool ReadRevision(const DriveRecord& drive, int attempts, std::string& revision);
