// Fakes for the drive tests, as a Windows binding that wraps another: counted events, a staging
// allocator whose addresses the test controls, recorded message boxes, counted sleeps, and a
// library loader that loads nothing. Everything else goes to the binding it wraps (a simulated
// port or ASPI manager, or the system).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/windows_os.h"

namespace fake {

struct State {
  // Events.
  bool createEventFails = false;
  int eventsCreated = 0;
  int eventsWaited = 0;
  int eventsSet = 0;
  std::vector<platform::Handle> eventsClosed;
  // Staging buffers: handed out from the pool at `stagingOffset` bytes from a 4096-byte
  // boundary.
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
  void (*onSleep)(void* context) = nullptr;
  void* onSleepContext = nullptr;
  // Libraries the real loader would have been asked for.
  std::vector<std::string> foreignLoads;
};

class FakeOs : public platform::WindowsOsWrapper {
 public:
  explicit FakeOs(platform::WindowsOs& target) : WindowsOsWrapper(target) {}

  platform::Handle createEvent() override;
  void setEvent(platform::Handle event) override;
  void waitEvent(platform::Handle event) override;
  // Events are recorded; other handles go to the wrapped binding.
  void closeHandle(platform::Handle handle) override;
  void* allocBuffer(size_t size) override;
  void freeBuffer(void* block) override;
  int messageBox(void* owner, const char* text, const char* caption, uint32_t style) override;
  void sleepMs(uint32_t milliseconds) override;
  const char* applicationName() override { return "fwloader"; }
  void* loadLibrary(const char* name) override;
  void* getProcAddress(void*, const char*) override { return nullptr; }
  void freeLibrary(void*) override {}

  bool IsFakeEvent(platform::Handle handle) const;

  State state;

 private:
  alignas(4096) uint8_t pool_[3 * 65536];
  uint8_t events_[64];
};

}  // namespace fake
