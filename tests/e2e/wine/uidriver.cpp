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
//   progress TITLE ID MIN   until progress bar ID stands at MIN or more
//   enabled TITLE BUTTON 0|1  until the button is disabled (0) or enabled (1)
//   press TITLE BUTTON      presses the button whose label (without '&') is BUTTON and waits
//                           until that window has closed
//   syscommand TITLE N      posts WM_SYSCOMMAND N to the window (16: the About item)
//   list                    prints every top-level window: handle, visible, enabled, class, caption
//   sleep MS                pauses
//
// Each step that finds a window waits for it first. The exit status is 0 when every step
// succeeded, 1 at the first that failed (with a line on standard error saying which), 2 for a
// malformed command line.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

DWORD g_timeoutMs = 20000;
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

int Fail(const char* step, const char* title, const char* what) {
  std::fprintf(stderr, "uidriver: %s \"%s\": %s\n", step, title, what);
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

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
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
    } else if (step == "text" && need(2)) {
      const char* title = argv[++i];
      const int id = std::atoi(argv[++i]);
      HWND window = WaitForWindow(title);
      if (!window) {
        rc = Fail("text", title, "no such window");
      } else {
        std::printf("%s\n", ControlText(window, id).c_str());
        std::fflush(stdout);
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
    } else {
      std::fprintf(stderr, "uidriver: bad step \"%s\" or missing argument\n", step.c_str());
      return 2;
    }
    if (rc != 0) return rc;
  }
  return 0;
}
