// The two firmware file formats: text records and a raw binary image.
#include "engine/firmware_loader.h"

#include <cstdio>

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

// The ways a load ends are built out of line, so that the text loader's loop over the digits
// stays as small as it was before the loads carried their detail.
#if defined(__GNUC__)
#define FW_COLD __attribute__((noinline, cold))
#else
#define FW_COLD
#endif

FW_COLD LoadResult Ended(int32_t result, int32_t detail, uint32_t value = 0, uint32_t line = 0) {
  LoadResult load{};
  load.result = result;
  load.message = -1;
  load.detail = detail;
  load.value = value;
  load.line = line;
  return load;
}
FW_COLD LoadResult Stopped(int message, int32_t detail, uint32_t value, uint32_t line) {
  LoadResult load = Ended(kLoadStopped, detail, value, line);
  load.message = message;
  return load;
}
// A load that read the whole file: an image only when some of its bytes survive finishing.
LoadResult Loaded(uint32_t fileBytes, uint32_t survivingBytes, uint32_t line = 0) {
  if (fileBytes == 0) return Ended(kLoadFormatError, kDetailNoData, 0, line);
  if (survivingBytes == 0) return Ended(kLoadFormatError, kDetailNothingSurvives, 0, line);
  LoadResult load = Ended(kLoadOk, kDetailNone);
  load.fileBytes = fileBytes;
  load.survivingBytes = survivingBytes;
  return load;
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
      // A byte 0xFF counts as the end of the file, as the real end does (value 0).
      if (c == 0xFF) return Fail(kErrFormat, kDetailNoEndRecord, AtEnd() ? 0 : 0xFF);
      if (Aborted()) return Fail(kErrTerminate, kDetailNone, 0);
      if ((c & 0x7F) == mark) return true;
      if (c == '\n') ++lineFeeds_;
      c = ReadChar();
    }
  }

  int ReadHexDigit() {
    if (Aborted()) {
      Fail(kErrTerminate, kDetailNone, 0);
      return kReaderFailed;
    }
    const int c = ReadChar();
    const uint8_t digit = kHexDigit.value[c];
    // 0xFF is no digit either: the end of the file and a wrong character share this test.
    if (digit != kNotDigit) return digit;
    Fail(kErrFormat, c == 0xFF && AtEnd() ? kDetailEndInRecord : kDetailNotDigit, c);
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

  // The line of the character read last, from 1. Line feeds are counted where the records'
  // marks are looked for: between records, the one place a line feed may stand (inside a record
  // it stops the load, on the line it ends). A count of every character read would slow the
  // digits' path.
  uint32_t Line() const { return lineFeeds_ + 1; }

  uint8_t recordSum = 0;  // running sum of the current record's bytes
  int failure = -1;       // the message of the reader that failed
  int32_t failureDetail = kDetailNone;
  uint32_t failureValue = 0;

 private:
  bool Aborted() const { return abort_.isAbortRequestedOf(abort_.context) == 1; }
  FW_COLD bool Fail(int message, int32_t detail, int value) {
    failure = message;
    failureDetail = detail;
    failureValue = static_cast<uint32_t>(value);
    return false;
  }
  // Whether the file has ended (a 0xFF read since stands for that end, not for a byte 0xFF).
  bool AtEnd() const { return atEnd_ && aheadAt_ == aheadEnd_; }
  // One character; 0xFF (and the end of the file, or a read error) stand for end of file.
  int ReadChar() { return aheadAt_ != aheadEnd_ ? ahead_[aheadAt_++] : RefillAhead(); }
  // Kept out of the inlined path of ReadChar.
  int RefillAhead() {
    if (atEnd_) return 0xFF;
    aheadAt_ = aheadEnd_ = 0;
    const int32_t got = source_.Read(ahead_, sizeof ahead_);
    if (got <= 0) {
      atEnd_ = true;
      return 0xFF;
    }
    aheadAt_ = 1;
    aheadEnd_ = static_cast<uint32_t>(got);
    return ahead_[0];
  }

  FirmwareReader& source_;
  AbortQuery abort_;
  uint8_t ahead_[4096];
  uint32_t aheadAt_ = 0;
  uint32_t aheadEnd_ = 0;
  uint32_t lineFeeds_ = 0;
  bool atEnd_ = false;
};

LoadResult LoadTextRecords(platform::Os& os, FirmwareReader& source, AbortQuery abort,
                           FirmwareImage& image, const DriveModel& model) {
  if (!ObtainImage(os, image, model)) return Stopped(kErrAllocate, kDetailNone, 0, 0);
  const uint32_t imageSize = model.imageSize;
  const uint32_t bankMask = model.bankSize - 1;
  const uint8_t bankShift = image.bankShift;
  // A copy of its own: the image bytes stored below cannot alias it, so the test of each byte
  // need not read the description again.
  const DriveModel shape = model;
  TextRecordReader reader(source, abort);
  constexpr int kFailed = TextRecordReader::kReaderFailed;
  const auto readerStopped = [&reader] {
    return Stopped(reader.failure, reader.failureDetail, reader.failureValue, reader.Line());
  };
  const auto refused = [&reader](int32_t detail, uint32_t value) {
    return Ended(kLoadFormatError, detail, value, reader.Line());
  };
  // 0x10000 higher for each bank record.
  uint32_t bankBase = 0;
  // An end record with no data byte before it leaves nothing to flash but zeros, and so does
  // one whose bytes all lie where the drive's boot data or the seal will stand.
  uint32_t dataBytes = 0;
  uint32_t survivingBytes = 0;
  for (;;) {
    reader.recordSum = 0;
    if (!reader.SkipToRecordMark(':')) return readerStopped();
    int fields[4];
    for (int& field : fields) {
      field = reader.ReadHexByte();
      if (field == kFailed) return readerStopped();
    }
    const int count = fields[0];
    const int type = fields[3];
    if (type == kRecordData) {
      uint32_t address = bankBase + static_cast<uint32_t>(fields[1] * 256 + fields[2]);
      for (int i = 0; i < count; ++i, ++address) {
        const int value = reader.ReadHexByte();
        if (value == kFailed) return readerStopped();
        // The image ends at the model's image size: a record reaching beyond it is not for
        // this drive.
        if (address >= imageSize) return refused(kDetailBeyondImage, address);
        image.bankIndex = static_cast<uint8_t>(address >> bankShift);
        image.bankOffset = static_cast<uint16_t>(address & bankMask);
        image.banks[image.bankIndex][image.bankOffset] = static_cast<uint8_t>(value);
        ++dataBytes;
        if (SurvivesFinishing(address, shape)) ++survivingBytes;
      }
      if (reader.ReadHexByte() == kFailed) return readerStopped();
      if (reader.recordSum != 0) return refused(kDetailChecksum, reader.recordSum);
    } else if (type == kRecordEnd || type == kRecordBank) {
      if (reader.ReadHexByte() == kFailed) return readerStopped();
      if (count != 0) return refused(kDetailCountNotZero, static_cast<uint32_t>(type));
      if (reader.recordSum != 0) return refused(kDetailChecksum, reader.recordSum);
      if (type == kRecordEnd) return Loaded(dataBytes, survivingBytes, reader.Line());
      // Past the image end the base stops growing, so it can never wrap back into the image.
      if (bankBase < imageSize) bankBase += 0x10000;
    } else {
      return refused(kDetailRecordType, static_cast<uint32_t>(type));
    }
  }
}

LoadResult LoadBinaryFile(platform::Os& os, FirmwareReader& source, FirmwareImage& image,
                          const DriveModel& model) {
  const uint64_t size = source.Size();
  // An empty file: the run's "fail to read input file!".
  if (size == 0) return Ended(kLoadReadError, kDetailEmptyFile);
  // A longer file is not an image for this drive; it is never cut short and flashed.
  if (size > model.imageSize) return Ended(kLoadFormatError, kDetailTooLarge);
  if (!ObtainImage(os, image, model)) return Stopped(kErrAllocate, kDetailNone, 0, 0);
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
    if (got <= 0 || static_cast<uint32_t>(got) > wanted) {
      return Ended(kLoadReadError, kDetailShortRead);
    }
    loaded += static_cast<uint32_t>(got);
  }
  uint8_t beyond = 0;
  if (source.Read(&beyond, 1) != 0) return Ended(kLoadReadError, kDetailShortRead);
  return Loaded(loaded, SurvivingBytesBelow(loaded, model));
}

}  // namespace

LoadResult LoadFirmware(platform::Os& os, FirmwareReader& source, uint8_t isHexFile,
                        AbortQuery abort, FirmwareImage& image, const DriveModel& model) {
  image.length = 0;
  return isHexFile != 0 ? LoadTextRecords(os, source, abort, image, model)
                        : LoadBinaryFile(os, source, image, model);
}

bool DescribeLoadDetail(const LoadResult& load, char* text, size_t size,
                        const DriveModel& model) {
  if (size == 0) return false;
  text[0] = '\0';
  char what[128];
  const unsigned value = load.value;
  switch (load.detail) {
    case kDetailNotDigit:
      if (value >= 0x21 && value <= 0x7E) {
        std::snprintf(what, sizeof what, "'%c' stands where a hexadecimal digit belongs",
                      static_cast<int>(value));
      } else {
        std::snprintf(what, sizeof what, "byte 0x%02X stands where a hexadecimal digit belongs%s",
                      value, value == 0xFF ? " (0xFF ends the file for this format)" : "");
      }
      break;
    case kDetailEndInRecord:
      std::snprintf(what, sizeof what, "the file ends inside a record");
      break;
    case kDetailNoEndRecord:
      std::snprintf(what, sizeof what, "%s before its end record (:00000001FF)",
                    value == 0xFF ? "a byte 0xFF, which ends the file for this format, comes"
                                  : "the file ends");
      break;
    case kDetailRecordType:
      std::snprintf(what, sizeof what,
                    "record type %02X is not used by this format (00, 01 and 55 are)", value);
      break;
    case kDetailCountNotZero:
      std::snprintf(what, sizeof what, "a record of type %02X must have a count of 00", value);
      break;
    case kDetailChecksum:
      std::snprintf(what, sizeof what,
                    "the record's checksum does not match (its bytes sum to %02X, not 00)", value);
      break;
    case kDetailBeyondImage:
      std::snprintf(what, sizeof what,
                    "a data byte for address 0x%X, beyond the image's last address 0x%X", value,
                    static_cast<unsigned>(model.imageSize - 1));
      break;
    case kDetailNoData:
      std::snprintf(what, sizeof what, "the end record comes before any data record");
      break;
    case kDetailNothingSurvives:
      std::snprintf(what, sizeof what,
                    "every byte the file supplies lies where the drive's boot data or the seal "
                    "will stand");
      break;
    case kDetailEmptyFile:
      std::snprintf(what, sizeof what, "the file is empty");
      break;
    case kDetailTooLarge:
      std::snprintf(what, sizeof what, "the file is longer than the %u-byte image",
                    static_cast<unsigned>(model.imageSize));
      break;
    case kDetailShortRead:
      std::snprintf(what, sizeof what, "the file did not deliver the bytes it measured");
      break;
    default:
      return false;
  }
  if (load.line != 0) {
    std::snprintf(text, size, "line %u: %s", static_cast<unsigned>(load.line), what);
  } else {
    std::snprintf(text, size, "%s", what);
  }
  return true;
}
