// The Linux binding: the C library and the kernel.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>

#include "platform/linux/input_file.h"
#include "platform/linux/linux_os.h"
#include "platform/message_box_answers.h"

namespace platform {
namespace {

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

}  // namespace

int SystemKernel::openNode(const char* path, int flags) { return open(path, flags); }

int SystemKernel::ioctlNode(int fd, unsigned long request, void* arg) {
  return ioctl(fd, request, arg);
}

void SystemKernel::closeNode(int fd) {
  if (fd >= 0) close(fd);
}

int SystemKernel::startPosixThread(void* (*start)(void*), void* arg) {
  pthread_t thread;
  const int created = pthread_create(&thread, nullptr, start, arg);
  if (created == 0) pthread_detach(thread);
  return created;
}

bool SystemKernel::listDirectory(const char* path, std::vector<std::string>& names) {
  names.clear();
  DIR* directory = opendir(path);
  if (directory == nullptr) return false;
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(directory);
  return true;
}

LinuxOs::LinuxOs(Kernel& kernel) : kernel_(kernel) {}

void* LinuxOs::loadLibrary(const char* name) {
  if (name == nullptr) return nullptr;
  std::string file = name;
  if (file.find('/') == std::string::npos && file.find(".so") == std::string::npos) {
    file = "lib" + file + ".so";
  }
  return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* LinuxOs::getProcAddress(void* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return dlsym(library, name);
}

void LinuxOs::freeLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

void* LinuxOs::heapAlloc(size_t size) { return std::calloc(1, size == 0 ? 1 : size); }
void LinuxOs::heapFree(void* block) { std::free(block); }
void* LinuxOs::allocBuffer(size_t size) { return heapAlloc(size); }
void LinuxOs::freeBuffer(void* block) { heapFree(block); }

// Image storage is an anonymous mapping; its first page records the mapped length.
void* LinuxOs::allocImage(size_t size) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t total = page + size;
  void* base = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  *static_cast<size_t*>(base) = total;
  return static_cast<uint8_t*>(base) + page;
}

void LinuxOs::freeImage(void* block) {
  if (block == nullptr) return;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* base = static_cast<uint8_t*>(block) - page;
  munmap(base, *static_cast<size_t*>(base));
}

void LinuxOs::sleepMs(uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint32_t LinuxOs::tickCount() { return linux_file::TickCount(); }

Handle LinuxOs::openInputFile(const char* path, uint64_t* size) {
  return linux_file::OpenInputFile(path, size);
}

int32_t LinuxOs::readInputFile(Handle file, void* buffer, uint32_t length) {
  return linux_file::ReadInputFile(file, buffer, length);
}

void LinuxOs::closeInputFile(Handle file) { linux_file::CloseInputFile(file); }

int LinuxOs::messageBox(void*, const char* text, const char* caption, uint32_t style) {
  const int safe = SafeAnswer(style);
  std::fprintf(stderr, "[%s] %s -- answered %s\n", caption != nullptr ? caption : "",
               text != nullptr ? text : "", AnswerName(safe));
  return safe;
}

// A thread that cannot be started (no memory, a process limit) is a false result, never an
// exception.
bool LinuxOs::startThread(void (*fn)(void* arg), void* arg) {
  if (fn == nullptr) return false;
  auto* start = new (std::nothrow) ThreadStart{fn, arg};
  if (start == nullptr) return false;
  sigset_t endSignals;
  sigset_t saved;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGINT);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGHUP);
  sigaddset(&endSignals, SIGQUIT);
  pthread_sigmask(SIG_BLOCK, &endSignals, &saved);
  const int created = kernel_.startPosixThread(&RunThread, start);
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  if (created != 0) {
    delete start;
    return false;
  }
  return true;
}

const char* LinuxOs::applicationName() {
  if (applicationName_.empty()) {
    std::string base =
        program_invocation_short_name != nullptr ? program_invocation_short_name : "";
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.erase(dot);
    applicationName_ = base;
  }
  return applicationName_.c_str();
}

}  // namespace platform
