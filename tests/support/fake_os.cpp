#include "tests/support/fake_os.h"

namespace fake {

platform::Handle FakeOs::createEvent() {
  if (state.createEventFails || state.eventsCreated >= 64) return nullptr;
  return &events_[state.eventsCreated++];
}

void FakeOs::setEvent(platform::Handle) { ++state.eventsSet; }
void FakeOs::waitEvent(platform::Handle) { ++state.eventsWaited; }

void FakeOs::closeHandle(platform::Handle handle) {
  if (IsFakeEvent(handle)) {
    state.eventsClosed.push_back(handle);
  } else {
    target().closeHandle(handle);
  }
}

void* FakeOs::allocBuffer(size_t size) {
  state.stagingSizes.push_back(size);
  if (state.allocBufferFails || size + state.stagingOffset > sizeof(pool_)) return nullptr;
  uint8_t* start = pool_ + state.stagingOffset;
  state.stagingHanded.push_back(start);
  return start;
}

void FakeOs::freeBuffer(void*) { ++state.stagingFreed; }

int FakeOs::messageBox(void* owner, const char* text, const char* caption, uint32_t style) {
  state.boxes.push_back({owner, text, caption, style});
  return platform::kIdOk;
}

void FakeOs::sleepMs(uint32_t) {
  ++state.sleeps;
  if (state.onSleep != nullptr) state.onSleep(state.onSleepContext);
}

void* FakeOs::loadLibrary(const char* name) {
  state.foreignLoads.push_back(name);
  return nullptr;
}

bool FakeOs::IsFakeEvent(platform::Handle handle) const {
  const auto* p = static_cast<const uint8_t*>(handle);
  return p >= events_ && p < events_ + sizeof(events_);
}

}  // namespace fake
