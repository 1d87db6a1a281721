// The Windows binding: each entry forwards to the Win32 call it stands for.
#include <windows.h>

#include <cstring>

#include "platform/win32/win32_os.h"

namespace platform {
namespace {

bool GetVersionW32(VersionInfo* out) {
  if (out == nullptr) return false;
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof(info));
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExA(&info)) return false;
  out->platformId = info.dwPlatformId;
  out->majorVersion = info.dwMajorVersion;
  out->minorVersion = info.dwMinorVersion;
  return true;
}

void* LoadLibraryW32(const char* name) { return reinterpret_cast<void*>(LoadLibraryA(name)); }

void* GetProcAddressW32(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibraryW32(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

Handle CreateEventW32() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }
void SetEventW32(Handle event) { SetEvent(event); }
void WaitEventW32(Handle event) { WaitForSingleObject(event, INFINITE); }
void CloseHandleW32(Handle handle) { CloseHandle(handle); }

Handle OpenDeviceW32(const char* path) {
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

bool DeviceControlW32(Handle device, uint32_t code, void* in, uint32_t inSize, void* out,
                      uint32_t outSize, uint32_t* bytesReturned) {
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(device, code, in, inSize, out, outSize, &returned, nullptr);
  if (bytesReturned != nullptr) *bytesReturned = returned;
  return ok != FALSE;
}

void* HeapAllocW32(size_t size) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size); }
void HeapFreeW32(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

void* AllocImageW32(size_t size) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}
void FreeImageW32(void* block) {
  if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

void SleepMsW32(uint32_t milliseconds) { Sleep(milliseconds); }
uint32_t TickCountW32() { return GetTickCount(); }

// The firmware file: only a file on disk is taken. A character device (CON, NUL, a COM port,
// each of which any extension still names), a pipe or a directory is refused once opened and
// before anything is read. The handle is not inheritable, so no child process keeps it.
Handle OpenInputFileW32(const char* path, uint64_t* size) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return InvalidHandle();
  BY_HANDLE_FILE_INFORMATION info;
  std::memset(&info, 0, sizeof(info));
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(file);
    return InvalidHandle();
  }
  if (size != nullptr) *size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return file;
}

int32_t ReadInputFileW32(Handle file, void* buffer, uint32_t length) {
  DWORD got = 0;
  const DWORD asked = length > 0x40000000u ? 0x40000000u : length;
  if (!ReadFile(file, buffer, asked, &got, nullptr)) return -1;
  return static_cast<int32_t>(got);
}

void CloseInputFileW32(Handle file) {
  if (file != nullptr && file != InvalidHandle()) CloseHandle(file);
}

int MessageBoxW32(void* owner, const char* text, const char* caption, uint32_t style) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
}

struct ThreadStart {
  void (*fn)(void* arg);
  void* arg;
};

DWORD WINAPI ThreadMain(LPVOID parameter) {
  ThreadStart start = *static_cast<ThreadStart*>(parameter);
  HeapFree(GetProcessHeap(), 0, parameter);
  start.fn(start.arg);
  return 0;
}

bool StartThreadW32(void (*fn)(void* arg), void* arg) {
  auto* start = static_cast<ThreadStart*>(HeapAlloc(GetProcessHeap(), 0, sizeof(ThreadStart)));
  if (start == nullptr) return false;
  start->fn = fn;
  start->arg = arg;
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, &ThreadMain, start, 0, &id);
  if (thread == nullptr) {
    HeapFree(GetProcessHeap(), 0, start);
    return false;
  }
  CloseHandle(thread);
  return true;
}

bool AcquireShutdownPrivilegeW32() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return false;
  }
  TOKEN_PRIVILEGES privileges;
  std::memset(&privileges, 0, sizeof(privileges));
  if (!LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid)) {
    CloseHandle(token);
    return false;
  }
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  // AdjustTokenPrivileges can succeed without assigning the privilege; GetLastError tells.
  const bool granted = GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return granted;
}

bool ExitWindowsW32(uint32_t flags) { return ExitWindowsEx(flags, 0) != FALSE; }

// The base name of the program file without its extension, into `name` (MAX_PATH bytes).
void ReadApplicationName(char* name) {
  name[0] = '\0';
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (n == 0 || n >= sizeof(path)) return;
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') base = p + 1;
  }
  const size_t length = std::strlen(base);
  std::memcpy(name, base, length + 1);  // base lies inside path, shorter than name
  char* dot = std::strrchr(name, '.');
  if (dot != nullptr && dot != name) *dot = '\0';
}


// The binding: each entry forwards to the function above that makes its Win32 call.
class Win32Os final : public WindowsOs {
 public:
  void* loadLibrary(const char* name) override { return LoadLibraryW32(name); }
  void* getProcAddress(void* library, const char* name) override {
    return GetProcAddressW32(library, name);
  }
  void freeLibrary(void* library) override { FreeLibraryW32(library); }
  void* heapAlloc(size_t size) override { return HeapAllocW32(size); }
  void heapFree(void* block) override { HeapFreeW32(block); }
  void* allocBuffer(size_t size) override { return HeapAllocW32(size); }
  void freeBuffer(void* block) override { HeapFreeW32(block); }
  void* allocImage(size_t size) override { return AllocImageW32(size); }
  void freeImage(void* block) override { FreeImageW32(block); }
  void sleepMs(uint32_t milliseconds) override { SleepMsW32(milliseconds); }
  uint32_t tickCount() override { return TickCountW32(); }
  Handle openInputFile(const char* path, uint64_t* size) override {
    return OpenInputFileW32(path, size);
  }
  int32_t readInputFile(Handle file, void* buffer, uint32_t length) override {
    return ReadInputFileW32(file, buffer, length);
  }
  void closeInputFile(Handle file) override { CloseInputFileW32(file); }
  int messageBox(void* owner, const char* text, const char* caption, uint32_t style) override {
    return MessageBoxW32(owner, text, caption, style);
  }
  bool startThread(void (*fn)(void* arg), void* arg) override { return StartThreadW32(fn, arg); }
  // Read once, the first time it is asked for: the program file does not change while it runs.
  const char* applicationName() override {
    if (applicationName_[0] == '\0') ReadApplicationName(applicationName_);
    return applicationName_;
  }
  bool getVersion(VersionInfo* out) override { return GetVersionW32(out); }
  Handle createEvent() override { return CreateEventW32(); }
  void setEvent(Handle event) override { SetEventW32(event); }
  void waitEvent(Handle event) override { WaitEventW32(event); }
  void closeHandle(Handle handle) override { CloseHandleW32(handle); }
  Handle openDevice(const char* path) override { return OpenDeviceW32(path); }
  bool deviceControl(Handle device, uint32_t code, void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* bytesReturned) override {
    return DeviceControlW32(device, code, in, inSize, out, outSize, bytesReturned);
  }
  bool acquireShutdownPrivilege() override { return AcquireShutdownPrivilegeW32(); }
  bool exitWindows(uint32_t flags) override { return ExitWindowsW32(flags); }

 private:
  char applicationName_[MAX_PATH] = "";
};

}  // namespace

std::unique_ptr<WindowsOs> NewWin32Os() { return std::make_unique<Win32Os>(); }

}  // namespace platform
