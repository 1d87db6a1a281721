// One whole update run: stop, load, transfer with read-back, commit, poll, closing messages and
// the restart offer.
#include <cstdio>

#include "engine/flash_updater.h"
#include "platform/platform.h"

const char kUnableToStartText[] =
    "Unable to start upgrade firmware.\nPlease close all other program and try again.";
const char kTerminateWhileProgrammingText[] =
    "Terminate requested while the drive programs its flash: the drive cannot be stopped; "
    "waiting for it to finish.";

namespace {

constexpr char kCaption[] = "NOTE";
constexpr char kFailedText[] = "Firmware update failed!";
constexpr char kRetryRestartText[] =
    "The system must be restarted and try again. Please save all unsaved data before rebooting "
    "this system.\nWould you like to restart the system now?";
constexpr char kSucceededText[] = "Firmware update successfully completed!";
constexpr char kRestartText[] =
    "The system must be restarted. Please save all unsaved data before rebooting this "
    "system.\nWould you like to restart the system now?";

int ShowBox(const char* text, uint32_t style) {
  return platform::os().messageBox(nullptr, text, kCaption, style);
}

}  // namespace

UpdateOutcome FlashUpdater::Run() {
  // The outcome flags belong to this run: an earlier run's success must not decide it.
  completionSeen = 0;
  updateSucceeded = 0;

  uint8_t ownSense[kSenseAreaSize] = {};
  StopUnit(ownSense);
  const uint8_t result = TransferImage();
  platform::os().sleepMs(kClosingPauseMs);

  int answer;
  const UpdateOutcome outcome =
      updateSucceeded == 0 ? UpdateOutcome::kFailed : UpdateOutcome::kSucceeded;
  if (outcome == UpdateOutcome::kFailed) {
    callbacks.appendLog(kFailedText);
    ShowBox(kFailedText, platform::kMbSystemModal);
    answer = ShowBox(kRetryRestartText, platform::kMbSystemModal | platform::kMbYesNo);
  } else {
    callbacks.appendLog(kSucceededText);
    if (result == 0) {
      callbacks.appendLog("Restarting CDROM....");
      callbacks.appendLog("Complete");
      callbacks.setStatus("Finished");
    }
    answer = ShowBox(kRestartText, platform::kMbSystemModal | platform::kMbYesNo);
  }

  if (answer == platform::kIdYes) {
    // Where the platform needs no privilege to restart (the 9x family) there is no privilege
    // step; elsewhere the step fails silently for a user who lacks it.
    if (!platform::RestartNeedsPrivilege() || platform::os().acquireShutdownPrivilege()) {
      platform::os().exitWindows(platform::kEwxReboot | platform::kEwxForce);
    }
  }
  ReleaseImage();
  return outcome;
}

uint8_t FlashUpdater::TransferImage() {
  uint8_t senseArea[kSenseAreaSize] = {};
  StopUnit(senseArea);

  const int32_t loaded = LoadFirmwareFile();
  if (loaded != kLoadOk) {
    if (loaded == kLoadReadError) FailWithMessage(kErrReadInput);
    if (loaded == kLoadFormatError) FailWithMessage(kErrFormat);
    return 0xFF;  // -3: the loader has shown its own message
  }

  callbacks.setStatus("Transferring.....");
  callbacks.setProgress(0);

  image.bankIndex = 0;
  image.bankOffset = 0;
  uint32_t address = 0;
  uint32_t sent = 0;
  imageSum = 0;
  for (uint32_t a = 0; a < kImageSize; ++a) {
    imageSum = static_cast<uint16_t>(imageSum + image.banks[a >> 15][a & 0x7FFF]);
  }

  while (sent < image.length) {
    if (callbacks.isAbortRequested() == 1) {
      ShowBox(kUnableToStartText, platform::kMbSystemModal);
      FailWithMessage(kErrTerminate);
      return 0xFF;
    }
    bool blockSent = false;
    for (int attempt = 0; attempt < kBlockAttempts && !blockSent; ++attempt) {
      blockSent = WriteBlock(address, senseArea) && VerifyBlock(address, senseArea);
    }
    if (!blockSent) {
      ShowBox(kUnableToStartText, platform::kMbSystemModal);
      char text[64];
      std::snprintf(text, sizeof text, "Execute command error!! %2X/%2X/%2X", senseArea[2],
                    senseArea[12], senseArea[13]);
      callbacks.setStatus(text);
      return 0xFF;  // the image stays held until Run releases it
    }
    image.bankOffset = static_cast<uint16_t>(image.bankOffset + kBlockSize);
    address += kBlockSize;
    sent += kBlockSize;
    if (image.bankOffset == kBankSize) {
      image.bankOffset = 0;
      ++image.bankIndex;
    }
    callbacks.setProgress(static_cast<uint16_t>(sent * 100u / image.length));
  }

  callbacks.setStatus("Updating.....");
  callbacks.appendLog("Please wait for a moment ......");
  callbacks.setProgress(0);

  if (!CommitUpdate(senseArea)) {
    // The drive's answers to the polling still decide the outcome.
    ShowBox(kUnableToStartText, platform::kMbSystemModal);
    callbacks.appendLog(kUnableToStartText);
  }

  FollowProgramming();
  // A terminate request cannot have stopped anything once the commit was sent: the outcome is
  // what the drive reported.
  return 0;
}

void FlashUpdater::FollowProgramming() {
  platform::Os& os = platform::os();
  uint32_t lastAnswerMs = os.tickCount();
  bool terminateNoted = false;
  for (;;) {
    bool answered = false;
    const uint8_t percent = PollProgress(&answered);
    bool done = false;
    if (answered) {
      lastAnswerMs = os.tickCount();
      callbacks.setProgress(percent);
      done = percent == 100;
    } else if (static_cast<uint32_t>(os.tickCount() - lastAnswerMs) >= kSilenceLimitMs) {
      // A minute without an answer: the end of programming was never seen.
      updateSucceeded = completionSeen == 1 ? 1 : 0;
      callbacks.setProgress(100);
      done = true;
    }
    // The flag is only read here; nothing is sent to the drive for it.
    if (!terminateNoted && callbacks.isAbortRequested() == 1) {
      callbacks.appendLog(kTerminateWhileProgrammingText);
      terminateNoted = true;
    }
    if (done) return;
    os.sleepMs(kPollIntervalMs);
  }
}
