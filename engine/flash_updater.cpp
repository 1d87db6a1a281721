#include "engine/flash_updater.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

const char* const errorMessages[16] = {
    "fail to initial IDE port, please reboot PC!",
    "fail to initial IDE port, check the IDE port!",
    "fail to open output file!",
    "fail to open input file!",
    "fail to write output file!",
    "fail to read input file!",
    "input file format mismatched!",
    "fail to read flash!",
    "fail to write flash!",
    "fail to erase flash!",
    "verify flash failed!",
    "fail to allocate memory!",
    "fail to identify the flash type!",
    "flash size is smaller then the selected address!",
    "terminate upgrade/backup flash!",
    "terminate wait flash read/write!",
};

FlashUpdater::FlashUpdater(const UpdateOwner& ownerDialog, const UpdateJob& job)
    : drive(job.drive),
      firmwarePath{},
      firmwareFile(nullptr),
      image{},
      isHexFile(job.isHexFile),
      recordSum(0),
      imageSum(0),
      fileBytes(0),
      useNtPassThrough(job.useNtPassThrough),
      transport(job.transport),
      bankBase(0),
      callbacks(job.callbacks),
      owner(&ownerDialog) {
  std::memcpy(firmwarePath, job.firmwarePath, sizeof firmwarePath);
  firmwarePath[sizeof firmwarePath - 1] = '\0';
}

// Run has released the image and closed the file by now; nothing of its own to release.
FlashUpdater::~FlashUpdater() = default;

void FlashUpdater::FailWithMessage(int index) {
  char text[96];
  std::snprintf(text, sizeof text, "ERR: %s", errorMessages[index]);
  callbacks.setStatus(text);
  if (firmwareFile != nullptr) {
    firmwareFile->Close();
    firmwareFile = nullptr;
  }
  ReleaseImage();
}

void FlashUpdater::ReleaseImage() {
  if (image.banks[0] == nullptr) return;
  platform::os().freeImage(image.banks[0]);
  for (auto& bank : image.banks) bank = nullptr;
}
