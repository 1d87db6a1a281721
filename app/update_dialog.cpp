#include "app/update_dialog.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/ui_callbacks.h"
#include "drive/supported_model.h"
#include "platform/os.h"

const DriveModel* const supportedModels[kSupportedModelCount] = {&kSupportedDrive};

const DriveModel* MatchModel(const char* identity, const DriveModel* const* models, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (std::strncmp(identity, models[i]->identity, kModelLength) == 0) return models[i];
  }
  return nullptr;
}

bool MatchesSupportedModel(const char* identity) {
  return MatchModel(identity, supportedModels, kSupportedModelCount) != nullptr;
}

const DriveModel* UpdateDialog::MatchedModel(const char* identity) const {
  return MatchModel(identity, options_.models, options_.modelCount);
}

const DriveRecord* RecordWithLabel(const DriveList& drives, const char* label) {
  for (uint32_t i = 0; i < drives.count; ++i) {
    if (std::strcmp(drives.records[i]->identity, label) == 0) return drives.records[i];
  }
  return nullptr;
}

namespace {

// The text after the last "." of the path; nullptr when there is none.
const char* Extension(const char* path) {
  const char* dot = std::strrchr(path, '.');
  return dot == nullptr ? nullptr : dot + 1;
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
      return false;
  }
  return *a == *b;
}

}  // namespace

bool FirmwareFormatFromName(const char* path, uint8_t& isHexFile) {
  const char* extension = Extension(path);
  if (extension != nullptr && EqualsIgnoringCase(extension, "bin")) {
    isHexFile = 0;
  } else if (extension != nullptr && EqualsIgnoringCase(extension, "hex")) {
    isHexFile = 1;
  } else {
    return false;
  }
  return true;
}

UpdateDialog::UpdateDialog(DialogControls& controls, const DialogServices& services,
                           platform::Os& os, const DialogOptions& options)
    : controls_(controls), services_(services), os_(os), options_(options), job_() {}

UpdateDialog::~UpdateDialog() {
  if (drives_.count > 0) services_.transport->ReleaseDrives(drives_);
}

bool UpdateDialog::OnInitDialog() {

  controls_.SetText(kSourceFile, options_.firmwarePreset);
  controls_.SetText(kStatusLine, "");
  controls_.SetText(kDeviceRevision, "");
  controls_.SetProgress(kProgressBar, 0);
  // upgradeBusy is 0 from construction; initialisation leaves it alone, so that nothing but a
  // worker's end can clear a run's flag.

  driveAccess_ = services_.transport;
  if (!driveAccess_->Load(transport_)) {
    os_.messageBox(controls_.Window(), "Cannot Load Dynamic Library!!!", os_.applicationName(),
                   platform::kMbOkCancel | platform::kMbSystemModal);
    controls_.Enable(kUpgradeButton, false);
    controls_.Enable(kDeviceRevision, false);
  } else {
    driveAccess_->Discover(drives_);
    // Each record's identity gets its list index, in parentheses, and is its label from then on:
    // the list shows it, and selection and the Upgrade command find the record by it.
    for (uint32_t i = 0; i < drives_.count; ++i) {
      DriveRecord& record = *drives_.records[i];
      size_t used = std::strlen(record.identity);
      std::snprintf(record.identity + used, sizeof record.identity - used, "(%d)",
                    static_cast<int>(i));
      controls_.SetText(kDriveList, record.identity);
      controls_.SetText(kDeviceRevision, record.revision);
      controls_.AddComboEntry(kDriveList, record.identity);
    }
  }

  // Every supported drive counts for modelMatched, but only the first one is started: a second
  // Upgrade would refill the job that the first run's engine is reading.
  modelMatched_ = 0;
  for (uint32_t i = 0; i < drives_.count; ++i) {
    const DriveRecord& record = *drives_.records[i];
    if (MatchedModel(record.identity) == nullptr) continue;
    if (modelMatched_ == 0) {
      modelMatched_ = 1;
      controls_.SetText(kDriveList, record.identity);
      controls_.SetText(kDeviceRevision, record.revision);
      OnUpgrade();
    }
  }
  if (modelMatched_ == 0) {
    controls_.SetText(kStatusLine, "Drive model doesn't match!!");
    controls_.Enable(kUpgradeButton, false);
  }
  return true;
}

void UpdateDialog::OnDriveSelected() {
  char selected[512];
  int index = controls_.ComboSelection(kDriveList);
  if (controls_.GetComboEntry(kDriveList, index, selected, sizeof selected) == 0) return;
  const DriveRecord* record = RecordWithLabel(drives_, selected);
  if (record == nullptr) return;
  controls_.SetText(kDeviceRevision, record->revision);
  if (MatchedModel(selected) != nullptr) {
    controls_.SetText(kStatusLine, "CD-ROM drive model is match up!");
    // A run in progress keeps Upgrade disabled: a second run would share its job.
    controls_.Enable(kUpgradeButton, !RunActive());
  } else {
    controls_.SetText(kStatusLine, "CD-ROM drive model doesn't match!");
    controls_.Enable(kUpgradeButton, false);
  }
}

void UpdateDialog::OnUpgrade() {
  // One run at a time: the job belongs to the run until its worker has finished.
  if (RunActive()) return;

  job_.drive.adapterId = 255;
  job_.drive.targetId = 255;
  char selection[512];
  controls_.GetText(kDriveList, selection, sizeof selection);
  // Text that names no record (typed into the list's edit field) leaves the job's drive as it
  // was, with adapter and target 255: "No Target Drive!" below.
  if (const DriveRecord* record = RecordWithLabel(drives_, selection)) job_.drive = *record;
  job_.isHexFile = 1;
  job_.callbacks = DialogCallbacks(*this);
  job_.transport = driveAccess_;

  job_.model = MatchedModel(job_.drive.identity);
  if (job_.model == nullptr) {
    controls_.SetText(kStatusLine, "Drive model doesn't match!");
    return;
  }
  controls_.GetText(kSourceFile, job_.firmwarePath, sizeof job_.firmwarePath);
  if (job_.firmwarePath[0] == '\0') {
    controls_.SetText(kStatusLine, "Update file name is not assigned!");
    return;
  }
  if (!FirmwareFormatFromName(job_.firmwarePath, job_.isHexFile)) {
    controls_.SetText(kStatusLine, "Update file name is not correct!");
    return;
  }
  if (job_.drive.adapterId == 255 || job_.drive.targetId == 255) {
    controls_.SetText(kStatusLine, "No Target Drive!");
    return;
  }
  // The bytes read beforehand belong to the preset file alone: any other path is read by the run.
  const bool presetFile = options_.firmwareBytes != nullptr && options_.firmwarePreset != nullptr &&
                          std::strcmp(job_.firmwarePath, options_.firmwarePreset) == 0;
  job_.firmwareBytes = presetFile ? options_.firmwareBytes : nullptr;
  job_.firmwareSize = presetFile ? options_.firmwareSize : 0;
  if (options_.confirmUpgrade != nullptr &&
      !options_.confirmUpgrade(options_.confirmContext, job_))
    return;

  controls_.Enable(kCloseButton, false);
  // A terminate confirmed after an earlier run had ended must not stop this one.
  abortRequested_ = 0;
  // Busy from before the worker exists: a Close, an Enter or a second Upgrade in the interval
  // before the worker's first step already finds the run in progress.
  upgradeBusy_ = 1;
  workerStartFailed_ = false;
  if (!os_.startThread(&UpdateDialog::Worker, this)) {
    workerStartFailed_ = true;
    upgradeBusy_ = 0;
    controls_.Enable(kCloseButton, true);
    return;
  }
  ++runsStarted_;
}

void UpdateDialog::Worker(void* arg) {
  UpdateDialog& dialog = *static_cast<UpdateDialog*>(arg);
  // upgradeBusy is already 1: the Upgrade command set it before starting this thread.
  dialog.controls_.Enable(kUpgradeButton, false);
  dialog.lastOutcome_ = dialog.services_.runUpdate(dialog, dialog.job_, dialog.os_);
  dialog.controls_.Enable(kCloseButton, true);
  dialog.abortRequested_ = 0;
  // Last touch of the dialog: from here on it may end, and the next run may start.
  dialog.upgradeBusy_ = 0;
}

void UpdateDialog::OnClose() {
  // A run that is starting counts as running: the dialog must outlive its worker.
  if (RunActive()) {
    int answer = os_.messageBox(controls_.Window(), "Terminate???", os_.applicationName(),
                                platform::kMbOkCancel);
    // A run that ended while the question was open has nothing left to stop.
    if (answer == platform::kIdOk && RunActive()) abortRequested_ = 1;
    return;
  }
  controls_.EndDialog(kResultCancel);
}

void UpdateDialog::TerminateWithoutAsking() {
  if (RunActive()) {
    abortRequested_ = 1;
    return;
  }
  controls_.EndDialog(kResultCancel);
}

void UpdateDialog::OnOk() {
  // Enter ends the dialog only when no run is starting or running.
  if (RunActive()) return;
  controls_.EndDialog(kResultOk);
}

bool UpdateDialog::OnSysCommand(uint32_t command) {
  if ((command & 0xFFF0) != kAboutCommand) return false;
  controls_.ShowAbout();
  return true;
}

void UpdateDialog::OnDestroy() {
  if (driveAccess_ != nullptr) driveAccess_->Release(transport_);
}

int UpdateDialog::GetCheckState(int controlId) const { return controls_.CheckState(controlId); }
