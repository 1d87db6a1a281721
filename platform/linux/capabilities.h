// Whether this process may do what a capability guards: the capability in the effective set of
// /proc/self/status (CapEff). A user id of 0 alone is not enough: the kernel checks the set.
#pragma once

namespace platform {

constexpr unsigned kCapSysRawio = 17;  // SG_IO commands the kernel does not let anyone send

// False also when the status cannot be read.
bool HoldsCapability(unsigned capability);
// One line of /proc/self/status: true when it is the CapEff line and holds `capability`.
bool CapabilityInStatusLine(const char* line, unsigned capability);

}  // namespace platform
