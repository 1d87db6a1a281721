// The Windows binding of the operating system: the Win32 API. The Windows program builds one at
// start and hands it down.
#pragma once

#include <memory>

#include "platform/windows_os.h"

namespace platform {

std::unique_ptr<WindowsOs> NewWin32Os();

}  // namespace platform
