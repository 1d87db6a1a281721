#include "app/win32/win32_controls.h"

#include <commctrl.h>

#include <cstring>

#include "app/win32/resource.h"

namespace {

// The About box: no state of its own; OK, Enter, Escape and the close command end it.
INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

void Win32Controls::SetText(int id, const char* text) { SetDlgItemTextA(dialog_, id, text); }

size_t Win32Controls::GetText(int id, char* out, size_t size) const {
  if (size == 0) return 0;
  out[0] = '\0';
  return GetDlgItemTextA(dialog_, id, out, static_cast<int>(size));
}

void Win32Controls::Enable(int id, bool enabled) {
  EnableWindow(GetDlgItem(dialog_, id), enabled ? TRUE : FALSE);
}

void Win32Controls::AddComboEntry(int id, const char* text) {
  SendDlgItemMessageA(dialog_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

int Win32Controls::ComboSelection(int id) const {
  return static_cast<int>(SendDlgItemMessageA(dialog_, id, CB_GETCURSEL, 0, 0));
}

size_t Win32Controls::GetComboEntry(int id, int index, char* out, size_t size) const {
  if (size == 0) return 0;
  out[0] = '\0';
  // CB_GETLBTEXT has no size argument: check the entry's length first.
  LRESULT length = SendDlgItemMessageA(dialog_, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length < 0 || static_cast<size_t>(length) >= size) return 0;
  LRESULT copied = SendDlgItemMessageA(dialog_, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                       reinterpret_cast<LPARAM>(out));
  if (copied == CB_ERR) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(copied);
}

int Win32Controls::CheckState(int id) const {
  return static_cast<int>(IsDlgButtonChecked(dialog_, id));
}

void Win32Controls::SetProgress(int id, int position) {
  SendDlgItemMessageA(dialog_, id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32Controls::ScrollToLastLine(int id) {
  LRESULT lines = SendDlgItemMessageA(dialog_, id, EM_GETLINECOUNT, 0, 0);
  SendDlgItemMessageA(dialog_, id, EM_LINESCROLL, 0, lines);
}

void Win32Controls::EndDialog(int result) { ::EndDialog(dialog_, result); }

void Win32Controls::ShowAbout() {
  // Owned by the main dialog, which the system disables while the box is open: the main dialog
  // takes no input then (no Close behind the box, no second About box).
  DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_ABOUT), dialog_, AboutProc, 0);
}
