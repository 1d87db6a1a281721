// Loading the firmware file into the 512 KiB image: text records or a raw binary image, then
// the drive's boot data and the seal.
#include <cstring>

#include "engine/flash_updater.h"
#include "platform/platform.h"
#include "sumseal/sumseal.h"

namespace {

constexpr uint8_t kRecordData = 0x00;
constexpr uint8_t kRecordEnd = 0x01;
constexpr uint8_t kRecordBank = 0x55;

// Seal window that DoCheck leaves out: the drive's own words.
constexpr uint32_t kSealWindowStart = kSupportedDrive.sealWindowStart;
constexpr uint32_t kSealWindowLength = kSupportedDrive.sealWindowLength;

}  // namespace

namespace {

// The value of each file byte as a hexadecimal digit, or kNotDigit: the byte's low 7 bits
// decide, and lower-case letters count as upper-case ones. One look-up instead of a case
// conversion and two range tests for each of the 1.4 million digits of a full image.
constexpr uint8_t kNotDigit = 0xFF;
struct HexDigitTable {
  uint8_t value[256];
  constexpr HexDigitTable() : value() {
    for (int b = 0; b < 256; ++b) {
      const int c = b & 0x7F;
      value[b] = c >= '0' && c <= '9'   ? static_cast<uint8_t>(c - '0')
                 : c >= 'A' && c <= 'F' ? static_cast<uint8_t>(c - 'A' + 10)
                 : c >= 'a' && c <= 'f' ? static_cast<uint8_t>(c - 'a' + 10)
                                        : kNotDigit;
    }
  }
};
constexpr HexDigitTable kHexDigit;

}  // namespace

int FlashUpdater::RefillAhead() {
  const int32_t got = firmwareFile->Read(ahead_, sizeof ahead_);
  if (got <= 0) return 0xFF;  // the end of the file, or a read error
  aheadAt_ = 1;
  aheadEnd_ = static_cast<uint32_t>(got);
  return ahead_[0];
}

inline int FlashUpdater::ReadChar() {
  // A 0xFF byte ends the file as well.
  return aheadAt_ != aheadEnd_ ? ahead_[aheadAt_++] : RefillAhead();
}

bool FlashUpdater::SkipToRecordMark(char mark) {
  int c = ReadChar();
  for (;;) {
    if (c == 0xFF) {
      FailWithMessage(kErrFormat);
      return false;
    }
    if (callbacks.isAbortRequested() == 1) {
      FailWithMessage(kErrTerminate);
      return false;
    }
    if ((c & 0x7F) == mark) return true;
    c = ReadChar();
  }
}

inline int FlashUpdater::ReadHexDigit() {
  if (callbacks.isAbortRequested() == 1) {
    FailWithMessage(kErrTerminate);
    return kReaderFailed;
  }
  const int c = ReadChar();
  const uint8_t digit = kHexDigit.value[c];
  // 0xFF is no digit either: the end of the file and a wrong character share this test.
  if (digit != kNotDigit) return digit;
  FailWithMessage(kErrFormat);
  return kReaderFailed;
}

inline int FlashUpdater::ReadHexByte() {
  const int high = ReadHexDigit();
  if (high == kReaderFailed) return kReaderFailed;
  const int low = ReadHexDigit();
  if (low == kReaderFailed) return kReaderFailed;
  const int value = high * 16 + low;
  recordSum = static_cast<uint8_t>(recordSum + value);
  return value;
}

int32_t FlashUpdater::LoadFirmwareFile() {
  image.length = 0;
  // Both formats are read as bytes: the records need no line-end translation (whatever stands
  // between records is skipped), and a text-mode stream would end a file early at a 0x1A byte
  // on some platforms only. Only a regular file opens: a directory, a FIFO or a device (which
  // might never end, or never deliver a byte) is refused as a file that cannot be opened.
  if (!file_.Open(firmwarePath)) {
    FailWithMessage(kErrOpenInput);
    return kLoadReadError;
  }
  return LoadFirmwareFrom(file_);
}

int32_t FlashUpdater::LoadFirmwareFrom(FirmwareReader& source) {
  image.length = 0;
  fileBytes = 0;
  firmwareFile = &source;
  aheadAt_ = aheadEnd_ = 0;
  return isHexFile != 0 ? LoadTextRecords() : LoadBinaryFile();
}

namespace {

// Obtains the zero-filled image storage and points the 16 banks at its slices.
bool ObtainImage(FirmwareImage& image) {
  auto* storage = static_cast<uint8_t*>(platform::os().allocImage(kImageSize));
  if (storage == nullptr) return false;
  for (uint32_t i = 0; i < kBankCount; ++i) {
    image.banks[i] = storage + i * kBankSize;
    std::memset(image.banks[i], 0x00, kBankSize);
  }
  return true;
}

}  // namespace

int32_t FlashUpdater::LoadTextRecords() {
  if (!ObtainImage(image)) {
    FailWithMessage(kErrAllocate);
    return kLoadAlreadyShown;
  }
  bankBase = 0;
  // An end record with no data byte before it leaves nothing to flash but zeros.
  uint32_t dataBytes = 0;
  for (;;) {
    recordSum = 0;
    if (!SkipToRecordMark(':')) return kLoadAlreadyShown;
    int fields[4];
    for (int& field : fields) {
      field = ReadHexByte();
      if (field == kReaderFailed) return kLoadAlreadyShown;
    }
    const int count = fields[0];
    const int type = fields[3];
    if (type == kRecordData) {
      uint32_t address = bankBase + static_cast<uint32_t>(fields[1] * 256 + fields[2]);
      for (int i = 0; i < count; ++i, ++address) {
        const int value = ReadHexByte();
        if (value == kReaderFailed) return kLoadAlreadyShown;
        // The image ends at 0x7FFFF: a record reaching beyond it is not for this drive.
        if (address >= kImageSize) return FinishLoad(kLoadFormatError);
        image.bankIndex = static_cast<uint8_t>(address >> 15);
        image.bankOffset = static_cast<uint16_t>(address & 0x7FFF);
        image.banks[image.bankIndex][image.bankOffset] = static_cast<uint8_t>(value);
        ++dataBytes;
      }
      if (ReadHexByte() == kReaderFailed) return kLoadAlreadyShown;
      if (recordSum != 0) return FinishLoad(kLoadFormatError);
    } else if (type == kRecordEnd || type == kRecordBank) {
      if (ReadHexByte() == kReaderFailed) return kLoadAlreadyShown;
      if (count != 0 || recordSum != 0) return FinishLoad(kLoadFormatError);
      if (type == kRecordEnd) {
        fileBytes = dataBytes;
        return FinishLoad(dataBytes > 0 ? kLoadOk : kLoadFormatError);
      }
      // Past the image end the base stops growing, so it can never wrap back into the image.
      if (bankBase < kImageSize) bankBase += 0x10000;
    } else {
      return FinishLoad(kLoadFormatError);
    }
  }
}

int32_t FlashUpdater::LoadBinaryFile() {
  const uint64_t size = firmwareFile->Size();
  // An empty file: the run's "fail to read input file!" closes it.
  if (size == 0) return kLoadReadError;
  // A longer file is not an image for this drive; it is never cut short and flashed.
  if (size > kImageSize) return kLoadFormatError;
  if (!ObtainImage(image)) {
    FailWithMessage(kErrAllocate);
    return kLoadAlreadyShown;
  }
  // The file must deliver exactly the bytes measured. One that shrinks while it is read would
  // leave zeros where its missing bytes belong, and one that grows is no longer the file that
  // was measured: either is a failed read, never an image to flash.
  uint32_t loaded = 0;
  while (loaded < size) {
    image.bankIndex = static_cast<uint8_t>(loaded >> 15);
    const uint32_t offset = loaded & (kBankSize - 1);
    const uint32_t wanted = static_cast<uint32_t>(
        size - loaded < kBankSize - offset ? size - loaded : kBankSize - offset);
    const int32_t got = firmwareFile->Read(image.banks[image.bankIndex] + offset, wanted);
    if (got <= 0 || static_cast<uint32_t>(got) > wanted) return FinishLoad(kLoadReadError);
    loaded += static_cast<uint32_t>(got);
  }
  uint8_t beyond = 0;
  if (firmwareFile->Read(&beyond, 1) != 0) return FinishLoad(kLoadReadError);
  fileBytes = loaded;
  return FinishLoad(kLoadOk);
}

int32_t FlashUpdater::FinishLoad(int32_t result) {
  const bool bootDataRead = FinishImage();
  image.length = kImageSize;
  firmwareFile->Close();
  firmwareFile = nullptr;
  // Without the drive's own boot data the image would carry the file's bytes at 0..0x3FFF,
  // which were never meant for the drive's boot area: such an image is never sent.
  if (result == kLoadOk && !bootDataRead) {
    FailWithMessage(kErrReadFlash);
    return kLoadAlreadyShown;
  }
  return result;
}

bool FlashUpdater::FinishImage() {
  // Without a prepared buffer the drive's memory at 0x180000 holds whatever it held before (of
  // a drive freshly powered on: zeros), not its boot data: nothing is read then.
  bool allRead = PrepareReadBack();
  for (uint32_t off = 0; off < kBootDataSize && allRead; off += kBlockSize) {
    allRead = ReadDriveBuffer(kBootDataAddress + off, kBlockSize,
                              image.banks[off >> 15] + (off & 0x7FFF));
  }
  // These bytes go over the drive's boot code, which no read-back check of the transfer can
  // vouch for: a second read must find exactly the same bytes.
  uint8_t again[kBlockSize];
  for (uint32_t off = 0; off < kBootDataSize && allRead; off += kBlockSize) {
    allRead = ReadDriveBuffer(kBootDataAddress + off, kBlockSize, again) &&
              std::memcmp(again, image.banks[off >> 15] + (off & 0x7FFF), kBlockSize) == 0;
  }
  // The library is loaded by name right before the call; the handle is not kept.
  platform::os().loadLibrary("sumseal");
  DoCheck(image.banks[0], kImageSize, kSealWindowStart, kSealWindowLength);
  return allRead;
}
