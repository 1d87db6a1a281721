#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/linux/linux_os.h"
#include "tests/support/system_os.h"

namespace testsupport {
namespace {

struct Event {
  uint32_t tag = kTag;
  std::mutex mutex;
  std::condition_variable signalled;
  bool isSet = false;
  static constexpr uint32_t kTag = 0x45564E54;
};

Event* AsEvent(platform::Handle handle) {
  auto* event = static_cast<Event*>(handle);
  if (event == nullptr || handle == platform::InvalidHandle() || event->tag != Event::kTag) {
    return nullptr;
  }
  return event;
}

class LinuxStandIn final : public platform::WindowsOs {
 public:
  LinuxStandIn() : linux_(kernel_) {}

  void* loadLibrary(const char* name) override { return linux_.loadLibrary(name); }
  void* getProcAddress(void* library, const char* name) override {
    return linux_.getProcAddress(library, name);
  }
  void freeLibrary(void* library) override { linux_.freeLibrary(library); }
  void* heapAlloc(size_t size) override { return linux_.heapAlloc(size); }
  void heapFree(void* block) override { linux_.heapFree(block); }
  void* allocBuffer(size_t size) override { return linux_.allocBuffer(size); }
  void freeBuffer(void* block) override { linux_.freeBuffer(block); }
  void* allocImage(size_t size) override { return linux_.allocImage(size); }
  void freeImage(void* block) override { linux_.freeImage(block); }
  void sleepMs(uint32_t milliseconds) override { linux_.sleepMs(milliseconds); }
  uint32_t tickCount() override { return linux_.tickCount(); }
  platform::Handle openInputFile(const char* path, uint64_t* size) override {
    return linux_.openInputFile(path, size);
  }
  int32_t readInputFile(platform::Handle file, void* buffer, uint32_t length) override {
    return linux_.readInputFile(file, buffer, length);
  }
  void closeInputFile(platform::Handle file) override { linux_.closeInputFile(file); }
  int messageBox(void* owner, const char* text, const char* caption, uint32_t style) override {
    return linux_.messageBox(owner, text, caption, style);
  }
  bool startThread(void (*fn)(void* arg), void* arg) override {
    return linux_.startThread(fn, arg);
  }
  const char* applicationName() override { return linux_.applicationName(); }

  bool getVersion(platform::VersionInfo* out) override {
    if (out == nullptr) return false;
    *out = version;
    return true;
  }
  platform::Handle createEvent() override { return new (std::nothrow) Event; }
  void setEvent(platform::Handle handle) override {
    Event* event = AsEvent(handle);
    if (event == nullptr) return;
    std::lock_guard<std::mutex> lock(event->mutex);
    event->isSet = true;
    event->signalled.notify_all();
  }
  void waitEvent(platform::Handle handle) override {
    Event* event = AsEvent(handle);
    if (event == nullptr) return;
    std::unique_lock<std::mutex> lock(event->mutex);
    event->signalled.wait(lock, [event] { return event->isSet; });
  }
  void closeHandle(platform::Handle handle) override { delete AsEvent(handle); }
  platform::Handle openDevice(const char*) override { return platform::InvalidHandle(); }
  bool deviceControl(platform::Handle, uint32_t, void*, uint32_t, void*, uint32_t,
                     uint32_t* bytesReturned) override {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    return false;
  }
  bool acquireShutdownPrivilege() override { return true; }
  bool exitWindows(uint32_t) override { return false; }

  platform::VersionInfo version{platform::kPlatformWin32Nt, 5, 1};

 private:
  platform::SystemKernel kernel_;
  platform::LinuxOs linux_;
};

}  // namespace

std::unique_ptr<platform::WindowsOs> NewSystemOs() { return std::make_unique<LinuxStandIn>(); }

void SetReportedVersion(platform::WindowsOs& os, const platform::VersionInfo& version) {
  if (auto* standIn = dynamic_cast<LinuxStandIn*>(&os)) standIn->version = version;
}

}  // namespace testsupport
