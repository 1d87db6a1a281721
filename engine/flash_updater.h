// The update engine: one FlashUpdater per firmware update run. It sequences the run's steps:
// the load (engine/firmware_loader.h, no drive), finishing the image with the drive's boot data
// and the seal, the transfer and the commit (engine/download_commands.h), the polling, and the
// closing messages.
#pragma once

#include <cstdint>

#include "drive/supported_model.h"
#include "engine/download_commands.h"
#include "engine/error_messages.h"
#include "engine/firmware_image.h"
#include "engine/firmware_loader.h"
#include "engine/update_job.h"

// The supported drive's buffer address where it places its own 16 KiB of boot data after
// PrepareReadBack; a run uses its job's model.
constexpr uint32_t kBootDataAddress = kSupportedDrive.bootDataAddress;
constexpr uint32_t kBootDataSize = kSupportedDrive.bootDataSize;

// Pauses of the run.
constexpr uint32_t kClosingPauseMs = 1500;
constexpr uint32_t kPollIntervalMs = 168;
// A drive that programs its flash may miss an answer to the progress poll; only this long a
// silence after its last answer (or after the commit) ends the polling, as a failure.
constexpr uint32_t kSilenceLimitMs = 60000;

// Attempts per block: the first and up to five more.
constexpr int kBlockAttempts = 6;

// The texts the run shows.
extern const char kUnableToStartText[];  // box after an abort or a failed block or commit
// Log line for a terminate request seen once the commit has been sent.
extern const char kTerminateWhileProgrammingText[];

class FlashUpdater {
 public:
  // Copies what it needs out of `job`; keeps `owner` only to read its two option check boxes.
  // Everything it needs of the operating system it asks of `os`.
  FlashUpdater(const UpdateOwner& owner, const UpdateJob& job, platform::Os& os);
  ~FlashUpdater();
  FlashUpdater(const FlashUpdater&) = delete;
  FlashUpdater& operator=(const FlashUpdater&) = delete;

  // One whole update: stop, load, transfer, commit, poll, closing messages, restart offer.
  // Returns the outcome the closing messages said.
  UpdateOutcome Run();

 private:
  // Stop, load, send the image's blocks, commit, poll. 0 when everything ran through, 0xFF otherwise.
  uint8_t TransferImage();
  // Opens firmwarePath (a regular file only), loads it and finishes the image. 1 loaded,
  // finished and sealed; -1 format failure; -2 open or read failure (the run shows the
  // message); -3 a message has already been shown (no storage, a reader failure, or the
  // drive's boot data could not be read back).
  int32_t LoadFirmwareFile();
  // Reads the drive's boot data into image addresses 0 up to its size, twice, and seals the
  // image.
  // False when the prepare command or a read-back failed or the two reads differ: those image
  // bytes are then not known to be the drive's.
  bool FinishImage();
  // Polls the drive until it reports the end or stays silent too long (the run's step after
  // the commit); notes a terminate request, which cannot stop a programming drive.
  void FollowProgramming();
  // True when the image's boot data (as the drive sent it) is one byte value throughout.
  bool BootDataIsOneValue(uint8_t& value) const;
  // The state the run left the drive's flash in, from the commit and the polling.
  UpdateOutcome OutcomeOfRun() const;
  // Shows "ERR: " and errorMessages[index], closes the firmware file, releases the image.
  void FailWithMessage(int index);

  platform::Os& os_;
  const DriveModel* model_;  // the job's model, or kSupportedDrive
  DriveRecord drive_;        // copy of the job's target drive
  char firmwarePath_[512];   // copy of the job's file path
  const uint8_t* firmwareBytes_;  // the job's bytes of the file, or null: read the file
  uint32_t firmwareSize_;
  uint8_t isHexFile_;        // 1: text records; 0: raw binary
  DriveLink link_;           // the job's transport, to drive_
  UiCallbacks callbacks_;    // copy of the job's four operations
  const UpdateOwner* owner_;  // the dialog whose check boxes the commit reads
  FileReader file_;          // the firmware file, open only while it is loaded
  FirmwareImage image_;      // banks null until loaded, and again once released
  uint16_t imageSum_;        // sum of all image bytes modulo 65536, sent with the commit
  ProgressFlags progress_;   // the polling's outcome flags, this run's own
  bool committed_ = false;   // the commit may have reached the drive (it did not refuse it)
  bool silentEnd_ = false;   // the polling ended because the drive stopped answering
};
