#include "sim/iscsi/pdu.h"

namespace sim {
namespace iscsi {

uint32_t Get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void Put32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

uint32_t Get24(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }

void Put24(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 16);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value);
}

uint32_t LunOf(const Pdu& pdu) {
  return (uint32_t{pdu.header[8] & 0x3Fu} << 8) | pdu.header[9];
}

std::vector<uint8_t> Serialize(const Pdu& pdu) {
  std::vector<uint8_t> out(pdu.header, pdu.header + kHeaderSize);
  Put24(out.data() + 5, static_cast<uint32_t>(pdu.data.size()));
  out.insert(out.end(), pdu.data.begin(), pdu.data.end());
  out.resize(kHeaderSize + Padded(static_cast<uint32_t>(pdu.data.size())), 0);
  return out;
}

TextKeys ParseKeys(const std::vector<uint8_t>& data) {
  TextKeys keys;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = start;
    while (end < data.size() && data[end] != 0) ++end;
    const std::string piece(data.begin() + static_cast<long>(start),
                            data.begin() + static_cast<long>(end));
    const size_t equals = piece.find('=');
    if (equals != std::string::npos && equals > 0) {
      keys.emplace_back(piece.substr(0, equals), piece.substr(equals + 1));
    }
    start = end + 1;
  }
  return keys;
}

void AppendKey(std::vector<uint8_t>& data, const std::string& key, const std::string& value) {
  const std::string pair = key + "=" + value;
  data.insert(data.end(), pair.begin(), pair.end());
  data.push_back(0);
}

}  // namespace iscsi
}  // namespace sim
