// The four UI operations that the engine reports through, acting on the dialog that started
// the run (their context), and the log view's limit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/update_job.h"

class UpdateDialog;

// The table the Upgrade command puts into each job: its operations reach `dialog`'s controls
// and answer its terminate request.
UiCallbacks DialogCallbacks(UpdateDialog& dialog);

// The log view holds at most this many characters (a 512-byte buffer with its terminator).
constexpr size_t kLogViewLimit = 511;

// Composes the log view's new text from its old text and a new line: "old\r\nline", or "line"
// when old is empty. When the two do not fit in kLogViewLimit characters the oldest lines are
// dropped, and a line longer than the limit keeps only its first kLogViewLimit characters.
// `out` holds kLogViewLimit + 1 bytes.
void ComposeLogText(const char* oldText, const char* line, char* out);
