// The Linux binding of the seam: it stands in for Windows NT 5.1 so that discovery takes the
// drive-letter path, and drive letters reach /dev/sr* devices through SG_IO.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>

#include "platform/linux/capabilities.h"
#include "platform/linux/input_file.h"
#include "platform/linux/sg_io.h"
#include "platform/message_box_answers.h"
#include "platform/nt_scsi.h"
#include "platform/platform.h"

namespace platform {
namespace {

// Every handle this binding hands out points at one of these; the kind tells closeHandle what
// to release.
enum class HandleKind : uint32_t { kEvent = 0x45564E54, kDevice = 0x44455649 };

struct HandleObject {
  HandleKind kind;
};

struct EventObject : HandleObject {
  std::mutex mutex;
  std::condition_variable signalled;
  bool isSet = false;
};

struct DeviceObject : HandleObject {
  int fd = -1;
};

bool GetVersion(VersionInfo* out) {
  if (out == nullptr) return false;
  out->platformId = kPlatformWin32Nt;
  out->majorVersion = 5;
  out->minorVersion = 1;
  return true;
}

void* LoadLibrary(const char* name) {
  if (name == nullptr) return nullptr;
  std::string file = name;
  if (file.find('/') == std::string::npos && file.find(".so") == std::string::npos) {
    file = "lib" + file + ".so";
  }
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(void* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return dlsym(library, name);
}

void FreeLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

Handle CreateEvent() {
  // Out of memory is a failed CreateEvent (nullptr), as on Windows, not an exception.
  auto* event = new (std::nothrow) EventObject;
  if (event == nullptr) return nullptr;
  event->kind = HandleKind::kEvent;
  return event;
}

EventObject* AsEvent(Handle handle) {
  auto* object = static_cast<HandleObject*>(handle);
  if (object == nullptr || handle == InvalidHandle() || object->kind != HandleKind::kEvent) {
    return nullptr;
  }
  return static_cast<EventObject*>(object);
}

DeviceObject* AsDevice(Handle handle) {
  auto* object = static_cast<HandleObject*>(handle);
  if (object == nullptr || handle == InvalidHandle() || object->kind != HandleKind::kDevice) {
    return nullptr;
  }
  return static_cast<DeviceObject*>(object);
}

void SetEvent(Handle handle) {
  EventObject* event = AsEvent(handle);
  if (event == nullptr) return;
  std::lock_guard<std::mutex> lock(event->mutex);
  event->isSet = true;
  event->signalled.notify_all();
}

void WaitEvent(Handle handle) {
  EventObject* event = AsEvent(handle);
  if (event == nullptr) return;
  std::unique_lock<std::mutex> lock(event->mutex);
  event->signalled.wait(lock, [event] { return event->isSet; });
}

void CloseHandle(Handle handle) {
  if (EventObject* event = AsEvent(handle)) {
    delete event;
  } else if (DeviceObject* device = AsDevice(handle)) {
    close(device->fd);
    delete device;
  }
}

// A drive letter stands for /dev/srN (c for sr0); a /dev/srN path names itself.
Handle OpenDevice(const char* path) {
  int index = linux_sg::DriveLetterToSrIndex(path);
  if (index < 0) index = linux_sg::SrPathToIndex(path);
  if (index < 0) return InvalidHandle();
  const std::string node = "/dev/sr" + std::to_string(index);
  int fd = os().openNode(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  // A user who may only read the drive can still ask it INQUIRY (listing the drives); the
  // kernel lets only writers, or CAP_SYS_RAWIO, send the update's commands.
  if (fd < 0 && errno == EACCES) fd = os().openNode(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return InvalidHandle();
  auto* device = new (std::nothrow) DeviceObject;
  if (device == nullptr) {
    close(fd);
    return InvalidHandle();
  }
  device->kind = HandleKind::kDevice;
  device->fd = fd;
  return device;
}

bool DeviceControl(Handle handle, uint32_t code, void* in, uint32_t inSize, void* out,
                   uint32_t outSize, uint32_t* bytesReturned) {
  if (bytesReturned != nullptr) *bytesReturned = 0;
  DeviceObject* device = AsDevice(handle);
  if (device == nullptr || code != IOCTL_SCSI_PASS_THROUGH_DIRECT) return false;
  if (!linux_sg::PassThrough(device->fd, in, inSize, out, outSize)) return false;
  if (bytesReturned != nullptr) *bytesReturned = outSize;
  return true;
}

void* HeapAlloc(size_t size) { return std::calloc(1, size == 0 ? 1 : size); }
void HeapFree(void* block) { std::free(block); }

// Image storage is an anonymous mapping; its first page records the mapped length.
void* AllocImage(size_t size) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t total = page + size;
  void* base = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  *static_cast<size_t*>(base) = total;
  return static_cast<uint8_t*>(base) + page;
}

void FreeImage(void* block) {
  if (block == nullptr) return;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* base = static_cast<uint8_t*>(block) - page;
  munmap(base, *static_cast<size_t*>(base));
}

void SleepMs(uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int MessageBox(void*, const char* text, const char* caption, uint32_t style) {
  const uint32_t buttons = style & 0x0F;
  const int safe = SafeAnswer(style);
  if (!isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "[%s] %s -- no terminal to ask, answering %s\n", caption ? caption : "",
                 text ? text : "", AnswerName(safe));
    return safe;
  }
  const char* choices = buttons == kMbYesNo ? "[y]es / [n]o" : buttons == kMbOkCancel ? "[o]k / [c]ancel" : "[o]k";
  for (;;) {
    std::fprintf(stderr, "\n[%s] %s\n%s? ", caption ? caption : "", text ? text : "", choices);
    std::fflush(stderr);
    char line[64];
    if (std::fgets(line, sizeof(line), stdin) == nullptr) {
      std::fprintf(stderr, "no answer, taking %s\n", AnswerName(safe));
      return safe;
    }
    // Enter alone is OK here, as the default button of an OK/Cancel box.
    if (buttons == kMbOkCancel && line[0] == '\n') return kIdOk;
    const int answer = AnswerForKey(style, line[0]);
    if (answer != 0) return answer;
  }
}

struct ThreadStart {
  void (*fn)(void* arg);
  void* arg;
};

void* RunThread(void* start) {
  const ThreadStart copy = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  copy.fn(copy.arg);
  return nullptr;
}

// A thread that cannot be started (no memory, a process limit) is a false result, never an
// exception. The new thread blocks the signals that ask the program to end, so they reach the
// main thread, which acts on them, and never interrupt a drive command or a sleep of a worker.
bool StartThread(void (*fn)(void* arg), void* arg) {
  if (fn == nullptr) return false;
  auto* start = new (std::nothrow) ThreadStart{fn, arg};
  if (start == nullptr) return false;
  sigset_t endSignals;
  sigset_t saved;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGINT);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &endSignals, &saved);
  const int created = os().startPosixThread(&RunThread, start);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  if (created != 0) {
    delete start;
    return false;
  }
  return true;
}

int StartPosixThread(void* (*run)(void*), void* arg) {
  pthread_t thread;
  const int created = pthread_create(&thread, nullptr, run, arg);
  if (created == 0) pthread_detach(thread);
  return created;
}

// Effective root, or the CAP_SYS_BOOT capability in the effective set.
bool AcquireShutdownPrivilege() { return HoldsCapability(kCapSysBoot); }

// Linux needs no restart for an optical drive, and a program that updates one never restarts
// the computer under its user: the request fails and nothing is started.
bool ExitWindows(uint32_t) { return false; }

const char* ApplicationName() {
  static std::string name = [] {
    std::string base = program_invocation_short_name != nullptr ? program_invocation_short_name : "";
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.erase(dot);
    return base;
  }();
  return name.c_str();
}

}  // namespace
}  // namespace platform


namespace platform {

Os RealOs() {
  Os table{};
  table.getVersion = &GetVersion;
  table.loadLibrary = &LoadLibrary;
  table.getProcAddress = &GetProcAddress;
  table.freeLibrary = &FreeLibrary;
  table.createEvent = &CreateEvent;
  table.setEvent = &SetEvent;
  table.waitEvent = &WaitEvent;
  table.closeHandle = &CloseHandle;
  table.openDevice = &OpenDevice;
  table.deviceControl = &DeviceControl;
  table.heapAlloc = &HeapAlloc;
  table.heapFree = &HeapFree;
  table.allocBuffer = &HeapAlloc;
  table.freeBuffer = &HeapFree;
  table.allocImage = &AllocImage;
  table.freeImage = &FreeImage;
  table.sleepMs = &SleepMs;
  table.tickCount = &linux_file::TickCount;
  table.openInputFile = &linux_file::OpenInputFile;
  table.readInputFile = &linux_file::ReadInputFile;
  table.closeInputFile = &linux_file::CloseInputFile;
  table.messageBox = &MessageBox;
  table.startThread = &StartThread;
  table.acquireShutdownPrivilege = &AcquireShutdownPrivilege;
  table.exitWindows = &ExitWindows;
  table.applicationName = &ApplicationName;
  table.openNode = &linux_sg::SystemOpen;
  table.ioctlNode = &linux_sg::SystemIoctl;
  table.startPosixThread = &StartPosixThread;
  return table;
}

namespace linux_sg {

Delivery DeliverOn(Handle device, void* in, uint32_t inSize, void* out, uint32_t outSize) {
  DeviceObject* object = AsDevice(device);
  if (object == nullptr) return Delivery::kOsError;
  return Deliver(object->fd, in, inSize, out, outSize);
}

}  // namespace linux_sg
}  // namespace platform
