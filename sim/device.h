// The simulated SCSI device model: a device executes one command at a time and answers with a
// SCSI status and, for CHECK CONDITION, fixed-format sense data. Buses and transports
// (sim/aspi_manager, sim/nt_port, sim/device_transport) carry commands to it; fault injectors
// wrap it.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;

constexpr uint8_t kDirNone = 0x00;
constexpr uint8_t kDirIn = 0x08;   // same encoding as the drive layer's kDataIn
constexpr uint8_t kDirOut = 0x10;  // and kDataOut

constexpr uint32_t kSenseLength = 18;  // fixed-format sense data

struct Command {
  const uint8_t* cdb;
  uint8_t cdbLength;
  uint8_t direction;  // kDirIn, kDirOut or kDirNone
  uint8_t* data;      // dataLength bytes, read for kDirOut, written for kDirIn
  uint32_t dataLength;
  // How long the host waits for the answer, in milliseconds; 0: the host sets no limit. A
  // device that hangs holds the command this long (on the host's clock) and then does not
  // answer.
  uint32_t timeOutMs;
};

// What the device did with a command.
struct Outcome {
  uint8_t status;              // kStatusGood or kStatusCheckCondition
  uint8_t sense[kSenseLength];  // fixed-format sense when status is CHECK CONDITION
  bool delivered;              // false: the device did not answer at all (transport failure)
  // Bytes of the data phase that did not move, as the host stack reports it: exact on a
  // truthful stack, 0 where the stack reports none, or a bogus count (sim/faults). The
  // transports report dataLength - residual as the bytes moved; the commands judge it.
  uint32_t residual;
};

// Fills fixed-format sense data: response code 0x70, sense key, additional length 10, ASC, ASCQ.
void SetSense(uint8_t sense[kSenseLength], uint8_t key, uint8_t asc, uint8_t ascq);

Outcome Good();
// GOOD status with fewer bytes moved than the data phase offered (an allocation length below it).
Outcome GoodWithResidual(uint32_t residual);
Outcome CheckCondition(uint8_t key, uint8_t asc, uint8_t ascq);
Outcome NoAnswer();

// Data phases. A device moves what its command block announces, whatever data phase the host
// offers: when the host offers more, the rest is the residual; when it offers less (an overrun),
// the device moves what fits and the residual is 0; a phase the other way round moves nothing.
// Never a device error.
// How many bytes of a phase in `direction` that wants `wanted` bytes move with what the host
// offers.
uint32_t Movable(const Command& command, uint8_t direction, uint32_t wanted);
// GOOD, with `moved` bytes of the host's data phase transferred and the rest as residual.
Outcome GoodMoved(const Command& command, uint32_t moved);
// Sends up to `size` bytes of `reply` as a data-in phase (the caller has already cut `size` to
// the command block's allocation length); GOOD with the residual.
Outcome ReplyIn(const Command& command, const uint8_t* reply, uint32_t size);

// A host's time-out in seconds as the milliseconds of Command::timeOutMs, saturating.
constexpr uint32_t MillisecondsOf(uint32_t seconds) {
  return seconds < 0xFFFFFFFFu / 1000u ? seconds * 1000u : 0xFFFFFFFFu;
}

class Device {
 public:
  virtual ~Device() = default;
  virtual Outcome Execute(const Command& command) = 0;
  // Byte 0 of the standard INQUIRY data (qualifier and device type), as a bus reports it.
  virtual uint8_t PeripheralByte() const = 0;
  // The first 36 bytes of standard INQUIRY data, as a port driver stores them.
  virtual void StandardInquiry(uint8_t out[36]) const = 0;
  // How many times the device has come onto its bus: it changes when a device that vanished
  // (a USB bridge that resets) comes back. A handle opened before the change is dead: its
  // commands fail as ENODEV does (the transport reports kOsError), and the device must be
  // opened again. While Present() is false the device cannot be opened at all.
  virtual uint32_t Attachment() { return 0; }
  virtual bool Present() { return true; }
  // A reset from the host's side (a LOGICAL UNIT RESET or a target reset): the device returns to
  // its power-on state, apart from what it keeps in memory, and raises the unit attention
  // 06/29/03 (bus device reset function occurred).
  virtual void Reset() {}
};

// An optical drive's disc, as the answers to an operating system's polling tell it.
struct OpticalMedium {
  bool present = false;
  bool newMedia = false;  // a disc arrived and GET EVENT STATUS NOTIFICATION has not said so
};

// A device that answers INQUIRY (standard data, and vital product page 0), REQUEST SENSE and
// START STOP UNIT; an optical drive (peripheral type 5) also what a drive answers to an
// operating system, with a disc or without (sim/optical_answers); and CHECK CONDITION
// ILLEGAL REQUEST / INVALID COMMAND OPERATION CODE (05/20/00) for anything else. Optical drives
// of any model (peripheral byte 5) and disks (0) are this device with another identity.
//
// Sense data: the sense of a CHECK CONDITION is kept for a REQUEST SENSE that follows it at
// once; any other command discards it. Unit attentions follow SPC: a pending unit attention is
// reported once. A command other than INQUIRY and REQUEST SENSE then fails with CHECK CONDITION
// 06/ASC/ASCQ and is not executed; REQUEST SENSE reports it as its data (GOOD) and clears it;
// INQUIRY is not affected, nor on an optical drive (as MMC has it) GET CONFIGURATION and GET
// EVENT STATUS NOTIFICATION. Several may be pending, reported oldest first; a power-on or reset
// condition (ASC 0x29) replaces all that were pending before it.
struct Identity {
  std::string vendor;    // 8 characters, space-padded when shorter
  std::string product;   // 16 characters
  std::string revision;  // 4 characters
  uint8_t peripheralByte;
};

class BasicDevice : public Device {
 public:
  explicit BasicDevice(Identity identity);
  Outcome Execute(const Command& command) override;
  uint8_t PeripheralByte() const override { return identity_.peripheralByte; }
  void StandardInquiry(uint8_t out[36]) const override;

  void Reset() override;

  const Identity& identity() const { return identity_; }
  void SetRevision(const std::string& revision) { identity_.revision = revision; }
  bool started() const { return started_; }

  // Makes a unit attention pending (sense key 06).
  void RaiseUnitAttention(uint8_t asc, uint8_t ascq);
  // An optical drive's disc: present or not. A disc that arrives raises 06/28/00 (not ready to
  // ready change, medium may have changed) and a media event for GET EVENT STATUS NOTIFICATION.
  void SetDisc(bool present);
  // The most bytes that REQUEST SENSE (up to 18) and standard INQUIRY (up to 36) deliver,
  // whatever the allocation length allows; what a port driver stores of INQUIRY is as short.
  void LimitAnswers(uint32_t senseLength, uint32_t inquiryLength);

 protected:
  // Called first for every command the device receives.
  virtual void OnCommand(const Command&) {}
  // Commands of a derived device's own; returns false when the opcode is not one of them.
  virtual bool ExecuteOwn(const Command& command, Outcome& outcome);
  // The sense that REQUEST SENSE reports: the kept sense of the command before, else a pending
  // unit attention (cleared), else StateSense().
  virtual void CurrentSense(uint8_t sense[kSenseLength]);
  // The sense that tells the device's state when nothing else is to be reported: NO SENSE.
  virtual void StateSense(uint8_t sense[kSenseLength]);
  // Keeps the sense of a CHECK CONDITION for the next REQUEST SENSE; returns `outcome`.
  Outcome Remember(const Outcome& outcome);
  // The power-on state of what a reset clears: kept sense, pending unit attentions (the caller
  // raises the reset's own), a pending media event, the START STOP UNIT state.
  void ClearVolatileState();

  uint8_t pendingSense_[kSenseLength] = {};
  bool hasPendingSense_ = false;

 private:
  struct Attention {
    uint8_t asc, ascq;
  };
  static constexpr uint32_t kMaxAttentions = 8;

  Outcome Dispatch(const Command& command);
  bool TakeUnitAttention(uint8_t sense[kSenseLength]);

  Identity identity_;
  bool started_ = true;
  Attention attentions_[kMaxAttentions] = {};
  uint32_t attentionCount_ = 0;
  OpticalMedium medium_;
  uint32_t senseLength_ = kSenseLength;
  uint32_t inquiryLength_ = 36;
};

// A device whose INQUIRY always fails (CHECK CONDITION, HARDWARE ERROR 04/44/00).
class FailingInquiryDevice : public BasicDevice {
 public:
  explicit FailingInquiryDevice(Identity identity) : BasicDevice(std::move(identity)) {}

 protected:
  bool ExecuteOwn(const Command& command, Outcome& outcome) override;
};

// Identities of the simulated devices.
Identity SupportedDriveIdentity();  // "KORVADSK" / "RW/DVD KDR-7305C"
Identity OtherOpticalIdentity();    // an optical drive of another model
Identity DiskIdentity();            // peripheral type 0

}  // namespace sim
