#include "platform/linux/capabilities.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

bool HoldsCapability(unsigned capability) {
  if (geteuid() == 0) return true;
  std::FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return false;
  char line[256];
  bool allowed = false;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "CapEff:", 7) == 0) {
      allowed = ((std::strtoull(line + 7, nullptr, 16) >> capability) & 1u) != 0;
      break;
    }
  }
  std::fclose(status);
  return allowed;
}

}  // namespace platform
