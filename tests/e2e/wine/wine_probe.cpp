// wine_probe: a tiny dialog-less Windows program that checks the Wine harness itself before the
// real program runs in it: standard output reaches the log, the Windows version set for a
// program name takes effect, the environment is passed through, the ASPI library is not found when no stand-in is given, and a
// message box is answered.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main() {
  OSVERSIONINFOA version;
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return 1;
  std::printf("platform %lu major %lu\n", static_cast<unsigned long>(version.dwPlatformId),
              static_cast<unsigned long>(version.dwMajorVersion));
  const char* value = std::getenv("FWLOADER_SIM");
  std::printf("FWLOADER_SIM=%s\n", value ? value : "");
  // With the native-only override and no stand-in beside it, the ASPI library must not load:
  // the case of the missing transport depends on it.
  HMODULE aspi = LoadLibraryA("WNASPI32");
  std::printf("WNASPI32 %s\n", aspi ? "loaded" : "missing");
  std::fflush(stdout);
  const int answer = MessageBoxA(nullptr, "Probe line one\nProbe line two", "NOTE",
                                 MB_YESNO | MB_SYSTEMMODAL);
  std::printf("answer %d\n", answer);
  std::fflush(stdout);
  return 0;
}
