#include "platform/win32/win32_os.h"
#include "tests/support/system_os.h"

namespace testsupport {

std::unique_ptr<platform::WindowsOs> NewSystemOs() {
  return platform::NewWin32Os();
}

void SetReportedVersion(platform::WindowsOs&, const platform::VersionInfo&) {}

}  // namespace testsupport
