// DialogControls over the real dialog's controls. Each call is a Win32 call or message on a
// control of the dialog; from the worker thread, the system hands it to the dialog's thread
// and waits until that thread has handled it (SendMessage across threads).
#pragma once

#include <windows.h>

#include "app/controls.h"

class Win32Controls : public DialogControls {
 public:
  explicit Win32Controls(HINSTANCE instance) : instance_(instance) {}
  void Attach(HWND dialog) { dialog_ = dialog; }

  void SetText(int id, const char* text) override;
  size_t GetText(int id, char* out, size_t size) const override;
  void Enable(int id, bool enabled) override;
  void AddComboEntry(int id, const char* text) override;
  int ComboSelection(int id) const override;
  size_t GetComboEntry(int id, int index, char* out, size_t size) const override;
  int CheckState(int id) const override;
  void SetProgress(int id, int position) override;
  void ScrollToLastLine(int id) override;
  void EndDialog(int result) override;
  void ShowAbout() override;
  void* Window() const override { return dialog_; }

 private:
  HINSTANCE instance_;
  HWND dialog_ = nullptr;
};
