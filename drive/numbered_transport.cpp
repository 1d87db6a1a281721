#include "drive/numbered_transport.h"

#include "drive/command_trace.h"

DeviceAnswer NumberedTransport::Ask(platform::Handle device, const uint8_t* cdb,
                                    uint8_t cdbLength, uint8_t* reply, uint32_t replyLength,
                                    uint32_t timeOutSeconds) {
  const DeviceAnswer answer = AskDevice(device, cdb, cdbLength, reply, replyLength, timeOutSeconds);
  drive::TraceCommand(cdb, cdbLength, SRB_DIR_IN, replyLength,
                      answer.delivered && answer.status == 0, answer.sense);
  return answer;
}
