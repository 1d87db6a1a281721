// What the Windows program needs of the operating system beyond the shared entries: the
// version, events, drive-letter devices with DeviceIoControl, and the restart's two steps. The
// Windows binding implements it; on Linux only tests and the simulated Windows buses do.
#pragma once

#include <cstdint>

#include "platform/os.h"

namespace platform {

// GetVersionExA's answer, reduced to what the program reads.
constexpr uint32_t kPlatformWin32Windows = 1;  // Windows 95/98/Me
constexpr uint32_t kPlatformWin32Nt = 2;       // Windows NT 4, 2000, XP and later
struct VersionInfo {
  uint32_t platformId;
  uint32_t majorVersion;
  uint32_t minorVersion;
};

// ExitWindowsEx flags.
constexpr uint32_t kEwxReboot = 0x0002;
constexpr uint32_t kEwxForce = 0x0004;

class WindowsOs : public Os {
 public:
  // GetVersionExA. False when the version cannot be read.
  virtual bool getVersion(VersionInfo* out) = 0;

  // CreateEventA(no security, manual reset, not signalled, no name); nullptr on failure.
  virtual Handle createEvent() = 0;
  virtual void setEvent(Handle event) = 0;
  virtual void waitEvent(Handle event) = 0;  // WaitForSingleObject with an infinite time-out
  virtual void closeHandle(Handle handle) = 0;

  // CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, none,
  // OPEN_EXISTING, 0, none). InvalidHandle() on failure.
  virtual Handle openDevice(const char* path) = 0;
  // DeviceIoControl without an overlapped structure. False when the request failed.
  virtual bool deviceControl(Handle device, uint32_t code, void* in, uint32_t inSize, void* out,
                             uint32_t outSize, uint32_t* bytesReturned) = 0;

  // The restart steps. acquireShutdownPrivilege: OpenProcessToken, LookupPrivilegeValueA
  // ("SeShutdownPrivilege"), AdjustTokenPrivileges, and GetLastError() == 0 afterwards; false at
  // the first step that fails. exitWindows: ExitWindowsEx(flags, 0).
  virtual bool acquireShutdownPrivilege() = 0;
  virtual bool exitWindows(uint32_t flags) = 0;

  // The NT family asks for the shutdown privilege first, and a user who lacks it is not
  // restarted (silently); the 95/98/Me family has no privileges. Then a forced reboot.
  bool restartComputer() override;
};

// The Windows family as getVersion reports it: the NT family (and NT 4 or older in it), or the
// 95/98/Me family, which is also what an unreadable version counts as.
struct WindowsFamily {
  uint8_t isWindowsNt;
  uint8_t isNt4OrOlder;
};

inline WindowsFamily ReadWindowsFamily(WindowsOs& os) {
  VersionInfo version{};
  if (os.getVersion(&version) && version.platformId == kPlatformWin32Nt) {
    return WindowsFamily{1, static_cast<uint8_t>(version.majorVersion <= 4 ? 1 : 0)};
  }
  return WindowsFamily{0, 0};
}

inline bool WindowsOs::restartComputer() {
  if (ReadWindowsFamily(*this).isWindowsNt != 0 && !acquireShutdownPrivilege()) return false;
  return exitWindows(kEwxReboot | kEwxForce);
}

// Forwards every entry to another Windows binding (see OsWrapper). The restart is not
// forwarded: it runs here, through this object's own (possibly overridden) steps.
class WindowsOsWrapper : public ForwardingOs<WindowsOs> {
 public:
  explicit WindowsOsWrapper(WindowsOs& target) : ForwardingOs<WindowsOs>(target), target_(target) {}

  bool getVersion(VersionInfo* out) override { return target_.getVersion(out); }
  Handle createEvent() override { return target_.createEvent(); }
  void setEvent(Handle event) override { target_.setEvent(event); }
  void waitEvent(Handle event) override { target_.waitEvent(event); }
  void closeHandle(Handle handle) override { target_.closeHandle(handle); }
  Handle openDevice(const char* path) override { return target_.openDevice(path); }
  bool deviceControl(Handle device, uint32_t code, void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* bytesReturned) override {
    return target_.deviceControl(device, code, in, inSize, out, outSize, bytesReturned);
  }
  bool acquireShutdownPrivilege() override { return target_.acquireShutdownPrivilege(); }
  bool exitWindows(uint32_t flags) override { return target_.exitWindows(flags); }

 protected:
  WindowsOs& target() const { return target_; }

 private:
  WindowsOs& target_;
};

}  // namespace platform
