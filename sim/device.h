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
constexpr uint8_t kDirIn = 0x08;   // same encoding as SRB_DIR_IN
constexpr uint8_t kDirOut = 0x10;  // same encoding as SRB_DIR_OUT

constexpr uint32_t kSenseLength = 18;  // fixed-format sense data

struct Command {
  const uint8_t* cdb;
  uint8_t cdbLength;
  uint8_t direction;  // kDirIn, kDirOut or kDirNone
  uint8_t* data;      // dataLength bytes, read for kDirOut, written for kDirIn
  uint32_t dataLength;
  // How long the host waits for the answer, in milliseconds; 0: the host sets no limit. A
  // device that hangs holds the command this long (through the seam's sleep) and then does not
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
};

// A device that answers INQUIRY (standard data, and vital product page 0), REQUEST SENSE and
// START STOP UNIT; an optical drive (peripheral type 5) also what a drive without a disc answers
// to an operating system (sim/optical_answers); and CHECK CONDITION
// ILLEGAL REQUEST / INVALID COMMAND OPERATION CODE (05/20/00) for anything else. Optical drives
// of any model (peripheral byte 5) and disks (0) are this device with another identity.
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

  const Identity& identity() const { return identity_; }
  void SetRevision(const std::string& revision) { identity_.revision = revision; }
  bool started() const { return started_; }

 protected:
  // Commands of a derived device's own; returns false when the opcode is not one of them.
  virtual bool ExecuteOwn(const Command& command, Outcome& outcome);
  // The sense that REQUEST SENSE reports next (cleared after it is reported unless sticky).
  virtual void CurrentSense(uint8_t sense[kSenseLength]);
  // Keeps the sense of a CHECK CONDITION for the next REQUEST SENSE; returns `outcome`.
  Outcome Remember(const Outcome& outcome);

  uint8_t pendingSense_[kSenseLength] = {};
  bool hasPendingSense_ = false;

 private:
  Identity identity_;
  bool started_ = true;
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
