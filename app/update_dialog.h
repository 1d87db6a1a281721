// The main dialog's logic: initialisation, drive selection, the Upgrade and Close commands, the
// worker that runs one update, and the About item. It reaches its controls only through
// DialogControls, so the same logic runs behind the Windows dialog, the terminal front end and
// the tests.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/controls.h"
#include "drive/drive.h"
#include "drive/drive_transport.h"
#include "drive/supported_model.h"
#include "engine/update_job.h"

// The drive models the program updates, by their descriptions; a drive is matched by its
// identity (vendor and product identification, 24 characters).
constexpr int kSupportedModelCount = 1;
extern const DriveModel* const supportedModels[kSupportedModelCount];
constexpr size_t kModelLength = kVendorLength + kProductLength;

// The first of `count` descriptions whose identity equals the first 24 characters of `identity`
// (case-sensitive; a comparison ends early at a terminator in both); null when none does.
const DriveModel* MatchModel(const char* identity, const DriveModel* const* models, size_t count);
// True when `identity` matches an entry of supportedModels.
bool MatchesSupportedModel(const char* identity);

// The record that the drive list shows as `label`: the first whose identity text, the index
// suffix included, equals it exactly (whole string, case-sensitive); null when none does.
// Initialisation makes each record's identity its list label, so the label is the lookup key.
const DriveRecord* RecordWithLabel(const DriveList& drives, const char* label);

// The format that the firmware file's extension (the text after the path's last ".") chooses,
// ignoring case: "bin" a raw binary image (isHexFile 0), "hex" text records (1). False for any
// other name: "Update file name is not correct!".
bool FirmwareFormatFromName(const char* path, uint8_t& isHexFile);

// The Source File preset, relative to the current directory.
constexpr const char* kDefaultFirmwareFile = "QF2TR08.BIN";

// System-menu id of the About item.
constexpr uint32_t kAboutCommand = 16;

// What the dialog needs from the layers below it, bound once: the real engine
// (RealDialogServices, app/real_services.cpp) or a test's fakes, and the transport the front end
// chose for the system it runs on (the Windows program by the Windows version, once).
struct DialogServices {
  // Loads, discovers, carries every command of the runs, and releases the drives it found.
  DriveTransport* transport;
  // One whole update: a FlashUpdater built from owner, job and os on the caller's stack, and
  // its Run.
  UpdateOutcome (*runUpdate)(const UpdateOwner& owner, const UpdateJob& job, platform::Os& os);
};

// What the front end chooses for one dialog, fixed for its life. The defaults are the Windows
// program's: the default Source File, no bytes read beforehand, no question, the supported
// models.
struct DialogOptions {
  // The Source File that initialisation presets.
  const char* firmwarePreset = kDefaultFirmwareFile;
  // The preset file's bytes, when the front end has read them once already (firmwareSize of
  // them, kept until the dialog ends): a run on the preset file loads these (UpdateJob).
  const uint8_t* firmwareBytes = nullptr;
  uint32_t firmwareSize = 0;
  // Asked by the Upgrade command once it has a supported drive and a file, before anything is
  // sent to the drive: false starts nothing. Null: the run starts at once.
  bool (*confirmUpgrade)(void* context, const UpdateJob& job) = nullptr;
  void* confirmContext = nullptr;
  // The models whose drives this dialog updates (modelCount of them): initialisation and the
  // drive selection match drives against them, and the Upgrade command hands the matched one's
  // description to the run (UpdateJob::model).
  const DriveModel* const* models = supportedModels;
  size_t modelCount = kSupportedModelCount;
};

class UpdateDialog : public UpdateOwner {
 public:
  // Message boxes, the worker thread and the runs' engine reach the system through `os`.
  UpdateDialog(DialogControls& controls, const DialogServices& services, platform::Os& os,
               const DialogOptions& options = DialogOptions());
  // Releases the drive records. The front end destroys the dialog only once no run is active.
  ~UpdateDialog();
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // Dialog initialisation after the front end's own steps (system menu, icons, the choice of
  // transport): presets the fields, loads the transport, lists the drives and starts the update on
  // the first supported one. Returns true (default focus).
  bool OnInitDialog();
  // CBN_SELENDOK from the drive list.
  void OnDriveSelected();
  // BN_CLICKED from Upgrade; also issued by initialisation.
  void OnUpgrade();
  // IDCANCEL: Close button, Escape, the window's close command.
  void OnClose();
  // The Close command with "Terminate???" taken as confirmed, for a request that asks no
  // question (a termination signal): during a run the engine stops at its next check, and a
  // drive that is programming is left to finish; outside a run the dialog ends.
  void TerminateWithoutAsking();
  // IDOK: the Enter key.
  void OnOk();
  // WM_SYSCOMMAND: true when it was the About item (handled), false for default processing.
  bool OnSysCommand(uint32_t command);
  // WM_DESTROY, after default processing: releases the transport.
  void OnDestroy();

  // UpdateOwner: the engine reads the two option check boxes through this.
  int GetCheckState(int controlId) const override;

  // upgradeBusy: true from the moment the Upgrade command starts a worker until that worker has
  // finished with the dialog. The dialog must not end, and no second run may start, while it is
  // set.
  bool RunActive() const { return upgradeBusy_.load() != 0; }
  // abortRequested: true once the user has confirmed "Terminate???" during a run, until the run
  // ends or the next one starts. The run's isAbortRequested answers it (any thread).
  bool AbortRequested() const { return abortRequested_.load() != 0; }
  // The outcome of the last run that has ended; kFailed before any has.
  UpdateOutcome LastOutcome() const { return lastOutcome_.load(); }
  // True when the last Upgrade command found everything in place but could not start its
  // worker thread: nothing was sent (UI thread only).
  bool WorkerStartFailed() const { return workerStartFailed_; }
  // Runs started so far (UI thread only).
  uint32_t RunsStarted() const { return runsStarted_; }
  // True when initialisation found at least one drive of a model of the options (UI thread only).
  bool ModelMatched() const { return modelMatched_ != 0; }
  // The job the last Upgrade command filled, as far as its checks got (zero-filled before the
  // first): the run's copy is taken from it. Read on the UI thread.
  const UpdateJob& Job() const { return job_; }
  // The transport initialisation chose (the services'); null before initialisation.
  DriveTransport* DriveAccess() const { return driveAccess_; }

  DialogControls& controls() const { return controls_; }

 private:
  // The tests stage a terminate request left over from a run that had already ended, which
  // real threads produce only in a race no test can time.
  friend struct UpdateDialogTestPeer;

  static void Worker(void* arg);
  // The entry of the options' models that `identity` matches, or null.
  const DriveModel* MatchedModel(const char* identity) const;

  DialogControls& controls_;
  DialogServices services_;
  platform::Os& os_;
  const DialogOptions options_;

  UpdateJob job_;
  // 1 from just before the Upgrade command starts a worker until that worker's last touch of
  // the dialog (set on the UI thread, cleared by the worker); 0 otherwise.
  std::atomic<uint8_t> upgradeBusy_{0};
  // 1 once the user has confirmed "Terminate???" during a run; cleared when a run starts and
  // when it ends.
  std::atomic<uint8_t> abortRequested_{0};
  uint8_t modelMatched_ = 0;
  uint32_t runsStarted_ = 0;
  TransportState transport_{};
  DriveTransport* driveAccess_ = nullptr;
  DriveList drives_{};
  bool workerStartFailed_ = false;
  std::atomic<UpdateOutcome> lastOutcome_{UpdateOutcome::kFailed};
};
