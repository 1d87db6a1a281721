// A trace of every command sent to a drive, one line each, written by the transports:
//   3C 02 00 00 10 00 00 10 00 0A 0B 0C in 4096 ok
//   00 00 00 00 00 00 00 00 00 00 00 00 none 0 fail 02/04/07
//   3B 01 01 12 34 00 00 00 00 0A 0B 0C in 4096 ok moved 0
// (CDB bytes, direction, data length, outcome, for a failure sense key/ASC/ASCQ in hex, and
// " moved N" where the transport reported that fewer bytes moved than the data length.)
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace drive {

class CommandTrace {
 public:
  // Lines go to `out`, which the caller keeps open while the trace is in use.
  explicit CommandTrace(std::FILE* out) : out_(out) {}
  CommandTrace(const CommandTrace&) = delete;
  CommandTrace& operator=(const CommandTrace&) = delete;

  // Writes one line for a command that reached the transport. `sense` holds fixed-format sense
  // data (key in byte 2, ASC in 12, ASCQ in 13) and is read only for a failure; null reads as
  // zeros. `moved` is the bytes moved as the transport reported them (anything not below
  // dataLength, kMovedUnknown included, adds nothing to the line). Lines from several threads
  // never interleave.
  void Write(const uint8_t* cdb, uint8_t cdbLength, uint8_t direction, uint32_t dataLength,
             bool ok, const uint8_t* sense, uint32_t moved = 0xFFFFFFFFu);

  // True once a line could not be written in full (a full disk, a file-size limit): the
  // commands went on regardless, and the caller says the trace is incomplete.
  bool Failed() const { return failed_.load(); }

 private:
  std::FILE* const out_;
  std::atomic<bool> failed_{false};
};

// Formats the line CommandTrace::Write writes (without the newline) into `out`; returns its
// length. `out` must hold kTraceLineMax bytes.
constexpr size_t kTraceLineMax = 128;
size_t FormatTraceLine(char* out, const uint8_t* cdb, uint8_t cdbLength, uint8_t direction,
                       uint32_t dataLength, bool ok, const uint8_t* sense,
                       uint32_t moved = 0xFFFFFFFFu);

}  // namespace drive
