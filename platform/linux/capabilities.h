// Whether this process may do what a capability guards: effective root, or the capability in
// the effective set of /proc/self/status (CapEff).
#pragma once

namespace platform {

constexpr unsigned kCapSysRawio = 17;  // SG_IO commands the kernel does not let anyone send
constexpr unsigned kCapSysBoot = 22;   // restarting the computer

// False also when the status cannot be read.
bool HoldsCapability(unsigned capability);

}  // namespace platform
