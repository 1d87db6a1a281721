// The dialog's controls as an in-memory model: what the terminal front end draws and what the
// tests inspect. Thread-safe: the worker changes controls while the UI thread reads them.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/controls.h"

struct ControlState {
  std::string text;
  bool enabled = true;
  std::vector<std::string> entries;  // combo box list, sorted
  int selection = -1;
  int check = 0;
  int position = 0;
  int scrolledLines = 0;  // lines scrolled in total by ScrollToLastLine
};

class MemoryControls : public DialogControls {
 public:
  // Template 102's initial states: Source File and Browse disabled.
  MemoryControls();
  virtual ~MemoryControls() = default;

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
  void* Window() const override { return nullptr; }

  // What a user does in the drive list: selects entry `index`, which also becomes its text.
  void SelectComboEntry(int id, int index);

  // A copy of one control's state.
  ControlState State(int id) const;
  // -1 while the dialog has not ended.
  int EndResult() const;
  int AboutCount() const;

 protected:
  // Called after every change, outside the lock; `id` is the control that changed (0 for the
  // end of the dialog and the About box).
  virtual void Changed(int id) { (void)id; }

 private:
  static size_t CopyOut(const std::string& text, char* out, size_t size);

  mutable std::mutex mutex_;
  std::map<int, ControlState> controls_;
  int endResult_ = -1;
  int aboutCount_ = 0;
};
