#include "app/console/phase_view.h"

#include <cstring>

namespace {

constexpr int kBarWidth = 20;
// Labels are padded to this width on a redrawn line, so that the bars stand one under another.
constexpr size_t kLabelWidth = 48;
constexpr char kClearToEnd[] = "\033[K";
constexpr char kGreen[] = "\033[32m";
constexpr char kRed[] = "\033[31m";
constexpr char kPlain[] = "\033[0m";

}  // namespace

ViewStyle StyleFor(bool isTerminal, const char* term, const char* noColor) {
  ViewStyle style;
  style.redraw = isTerminal && term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
  style.colour = style.redraw && (noColor == nullptr || noColor[0] == '\0');
  return style;
}

std::string PhaseView::Bar(int percent) const {
  const int filled = percent * kBarWidth / 100;
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "]";
}

std::string PhaseView::Padded() const {
  return label_.size() < kLabelWidth ? label_ + std::string(kLabelWidth - label_.size(), ' ')
                                     : label_;
}

void PhaseView::Redraw() {
  std::string pct = std::to_string(percent_ < 0 ? 0 : percent_);
  pct = std::string(3 - (pct.size() < 3 ? pct.size() : 3), ' ') + pct;
  std::string line = Padded() + " " + Bar(percent_ < 0 ? 0 : percent_) + " " + pct + " %" +
                     (detail_.empty() ? "" : "  " + detail_);
  // A line longer than the terminal would wrap, and the next carriage return would redraw
  // only its last part.
  if (style_.columns > 1 && line.size() >= static_cast<size_t>(style_.columns)) {
    line.resize(static_cast<size_t>(style_.columns - 1));
  }
  write_("\r" + line + kClearToEnd);
  drawn_ = true;
}

void PhaseView::Begin(const std::string& label) {
  if (InPhase()) End("done", true);
  label_ = label;
  detail_.clear();
  percent_ = -1;
  lastStep_ = -1;
  if (style_.redraw) {
    Redraw();
  } else {
    write_(label_ + " ...\n");
  }
}

void PhaseView::Progress(int percent, const std::string& detail) {
  if (!InPhase()) return;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  if (style_.redraw) {
    if (percent == percent_ && detail == detail_) return;
    percent_ = percent;
    detail_ = detail;
    Redraw();
    return;
  }
  percent_ = percent;
  detail_ = detail;
  // Every step passed is a line, also those passed between two looks.
  const int step = percent / 10;
  while (lastStep_ < step) {
    ++lastStep_;
    if (lastStep_ == 0) continue;
    write_("  " + std::to_string(lastStep_ * 10) + " %" +
           (lastStep_ == step && !detail.empty() ? "  " + detail : "") + "\n");
  }
}

void PhaseView::End(const std::string& word, bool good) {
  if (!InPhase()) return;
  const std::string shown =
      style_.colour ? std::string(good ? kGreen : kRed) + word + kPlain : word;
  // A phase that ended well went all the way, whatever the last look at it saw.
  if (good) percent_ = 100;
  if (style_.redraw) {
    // A phase that did not end well keeps how far it came.
    const std::string reached =
        good || percent_ < 0
            ? ""
            : std::to_string(percent_) + " %  " + (detail_.empty() ? "" : detail_ + "  ");
    write_("\r" + Padded() + " " + Bar(percent_ < 0 ? 0 : percent_) + " " + reached + shown +
           kClearToEnd + "\n");
  } else {
    write_(label_ + ": " + shown + "\n");
  }
  label_.clear();
  drawn_ = false;
}

void PhaseView::Say(const std::string& line) {
  if (style_.redraw && drawn_) {
    write_(std::string("\r") + kClearToEnd + line + "\n");
    Redraw();
  } else {
    write_(line + "\n");
  }
}
