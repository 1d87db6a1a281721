// fwloader.exe: the application object and the main dialog's procedure. The procedure only
// forwards to the dialog logic (app/update_dialog.h); what is Windows-only here is the system
// menu, the icons and painting.
#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "app/real_services.h"
#include "app/update_dialog.h"
#include "app/win32/resource.h"
#include "app/win32/win32_controls.h"
#include "drive/windows_transports.h"
#include "platform/win32/win32_os.h"
#include "sumseal/sumseal.h"

namespace {

// The main dialog as the window sees it: the operating system, the transports of its family
// (one chosen once, by the version), the logic, its controls and the window's icon.
struct MainDialog {
  explicit MainDialog(HINSTANCE module)
      : os(platform::NewWin32Os()),
        transports(*os),
        controls(module),
        logic(controls, RealDialogServices(transports.For(platform::ReadWindowsFamily(*os))), *os),
        icon(LoadIconA(module, MAKEINTRESOURCEA(IDI_APPLICATION_ICON))),
        instance(module) {}

  std::unique_ptr<platform::WindowsOs> os;
  WindowsTransports transports;
  Win32Controls controls;
  UpdateDialog logic;
  HICON icon;
  HINSTANCE instance;
};

void AddAboutItem(HWND window, HINSTANCE instance) {
  HMENU menu = GetSystemMenu(window, FALSE);
  if (menu == nullptr) return;
  char text[128] = "";
  if (LoadStringA(instance, IDS_ABOUT, text, sizeof text) <= 0 || text[0] == '\0') return;
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, kAboutCommand, text);
}

// Draws the icon centred in the client area of the minimised window.
void PaintIconic(HWND window, HICON icon) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(window, &client);
  int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon);
  EndPaint(window, &paint);
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MainDialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<MainDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    self->controls.Attach(window);
    AddAboutItem(window, self->instance);
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(self->icon));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(self->icon));
    return self->logic.OnInitDialog() ? TRUE : FALSE;
  }
  self = reinterpret_cast<MainDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  if (self == nullptr) return FALSE;

  switch (message) {
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      int code = HIWORD(wParam);
      if (id == IDC_DRIVE_LIST && code == CBN_SELENDOK) {
        self->logic.OnDriveSelected();
      } else if (id == IDC_UPGRADE && code == BN_CLICKED) {
        self->logic.OnUpgrade();
      } else if (id == IDCANCEL) {
        self->logic.OnClose();
      } else if (id == IDOK) {
        self->logic.OnOk();
      } else {
        return FALSE;
      }
      return TRUE;
    }
    case WM_SYSCOMMAND:
      // FALSE leaves every other system command to default processing.
      return self->logic.OnSysCommand(static_cast<uint32_t>(wParam)) ? TRUE : FALSE;
    case WM_PAINT:
      if (!IsIconic(window)) return FALSE;
      PaintIconic(window, self->icon);
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(self->icon);
    case WM_DESTROY:
      // Nothing of the default destruction depends on the transport; release it here.
      self->logic.OnDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

// The application object: no state of its own. Runs the main dialog modally; when it ends, the
// program ends.
class UpdaterApp {
 public:
  int Run(HINSTANCE instance) {
    // The common controls (the progress bar). Programs marked for Windows 4.0 get the
    // three-dimensional control look from the system.
    InitCommonControls();
    MainDialog* dialog = new MainDialog(instance);
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_UPDATE), nullptr, MainDialogProc,
                    reinterpret_cast<LPARAM>(dialog));
    delete dialog;
    return 0;
  }
};

// The program imports DoCheck by name, so it starts only beside its sumseal.dll (the engine
// also loads the library by name when it seals an image).
int32_t(SUMSEAL_CALL* volatile const importedDoCheck)(uint8_t*, uint32_t, uint32_t, uint32_t) =
    DoCheck;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // The command line is not read: the program has no options.
  UpdaterApp app;
  return app.Run(instance);
}
