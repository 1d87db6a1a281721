// A trace of every command sent to a drive, one line each, written at the device seam:
//   3C 02 00 00 10 00 00 10 00 0A 0B 0C in 4096 ok
//   00 00 00 00 00 00 00 00 00 00 00 00 none 0 fail 02/04/07
//   3B 01 01 12 34 00 00 00 00 0A 0B 0C in 4096 ok moved 0
// (CDB bytes, direction, data length, outcome, for a failure sense key/ASC/ASCQ in hex, and
// " moved N" where the transport reported that fewer bytes moved than the data length.)
#pragma once

#include <cstdint>
#include <cstdio>

namespace drive {

// Switches the trace on (lines go to `out`) or off (nullptr). The caller keeps `out` open.
void SetCommandTrace(std::FILE* out);
// True once a trace line could not be written in full (a full disk, a file-size limit): the
// commands went on regardless, and the caller says the trace is incomplete.
bool CommandTraceFailed();

// Writes one line for a command that reached the transport, if the trace is on. `sense` holds
// fixed-format sense data (key in byte 2, ASC in 12, ASCQ in 13) and is read only for a failure;
// null reads as zeros. `moved` is the bytes moved as the transport reported them (anything not
// below dataLength, kMovedUnknown included, adds nothing to the line). Lines from several
// threads never interleave.
void TraceCommand(const uint8_t* cdb, uint8_t cdbLength, uint8_t direction, uint32_t dataLength,
                  bool ok, const uint8_t* sense, uint32_t moved = 0xFFFFFFFFu);

// Formats the line TraceCommand writes (without the newline) into `out`; returns its length.
// `out` must hold kTraceLineMax bytes.
constexpr size_t kTraceLineMax = 128;
size_t FormatTraceLine(char* out, const uint8_t* cdb, uint8_t cdbLength, uint8_t direction,
                       uint32_t dataLength, bool ok, const uint8_t* sense,
                       uint32_t moved = 0xFFFFFFFFu);

}  // namespace drive
