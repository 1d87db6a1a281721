// The parameter block that the dialog hands to one update run, and the table of plain
// operations through which the engine reports back.
#pragma once

#include <cstdint>

#include "drive/drive.h"
#include "drive/drive_transport.h"
#include "drive/supported_model.h"
#include "engine/control_ids.h"

// Four plain functions and the context they act on (the dialog that started the run), passed
// to each of them; the engine calls them only on its worker thread.
struct UiCallbacks {
  void* context;
  void (*appendLogTo)(void* context, const char* text);  // a new line in the log (and on
                                                          // standard output)
  void (*setStatusOf)(void* context, const char* text);  // replaces the status line
  void (*setProgressOf)(void* context, int position);    // 0 to 100
  uint8_t (*isAbortRequestedOf)(void* context);  // 1 once the user has confirmed "Terminate???"

  void appendLog(const char* text) const { appendLogTo(context, text); }
  void setStatus(const char* text) const { setStatusOf(context, text); }
  void setProgress(int position) const { setProgressOf(context, position); }
  uint8_t isAbortRequested() const { return isAbortRequestedOf(context); }
};

// What a run ends with: the drive's answers to the polling decide it. Only kSucceeded is a
// success to the closing messages; the others say what state the drive's flash is in.
enum class UpdateOutcome : uint8_t {
  kFailed,      // committed (or possibly so), and the drive reported a failure
  kSucceeded,   // committed, and a poll saw the drive's end of programming
  kUntouched,   // ended before any commit reached the drive: it keeps its firmware
  kEndNotSeen,  // committed, and no poll saw the end: the drive went idle or fell silent
};

// Filled by the Upgrade command; zero-filled when the dialog is created.
struct UpdateJob {
  DriveRecord drive;
  char firmwarePath[512];
  uint8_t isHexFile;  // 1: text records; 0: raw binary
  UiCallbacks callbacks;
  DriveTransport* transport;  // what the run sends its commands through (the dialog's)
  // The firmware file's bytes as the front end read them once, checked and showed to its user
  // (firmwareSize of them): the run loads exactly these and never reads the file again, so that
  // a file replaced meanwhile cannot be flashed. Null: the run reads the file at firmwarePath.
  const uint8_t* firmwareBytes;
  uint32_t firmwareSize;
  // The description of the drive's model, which sizes the image and shapes every command of
  // the run (the dialog's match sets it); it outlives the run. Null: kSupportedDrive. A
  // description that is not usable (DriveModelIsUsable) obtains no image: nothing is sent.
  const DriveModel* model;
};

// Control ids of the two hidden option check boxes that the commit command reads.
constexpr int kForceBootOverwriteBox = IDC_FORCE_BOOT_OVERWRITE;
constexpr int kDisableChecksumProtectBox = IDC_DISABLE_CHECKSUM_PROTECT;

// What the engine may ask of the dialog that started it: a check box's state, as BM_GETCHECK
// answers it (1 is checked; 0 unchecked; 2 indeterminate).
class UpdateOwner {
 public:
  virtual int GetCheckState(int controlId) const = 0;

 protected:
  ~UpdateOwner() = default;
};
