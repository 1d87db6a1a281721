#include "app/console/engine_texts.h"

#include "app/console/terminal_text.h"

void EngineTexts::Copy(const char* kind, const std::string& text) {
  if (trace_ == nullptr) return;
  std::string line = std::string("# engine ") + kind + ": ";
  for (char c : TerminalText(text, true)) line += c == '\n' ? std::string("\n#   ") : std::string(1, c);
  line += '\n';
  std::fputs(line.c_str(), trace_);
}

void EngineTexts::AddLog(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.push_back(text);
  Copy("log", text);
}

void EngineTexts::AddStatus(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_.push_back(text);
  Copy("status", text);
}

void EngineTexts::AddMessage(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back(text);
  Copy("message", text);
}

std::vector<std::string> EngineTexts::Log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::vector<std::string> EngineTexts::StatusLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

std::vector<std::string> EngineTexts::Messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::string EngineTexts::Closing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!status_.empty()) {
    const std::string& last = status_.back();
    if (last != "Transferring....." && last != "Updating....." && last != "Finished") return last;
  }
  if (!messages_.empty()) return messages_.back();
  return log_.empty() ? "" : log_.back();
}
