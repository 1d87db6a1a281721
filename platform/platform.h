// The operating-system seam: everything the system needs from the operating system is reached
// through the one table of function references below. Its Windows binding forwards to the
// real API; its Linux binding stands in for Windows (see platform/linux). This table is the one
// way fakes reach the code beneath a test: a test binds entries to fakes (a virtual clock,
// scripted message boxes, simulated buses, the kernel's calls beneath the Linux binding) for
// its own life with a ScopedOs, which puts the table back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// An opaque operating-system handle (a Windows HANDLE). Empty is nullptr.
using Handle = void*;
inline Handle InvalidHandle() { return reinterpret_cast<Handle>(static_cast<intptr_t>(-1)); }

// GetVersionExA's answer, reduced to what the program reads.
constexpr uint32_t kPlatformWin32Windows = 1;  // Windows 95/98/Me
constexpr uint32_t kPlatformWin32Nt = 2;       // Windows NT 4, 2000, XP and later
struct VersionInfo {
  uint32_t platformId;
  uint32_t majorVersion;
  uint32_t minorVersion;
};

// Message box styles and answers, with their Win32 values.
constexpr uint32_t kMbOk = 0x0000;
constexpr uint32_t kMbOkCancel = 0x0001;
constexpr uint32_t kMbYesNo = 0x0004;
constexpr uint32_t kMbSystemModal = 0x1000;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// ExitWindowsEx flags.
constexpr uint32_t kEwxReboot = 0x0002;
constexpr uint32_t kEwxForce = 0x0004;

struct Os {
  // GetVersionExA. False when the version cannot be read.
  bool (*getVersion)(VersionInfo* out);

  // LoadLibraryA, GetProcAddress, FreeLibrary. nullptr when the library or entry is missing.
  void* (*loadLibrary)(const char* name);
  void* (*getProcAddress)(void* library, const char* name);
  void (*freeLibrary)(void* library);

  // CreateEventA(no security, manual reset, not signalled, no name); nullptr on failure.
  Handle (*createEvent)();
  void (*setEvent)(Handle event);
  void (*waitEvent)(Handle event);  // WaitForSingleObject with an infinite time-out
  void (*closeHandle)(Handle handle);

  // CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, none,
  // OPEN_EXISTING, 0, none). InvalidHandle() on failure.
  Handle (*openDevice)(const char* path);
  // DeviceIoControl without an overlapped structure. False when the request failed.
  bool (*deviceControl)(Handle device, uint32_t code, void* in, uint32_t inSize, void* out,
                        uint32_t outSize, uint32_t* bytesReturned);

  // The process heap, zero-filled (HeapAlloc with HEAP_ZERO_MEMORY); nullptr on failure.
  void* (*heapAlloc)(size_t size);
  void (*heapFree)(void* block);

  // Per-request staging memory (pass-through data); nullptr on failure.
  void* (*allocBuffer)(size_t size);
  void (*freeBuffer)(void* block);

  // Image storage: committed read-write pages, zero-filled (VirtualAlloc / VirtualFree).
  void* (*allocImage)(size_t size);
  void (*freeImage)(void* block);

  // Sleep.
  void (*sleepMs)(uint32_t milliseconds);
  // GetTickCount: milliseconds of a monotonic clock, wrapping at 2^32 (differences of two
  // readings taken in unsigned arithmetic stay right across the wrap).
  uint32_t (*tickCount)();

  // The firmware file. openInputFile opens an existing file for reading without waiting for a
  // writer (a FIFO) and without handing it to child processes (close-on-exec), and refuses any
  // object that is not a regular file (a directory, FIFO, device or socket) before anything is
  // read from it; InvalidHandle() on failure. `size` receives its size, measured on the opened
  // file. readInputFile: up to `length` bytes from the current position; the count read, 0 at
  // the end of the file, -1 on a read error. closeInputFile closes it.
  Handle (*openInputFile)(const char* path, uint64_t* size);
  int32_t (*readInputFile)(Handle file, void* buffer, uint32_t length);
  void (*closeInputFile)(Handle file);

  // MessageBoxA; owner may be nullptr. Returns the answer (kIdOk, kIdYes, ...).
  int (*messageBox)(void* owner, const char* text, const char* caption, uint32_t style);

  // Starts fn(arg) on a new thread at normal priority; the thread is not joined.
  // False when no thread could be started.
  bool (*startThread)(void (*fn)(void* arg), void* arg);

  // The restart steps. acquireShutdownPrivilege: OpenProcessToken, LookupPrivilegeValueA
  // ("SeShutdownPrivilege"), AdjustTokenPrivileges, and GetLastError() == 0 afterwards; false at
  // the first step that fails. exitWindows: ExitWindowsEx(flags, 0).
  bool (*acquireShutdownPrivilege)();
  bool (*exitWindows)(uint32_t flags);

  // The program file's base name without its extension ("fwloader").
  const char* (*applicationName)();

  // Beneath the entries above, the Linux binding reaches the kernel through these (null on
  // Windows), so that tests of the binding itself stand in for the kernel the same way as for
  // anything else: open(2) of a device node, ioctl(2) on it, and the start of a detached POSIX
  // thread running start(arg), which answers 0 or an errno value.
  int (*openNode)(const char* path, int flags);
  int (*ioctlNode)(int fd, unsigned long request, void* arg);
  int (*startPosixThread)(void* (*start)(void*), void* arg);
};

// The bound table, used by every layer above this one.
Os& os();

// The Windows family as the bound getVersion reports it: the NT family (and NT 4 or older in
// it), or the 95/98/Me family, which is also what an unreadable version counts as.
struct WindowsFamily {
  uint8_t isWindowsNt;
  uint8_t isNt4OrOlder;
};
// (Inline, from the bound table alone: programs that bind their own table, like the fuzz
// targets, need nothing else.)
inline WindowsFamily ReadWindowsFamily() {
  VersionInfo version{};
  if (os().getVersion(&version) && version.platformId == kPlatformWin32Nt) {
    return WindowsFamily{1, static_cast<uint8_t>(version.majorVersion <= 4 ? 1 : 0)};
  }
  return WindowsFamily{0, 0};
}

// Whether restarting the computer needs acquireShutdownPrivilege first: on the NT family it
// does; the 95/98/Me family has no privileges.
inline bool RestartNeedsPrivilege() { return ReadWindowsFamily().isWindowsNt != 0; }

// The real bindings of the system this was built for.
Os RealOs();

// Restores the bound table when it goes out of scope (for tests that rebind parts of it).
class ScopedOs {
 public:
  ScopedOs() : saved_(os()) {}
  ~ScopedOs() { os() = saved_; }
  ScopedOs(const ScopedOs&) = delete;
  ScopedOs& operator=(const ScopedOs&) = delete;

 private:
  Os saved_;
};

}  // namespace platform
