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

}  // namespace platform
