// uidriver: answers a Windows program's windows as a user would, for the end-to-end runs under
// Wine. It runs a list of steps given on its command line, in order, each bounded in time:
//
//   timeout MS              later waits give up after MS milliseconds (default 20000)
//   wait TITLE              until a visible top-level window with this exact caption exists
//   gone TITLE              until no visible top-level window has this caption
//   text TITLE ID           prints the text of control ID (65535: a message box's text) on one
//                           line, line breaks written as \n
//   expect TITLE ID TEXT    fails unless control ID shows TEXT (\n for a line break), waiting
//                           for it up to the time-out
//   items TITLE ID          prints the entries of combo box ID, one line each
//   progress TITLE ID MIN   until progress bar ID stands at MIN or more
//   enabled TITLE BUTTON 0|1  until the button is disabled (0) or enabled (1)
//   press TITLE BUTTON      presses the button whose label (without '&') is BUTTON and waits
//                           until that window has closed
//   syscommand TITLE N      posts WM_SYSCOMMAND N to the window (16: the About item)
//   list                    prints every top-level window: handle, visible, enabled, class, caption
//   sleep MS                pauses
//   version PROGRAM VERSION sets the Windows version that Wine reports to programs of this file
//                           name (win98, nt40, winxp...; "default": the prefix's own)
//
// Each step that finds a window waits for it first. The exit status is 0 when every step
// succeeded, 1 at the first that failed (with a line on standard error saying which), 2 for a
// malformed command line.
//
//   uidriver serve          runs requests from standard input until it ends, in one process:
//                           each request is a line with the number of arguments, then one line
//                           per argument, run as the steps of a command line; the answer is the
//                           steps' output, then a line "ok", "fail" and the failed step's line,
//                           or "bad" (a malformed request). Under an emulated CPU a Wine
//                           process takes seconds to start, a request far less.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultTimeoutMs = 20000;
DWORD g_timeoutMs = kDefaultTimeoutMs;
constexpr DWORD kPollMs = 50;

struct FindByTitle {
  const char* title;
  HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM param) {
  auto* find = reinterpret_cast<FindByTitle*>(param);
  char text[512];
  if (!IsWindowVisible(window)) return TRUE;
  if (GetWindowTextA(window, text, sizeof text) <= 0) return TRUE;
  if (std::strcmp(text, find->title) != 0) return TRUE;
  find->found = window;
  return FALSE;
}

HWND FindTopLevel(const char* title) {
  FindByTitle find{title, nullptr};
  EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

HWND WaitForWindow(const char* title) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND window = FindTopLevel(title);
    if (window) return window;
    if (GetTickCount() - start >= g_timeoutMs) return nullptr;
    Sleep(kPollMs);
  }
}

bool WaitUntilGone(HWND window) {
  const DWORD start = GetTickCount();
  while (IsWindow(window) && IsWindowVisible(window)) {
    if (GetTickCount() - start >= g_timeoutMs) return false;
    Sleep(kPollMs);
  }
  return true;
}

// A control's text with CR LF / LF written as the two characters \n, so it fits on one line.
std::string ControlText(HWND window, int id) {
  HWND control = GetDlgItem(window, id);
  if (!control) return std::string();
  char text[2048] = {};
  SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == '\r') continue;
    if (*p == '\n') {
      out += "\\n";
    } else {
      out += *p;
    }
  }
  return out;
}

// Prints each entry of a combo box on a line of its own. The entries are asked for as UTF-16
// (Wine hands another process's ANSI request only the first character).
void PrintComboEntries(HWND window, int id) {
  HWND combo = GetDlgItem(window, id);
  const LRESULT count = combo ? SendMessageW(combo, CB_GETCOUNT, 0, 0) : 0;
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t wide[512] = {};
    char text[1024] = {};
    if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof wide / 2)) {
      SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide));
      WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    }
    std::printf("%s\n", text);
  }
  std::fflush(stdout);
}

std::string Label(HWND control) {
  char text[256] = {};
  GetWindowTextA(control, text, sizeof text);
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p != '&') out += *p;
  }
  return out;
}

struct FindButton {
  const char* label;
  HWND found;
};

BOOL CALLBACK MatchButton(HWND control, LPARAM param) {
  auto* find = reinterpret_cast<FindButton*>(param);
  char cls[64] = {};
  GetClassNameA(control, cls, sizeof cls);
  if (lstrcmpiA(cls, "Button") != 0) return TRUE;
  if (Label(control) != find->label) return TRUE;
  find->found = control;
  return FALSE;
}

HWND FindButtonByLabel(HWND window, const char* label) {
  FindButton find{label, nullptr};
  EnumChildWindows(window, MatchButton, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

BOOL CALLBACK PrintWindow(HWND window, LPARAM) {
  char text[256] = {};
  char cls[64] = {};
  GetWindowTextA(window, text, sizeof text);
  GetClassNameA(window, cls, sizeof cls);
  std::printf("%p visible=%d enabled=%d class=%s caption=\"%s\"\n", static_cast<void*>(window),
              IsWindowVisible(window) ? 1 : 0, IsWindowEnabled(window) ? 1 : 0, cls, text);
  return TRUE;
}

std::string g_lastFailure;  // the line of the step that failed last

int Fail(const char* step, const char* title, const char* what) {
  g_lastFailure = std::string("uidriver: ") + step + " \"" + title + "\": " + what;
  std::fprintf(stderr, "%s\n", g_lastFailure.c_str());
  return 1;
}

int Press(const char* title, const char* label) {
  HWND window = WaitForWindow(title);
  if (!window) return Fail("press", title, "no such window");
  HWND button = FindButtonByLabel(window, label);
  if (!button) return Fail("press", title, "no such button");
  if (!IsWindowEnabled(button)) return Fail("press", title, "button disabled");
  // A click as the dialog manager reports it: WM_COMMAND with the button's id and BN_CLICKED.
  // Posted, not typed: no keyboard focus or window manager is involved.
  const int id = GetDlgCtrlID(button);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  if (!WaitUntilGone(window)) return Fail("press", title, "window stayed open");
  return 0;
}

int Expect(const char* title, int id, const char* expected) {
  const DWORD start = GetTickCount();
  std::string last;
  for (;;) {
    HWND window = FindTopLevel(title);
    if (window) {
      last = ControlText(window, id);
      if (last == expected) return 0;
    }
    if (GetTickCount() - start >= g_timeoutMs) break;
    Sleep(kPollMs);
  }
  std::string what = "expected \"" + std::string(expected) + "\", saw \"" + last + "\"";
  return Fail("expect", title, what.c_str());
}

int Progress(const char* title, int id, int minimum) {
  const DWORD start = GetTickCount();
  LRESULT position = -1;
  for (;;) {
    HWND window = FindTopLevel(title);
    HWND bar = window ? GetDlgItem(window, id) : nullptr;
    if (bar) {
      position = SendMessageA(bar, PBM_GETPOS, 0, 0);
      if (position >= minimum) return 0;
    }
    if (GetTickCount() - start >= g_timeoutMs) break;
    Sleep(kPollMs);
  }
  std::string what = "progress stayed at " + std::to_string(position);
  return Fail("progress", title, what.c_str());
}

int Enabled(const char* title, const char* label, bool want) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND window = FindTopLevel(title);
    HWND button = window ? FindButtonByLabel(window, label) : nullptr;
    if (button && (IsWindowEnabled(button) != FALSE) == want) return 0;
    if (GetTickCount() - start >= g_timeoutMs) {
      if (!window) return Fail("enabled", title, "no such window");
      if (!button) return Fail("enabled", title, "no such button");
      return Fail("enabled", title, want ? "button stayed disabled" : "button stayed enabled");
    }
    Sleep(kPollMs);
  }
}

// HKCU\Software\Wine\AppDefaults\PROGRAM, value Version; "default" deletes the key's value.
bool SetWineVersion(const char* program, const char* version) {
  const std::string key = std::string("Software\\Wine\\AppDefaults\\") + program;
  HKEY handle = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG rc;
  if (std::strcmp(version, "default") == 0) {
    rc = RegDeleteValueA(handle, "Version");
    if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  } else {
    rc = RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                        static_cast<DWORD>(std::strlen(version) + 1));
  }
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS;
}

// Runs the steps argv[0..argc-1] in order. Returns 0 when all succeeded, 1 at the first that
// failed, 2 for a malformed list.
int RunSteps(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    const std::string step = argv[i];
    auto need = [&](int n) { return i + n < argc; };
    int rc = 0;
    if (step == "timeout" && need(1)) {
      g_timeoutMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
    } else if (step == "list") {
      EnumWindows(PrintWindow, 0);
      std::fflush(stdout);
    } else if (step == "sleep" && need(1)) {
      Sleep(static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10)));
    } else if (step == "wait" && need(1)) {
      const char* title = argv[++i];
      if (!WaitForWindow(title)) rc = Fail("wait", title, "did not appear");
    } else if (step == "gone" && need(1)) {
      const char* title = argv[++i];
      HWND window = FindTopLevel(title);
      if (window && !WaitUntilGone(window)) rc = Fail("gone", title, "stayed open");
    } else if ((step == "text" || step == "items") && need(2)) {
      // A control's text, or a combo box's entries one a line.
      const char* title = argv[++i];
      const int id = std::atoi(argv[++i]);
      HWND window = WaitForWindow(title);
      if (!window) {
        rc = Fail(step.c_str(), title, "no such window");
      } else if (step == "text") {
        std::printf("%s\n", ControlText(window, id).c_str());
        std::fflush(stdout);
      } else {
        PrintComboEntries(window, id);
      }
    } else if (step == "expect" && need(3)) {
      const char* title = argv[++i];
      const int id = std::atoi(argv[++i]);
      rc = Expect(title, id, argv[++i]);
    } else if (step == "progress" && need(3)) {
      const char* title = argv[++i];
      const int id = std::atoi(argv[++i]);
      rc = Progress(title, id, std::atoi(argv[++i]));
    } else if (step == "enabled" && need(3)) {
      const char* title = argv[++i];
      const char* label = argv[++i];
      rc = Enabled(title, label, std::string(argv[++i]) == "1");
    } else if (step == "press" && need(2)) {
      const char* title = argv[++i];
      rc = Press(title, argv[++i]);
    } else if (step == "syscommand" && need(2)) {
      const char* title = argv[++i];
      const WPARAM command = std::strtoul(argv[++i], nullptr, 10);
      HWND window = WaitForWindow(title);
      if (!window) {
        rc = Fail("syscommand", title, "no such window");
      } else {
        PostMessageA(window, WM_SYSCOMMAND, command, 0);
      }
    } else if (step == "version" && need(2)) {
      const char* program = argv[++i];
      const char* version = argv[++i];
      if (!SetWineVersion(program, version)) rc = Fail("version", program, "registry not written");
    } else {
      std::fprintf(stderr, "uidriver: bad step \"%s\" or missing argument\n", step.c_str());
      return 2;
    }
    if (rc != 0) return rc;
  }
  return 0;
}

// One line of standard input without its line end; false at the end of input.
bool ReadLine(std::string& line) {
  line.clear();
  int c;
  while ((c = std::getchar()) != EOF && c != '\n') line += static_cast<char>(c);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return c != EOF || !line.empty();
}

int Serve() {
  constexpr unsigned long kMaxArguments = 256;
  std::string line;
  while (ReadLine(line)) {
    const unsigned long count = std::strtoul(line.c_str(), nullptr, 10);
    std::vector<std::string> arguments;
    bool complete = count <= kMaxArguments;
    for (unsigned long k = 0; complete && k < count; ++k) {
      complete = ReadLine(line);
      arguments.push_back(line);
    }
    if (!complete) {
      std::printf("bad\n");
      std::fflush(stdout);
      return 2;
    }
    std::vector<char*> steps;
    for (std::string& argument : arguments) steps.push_back(&argument[0]);
    g_timeoutMs = kDefaultTimeoutMs;  // each request as a command line of its own
    const int rc = RunSteps(static_cast<int>(steps.size()), steps.data());
    std::fflush(stderr);
    if (rc == 1) {
      std::printf("fail %s\n", g_lastFailure.c_str());
    } else {
      std::printf("%s\n", rc == 0 ? "ok" : "bad");
    }
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "serve") == 0) return Serve();
  return RunSteps(argc - 1, argv + 1);
}
