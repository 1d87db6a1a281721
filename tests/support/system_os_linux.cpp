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

// The shared entries are the Linux binding's (built before it is used, after this base).
class LinuxStandIn final : public platform::ForwardingOs<platform::WindowsOs> {
 public:
  LinuxStandIn() : ForwardingOs<platform::WindowsOs>(linux_), linux_(kernel_) {}

  bool restartComputer() override { return false; }
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
