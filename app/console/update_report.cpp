#include "app/console/update_report.h"

#include <cstdio>

#include "app/console/sense_text.h"

std::string SenseWords(uint8_t key, uint8_t asc, uint8_t ascq) {
  char codes[64];
  std::snprintf(codes, sizeof codes, "ASC 0x%02X ASCQ 0x%02X", asc, ascq);
  return "sense key " + std::to_string(key) + " (" + SenseKeyText(key) + "), " + codes + " (" +
         AdditionalSenseText(asc, ascq) + ")";
}

namespace {

std::string CommandName(uint8_t opcode, UpdatePhase phase) {
  switch (opcode) {
    case 0x1B: return "START STOP UNIT";
    case 0x3B: return phase == UpdatePhase::kCommit ? "the commit (WRITE BUFFER mode 1)"
                                                    : "WRITE BUFFER";
    case 0x3C: return "READ BUFFER";
    case 0x03: return "REQUEST SENSE";
    case 0xF1: return "the boot data command (F1h)";
    default: break;
  }
  char text[24];
  std::snprintf(text, sizeof text, "command %02Xh", opcode);
  return text;
}

}  // namespace

UpdateError ExplainCommand(const FailedCommand& command) {
  UpdateError error;
  error.phase = PhaseName(command.phase);
  error.block = command.phase == UpdatePhase::kTransfer ? command.block : -1;
  std::string where;
  switch (command.phase) {
    case UpdatePhase::kPreparing:
    case UpdatePhase::kBootData: where = "reading the drive's boot data"; break;
    case UpdatePhase::kTransfer:
      where = "sending block " + std::to_string(command.block) + " of " +
              std::to_string(kTransferBlocks);
      break;
    case UpdatePhase::kCommit: where = "starting the drive's programming"; break;
    case UpdatePhase::kProgramming: where = "while the drive programmed its flash"; break;
    case UpdatePhase::kRevision: where = "reading the revision again"; break;
  }
  std::string message = where + ": " + CommandName(command.opcode, command.phase) + " " +
                        command.reason;
  if (command.hasSense) {
    error.hasSense = true;
    error.key = command.key;
    error.asc = command.asc;
    error.ascq = command.ascq;
    message += ", " + SenseWords(command.key, command.asc, command.ascq);
  }
  if (command.attempts > 1) message += " (" + std::to_string(command.attempts) + " attempts)";
  error.message = message;
  return error;
}

std::string UpdateJson(const UpdateReport& report) {
  JsonObject update;
  if (report.device.empty()) {
    update.AddNull("device").AddNull("model").AddNull("revision_before");
  } else {
    update.Add("device", report.device)
        .Add("model", report.model)
        .Add("revision_before", report.revisionBefore);
  }
  if (report.revisionRead) {
    update.Add("revision_after", report.revisionAfter);
  } else {
    update.AddNull("revision_after");
  }
  if (!report.endSeen) update.AddBool("end_seen", false);
  update.Add("file", report.file)
      .Add("image_sum", report.imageSum)
      .Add("outcome", report.outcome)
      .AddStrings("log", report.log)
      .AddStrings("status_lines", report.statusLines)
      .AddStrings("messages", report.messages);
  JsonObject document = JsonEnvelope("update", report.status);
  document.AddRaw("update", update.Text());
  if (report.hasError) {
    const UpdateError& e = report.error;
    JsonObject error;
    error.Add("message", e.message);
    if (!e.phase.empty()) error.Add("phase", e.phase);
    if (e.block >= 0) error.AddNumber("block", e.block);
    if (!e.engineText.empty()) error.Add("engine_text", e.engineText);
    if (e.hasSense) {
      error.AddRaw("sense", JsonObject()
                                .AddNumber("key", e.key)
                                .AddNumber("asc", e.asc)
                                .AddNumber("ascq", e.ascq)
                                .Add("key_text", SenseKeyText(e.key))
                                .Add("asc_text", AdditionalSenseText(e.asc, e.ascq))
                                .Text());
    }
    document.AddRaw("error", error.Text());
  }
  return document.Text();
}
