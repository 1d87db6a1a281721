// How a message box is answered where it is asked on a terminal rather than shown: the answer
// taken when nobody can be asked, the answers' names, and the key that gives each answer. The
// Linux binding of the seam and the terminal front end both ask this way.
#pragma once

#include <cstdint>

namespace platform {

// The answer that changes nothing: Cancel for OK/Cancel, No for Yes/No, otherwise OK.
int SafeAnswer(uint32_t style);
// "OK", "Cancel", "Yes" or "No".
const char* AnswerName(int answer);
// The answer a typed key gives for a box of `style` (y/n for Yes/No, o/c for OK/Cancel, any key
// for OK alone), case-insensitive; 0 when the key answers nothing.
int AnswerForKey(uint32_t style, char key);

}  // namespace platform
