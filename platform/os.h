// The operating system as the layers above see it: one object, handed to whatever needs it
// (the engine, the transports, the dialog logic, the front ends) when it is built. Each program
// builds one binding at start and passes it down; tests and the simulator wrap a binding with
// OsWrapper and override only what they stand in for (a virtual clock, scripted message boxes,
// a simulated bus), so nothing process-wide is rebound.
//
// The entries are named after what they do in lower camel case, not after the Win32 calls they
// forward to: several of those names (MessageBox, LoadLibrary, CreateEvent) are macros in
// <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// An opaque handle the binding hands out (a Windows HANDLE, a file). Empty is nullptr.
using Handle = void*;
inline Handle InvalidHandle() { return reinterpret_cast<Handle>(static_cast<intptr_t>(-1)); }

// Message box styles (combined with |) and answers, with their Win32 values.
enum MessageBoxStyle : uint32_t { kMbOk = 0x0000, kMbOkCancel = 0x0001, kMbYesNo = 0x0004 };
constexpr uint32_t kMbSystemModal = 0x1000;
enum MessageBoxAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

class Os {
 public:
  virtual ~Os() = default;

  // A shared library and its entries (LoadLibraryA, GetProcAddress, FreeLibrary; dlopen on
  // Linux). nullptr when the library or entry is missing.
  virtual void* loadLibrary(const char* name) = 0;
  virtual void* getProcAddress(void* library, const char* name) = 0;
  virtual void freeLibrary(void* library) = 0;

  // The process heap, zero-filled (HeapAlloc with HEAP_ZERO_MEMORY); nullptr on failure.
  virtual void* heapAlloc(size_t size) = 0;
  virtual void heapFree(void* block) = 0;
  // Per-request staging memory (pass-through data); nullptr on failure.
  virtual void* allocBuffer(size_t size) = 0;
  virtual void freeBuffer(void* block) = 0;
  // Image storage: committed read-write pages, zero-filled (VirtualAlloc / VirtualFree).
  virtual void* allocImage(size_t size) = 0;
  virtual void freeImage(void* block) = 0;

  virtual void sleepMs(uint32_t milliseconds) = 0;
  // Milliseconds of a monotonic clock, wrapping at 2^32 (GetTickCount): differences of two
  // readings taken in unsigned arithmetic stay right across the wrap.
  virtual uint32_t tickCount() = 0;

  // The firmware file. openInputFile opens an existing file for reading without waiting for a
  // writer (a FIFO) and without handing it to child processes, and refuses any object that is
  // not a regular file before anything is read from it; InvalidHandle() on failure. `size`
  // receives its size, measured on the opened file. readInputFile: up to `length` bytes from the
  // current position; the count read, 0 at the end of the file, -1 on a read error.
  virtual Handle openInputFile(const char* path, uint64_t* size) = 0;
  virtual int32_t readInputFile(Handle file, void* buffer, uint32_t length) = 0;
  virtual void closeInputFile(Handle file) = 0;

  // MessageBoxA; owner may be nullptr. Returns the answer (kIdOk, kIdYes, ...).
  virtual int messageBox(void* owner, const char* text, const char* caption, uint32_t style) = 0;

  // Starts fn(arg) on a new thread at normal priority; the thread is not joined.
  // False when no thread could be started.
  virtual bool startThread(void (*fn)(void* arg), void* arg) = 0;

  // Restarts the computer, with whatever the system asks first (a privilege on Windows NT).
  // False when the restart could not be started; a system that needs no restart for a drive
  // never restarts and answers false.
  virtual bool restartComputer() = 0;

  // The program file's base name without its extension ("fwloader").
  virtual const char* applicationName() = 0;
};

// The shared entries of `Base` (Os, or an interface derived from it) forwarded to another
// binding: the start of every wrapper.
template <typename Base>
class ForwardingOs : public Base {
 public:
  explicit ForwardingOs(Os& target) : shared_(target) {}

  void* loadLibrary(const char* name) override { return shared_.loadLibrary(name); }
  void* getProcAddress(void* library, const char* name) override {
    return shared_.getProcAddress(library, name);
  }
  void freeLibrary(void* library) override { shared_.freeLibrary(library); }
  void* heapAlloc(size_t size) override { return shared_.heapAlloc(size); }
  void heapFree(void* block) override { shared_.heapFree(block); }
  void* allocBuffer(size_t size) override { return shared_.allocBuffer(size); }
  void freeBuffer(void* block) override { shared_.freeBuffer(block); }
  void* allocImage(size_t size) override { return shared_.allocImage(size); }
  void freeImage(void* block) override { shared_.freeImage(block); }
  void sleepMs(uint32_t milliseconds) override { shared_.sleepMs(milliseconds); }
  uint32_t tickCount() override { return shared_.tickCount(); }
  Handle openInputFile(const char* path, uint64_t* size) override {
    return shared_.openInputFile(path, size);
  }
  int32_t readInputFile(Handle file, void* buffer, uint32_t length) override {
    return shared_.readInputFile(file, buffer, length);
  }
  void closeInputFile(Handle file) override { shared_.closeInputFile(file); }
  int messageBox(void* owner, const char* text, const char* caption, uint32_t style) override {
    return shared_.messageBox(owner, text, caption, style);
  }
  bool startThread(void (*fn)(void* arg), void* arg) override {
    return shared_.startThread(fn, arg);
  }
  const char* applicationName() override { return shared_.applicationName(); }

 private:
  Os& shared_;
};

// Forwards every entry to another binding: a test or the simulator derives from it and
// overrides the entries it stands in for.
class OsWrapper : public ForwardingOs<Os> {
 public:
  explicit OsWrapper(Os& target) : ForwardingOs<Os>(target), target_(target) {}
  bool restartComputer() override { return target_.restartComputer(); }

 protected:
  Os& target() const { return target_; }

 private:
  Os& target_;
};

}  // namespace platform
