// The Windows program's transports, one of which its version calls for: ASPI off the NT
// family, NT pass-through on it (with the NT 4 walk on NT 4 and older). The choice is made once,
// from the version, and nothing past it asks the version again.
#pragma once

#include "drive/aspi_transport.h"
#include "drive/nt_pass_through_transport.h"
#include "platform/windows_os.h"

class WindowsTransports {
 public:
  explicit WindowsTransports(platform::WindowsOs& os)
      : aspi_(os), nt_(os, false), nt4_(os, true) {}

  DriveTransport& For(const platform::WindowsFamily& family) {
    if (family.isWindowsNt == 0) return aspi_;  // the Windows 95/98/Me family
    if (family.isNt4OrOlder != 0) return nt4_;
    return nt_;
  }

 private:
  AspiTransport aspi_;
  NtPassThroughTransport nt_;
  NtPassThroughTransport nt4_;
};
