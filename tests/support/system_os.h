// The system the tests run on, as a Windows binding that tests wrap: on Windows the real one;
// on Linux the Linux binding for the shared entries, real events, the NT 5.1 version (or one a
// test sets), no drive-letter devices (a simulated port supplies them) and no restart.
#pragma once

#include <memory>

#include "platform/windows_os.h"

namespace testsupport {

std::unique_ptr<platform::WindowsOs> NewSystemOs();

// The version the Linux stand-in reports from now on; on Windows the real version is kept.
void SetReportedVersion(platform::WindowsOs& os, const platform::VersionInfo& version);

}  // namespace testsupport
