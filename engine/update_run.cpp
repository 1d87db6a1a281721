// One whole update run: stop, load, transfer with read-back, commit, poll, closing messages and
// the restart offer.
#include <cstdio>

#include "engine/flash_updater.h"
#include "platform/os.h"

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

int ShowBox(platform::Os& os, const char* text, uint32_t style) {
  return os.messageBox(nullptr, text, kCaption, style);
}

}  // namespace

UpdateOutcome FlashUpdater::Run() {
  // The outcome flags belong to this run: an earlier run's success must not decide it.
  progress_ = ProgressFlags{0, 0, 0, 0};
  committed_ = false;

  uint8_t ownSense[kSenseAreaSize] = {};
  StopUnit(link_, ownSense);
  const uint8_t result = TransferImage();
  os_.sleepMs(kClosingPauseMs);

  int answer;
  const UpdateOutcome outcome = OutcomeOfRun();
  if (outcome != UpdateOutcome::kSucceeded) {
    callbacks_.appendLog(kFailedText);
    ShowBox(os_, kFailedText, platform::kMbSystemModal);
    answer = ShowBox(os_, kRetryRestartText, platform::kMbSystemModal | platform::kMbYesNo);
  } else {
    callbacks_.appendLog(kSucceededText);
    if (result == 0) {
      callbacks_.appendLog("Restarting CDROM....");
      callbacks_.appendLog("Complete");
      callbacks_.setStatus("Finished");
    }
    answer = ShowBox(os_, kRestartText, platform::kMbSystemModal | platform::kMbYesNo);
  }

  if (answer == platform::kIdYes) {
    // Whatever the system asks first (a privilege) fails silently for a user who lacks it.
    os_.restartComputer();
  }
  ReleaseImage(os_, image_);
  return outcome;
}

// What the flash is in after the run. A commit the drive refused (CHECK CONDITION) was not
// executed, unless a poll saw the drive programming all the same; any other commit may have
// reached it.
UpdateOutcome FlashUpdater::OutcomeOfRun() const {
  if (progress_.updateSucceeded != 0) return UpdateOutcome::kSucceeded;
  if (!committed_ && progress_.programmingSeen == 0) return UpdateOutcome::kUntouched;
  if (progress_.endedReady != 0 || silentEnd_) return UpdateOutcome::kEndNotSeen;
  return UpdateOutcome::kFailed;
}

uint8_t FlashUpdater::TransferImage() {
  uint8_t senseArea[kSenseAreaSize] = {};
  StopUnit(link_, senseArea);

  const int32_t loaded = LoadFirmwareFile();
  if (loaded != kLoadOk) {
    if (loaded == kLoadReadError) FailWithMessage(kErrReadInput);
    if (loaded == kLoadFormatError) FailWithMessage(kErrFormat);
    return 0xFF;  // -3: the loader has shown its own message
  }

  callbacks_.setStatus("Transferring.....");
  callbacks_.setProgress(0);

  image_.bankIndex = 0;
  image_.bankOffset = 0;
  uint32_t address = model_->imageAddress;
  uint32_t sent = 0;
  imageSum_ = ImageSum(image_);

  while (sent < image_.length) {
    if (callbacks_.isAbortRequested() == 1) {
      ShowBox(os_, kUnableToStartText, platform::kMbSystemModal);
      FailWithMessage(kErrTerminate);
      return 0xFF;
    }
    bool blockSent = false;
    for (int attempt = 0; attempt < kBlockAttempts && !blockSent; ++attempt) {
      const uint8_t* block = image_.banks[image_.bankIndex] + image_.bankOffset;
      blockSent = WriteBlock(link_, address, block, senseArea) &&
                  VerifyBlock(link_, address, block, senseArea);
    }
    if (!blockSent) {
      ShowBox(os_, kUnableToStartText, platform::kMbSystemModal);
      char text[64];
      std::snprintf(text, sizeof text, "Execute command error!! %2X/%2X/%2X", senseArea[2],
                    senseArea[12], senseArea[13]);
      callbacks_.setStatus(text);
      return 0xFF;  // the image stays held until Run releases it
    }
    image_.bankOffset = static_cast<uint16_t>(image_.bankOffset + kBlockSize);
    address += kBlockSize;
    sent += kBlockSize;
    if (image_.bankOffset == model_->bankSize) {
      image_.bankOffset = 0;
      ++image_.bankIndex;
    }
    callbacks_.setProgress(static_cast<uint16_t>(sent * 100u / image_.length));
  }

  callbacks_.setStatus("Updating.....");
  callbacks_.appendLog("Please wait for a moment ......");
  callbacks_.setProgress(0);

  // Only a plain "checked" (1) turns an option on; indeterminate (2) counts as off.
  const CommitOptions options{owner_->GetCheckState(kForceBootOverwriteBox) == 1,
                              owner_->GetCheckState(kDisableChecksumProtectBox) == 1};
  ScsiOutcome commit = ScsiOutcome::kNotSent;
  const bool accepted = CommitUpdate(link_, imageSum_, options, senseArea, &commit);
  committed_ = commit != ScsiOutcome::kCheckCondition && commit != ScsiOutcome::kNotSent;
  if (!accepted) {
    // The drive's answers to the polling still decide the outcome.
    ShowBox(os_, kUnableToStartText, platform::kMbSystemModal);
    callbacks_.appendLog(kUnableToStartText);
  }

  FollowProgramming();
  // A terminate request cannot have stopped anything once the commit was sent: the outcome is
  // what the drive reported.
  return 0;
}

void FlashUpdater::FollowProgramming() {
  platform::Os& os = os_;
  uint32_t lastAnswerMs = os.tickCount();
  bool terminateNoted = false;
  silentEnd_ = false;
  for (;;) {
    PollAnswer answer = PollAnswer::kNoAnswer;
    const uint8_t percent = PollProgress(link_, progress_, &answer);
    bool done = false;
    // A unit attention (a reset, a changed medium) says nothing of the programming: the next
    // poll asks again. Only an answer about programming counts against the silence.
    if (answer == PollAnswer::kAboutProgramming) {
      lastAnswerMs = os.tickCount();
      callbacks_.setProgress(percent);
      done = percent == 100;
    } else if (static_cast<uint32_t>(os.tickCount() - lastAnswerMs) >= kSilenceLimitMs) {
      // A minute without an answer: the end of programming was never seen.
      progress_.updateSucceeded = progress_.completionSeen == 1 ? 1 : 0;
      silentEnd_ = true;
      callbacks_.setProgress(100);
      done = true;
    }
    // The flag is only read here; nothing is sent to the drive for it.
    if (!terminateNoted && callbacks_.isAbortRequested() == 1) {
      callbacks_.appendLog(kTerminateWhileProgrammingText);
      terminateNoted = true;
    }
    if (done) return;
    os.sleepMs(kPollIntervalMs);
  }
}
