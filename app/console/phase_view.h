// The update's progress on standard error: one labelled line per phase with its own progress.
// On a terminal that can redraw (TERM not "dumb") the line is a bar redrawn in place; anywhere
// else each phase writes a line per 10 % step. Colour only on such a terminal, and never with
// NO_COLOR set.
#pragma once

#include <functional>
#include <string>

struct ViewStyle {
  bool redraw = false;  // a terminal that takes a carriage return and erase-to-end-of-line
  bool colour = false;
  int columns = 0;      // the terminal's width, where known: a redrawn line keeps within it
};

// The style for a stream: `isTerminal`, TERM and NO_COLOR as the environment has them (null
// where unset).
ViewStyle StyleFor(bool isTerminal, const char* term, const char* noColor);

class PhaseView {
 public:
  PhaseView(ViewStyle style, std::function<void(const std::string&)> write)
      : style_(style), write_(std::move(write)) {}

  // A new phase: ends the one before (as done, if it was not ended) and shows its label.
  void Begin(const std::string& label);
  // The phase's progress, 0 to 100, with a short detail ("block 12 of 128").
  void Progress(int percent, const std::string& detail = "");
  // Ends the phase with a word ("done", "failed", "stopped").
  void End(const std::string& word, bool good);
  // A line of its own, between the phase lines; the bar is drawn again under it.
  void Say(const std::string& line);
  bool InPhase() const { return !label_.empty(); }

 private:
  std::string Bar(int percent) const;
  std::string Padded() const;
  void Redraw();

  const ViewStyle style_;
  std::function<void(const std::string&)> write_;
  std::string label_;
  std::string detail_;
  int percent_ = -1;
  int lastStep_ = -1;
  bool drawn_ = false;  // the redrawn line is on the screen
};
