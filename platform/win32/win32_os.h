// The Windows binding of the operating system: the Win32 API. The Windows program builds one at
// start and hands it down.
#pragma once

#include "platform/windows_os.h"

namespace platform {

class Win32Os final : public WindowsOs {
 public:
  void* loadLibrary(const char* name) override;
  void* getProcAddress(void* library, const char* name) override;
  void freeLibrary(void* library) override;
  void* heapAlloc(size_t size) override;
  void heapFree(void* block) override;
  void* allocBuffer(size_t size) override;
  void freeBuffer(void* block) override;
  void* allocImage(size_t size) override;
  void freeImage(void* block) override;
  void sleepMs(uint32_t milliseconds) override;
  uint32_t tickCount() override;
  Handle openInputFile(const char* path, uint64_t* size) override;
  int32_t readInputFile(Handle file, void* buffer, uint32_t length) override;
  void closeInputFile(Handle file) override;
  int messageBox(void* owner, const char* text, const char* caption, uint32_t style) override;
  bool startThread(void (*fn)(void* arg), void* arg) override;
  const char* applicationName() override;
  bool getVersion(VersionInfo* out) override;
  Handle createEvent() override;
  void setEvent(Handle event) override;
  void waitEvent(Handle event) override;
  void closeHandle(Handle handle) override;
  Handle openDevice(const char* path) override;
  bool deviceControl(Handle device, uint32_t code, void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* bytesReturned) override;
  bool acquireShutdownPrivilege() override;
  bool exitWindows(uint32_t flags) override;

 private:
  char applicationName_[260] = "";  // MAX_PATH
};

}  // namespace platform
