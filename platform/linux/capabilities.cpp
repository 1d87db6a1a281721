#include "platform/linux/capabilities.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

bool CapabilityInStatusLine(const char* line, unsigned capability) {
  if (std::strncmp(line, "CapEff:", 7) != 0 || capability >= 64) return false;
  return ((std::strtoull(line + 7, nullptr, 16) >> capability) & 1u) != 0;
}

// The kernel checks the capability, not the user id: root in a container that dropped it is
// refused WRITE BUFFER like anyone else.
bool HoldsCapability(unsigned capability) {
  std::FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return false;
  char line[256];
  bool allowed = false;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "CapEff:", 7) == 0) {
      allowed = CapabilityInStatusLine(line, capability);
      break;
    }
  }
  std::fclose(status);
  return allowed;
}

}  // namespace platform
