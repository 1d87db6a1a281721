#include "platform/message_box_answers.h"

#include "platform/os.h"

namespace platform {

int SafeAnswer(uint32_t style) {
  switch (style & 0x0F) {
    case kMbOkCancel: return kIdCancel;
    case kMbYesNo: return kIdNo;
    default: return kIdOk;
  }
}

const char* AnswerName(int answer) {
  switch (answer) {
    case kIdCancel: return "Cancel";
    case kIdYes: return "Yes";
    case kIdNo: return "No";
    default: return "OK";
  }
}

int AnswerForKey(uint32_t style, char key) {
  const char c = static_cast<char>(key | 0x20);
  switch (style & 0x0F) {
    case kMbYesNo: return c == 'y' ? kIdYes : c == 'n' ? kIdNo : 0;
    case kMbOkCancel: return c == 'o' ? kIdOk : c == 'c' ? kIdCancel : 0;
    default: return kIdOk;
  }
}

}  // namespace platform
