// The four UI operations that the engine reports through, the process-wide terminate request
// they answer, and the process-wide current dialog they reach.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/update_job.h"

class UpdateDialog;

// 1 once the user has confirmed "Terminate???" during a run; cleared when a run starts and when
// it ends.
extern std::atomic<uint8_t> abortRequested;

// The dialog the operations reach. Set by initialisation and by each Upgrade command.
void SetCurrentDialog(UpdateDialog* dialog);
UpdateDialog* CurrentDialog();

// The table the Upgrade command puts into each job.
UiCallbacks DialogCallbacks();

namespace dialog_callbacks {
void appendLog(const char* text);
void setStatus(const char* text);
void setProgress(int position);
uint8_t isAbortRequested();
}  // namespace dialog_callbacks

// The log view holds at most this many characters (a 512-byte buffer with its terminator).
constexpr size_t kLogViewLimit = 511;

// Composes the log view's new text from its old text and a new line: "old\r\nline", or "line"
// when old is empty. When the two do not fit in kLogViewLimit characters the oldest lines are
// dropped, and a line longer than the limit keeps only its first kLogViewLimit characters.
// `out` holds kLogViewLimit + 1 bytes.
void ComposeLogText(const char* oldText, const char* line, char* out);
