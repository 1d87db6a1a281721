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
  return MatchModel(identity, models, modelCount);
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
                           platform::Os& os)
    : job(), controls_(controls), services_(services), os_(os) {}

UpdateDialog::~UpdateDialog() {
  if (drives.count > 0) services_.transport->ReleaseDrives(drives);
}

bool UpdateDialog::OnInitDialog() {

  controls_.SetText(kSourceFile, firmwarePreset);
  controls_.SetText(kStatusLine, "");
  controls_.SetText(kDeviceRevision, "");
  controls_.SetProgress(kProgressBar, 0);
  // upgradeBusy is 0 from construction; initialisation leaves it alone, so that nothing but a
  // worker's end can clear a run's flag.

  driveAccess = services_.transport;
  if (!driveAccess->Load(transport)) {
    os_.messageBox(controls_.Window(), "Cannot Load Dynamic Library!!!", os_.applicationName(),
                   platform::kMbOkCancel | platform::kMbSystemModal);
    controls_.Enable(kUpgradeButton, false);
    controls_.Enable(kDeviceRevision, false);
  } else {
    driveAccess->Discover(drives);
    // Each record's identity gets its list index, in parentheses, and is its label from then on:
    // the list shows it, and selection and the Upgrade command find the record by it.
    for (uint32_t i = 0; i < drives.count; ++i) {
      DriveRecord& record = *drives.records[i];
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
  modelMatched = 0;
  for (uint32_t i = 0; i < drives.count; ++i) {
    const DriveRecord& record = *drives.records[i];
    if (MatchedModel(record.identity) == nullptr) continue;
    if (modelMatched == 0) {
      modelMatched = 1;
      controls_.SetText(kDriveList, record.identity);
      controls_.SetText(kDeviceRevision, record.revision);
      OnUpgrade();
    }
  }
  if (modelMatched == 0) {
    controls_.SetText(kStatusLine, "Drive model doesn't match!!");
    controls_.Enable(kUpgradeButton, false);
  }
  return true;
}

void UpdateDialog::OnDriveSelected() {
  char selected[512];
  int index = controls_.ComboSelection(kDriveList);
  if (controls_.GetComboEntry(kDriveList, index, selected, sizeof selected) == 0) return;
  const DriveRecord* record = RecordWithLabel(drives, selected);
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

  job.drive.adapterId = 255;
  job.drive.targetId = 255;
  char selection[512];
  controls_.GetText(kDriveList, selection, sizeof selection);
  // Text that names no record (typed into the list's edit field) leaves the job's drive as it
  // was, with adapter and target 255: "No Target Drive!" below.
  if (const DriveRecord* record = RecordWithLabel(drives, selection)) job.drive = *record;
  job.isHexFile = 1;
  job.callbacks = DialogCallbacks(*this);
  job.transport = driveAccess;

  job.model = MatchedModel(job.drive.identity);
  if (job.model == nullptr) {
    controls_.SetText(kStatusLine, "Drive model doesn't match!");
    return;
  }
  controls_.GetText(kSourceFile, job.firmwarePath, sizeof job.firmwarePath);
  if (job.firmwarePath[0] == '\0') {
    controls_.SetText(kStatusLine, "Update file name is not assigned!");
    return;
  }
  if (!FirmwareFormatFromName(job.firmwarePath, job.isHexFile)) {
    controls_.SetText(kStatusLine, "Update file name is not correct!");
    return;
  }
  if (job.drive.adapterId == 255 || job.drive.targetId == 255) {
    controls_.SetText(kStatusLine, "No Target Drive!");
    return;
  }
  const bool presetFile = firmwareBytes != nullptr && firmwarePreset != nullptr &&
                          std::strcmp(job.firmwarePath, firmwarePreset) == 0;
  job.firmwareBytes = presetFile ? firmwareBytes : nullptr;
  job.firmwareSize = presetFile ? firmwareSize : 0;
  if (confirmUpgrade != nullptr && !confirmUpgrade(confirmContext, job)) return;

  controls_.Enable(kCloseButton, false);
  // A terminate confirmed after an earlier run had ended must not stop this one.
  abortRequested = 0;
  // Busy from before the worker exists: a Close, an Enter or a second Upgrade in the interval
  // before the worker's first step already finds the run in progress.
  upgradeBusy = 1;
  workerStartFailed_ = false;
  if (!os_.startThread(&UpdateDialog::Worker, this)) {
    workerStartFailed_ = true;
    upgradeBusy = 0;
    controls_.Enable(kCloseButton, true);
    return;
  }
  ++runsStarted;
}

void UpdateDialog::Worker(void* arg) {
  UpdateDialog& dialog = *static_cast<UpdateDialog*>(arg);
  // upgradeBusy is already 1: the Upgrade command set it before starting this thread.
  dialog.controls_.Enable(kUpgradeButton, false);
  dialog.lastOutcome_ = dialog.services_.runUpdate(dialog, dialog.job, dialog.os_);
  dialog.controls_.Enable(kCloseButton, true);
  dialog.abortRequested = 0;
  // Last touch of the dialog: from here on it may end, and the next run may start.
  dialog.upgradeBusy = 0;
}

void UpdateDialog::OnClose() {
  // A run that is starting counts as running: the dialog must outlive its worker.
  if (RunActive()) {
    int answer = os_.messageBox(controls_.Window(), "Terminate???", os_.applicationName(),
                                platform::kMbOkCancel);
    // A run that ended while the question was open has nothing left to stop.
    if (answer == platform::kIdOk && RunActive()) abortRequested = 1;
    return;
  }
  controls_.EndDialog(kResultCancel);
}

void UpdateDialog::TerminateWithoutAsking() {
  if (RunActive()) {
    abortRequested = 1;
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
  if (driveAccess != nullptr) driveAccess->Release(transport);
}

int UpdateDialog::GetCheckState(int controlId) const { return controls_.CheckState(controlId); }
