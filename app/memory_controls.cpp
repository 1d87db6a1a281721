#include "app/memory_controls.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

MemoryControls::MemoryControls() {
  controls_[kSourceFile].enabled = false;
  controls_[kBrowseButton].enabled = false;
  controls_[kStatusLine].text = "Static";
  controls_[kDeviceRevision].text = "Static";
}

size_t MemoryControls::CopyOut(const std::string& text, char* out, size_t size) {
  if (size == 0) return 0;
  size_t length = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
  return length;
}

void MemoryControls::SetText(int id, const char* text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controls_[id].text = text;
  }
  Changed(id);
}

size_t MemoryControls::GetText(int id, char* out, size_t size) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = controls_.find(id);
  return CopyOut(it == controls_.end() ? std::string() : it->second.text, out, size);
}

void MemoryControls::Enable(int id, bool enabled) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controls_[id].enabled = enabled;
  }
  Changed(id);
}

void MemoryControls::AddComboEntry(int id, const char* text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string>& entries = controls_[id].entries;
    // After any equal entries, as a sorted list box inserts.
    entries.insert(std::upper_bound(entries.begin(), entries.end(), std::string(text),
                                    LessIgnoringCase),
                   text);
  }
  Changed(id);
}

int MemoryControls::ComboSelection(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = controls_.find(id);
  return it == controls_.end() ? -1 : it->second.selection;
}

size_t MemoryControls::GetComboEntry(int id, int index, char* out, size_t size) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = controls_.find(id);
  if (it == controls_.end() || index < 0 ||
      static_cast<size_t>(index) >= it->second.entries.size()) {
    return CopyOut(std::string(), out, size);
  }
  return CopyOut(it->second.entries[static_cast<size_t>(index)], out, size);
}

int MemoryControls::CheckState(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = controls_.find(id);
  return it == controls_.end() ? 0 : it->second.check;
}

void MemoryControls::SetProgress(int id, int position) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controls_[id].position = position;
  }
  Changed(id);
}

void MemoryControls::ScrollToLastLine(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  ControlState& control = controls_[id];
  int lines = 1;
  for (size_t at = control.text.find("\r\n"); at != std::string::npos;
       at = control.text.find("\r\n", at + 2)) {
    ++lines;
  }
  control.scrolledLines += lines;
}

void MemoryControls::EndDialog(int result) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    endResult_ = result;
  }
  Changed(0);
}

void MemoryControls::ShowAbout() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++aboutCount_;
  }
  Changed(0);
}

void MemoryControls::SelectComboEntry(int id, int index) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ControlState& control = controls_[id];
    control.selection = index;
    if (index >= 0 && static_cast<size_t>(index) < control.entries.size())
      control.text = control.entries[static_cast<size_t>(index)];
  }
  Changed(id);
}

ControlState MemoryControls::State(int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = controls_.find(id);
  return it == controls_.end() ? ControlState() : it->second;
}

int MemoryControls::EndResult() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return endResult_;
}

int MemoryControls::AboutCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return aboutCount_;
}
