// The Linux binding's firmware file operations and its tick count.
#pragma once

#include <cstdint>

#include "platform/os.h"

namespace platform {
namespace linux_file {

// Opens `path` read-only, non-blocking (a FIFO without a writer does not stop the open),
// close-on-exec and without becoming a controlling terminal, then looks at what the descriptor
// names: anything but a regular file is closed again and refused. No stat of the path before the
// open, so nothing can be swapped in between. InvalidHandle() on failure.
Handle OpenInputFile(const char* path, uint64_t* size);
// read(2), retried after an interruption: the count read, 0 at the end, -1 on an error.
int32_t ReadInputFile(Handle file, void* buffer, uint32_t length);
void CloseInputFile(Handle file);

// CLOCK_MONOTONIC in milliseconds, truncated to 32 bits as GetTickCount is.
uint32_t TickCount();

}  // namespace linux_file
}  // namespace platform
