// The engine object: what it copies from the job, its error exit, and the load of the run:
// the file through the loaders, then the drive's boot data and the seal.
#include "engine/flash_updater.h"

#include <cstdio>
#include <cstring>

#include "sumseal/sumseal.h"

namespace {

// What the first read of the boot data starts from; the second starts from its complement.
constexpr uint8_t kFirstReadFill = 0xA5;

}  // namespace

FlashUpdater::FlashUpdater(const UpdateOwner& ownerDialog, const UpdateJob& job, platform::Os& os)
    : os_(os),
      model_(job.model != nullptr ? job.model : &kSupportedDrive),
      drive_(job.drive),
      firmwarePath_{},
      firmwareBytes_(job.firmwareBytes),
      firmwareSize_(job.firmwareSize),
      isHexFile_(job.isHexFile),
      link_{&drive_, job.transport, model_},
      callbacks_(job.callbacks),
      owner_(&ownerDialog),
      file_(os),
      image_{},
      imageSum_(0),
      progress_{0, 0, 0, 0} {
  std::memcpy(firmwarePath_, job.firmwarePath, sizeof firmwarePath_);
  firmwarePath_[sizeof firmwarePath_ - 1] = '\0';
}

// Run has released the image by now; the file closes with its reader.
FlashUpdater::~FlashUpdater() = default;

void FlashUpdater::FailWithMessage(int index) {
  char text[96];
  std::snprintf(text, sizeof text, "ERR: %s", errorMessages[index]);
  callbacks_.setStatus(text);
  file_.Close();
  ReleaseImage(os_, image_);
}

int32_t FlashUpdater::LoadFirmwareFile() {
  image_.length = 0;
  // Both formats are read as bytes: the records need no line-end translation (whatever stands
  // between records is skipped), and a text-mode stream would end a file early at a 0x1A byte
  // on some platforms only. Only a regular file opens: a directory, a FIFO or a device (which
  // might never end, or never deliver a byte) is refused as a file that cannot be opened.
  // Bytes the front end has already read and shown are the ones loaded: the file is not read a
  // second time.
  MemoryReader shown(firmwareBytes_, firmwareSize_);
  if (firmwareBytes_ == nullptr && !file_.Open(firmwarePath_)) {
    FailWithMessage(kErrOpenInput);
    return kLoadReadError;
  }
  FirmwareReader& source = firmwareBytes_ != nullptr ? static_cast<FirmwareReader&>(shown)
                                                     : static_cast<FirmwareReader&>(file_);
  const AbortQuery abort{callbacks_.context, callbacks_.isAbortRequestedOf};
  const LoadResult load = LoadFirmware(os_, source, isHexFile_, abort, image_, *model_);
  if (load.result == kLoadStopped) {
    FailWithMessage(load.message);
    return kLoadAlreadyShown;
  }
  // An empty or oversized binary obtained no storage: the run's message closes the file.
  if (image_.banks[0] == nullptr) return load.result;
  // Every load that went through to its end is finished, whatever its verdict.
  const bool bootDataRead = FinishImage();
  image_.length = model_->imageSize;
  file_.Close();
  // Without the drive's own boot data the image would carry the file's bytes there, which were never meant for the drive's boot area: such an image is never sent.
  if (load.result == kLoadOk && !bootDataRead) {
    FailWithMessage(kErrReadFlash);
    return kLoadAlreadyShown;
  }
  // Boot data of one byte value throughout is no boot code (a drive's erased or unprepared
  // memory reads so): programmed, it would leave the drive unable to start.
  uint8_t value = 0;
  if (load.result == kLoadOk && BootDataIsOneValue(value)) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "The drive's boot data read back as %u bytes of 0x%02X: that is no boot code, "
                  "and it is not programmed.",
                  static_cast<unsigned>(model_->bootDataSize), static_cast<unsigned>(value));
    callbacks_.appendLog(text);
    FailWithMessage(kErrReadFlash);
    return kLoadAlreadyShown;
  }
  return load.result;
}

bool FlashUpdater::BootDataIsOneValue(uint8_t& value) const {
  value = image_.banks[0][0];
  for (uint32_t a = 1; a < model_->bootDataSize; ++a) {
    if (ImageByte(image_, a) != value) return false;
  }
  return true;
}

bool FlashUpdater::FinishImage() {
  // Without a prepared buffer the drive's memory at the boot data address holds whatever it held before (of
  // a drive freshly powered on: zeros), not its boot data: nothing is read then.
  // The two reads start from buffers of complementary fills: where a transport reports no
  // residual, a byte the drive never sent differs between them.
  const uint32_t bootDataSize = model_->bootDataSize;
  const uint32_t bootDataAddress = model_->bootDataAddress;
  bool allRead = PrepareReadBack(link_);
  for (uint32_t off = 0; off < bootDataSize && allRead; off += kBlockSize) {
    uint8_t* first = &ImageByte(image_, off);
    std::memset(first, kFirstReadFill, kBlockSize);
    allRead = ReadDriveBuffer(link_, bootDataAddress + off, kBlockSize, first);
  }
  // These bytes go over the drive's boot code, which no read-back check of the transfer can
  // vouch for: a second read must find exactly the same bytes.
  uint8_t again[kBlockSize];
  for (uint32_t off = 0; off < bootDataSize && allRead; off += kBlockSize) {
    std::memset(again, static_cast<uint8_t>(~kFirstReadFill), kBlockSize);
    allRead = ReadDriveBuffer(link_, bootDataAddress + off, kBlockSize, again) &&
              std::memcmp(again, &ImageByte(image_, off), kBlockSize) == 0;
  }
  // The library is loaded by name right before the call; the handle is not kept.
  os_.loadLibrary("sumseal");
  DoCheck(image_.banks[0], model_->imageSize, model_->sealWindowStart, model_->sealWindowLength);
  return allRead;
}
