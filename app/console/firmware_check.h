// --check: the firmware file loaded by the updater's own loaders with no drive at all, and what
// it holds. Every update runs the same check first, so that a file the loaders refuse never
// gets a command sent to any drive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os.h"

struct FirmwareSummary {
  std::string path;
  std::string format;      // "binary" or "text records" as the extension chose; empty: neither
  bool accepted = false;   // the updater would load this file
  uint32_t fileBytes = 0;  // the image bytes that the file supplies
  uint32_t survivingBytes = 0;  // of them, those the drive keeps (not under its boot data or seal)
  // The 16-bit sum of the image as the file fills it (zeros where it supplies nothing), before
  // the drive's own boot data and the seal take their places.
  uint16_t imageSum = 0;
  std::string message;     // a refused file: the message the update would show
  // The file as it was read, once: what the summary describes is what an update sends.
  std::vector<uint8_t> bytes;
};

// The largest file read: a full image as text records takes under 1.5 MiB.
constexpr uint64_t kMaxFirmwareFileSize = 64u << 20;

// Reads `path` once into `out.bytes` and loads those bytes as the update would, without a drive.
// False (and `out.accepted` false) for a file the updater refuses, or one larger than
// kMaxFirmwareFileSize.
bool CheckFirmwareFile(platform::Os& os, const std::string& path, FirmwareSummary& out);
