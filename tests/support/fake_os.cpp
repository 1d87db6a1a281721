#include "tests/support/fake_os.h"

#include <cstdlib>

namespace fake {
namespace {

State g_state;
alignas(4096) uint8_t g_pool[3 * 65536];
uint8_t g_events[64];

platform::Handle CreateEvent() {
  if (g_state.createEventFails || g_state.eventsCreated >= 64) return nullptr;
  return &g_events[g_state.eventsCreated++];
}
void SetEvent(platform::Handle) { ++g_state.eventsSet; }
void WaitEvent(platform::Handle) { ++g_state.eventsWaited; }
void CloseHandle(platform::Handle handle) { g_state.eventsClosed.push_back(handle); }

void* AllocBuffer(size_t size) {
  g_state.stagingSizes.push_back(size);
  if (g_state.allocBufferFails || size + g_state.stagingOffset > sizeof(g_pool)) return nullptr;
  uint8_t* start = g_pool + g_state.stagingOffset;
  g_state.stagingHanded.push_back(start);
  return start;
}
void FreeBuffer(void*) { ++g_state.stagingFreed; }

int MessageBox(void* owner, const char* text, const char* caption, uint32_t style) {
  g_state.boxes.push_back({owner, text, caption, style});
  return platform::kIdOk;
}

void SleepMs(uint32_t) {
  ++g_state.sleeps;
  if (g_state.onSleep != nullptr) g_state.onSleep();
}

const char* ApplicationName() { return "fwloader"; }

void* LoadLibrary(const char* name) {
  g_state.foreignLoads.push_back(name);
  return nullptr;
}
void* GetProcAddress(void*, const char*) { return nullptr; }
void FreeLibrary(void*) {}

}  // namespace

State& state() { return g_state; }

bool IsFakeEvent(platform::Handle handle) {
  auto* p = static_cast<uint8_t*>(handle);
  return p >= g_events && p < g_events + sizeof(g_events);
}

void Bind(platform::Os& os) {
  g_state = State{};
  os.createEvent = &CreateEvent;
  os.setEvent = &SetEvent;
  os.waitEvent = &WaitEvent;
  os.closeHandle = &CloseHandle;
  os.allocBuffer = &AllocBuffer;
  os.freeBuffer = &FreeBuffer;
  os.messageBox = &MessageBox;
  os.sleepMs = &SleepMs;
  os.applicationName = &ApplicationName;
  os.loadLibrary = &LoadLibrary;
  os.getProcAddress = &GetProcAddress;
  os.freeLibrary = &FreeLibrary;
}

}  // namespace fake
