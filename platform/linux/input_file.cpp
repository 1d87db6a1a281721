#include "platform/linux/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>

namespace platform {
namespace linux_file {
namespace {

// The handle of an open input file: its descriptor, kept apart from the device and event
// handles of the rest of the binding.
struct InputFile {
  int fd;
};

InputFile* AsInputFile(Handle handle) {
  if (handle == nullptr || handle == InvalidHandle()) return nullptr;
  return static_cast<InputFile*>(handle);
}

}  // namespace

Handle OpenInputFile(const char* path, uint64_t* size) {
  if (path == nullptr) return InvalidHandle();
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return InvalidHandle();
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
    close(fd);
    return InvalidHandle();
  }
  // Reads of a regular file never block; clear the flag all the same, so that the descriptor
  // reads as an ordinary one.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  auto* file = new (std::nothrow) InputFile{fd};
  if (file == nullptr) {
    close(fd);
    return InvalidHandle();
  }
  if (size != nullptr) *size = static_cast<uint64_t>(info.st_size);
  return file;
}

int32_t ReadInputFile(Handle handle, void* buffer, uint32_t length) {
  InputFile* file = AsInputFile(handle);
  if (file == nullptr || (buffer == nullptr && length > 0)) return -1;
  const size_t asked = length > 0x40000000u ? 0x40000000u : length;
  for (;;) {
    const ssize_t got = read(file->fd, buffer, asked);
    if (got >= 0) return static_cast<int32_t>(got);
    if (errno != EINTR) return -1;
  }
}

void CloseInputFile(Handle handle) {
  InputFile* file = AsInputFile(handle);
  if (file == nullptr) return;
  close(file->fd);
  delete file;
}

uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                      static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

}  // namespace linux_file
}  // namespace platform
