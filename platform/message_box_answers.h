// How a message box is answered where nobody is asked (the Linux binding): the answer that
// changes nothing, and the answers' names.
#pragma once

#include <cstdint>

namespace platform {

// The answer that changes nothing: Cancel for OK/Cancel, No for Yes/No, otherwise OK.
int SafeAnswer(uint32_t style);
// "OK", "Cancel", "Yes" or "No".
const char* AnswerName(int answer);

}  // namespace platform
