// One iSCSI session on one connection, as the target of the simulated drives runs it: login
// without authentication (operational keys answered with no digests, InitialR2T=Yes,
// immediate data), discovery (SendTargets), SCSI commands with immediate data, R2T and Data-Out
// for writes, Data-In with status for reads, SCSI Response with sense, NOP, task management and
// logout. Plain logic without sockets: each received PDU yields the PDUs to send back.
//
// Residuals: a data-in command sends only the bytes its unit moved. When the unit moved fewer
// than the initiator's expected data transfer length, the status says so as iSCSI does: the
// underflow bit (U) in the flags and the difference in ResidualCount, on the last Data-In
// (the one with the status, S) or on the SCSI Response; the same for a data-out command whose
// unit took less. A unit that moves what fits of a larger transfer reports no residual, and the
// target no overflow.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/device.h"
#include "sim/iscsi/pdu.h"

namespace sim {
namespace iscsi {

// The target's logical units, as a session reaches them.
class LogicalUnits {
 public:
  virtual ~LogicalUnits() = default;
  virtual bool Exists(uint32_t lun) const = 0;
  // Executes the command block `cdb` (16 bytes as received) on `lun` with a data buffer of
  // `length` bytes (read for kDirOut, written for kDirIn).
  virtual Outcome Execute(uint32_t lun, const uint8_t cdb[16], uint8_t direction, uint8_t* data,
                          uint32_t length) = 0;
  // A LOGICAL UNIT RESET of `lun`, or with `wholeTarget` a target reset of every unit.
  virtual void Reset(bool wholeTarget, uint32_t lun) = 0;
};

struct SessionConfig {
  std::string targetName;   // the IQN the target answers to
  std::string address;      // "127.0.0.1:PORT,1", as SendTargets reports it
  uint32_t maxRecvDataSegment = 262144;  // what the target accepts in one data segment
  uint32_t maxBurst = 262144;
  uint32_t firstBurst = 65536;
  uint32_t maxExpectedTransfer = 16u << 20;  // longer transfers are refused
};

class Session {
 public:
  Session(const SessionConfig& config, LogicalUnits& units) : config_(config), units_(units) {}

  // Handles one PDU from the initiator and appends the answers to `out`. Returns false when the
  // connection ends after `out` is sent (logout, failed login, protocol error).
  bool Receive(const Pdu& in, std::vector<Pdu>& out);

  bool loggedIn() const { return fullFeature_; }

 private:
  // A write command waiting for its data.
  struct PendingWrite {
    uint32_t lun;
    uint8_t cdb[16];
    std::vector<uint8_t> buffer;
    uint32_t received;
    uint32_t burstEnd;  // where the data the last R2T asked for ends
    uint32_t transferTag;
    uint32_t r2tSequence;
  };

  bool Login(const Pdu& in, std::vector<Pdu>& out);
  bool Command(const Pdu& in, std::vector<Pdu>& out);
  bool DataOut(const Pdu& in, std::vector<Pdu>& out);
  void Text(const Pdu& in, std::vector<Pdu>& out);
  void TaskManagement(const Pdu& in, std::vector<Pdu>& out);
  void NopOut(const Pdu& in, std::vector<Pdu>& out);
  void Logout(const Pdu& in, std::vector<Pdu>& out);
  void Reject(const Pdu& in, uint8_t reason, std::vector<Pdu>& out);

  // Runs a command whose data (if any) is complete and appends Data-In and the status.
  void Complete(uint32_t tag, uint32_t lun, const uint8_t cdb[16], uint8_t direction,
                std::vector<uint8_t>& buffer, std::vector<Pdu>& out);
  void AskForData(uint32_t tag, PendingWrite& write, std::vector<Pdu>& out);
  // Answer header with the opcode, task tag and the sequence numbers filled in; `status`
  // answers carry the next StatSN and advance it.
  Pdu Answer(uint8_t opcode, uint32_t tag, bool status);
  void NoteCommandNumber(const Pdu& in);

  SessionConfig config_;
  LogicalUnits& units_;
  bool fullFeature_ = false;
  bool discovery_ = false;
  bool loginStarted_ = false;
  bool targetNamed_ = false;
  uint8_t isid_[6] = {};
  uint32_t statSN_ = 1;
  uint32_t expCmdSN_ = 0;
  uint32_t initiatorMaxRecv_ = 8192;  // until the initiator declares its own
  uint32_t maxBurst_ = 262144;
  uint32_t nextTransferTag_ = 1;
  std::map<uint32_t, PendingWrite> writes_;  // by initiator task tag
};

}  // namespace iscsi
}  // namespace sim
