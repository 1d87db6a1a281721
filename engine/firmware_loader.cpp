// The two firmware file formats: text records and a raw binary image.
#include "engine/firmware_loader.h"

#include "engine/error_messages.h"

namespace {

constexpr uint8_t kRecordData = 0x00;
constexpr uint8_t kRecordEnd = 0x01;
constexpr uint8_t kRecordBank = 0x55;

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

// How many of the image addresses 0..end-1 survive finishing (SurvivesFinishing, counted).
uint32_t SurvivingBytesBelow(uint32_t end, const DriveModel& model) {
  const uint32_t first = model.bootDataSize;
  const uint32_t trailer = model.imageSize - kSealTrailerSize;
  const uint32_t last = end < trailer ? end : trailer;
  if (last <= first) return 0;
  const uint32_t windowFirst = model.sealWindowStart;
  const uint32_t windowEnd = windowFirst + model.sealWindowLength;
  const uint32_t overlapFirst = windowFirst > first ? windowFirst : first;
  const uint32_t overlapEnd = windowEnd < last ? windowEnd : last;
  const uint32_t overlap = overlapEnd > overlapFirst ? overlapEnd - overlapFirst : 0;
  return last - first - overlap;
}

LoadResult Ended(int32_t result) { return LoadResult{result, -1, 0, 0}; }
LoadResult Stopped(int message) { return LoadResult{kLoadStopped, message, 0, 0}; }
// A load that read the whole file: an image only when some of its bytes survive finishing.
LoadResult Loaded(uint32_t fileBytes, uint32_t survivingBytes) {
  if (fileBytes == 0 || survivingBytes == 0) return Ended(kLoadFormatError);
  return LoadResult{kLoadOk, -1, fileBytes, survivingBytes};
}

// The character readers of the text format, over a read-ahead of the file. On the end of the
// file, a wrong character or a terminate request a reader answers false / kReaderFailed and
// notes the message in `failure`; the load must end then, reading nothing more.
class TextRecordReader {
 public:
  static constexpr int kReaderFailed = -1;

  TextRecordReader(FirmwareReader& source, AbortQuery abort) : source_(source), abort_(abort) {}

  bool SkipToRecordMark(char mark) {
    int c = ReadChar();
    for (;;) {
      if (c == 0xFF) return Fail(kErrFormat);
      if (Aborted()) return Fail(kErrTerminate);
      if ((c & 0x7F) == mark) return true;
      c = ReadChar();
    }
  }

  int ReadHexDigit() {
    if (Aborted()) {
      Fail(kErrTerminate);
      return kReaderFailed;
    }
    const uint8_t digit = kHexDigit.value[ReadChar()];
    // 0xFF is no digit either: the end of the file and a wrong character share this test.
    if (digit != kNotDigit) return digit;
    Fail(kErrFormat);
    return kReaderFailed;
  }

  // 0..255, added to recordSum.
  int ReadHexByte() {
    const int high = ReadHexDigit();
    if (high == kReaderFailed) return kReaderFailed;
    const int low = ReadHexDigit();
    if (low == kReaderFailed) return kReaderFailed;
    const int value = high * 16 + low;
    recordSum = static_cast<uint8_t>(recordSum + value);
    return value;
  }

  uint8_t recordSum = 0;  // running sum of the current record's bytes
  int failure = -1;       // the message of the reader that failed

 private:
  bool Aborted() const { return abort_.isAbortRequestedOf(abort_.context) == 1; }
  bool Fail(int message) {
    failure = message;
    return false;
  }
  // One character; 0xFF (and the end of the file, or a read error) stand for end of file.
  int ReadChar() { return aheadAt_ != aheadEnd_ ? ahead_[aheadAt_++] : RefillAhead(); }
  // Kept out of the inlined path of ReadChar.
  int RefillAhead() {
    const int32_t got = source_.Read(ahead_, sizeof ahead_);
    if (got <= 0) return 0xFF;
    aheadAt_ = 1;
    aheadEnd_ = static_cast<uint32_t>(got);
    return ahead_[0];
  }

  FirmwareReader& source_;
  AbortQuery abort_;
  uint8_t ahead_[4096];
  uint32_t aheadAt_ = 0;
  uint32_t aheadEnd_ = 0;
};

LoadResult LoadTextRecords(platform::Os& os, FirmwareReader& source, AbortQuery abort,
                           FirmwareImage& image, const DriveModel& model) {
  if (!ObtainImage(os, image, model)) return Stopped(kErrAllocate);
  const uint32_t imageSize = model.imageSize;
  const uint32_t bankMask = model.bankSize - 1;
  const uint8_t bankShift = image.bankShift;
  // A copy of its own: the image bytes stored below cannot alias it, so the test of each byte
  // need not read the description again.
  const DriveModel shape = model;
  TextRecordReader reader(source, abort);
  constexpr int kFailed = TextRecordReader::kReaderFailed;
  // 0x10000 higher for each bank record.
  uint32_t bankBase = 0;
  // An end record with no data byte before it leaves nothing to flash but zeros, and so does
  // one whose bytes all lie where the drive's boot data or the seal will stand.
  uint32_t dataBytes = 0;
  uint32_t survivingBytes = 0;
  for (;;) {
    reader.recordSum = 0;
    if (!reader.SkipToRecordMark(':')) return Stopped(reader.failure);
    int fields[4];
    for (int& field : fields) {
      field = reader.ReadHexByte();
      if (field == kFailed) return Stopped(reader.failure);
    }
    const int count = fields[0];
    const int type = fields[3];
    if (type == kRecordData) {
      uint32_t address = bankBase + static_cast<uint32_t>(fields[1] * 256 + fields[2]);
      for (int i = 0; i < count; ++i, ++address) {
        const int value = reader.ReadHexByte();
        if (value == kFailed) return Stopped(reader.failure);
        // The image ends at the model's image size: a record reaching beyond it is not for
        // this drive.
        if (address >= imageSize) return Ended(kLoadFormatError);
        image.bankIndex = static_cast<uint8_t>(address >> bankShift);
        image.bankOffset = static_cast<uint16_t>(address & bankMask);
        image.banks[image.bankIndex][image.bankOffset] = static_cast<uint8_t>(value);
        ++dataBytes;
        if (SurvivesFinishing(address, shape)) ++survivingBytes;
      }
      if (reader.ReadHexByte() == kFailed) return Stopped(reader.failure);
      if (reader.recordSum != 0) return Ended(kLoadFormatError);
    } else if (type == kRecordEnd || type == kRecordBank) {
      if (reader.ReadHexByte() == kFailed) return Stopped(reader.failure);
      if (count != 0 || reader.recordSum != 0) return Ended(kLoadFormatError);
      if (type == kRecordEnd) {
        return Loaded(dataBytes, survivingBytes);
      }
      // Past the image end the base stops growing, so it can never wrap back into the image.
      if (bankBase < imageSize) bankBase += 0x10000;
    } else {
      return Ended(kLoadFormatError);
    }
  }
}

LoadResult LoadBinaryFile(platform::Os& os, FirmwareReader& source, FirmwareImage& image,
                          const DriveModel& model) {
  const uint64_t size = source.Size();
  // An empty file: the run's "fail to read input file!".
  if (size == 0) return Ended(kLoadReadError);
  // A longer file is not an image for this drive; it is never cut short and flashed.
  if (size > model.imageSize) return Ended(kLoadFormatError);
  if (!ObtainImage(os, image, model)) return Stopped(kErrAllocate);
  const uint32_t bankSize = model.bankSize;
  // The file must deliver exactly the bytes measured. One that shrinks while it is read would
  // leave zeros where its missing bytes belong, and one that grows is no longer the file that
  // was measured: either is a failed read, never an image to flash.
  uint32_t loaded = 0;
  while (loaded < size) {
    image.bankIndex = static_cast<uint8_t>(loaded >> image.bankShift);
    const uint32_t offset = loaded & (bankSize - 1);
    const uint32_t wanted = static_cast<uint32_t>(
        size - loaded < bankSize - offset ? size - loaded : bankSize - offset);
    const int32_t got = source.Read(image.banks[image.bankIndex] + offset, wanted);
    if (got <= 0 || static_cast<uint32_t>(got) > wanted) return Ended(kLoadReadError);
    loaded += static_cast<uint32_t>(got);
  }
  uint8_t beyond = 0;
  if (source.Read(&beyond, 1) != 0) return Ended(kLoadReadError);
  return Loaded(loaded, SurvivingBytesBelow(loaded, model));
}

}  // namespace

LoadResult LoadFirmware(platform::Os& os, FirmwareReader& source, uint8_t isHexFile,
                        AbortQuery abort, FirmwareImage& image, const DriveModel& model) {
  image.length = 0;
  return isHexFile != 0 ? LoadTextRecords(os, source, abort, image, model)
                        : LoadBinaryFile(os, source, image, model);
}
