#include "app/console/phase_view.h"

#include <cstring>

namespace {

constexpr int kBarWidth = 30;
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

void PhaseView::Redraw() {
  std::string pct = std::to_string(percent_ < 0 ? 0 : percent_);
  pct = std::string(3 - (pct.size() < 3 ? pct.size() : 3), ' ') + pct;
  write_("\r" + label_ + " " + Bar(percent_ < 0 ? 0 : percent_) + " " + pct + " %" +
         (detail_.empty() ? "" : "  " + detail_) + kClearToEnd);
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
  if (style_.redraw) {
    write_("\r" + label_ + " " + Bar(percent_ < 0 ? 0 : percent_) + " " + shown + kClearToEnd +
           "\n");
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
