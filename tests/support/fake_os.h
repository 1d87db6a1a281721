// Seam fakes for the drive tests: counted events, a staging allocator whose addresses the test
// controls, recorded message boxes. Bound over the simulated buses by FakeOs::Bind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct State {
  // Events.
  bool createEventFails = false;
  int eventsCreated = 0;
  int eventsWaited = 0;
  int eventsSet = 0;
  std::vector<platform::Handle> eventsClosed;
  // Staging buffers: handed out from `pool` at `stagingOffset` bytes from a 4096-byte boundary.
  bool allocBufferFails = false;
  size_t stagingOffset = 1;
  std::vector<size_t> stagingSizes;
  std::vector<uint8_t*> stagingHanded;
  int stagingFreed = 0;
  // Message boxes.
  struct Box {
    void* owner;
    std::string text;
    std::string caption;
    uint32_t style;
  };
  std::vector<Box> boxes;
  // sleepMs calls (the polling pace); each call runs `onSleep` if set.
  int sleeps = 0;
  void (*onSleep)() = nullptr;
  // Libraries the real loader would have been asked for.
  std::vector<std::string> foreignLoads;
};

State& state();

// Binds events, staging buffers, message boxes, sleep, applicationName and the library loader
// (which loads nothing) of `os` to the fakes and resets the state.
void Bind(platform::Os& os);

bool IsFakeEvent(platform::Handle handle);

}  // namespace fake
