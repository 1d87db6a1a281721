// The Linux binding of the operating system: the C library and the kernel, with nothing of
// Windows in it. The Linux program builds one at start and hands it down.
#pragma once

#include <string>

#include "platform/linux/kernel.h"
#include "platform/os.h"

namespace platform {

class LinuxOs final : public Os {
 public:
  // Threads are started through `kernel`, which must outlive the binding.
  explicit LinuxOs(Kernel& kernel);

  // dlopen: a bare name ("sumseal") is looked for as lib<name>.so.
  void* loadLibrary(const char* name) override;
  void* getProcAddress(void* library, const char* name) override;
  void freeLibrary(void* library) override;
  void* heapAlloc(size_t size) override;
  void heapFree(void* block) override;
  void* allocBuffer(size_t size) override;
  void freeBuffer(void* block) override;
  // An anonymous mapping.
  void* allocImage(size_t size) override;
  void freeImage(void* block) override;
  // Resumed after a signal until the whole time has passed.
  void sleepMs(uint32_t milliseconds) override;
  // CLOCK_MONOTONIC in milliseconds, truncated to 32 bits.
  uint32_t tickCount() override;
  Handle openInputFile(const char* path, uint64_t* size) override;
  int32_t readInputFile(Handle file, void* buffer, uint32_t length) override;
  void closeInputFile(Handle file) override;
  // Nobody is asked: a front end that asks its user wraps the binding and answers here. The
  // box's text goes to standard error with the answer that changes nothing, which is taken.
  int messageBox(void* owner, const char* text, const char* caption, uint32_t style) override;
  // The new thread blocks the signals that ask the program to end, so that they reach the main
  // thread, which acts on them, and never interrupt a drive command or a sleep of a worker.
  bool startThread(void (*fn)(void* arg), void* arg) override;
  // Linux needs no restart for an optical drive, and a program that updates one never restarts
  // the computer under its user: nothing is started.
  bool restartComputer() override { return false; }
  // program_invocation_short_name without its extension.
  const char* applicationName() override;

 private:
  Kernel& kernel_;
  std::string applicationName_;
};

}  // namespace platform
