#include "sim/iscsi/session.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace iscsi {
namespace {

constexpr uint32_t kCommandWindow = 32;  // commands the initiator may have queued at once

// Login status classes and details (bytes 36 and 37 of a login response).
constexpr uint16_t kLoginInitiatorError = 0x0200;
constexpr uint16_t kLoginAuthenticationFailure = 0x0201;
constexpr uint16_t kLoginTargetNotFound = 0x0203;
constexpr uint16_t kLoginMissingParameter = 0x0207;

// Reject reasons.
constexpr uint8_t kRejectNotSupported = 0x05;
constexpr uint8_t kRejectProtocolError = 0x04;
constexpr uint8_t kRejectInvalidField = 0x09;

bool ListHas(const std::string& list, const std::string& value) {
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = list.find(',', start);
    const size_t end = comma == std::string::npos ? list.size() : comma;
    if (list.compare(start, end - start, value) == 0) return true;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return false;
}

uint32_t Number(const std::string& text, uint32_t fallback) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || value > 0xFFFFFFu) return fallback;
  return static_cast<uint32_t>(value);
}

}  // namespace

Pdu Session::Answer(uint8_t opcode, uint32_t tag, bool status) {
  Pdu pdu;
  pdu.header[0] = opcode;
  pdu.header[1] = 0x80;
  Put32(pdu.header + 16, tag);
  Put32(pdu.header + 24, status ? statSN_++ : statSN_);
  Put32(pdu.header + 28, expCmdSN_);
  Put32(pdu.header + 32, expCmdSN_ + kCommandWindow - 1);
  return pdu;
}

void Session::NoteCommandNumber(const Pdu& in) {
  if (Immediate(in)) return;
  const uint32_t cmdSN = Get32(in.header + 24);
  if (static_cast<int32_t>(cmdSN - expCmdSN_) >= 0) expCmdSN_ = cmdSN + 1;
}

bool Session::Receive(const Pdu& in, std::vector<Pdu>& out) {
  const uint8_t opcode = Opcode(in);
  if (opcode == kOpLogin) return Login(in, out);
  if (!fullFeature_) return false;  // nothing but login before the session is established
  switch (opcode) {
    case kOpScsiCommand:
      return Command(in, out);
    case kOpDataOut:
      return DataOut(in, out);
    case kOpNopOut:
      NopOut(in, out);
      return true;
    case kOpTaskManagement:
      TaskManagement(in, out);
      return true;
    case kOpText:
      Text(in, out);
      return true;
    case kOpLogout:
      Logout(in, out);
      return false;
    default:
      Reject(in, kRejectNotSupported, out);
      return true;
  }
}

bool Session::Login(const Pdu& in, std::vector<Pdu>& out) {
  if (fullFeature_) {
    Reject(in, kRejectProtocolError, out);
    return false;
  }
  if (!loginStarted_) {
    loginStarted_ = true;
    std::memcpy(isid_, in.header + 8, sizeof isid_);
    expCmdSN_ = Get32(in.header + 24);  // login requests are immediate: CmdSN does not advance
  }
  const uint8_t flags = in.header[1];
  const bool transit = (flags & 0x80) != 0;
  const uint8_t current = (flags >> 2) & 0x03;
  const uint8_t next = flags & 0x03;

  Pdu answer = Answer(kOpLoginResponse, TaskTag(in), true);
  std::memcpy(answer.header + 8, isid_, sizeof isid_);
  uint16_t status = 0;
  std::vector<uint8_t>& keys = answer.data;
  for (const auto& [key, value] : ParseKeys(in.data)) {
    if (key == "InitiatorName" || key == "InitiatorAlias") continue;
    if (key == "SessionType") {
      discovery_ = value == "Discovery";
    } else if (key == "TargetName") {
      if (value != config_.targetName) status = kLoginTargetNotFound;
      targetNamed_ = true;
      AppendKey(keys, "TargetPortalGroupTag", "1");
    } else if (key == "AuthMethod") {
      if (!ListHas(value, "None")) status = kLoginAuthenticationFailure;
      AppendKey(keys, key, "None");
    } else if (key == "HeaderDigest" || key == "DataDigest") {
      if (!ListHas(value, "None")) status = kLoginInitiatorError;
      AppendKey(keys, key, "None");
    } else if (key == "InitialR2T") {
      AppendKey(keys, key, "Yes");  // the result is the OR of both sides
    } else if (key == "ImmediateData") {
      AppendKey(keys, key, value == "Yes" ? "Yes" : "No");
    } else if (key == "MaxBurstLength") {
      maxBurst_ = std::max<uint32_t>(512, std::min(Number(value, 512), config_.maxBurst));
      AppendKey(keys, key, std::to_string(maxBurst_));
    } else if (key == "FirstBurstLength") {
      AppendKey(keys, key, std::to_string(std::min(Number(value, 512), config_.firstBurst)));
    } else if (key == "MaxRecvDataSegmentLength") {
      // Declarative: the initiator's limit for what it receives, and ours in return.
      initiatorMaxRecv_ = std::max<uint32_t>(512, Number(value, 8192));
      AppendKey(keys, key, std::to_string(config_.maxRecvDataSegment));
    } else if (key == "DefaultTime2Wait" || key == "DefaultTime2Retain") {
      AppendKey(keys, key, value);
    } else if (key == "MaxOutstandingR2T" || key == "MaxConnections") {
      AppendKey(keys, key, "1");
    } else if (key == "ErrorRecoveryLevel") {
      AppendKey(keys, key, "0");
    } else if (key == "IFMarker" || key == "OFMarker") {
      AppendKey(keys, key, "No");
    } else if (key == "DataPDUInOrder" || key == "DataSequenceInOrder") {
      AppendKey(keys, key, "Yes");
    } else {
      AppendKey(keys, key, "NotUnderstood");
    }
  }
  const bool toFullFeature = transit && next == 3;
  if (status == 0 && toFullFeature && !discovery_ && !targetNamed_) {
    status = kLoginMissingParameter;
  }
  if (status != 0) {
    answer.data.clear();
    answer.header[1] = static_cast<uint8_t>(current << 2);
    answer.header[36] = static_cast<uint8_t>(status >> 8);
    answer.header[37] = static_cast<uint8_t>(status);
    out.push_back(answer);
    return false;
  }
  answer.header[1] = static_cast<uint8_t>((transit ? 0x80 : 0x00) | (current << 2) |
                                          (transit ? next : 0));
  if (toFullFeature) {
    answer.header[15] = 1;  // TSIH: the session now exists
    fullFeature_ = true;
  }
  out.push_back(answer);
  return true;
}

bool Session::Command(const Pdu& in, std::vector<Pdu>& out) {
  NoteCommandNumber(in);
  if (discovery_) {
    Reject(in, kRejectProtocolError, out);
    return true;
  }
  const uint32_t tag = TaskTag(in);
  const uint32_t lun = LunOf(in);
  const bool read = (in.header[1] & 0x40) != 0;
  const bool write = (in.header[1] & 0x20) != 0;
  const uint32_t expected = Get32(in.header + 20);
  const uint8_t* cdb = in.header + 32;

  Outcome refusal{};
  if (!units_.Exists(lun)) {
    refusal = CheckCondition(0x05, 0x25, 0x00);  // logical unit not supported
  } else if ((read && write) || expected > config_.maxExpectedTransfer) {
    refusal = CheckCondition(0x05, 0x24, 0x00);  // bidirectional or oversized transfer
  }
  if (refusal.delivered) {
    Pdu answer = Answer(kOpScsiResponse, tag, true);
    answer.header[3] = refusal.status;
    if (expected > 0) {
      answer.header[1] |= 0x02;  // underflow: nothing was transferred
      Put32(answer.header + 44, expected);
    }
    answer.data = {0x00, static_cast<uint8_t>(kSenseLength)};
    answer.data.insert(answer.data.end(), refusal.sense, refusal.sense + kSenseLength);
    out.push_back(answer);
    return true;
  }

  std::vector<uint8_t> buffer(expected, 0);
  if (!write) {
    Complete(tag, lun, cdb, read && expected > 0 ? kDirIn : kDirNone, buffer, out);
    return true;
  }
  const uint32_t immediate = std::min<uint32_t>(static_cast<uint32_t>(in.data.size()), expected);
  std::copy(in.data.begin(), in.data.begin() + immediate, buffer.begin());
  if (immediate == expected) {
    Complete(tag, lun, cdb, kDirOut, buffer, out);
    return true;
  }
  PendingWrite& pending = writes_[tag];
  pending.lun = lun;
  std::memcpy(pending.cdb, cdb, sizeof pending.cdb);
  pending.buffer = std::move(buffer);
  pending.received = immediate;
  pending.r2tSequence = 0;
  AskForData(tag, pending, out);
  return true;
}

void Session::AskForData(uint32_t tag, PendingWrite& write, std::vector<Pdu>& out) {
  const uint32_t size = static_cast<uint32_t>(write.buffer.size());
  const uint32_t length = std::min(size - write.received, maxBurst_);
  write.burstEnd = write.received + length;
  write.transferTag = nextTransferTag_++;
  if (nextTransferTag_ == kNoTag) nextTransferTag_ = 1;
  Pdu r2t = Answer(kOpReadyToTransfer, tag, false);
  Put32(r2t.header + 8, write.lun << 16);  // single-level LUN, peripheral addressing
  Put32(r2t.header + 20, write.transferTag);
  Put32(r2t.header + 36, write.r2tSequence++);
  Put32(r2t.header + 40, write.received);
  Put32(r2t.header + 44, length);
  out.push_back(r2t);
}

bool Session::DataOut(const Pdu& in, std::vector<Pdu>& out) {
  auto found = writes_.find(TaskTag(in));
  if (found == writes_.end()) {
    Reject(in, kRejectInvalidField, out);
    return true;
  }
  PendingWrite& write = found->second;
  const uint32_t offset = Get32(in.header + 40);
  const uint64_t end = uint64_t{offset} + in.data.size();
  if (Get32(in.header + 20) != write.transferTag || end > write.burstEnd) {
    Reject(in, kRejectInvalidField, out);
    return true;
  }
  std::copy(in.data.begin(), in.data.end(), write.buffer.begin() + offset);
  write.received = std::max(write.received, static_cast<uint32_t>(end));
  if ((in.header[1] & 0x80) == 0) return true;  // more of this burst follows
  if (write.received >= write.buffer.size()) {
    PendingWrite done = std::move(write);
    writes_.erase(found);
    Complete(TaskTag(in), done.lun, done.cdb, kDirOut, done.buffer, out);
  } else if (write.received >= write.burstEnd) {
    AskForData(found->first, write, out);
  }
  return true;
}

void Session::Complete(uint32_t tag, uint32_t lun, const uint8_t cdb[16], uint8_t direction,
                       std::vector<uint8_t>& buffer, std::vector<Pdu>& out) {
  const uint32_t size = static_cast<uint32_t>(buffer.size());
  const Outcome outcome = units_.Execute(lun, cdb, direction, buffer.data(), size);
  if (!outcome.delivered) return;  // the device stays silent: no answer at all
  const uint32_t residual = std::min(outcome.residual, size);
  const uint32_t moved = size - residual;

  if (outcome.status == kStatusGood && direction == kDirIn && moved > 0) {
    // The data the unit moved, in segments the initiator accepts, the status with the last one.
    const uint32_t segment = std::max<uint32_t>(512, initiatorMaxRecv_);
    uint32_t dataSN = 0;
    for (uint32_t offset = 0; offset < moved; offset += segment) {
      const uint32_t length = std::min(segment, moved - offset);
      const bool last = offset + length == moved;
      Pdu dataIn = Answer(kOpDataIn, tag, last);
      dataIn.header[1] = last ? 0x81 : 0x00;  // F and S on the last
      dataIn.header[3] = last ? outcome.status : 0;
      if (last && residual > 0) {
        dataIn.header[1] |= 0x02;  // U: underflow, ResidualCount valid
        Put32(dataIn.header + 44, residual);
      }
      Put32(dataIn.header + 8, lun << 16);
      Put32(dataIn.header + 20, kNoTag);
      Put32(dataIn.header + 36, dataSN++);
      Put32(dataIn.header + 40, offset);
      dataIn.data.assign(buffer.begin() + offset, buffer.begin() + offset + length);
      out.push_back(std::move(dataIn));
    }
    return;
  }
  Pdu answer = Answer(kOpScsiResponse, tag, true);
  answer.header[3] = outcome.status;
  if (direction != kDirNone && residual > 0) {
    answer.header[1] |= 0x02;  // U: underflow, ResidualCount valid
    Put32(answer.header + 44, residual);
  }
  if (outcome.status != kStatusGood) {
    answer.data = {0x00, static_cast<uint8_t>(kSenseLength)};
    answer.data.insert(answer.data.end(), outcome.sense, outcome.sense + kSenseLength);
  }
  out.push_back(answer);
}

void Session::NopOut(const Pdu& in, std::vector<Pdu>& out) {
  NoteCommandNumber(in);
  if (TaskTag(in) == kNoTag) return;  // an answer to a ping of ours: we send none
  Pdu answer = Answer(kOpNopIn, TaskTag(in), true);
  std::memcpy(answer.header + 8, in.header + 8, 8);
  Put32(answer.header + 20, kNoTag);
  const size_t echo = std::min<size_t>(in.data.size(), initiatorMaxRecv_);
  answer.data.assign(in.data.begin(), in.data.begin() + static_cast<long>(echo));
  out.push_back(answer);
}

void Session::TaskManagement(const Pdu& in, std::vector<Pdu>& out) {
  NoteCommandNumber(in);
  const uint8_t function = in.header[1] & 0x7F;
  uint8_t response = 0;  // function complete
  switch (function) {
    case 1:  // ABORT TASK: a write still waiting for its data is dropped
      writes_.erase(Get32(in.header + 20));
      break;
    case 2:  // ABORT TASK SET
    case 4:  // CLEAR TASK SET
      writes_.clear();
      break;
    case 5:  // LOGICAL UNIT RESET
    case 6:  // TARGET WARM RESET
      writes_.clear();
      if (function == 6 || units_.Exists(LunOf(in))) {
        units_.Reset(function == 6, LunOf(in));
      } else {
        response = 1;  // task (here: logical unit) does not exist
      }
      break;
    default:
      response = 5;  // function not supported
      break;
  }
  Pdu answer = Answer(kOpTaskManagementResponse, TaskTag(in), true);
  answer.header[2] = response;
  out.push_back(answer);
}

void Session::Text(const Pdu& in, std::vector<Pdu>& out) {
  NoteCommandNumber(in);
  Pdu answer = Answer(kOpTextResponse, TaskTag(in), true);
  Put32(answer.header + 20, kNoTag);
  for (const auto& [key, value] : ParseKeys(in.data)) {
    if (key == "SendTargets") {
      if (value == "All" || value == config_.targetName || (value.empty() && !discovery_)) {
        AppendKey(answer.data, "TargetName", config_.targetName);
        AppendKey(answer.data, "TargetAddress", config_.address);
      }
    } else {
      AppendKey(answer.data, key, "NotUnderstood");
    }
  }
  out.push_back(answer);
}

void Session::Logout(const Pdu& in, std::vector<Pdu>& out) {
  NoteCommandNumber(in);
  writes_.clear();
  Pdu answer = Answer(kOpLogoutResponse, TaskTag(in), true);
  answer.header[2] = 0;  // connection or session closed successfully
  out.push_back(answer);
}

void Session::Reject(const Pdu& in, uint8_t reason, std::vector<Pdu>& out) {
  Pdu answer = Answer(kOpReject, kNoTag, true);
  answer.header[2] = reason;
  answer.data.assign(in.header, in.header + kHeaderSize);
  out.push_back(answer);
}

}  // namespace iscsi
}  // namespace sim
