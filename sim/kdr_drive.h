// The supported drive (KORVADSK RW/DVD KDR-7305C) with its download protocol: a buffer memory
// that WRITE BUFFER and READ BUFFER reach by 24-bit offsets, the 0xF1 command that places the
// drive's boot data in the buffer, and a commit that checks the image and then programs the
// flash over clock time, reporting progress in its sense data. It answers by a drive model's
// description (drive/supported_model.h): built from another one, it is that model's drive, with
// its identity, sizes, addresses, check bytes and prepare block.
//
// It is no kinder than a real drive: each command moves what its block announces, whatever data
// phase the host offers (sim/device), so the commit and the 0xF1 command move nothing; and
// its configuration can make it as awkward as drives in the field are: short sense and INQUIRY
// answers, unit attentions, a slow start, a disc, and an end of programming by reset or by
// leaving the bus for a while.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drive/supported_model.h"
#include "sim/clock.h"
#include "sim/device.h"

namespace sim {

// Sense data that the drive reports, as key/ASC/ASCQ.
constexpr uint8_t kKeyNotReady = 0x02;
constexpr uint8_t kKeyIllegalRequest = 0x05;
constexpr uint8_t kAscInProgress = 0x04;     // with ASCQ 0x07: operation in progress
constexpr uint8_t kAscqInProgress = 0x07;
constexpr uint8_t kAscqBecomingReady = 0x01;  // 02/04/01: becoming ready
constexpr uint8_t kAscInvalidField = 0x24;   // 05/24/00: invalid field in CDB
constexpr uint8_t kAscParameterValue = 0x26;  // 05/26/02: image sum wrong, 05/26/04: seal wrong
constexpr uint8_t kAscqSumMismatch = 0x02;
constexpr uint8_t kAscqSealMismatch = 0x04;

// How the drive reads the blocks of its download protocol (operation codes and sizes from the
// model's description). The fault wrapper (sim/faults) recognises the same commands the same
// way.
// A 24-bit big-endian value, as buffer offsets, lengths and progress are sent.
uint32_t Be24(const uint8_t* p);
// WRITE BUFFER or READ BUFFER (`opcode`) in mode 2 with buffer ID 0: buffer memory access.
// The drive itself accepts only the 12-byte form with its model's check bytes.
bool IsBufferAccess(const Command& command, uint8_t opcode);
// WRITE BUFFER (the model's opcode) in mode 1 with buffer ID 1: the commit that starts
// programming.
bool IsCommit(const Command& command, const DriveModel& model = kSupportedDrive);

// What the drive does once programming is over (after the finish window).
enum class ProgrammingEnd : uint8_t {
  kIdle,    // it answers again, with NO SENSE
  kReset,   // it resets itself: 06/29/00 pending
  kVanish,  // it leaves the bus (a USB bridge that resets) and comes back with 06/29/00 pending
};

struct KdrDriveConfig {
  std::string revision = "TR07";              // before the update
  std::string revisionAfterUpdate = "TR08";   // once the flash holds a new image
  uint32_t programMs = 8000;   // time from the commit until all bytes are programmed
  uint32_t finishMs = 500;     // then still busy, reporting all bytes done, for this long
  ProgrammingEnd end = ProgrammingEnd::kIdle;
  uint32_t vanishMs = 2000;    // kVanish: how long the drive is gone from the bus
  // The commit writes 4096 zero bytes into the data-in buffer offered with it (a generous
  // drive); by default it moves nothing, as its block announces.
  bool commitFills = false;
  uint32_t senseLength = kSenseLength;  // REQUEST SENSE delivers at most this many bytes
  uint32_t inquiryLength = 36;          // standard INQUIRY delivers at most this many bytes
  bool unitAttentionAtPowerOn = false;  // 06/29/00 pending from the start
  // 06/28/00 becomes pending when the drive receives its Nth command (counted from 1, every
  // command counts); 0: never.
  uint32_t unitAttentionAtCommand = 0;
  bool unitAttentionAfterProgramming = false;  // 06/3F/01 microcode changed, once it has ended
  bool disc = false;           // a disc is in the drive from the start
  // A disc is inserted this long after power-on (06/28/00 and a media event); -1: never.
  int64_t discInsertMs = -1;
  // For this long after power-on the drive is becoming ready: every command but INQUIRY and
  // REQUEST SENSE fails with 02/04/01, and REQUEST SENSE reports 02/04/01.
  uint32_t notReadyMs = 0;
};

class KdrDrive : public BasicDevice {
 public:
  // The supported drive's sizes; a drive built from another description has that one's
  // (model()).
  static constexpr uint32_t kBufferSize = kSupportedDrive.bufferSize;
  static constexpr uint32_t kFlashSize = kSupportedDrive.imageSize;
  static constexpr uint32_t kBootDataAddress = kSupportedDrive.bootDataAddress;
  static constexpr uint32_t kBootDataSize = kSupportedDrive.bootDataSize;

  // The supported drive.
  explicit KdrDrive(const Clock& clock, KdrDriveConfig config = KdrDriveConfig());
  // A drive of `model` (copied). A description that is not usable (DriveModelIsUsable) makes a
  // drive that refuses the prepare command and the commit.
  KdrDrive(const Clock& clock, const DriveModel& model, KdrDriveConfig config = KdrDriveConfig());

  const DriveModel& model() const { return model_; }

  Outcome Execute(const Command& command) override;  // no answer at all while gone from the bus
  uint32_t Attachment() override;
  bool Present() override;
  // A host's reset clears what a power-on clears; programming goes on (see kdr_drive.cpp).
  void Reset() override;

  // The boot data every drive of `model` leaves the factory with: what an update must put back
  // unchanged at image addresses 0 up to the boot data size.
  static std::vector<uint8_t> FactoryBootData(const DriveModel& model = kSupportedDrive);

  // The drive's flash memory (its firmware) as of the clock's now, and the boot data it keeps
  // at its start.
  const std::vector<uint8_t>& flash();
  std::vector<uint8_t> BootData();
  // Writes the flash memory to a file; false when the file cannot be written.
  bool DumpFlash(const std::string& path);

  bool programming();             // the commit was accepted and programming has not ended
  uint32_t BytesProgrammed();     // progress of the current or last programming
  uint32_t commits() const { return commits_; }           // commits accepted
  uint8_t lastCommitOptions() const { return lastOptions_; }  // byte 9 of the last commit

 protected:
  void OnCommand(const Command& command) override;
  bool ExecuteOwn(const Command& command, Outcome& outcome) override;
  void CurrentSense(uint8_t sense[kSenseLength]) override;
  void StateSense(uint8_t sense[kSenseLength]) override;

 private:
  Outcome WriteBuffer(const Command& command);
  Outcome ReadBuffer(const Command& command);
  Outcome Commit(const Command& command);
  Outcome PrepareReadBack(const Command& command);
  void ProgressSense(uint8_t sense[kSenseLength]);
  bool BecomingReady() const;
  // Brings the drive's state up to the clock's now: what falls due in between (a disc that
  // arrives, the end of programming, the return to the bus) happens in its order.
  void Advance();
  // Programming is over at `atMs`: the flash holds the buffer's image; then the configured end.
  void EndProgramming(uint64_t atMs);

  const Clock& clock_;
  DriveModel model_;
  bool usable_;  // DriveModelIsUsable(model_)
  KdrDriveConfig config_;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> flash_;
  uint64_t powerOnMs_;
  bool programming_ = false;
  uint64_t programStartMs_ = 0;
  uint32_t commits_ = 0;
  uint8_t lastOptions_ = 0;
  uint32_t received_ = 0;        // commands received, for unitAttentionAtCommand
  bool discPending_ = false;     // discInsertMs has not come yet
  bool gone_ = false;            // off the bus until returnMs_
  uint64_t returnMs_ = 0;
  uint32_t attachment_ = 0;
};

}  // namespace sim
