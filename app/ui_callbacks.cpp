#include "app/ui_callbacks.h"

#include <cstdio>
#include <cstring>

#include "app/update_dialog.h"

namespace {

UpdateDialog& Of(void* context) { return *static_cast<UpdateDialog*>(context); }

void AppendLog(void* context, const char* text) {
  DialogControls& controls = Of(context).controls();
  char oldText[kLogViewLimit + 1];
  char newText[kLogViewLimit + 1];
  controls.GetText(kLogView, oldText, sizeof oldText);
  ComposeLogText(oldText, text, newText);
  controls.SetText(kLogView, newText);
  controls.ScrollToLastLine(kLogView);
  std::printf("%s\n", text);
  std::fflush(stdout);
}

void SetStatus(void* context, const char* text) {
  Of(context).controls().SetText(kStatusLine, text);
}

void SetProgress(void* context, int position) {
  Of(context).controls().SetProgress(kProgressBar, position);
}

uint8_t IsAbortRequested(void* context) { return Of(context).AbortRequested() ? 1 : 0; }

}  // namespace

UiCallbacks DialogCallbacks(UpdateDialog& dialog) {
  return UiCallbacks{&dialog, AppendLog, SetStatus, SetProgress, IsAbortRequested};
}

void ComposeLogText(const char* oldText, const char* line, char* out) {
  size_t lineLength = std::strlen(line);
  if (lineLength >= kLogViewLimit) {
    std::memcpy(out, line, kLogViewLimit);
    out[kLogViewLimit] = '\0';
    return;
  }
  // Drop whole lines from the front of the old text until it, a line break and the new line
  // fit. What is left is always a tail of complete lines.
  const char* kept = oldText;
  size_t keptLength = std::strlen(kept);
  while (keptLength > 0 && keptLength + 2 + lineLength > kLogViewLimit) {
    const char* lineEnd = std::strstr(kept, "\r\n");
    if (lineEnd == nullptr) {
      kept += keptLength;
      keptLength = 0;
    } else {
      keptLength -= static_cast<size_t>(lineEnd + 2 - kept);
      kept = lineEnd + 2;
    }
  }
  if (keptLength == 0) {
    std::memcpy(out, line, lineLength + 1);
    return;
  }
  std::memcpy(out, kept, keptLength);
  std::memcpy(out + keptLength, "\r\n", 2);
  std::memcpy(out + keptLength + 2, line, lineLength + 1);
}
