// iSCSI protocol data units as the target of the simulated drives sends and receives them: the
// 48-byte basic header segment, its fields, the data segment, and the text keys (key=value,
// each ending with a zero byte) of login and text requests. No digests: the target negotiates
// them off.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {
namespace iscsi {

constexpr uint32_t kHeaderSize = 48;
constexpr uint32_t kNoTag = 0xFFFFFFFFu;  // "no task tag" in task and transfer tag fields

// Opcodes (byte 0, low six bits). Requests from the initiator:
constexpr uint8_t kOpNopOut = 0x00;
constexpr uint8_t kOpScsiCommand = 0x01;
constexpr uint8_t kOpTaskManagement = 0x02;
constexpr uint8_t kOpLogin = 0x03;
constexpr uint8_t kOpText = 0x04;
constexpr uint8_t kOpDataOut = 0x05;
constexpr uint8_t kOpLogout = 0x06;
// and answers from the target:
constexpr uint8_t kOpNopIn = 0x20;
constexpr uint8_t kOpScsiResponse = 0x21;
constexpr uint8_t kOpTaskManagementResponse = 0x22;
constexpr uint8_t kOpLoginResponse = 0x23;
constexpr uint8_t kOpTextResponse = 0x24;
constexpr uint8_t kOpDataIn = 0x25;
constexpr uint8_t kOpLogoutResponse = 0x26;
constexpr uint8_t kOpReadyToTransfer = 0x31;
constexpr uint8_t kOpReject = 0x3F;

struct Pdu {
  uint8_t header[kHeaderSize] = {};
  std::vector<uint8_t> data;  // the data segment, without its padding
};

uint32_t Get32(const uint8_t* p);
void Put32(uint8_t* p, uint32_t value);
uint32_t Get24(const uint8_t* p);
void Put24(uint8_t* p, uint32_t value);

inline uint8_t Opcode(const Pdu& pdu) { return pdu.header[0] & 0x3F; }
inline bool Immediate(const Pdu& pdu) { return (pdu.header[0] & 0x40) != 0; }
inline uint32_t TaskTag(const Pdu& pdu) { return Get32(pdu.header + 16); }
// The logical unit number of bytes 8..15 (single-level, peripheral or flat addressing).
uint32_t LunOf(const Pdu& pdu);

// Lengths that a received header announces: additional header segments and the data segment.
inline uint32_t AdditionalHeaderBytes(const uint8_t header[kHeaderSize]) {
  return uint32_t{header[4]} * 4;
}
inline uint32_t DataSegmentLength(const uint8_t header[kHeaderSize]) {
  return Get24(header + 5);
}
// Bytes on the wire for a data segment of `length`: padded to a multiple of four.
inline uint32_t Padded(uint32_t length) { return (length + 3) & ~3u; }

// The PDU as sent: header with its data segment length filled in, then the padded data.
std::vector<uint8_t> Serialize(const Pdu& pdu);

using TextKeys = std::vector<std::pair<std::string, std::string>>;
// Parses key=value text; pieces without '=' are dropped. Bounded by the data itself.
TextKeys ParseKeys(const std::vector<uint8_t>& data);
void AppendKey(std::vector<uint8_t>& data, const std::string& key, const std::string& value);

}  // namespace iscsi
}  // namespace sim
