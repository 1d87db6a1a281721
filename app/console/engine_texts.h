// The engine's own texts of one run, kept as it said them: its log lines, its status lines and
// its message boxes. The Linux front end does not show them on the terminal (it says things in
// its own words) but keeps them for the JSON document, and writes them into the command trace
// where there is one, each where it came among the commands. Safe from any thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class EngineTexts {
 public:
  // From now on each text is also a line of `trace` ("# engine log: ...", "# engine status:
  // ...", "# engine message: ...", a text's further lines as "#   ..."); null: none.
  void CopyTo(std::FILE* trace) {
    std::lock_guard<std::mutex> lock(mutex_);
    trace_ = trace;
  }

  void AddLog(const std::string& text);
  void AddStatus(const std::string& text);
  void AddMessage(const std::string& text);

  std::vector<std::string> Log() const;
  std::vector<std::string> StatusLines() const;
  std::vector<std::string> Messages() const;
  // The engine's own words for the way the run ended: its last status line unless that only
  // names a stage, else its last message box, else its last log line.
  std::string Closing() const;

 private:
  void Copy(const char* kind, const std::string& text);

  mutable std::mutex mutex_;
  std::FILE* trace_ = nullptr;
  std::vector<std::string> log_, status_, messages_;
};
