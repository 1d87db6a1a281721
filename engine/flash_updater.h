// The update engine: one FlashUpdater per firmware update run.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "engine/update_job.h"

// The 512 KiB firmware image as 16 banks of 32 KiB, consecutive slices of one storage block.
struct FirmwareImage {
  uint8_t* banks[16];
  uint32_t length;
  uint8_t bankIndex;
  uint16_t bankOffset;
};

class FlashUpdater {
 public:
  // Copies what it needs out of `job`; keeps `owner` only to read its two option check boxes.
  FlashUpdater(const UpdateOwner& owner, const UpdateJob& job);
  virtual ~FlashUpdater();
  FlashUpdater(const FlashUpdater&) = delete;
  FlashUpdater& operator=(const FlashUpdater&) = delete;

  // One whole update: stop, load, transfer, commit, poll, closing messages, restart offer.
  void Run();

  // (The engine's other operations and fields are declared by the engine itself.)
};
