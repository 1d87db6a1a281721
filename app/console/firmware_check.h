// --check: the firmware file loaded by the updater's own loaders with no drive at all, and what
// it holds. Every update runs the same check first, so that a file the loaders refuse never
// gets a command sent to any drive.
#pragma once

#include <cstdint>
#include <string>

struct FirmwareSummary {
  std::string path;
  std::string format;      // "binary" or "text records" as the extension chose; empty: neither
  bool accepted = false;   // the updater would load this file
  uint32_t fileBytes = 0;  // the image bytes that the file supplies
  // The 16-bit sum of the image as the file fills it (zeros where it supplies nothing), before
  // the drive's own boot data and the seal take their places.
  uint16_t imageSum = 0;
  std::string message;     // a refused file: the message the update would show
};

// Loads `path` as the update would, without a drive. False (and `out.accepted` false) for a file
// the updater refuses.
bool CheckFirmwareFile(const std::string& path, FirmwareSummary& out);
