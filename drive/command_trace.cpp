#include "drive/command_trace.h"

#include <cstring>

#include "drive/drive.h"

namespace drive {
size_t FormatTraceLine(char* out, const uint8_t* cdb, uint8_t cdbLength, uint8_t direction,
                       uint32_t dataLength, bool ok, const uint8_t* sense, uint32_t moved) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t n = 0;
  const uint8_t count = cdbLength > 16 ? 16 : cdbLength;
  for (uint8_t i = 0; i < count; ++i) {
    out[n++] = kHex[cdb[i] >> 4];
    out[n++] = kHex[cdb[i] & 0x0F];
    out[n++] = ' ';
  }
  const char* dir = (direction & kDataOut) ? "out" : (direction & kDataIn) ? "in" : "none";
  int written;
  if (ok) {
    written = std::snprintf(out + n, kTraceLineMax - n, "%s %lu ok", dir,
                            static_cast<unsigned long>(dataLength));
  } else {
    const uint8_t key = sense != nullptr ? sense[2] & 0x0F : 0;
    const uint8_t asc = sense != nullptr ? sense[12] : 0;
    const uint8_t ascq = sense != nullptr ? sense[13] : 0;
    written = std::snprintf(out + n, kTraceLineMax - n, "%s %lu fail %02X/%02X/%02X", dir,
                            static_cast<unsigned long>(dataLength), key, asc, ascq);
  }
  if (written > 0) n += static_cast<size_t>(written);
  if (moved < dataLength) {
    written = std::snprintf(out + n, kTraceLineMax - n, " moved %lu",
                            static_cast<unsigned long>(moved));
    if (written > 0) n += static_cast<size_t>(written);
  }
  return n;
}

void CommandTrace::Write(const uint8_t* cdb, uint8_t cdbLength, uint8_t direction,
                         uint32_t dataLength, bool ok, const uint8_t* sense, uint32_t moved) {
  if (out_ == nullptr) return;
  char line[kTraceLineMax + 1];
  size_t n = FormatTraceLine(line, cdb, cdbLength, direction, dataLength, ok, sense, moved);
  line[n++] = '\n';
  // One fwrite per line: the stream's own lock keeps lines from different threads whole.
  const bool written = std::fwrite(line, 1, n, out_) == n;
  if (std::fflush(out_) != 0 || !written) failed_.store(true);
}

}  // namespace drive
