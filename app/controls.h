// The dialog's controls as the dialog logic sees them. The Windows front end implements this
// with the real dialog and its controls; the terminal front end and the tests with an in-memory
// model. Calls may come from the worker thread: each implementation hands them to the thread
// that owns the controls (SendMessage on Windows) or guards its model.
#pragma once

#include <cstddef>

#include "engine/control_ids.h"

// Control ids of the main dialog (template 102).
constexpr int kCloseButton = 2;  // IDCANCEL
constexpr int kDriveList = IDC_DRIVE_LIST;
constexpr int kSourceFile = IDC_SOURCE_FILE;
constexpr int kBrowseButton = IDC_BROWSE;
constexpr int kProgressBar = IDC_PROGRESS;
constexpr int kLogView = IDC_LOG_VIEW;
constexpr int kStatusLine = IDC_STATUS;
constexpr int kUpgradeButton = IDC_UPGRADE;
constexpr int kDeviceRevision = IDC_DEVICE_REVISION;

// Dialog results.
constexpr int kResultOk = 1;      // IDOK
constexpr int kResultCancel = 2;  // IDCANCEL

class DialogControls {
 public:
  virtual void SetText(int id, const char* text) = 0;
  // Copies at most size - 1 characters and a terminator into out; returns the length copied.
  virtual size_t GetText(int id, char* out, size_t size) const = 0;
  virtual void Enable(int id, bool enabled) = 0;

  // Adds an entry to a combo box's list at its sorted place (case-insensitive, as CBS_SORT).
  virtual void AddComboEntry(int id, const char* text) = 0;
  // The selected list index, or -1 when nothing is selected.
  virtual int ComboSelection(int id) const = 0;
  // Copies list entry `index` like GetText; an index outside the list gives "" and 0.
  virtual size_t GetComboEntry(int id, int index, char* out, size_t size) const = 0;

  // A check box's state as BM_GETCHECK answers it.
  virtual int CheckState(int id) const = 0;
  // PBM_SETPOS.
  virtual void SetProgress(int id, int position) = 0;
  // EM_GETLINECOUNT, then EM_LINESCROLL by that many lines: the newest line comes into view.
  virtual void ScrollToLastLine(int id) = 0;

  // Ends the modal dialog with `result`.
  virtual void EndDialog(int result) = 0;
  // Runs the About box modally.
  virtual void ShowAbout() = 0;
  // The owner window for message boxes; nullptr where there is none.
  virtual void* Window() const = 0;

 protected:
  ~DialogControls() = default;
};
