// Loading the firmware file: the text records and the raw binary image and malformed files, by
// the loaders alone; then the run's load step, which finishes the image with the drive's boot
// data and the seal, and shows each failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/firmware_loader.h"
#include "engine/flash_updater.h"
#include "sim/kdr_drive.h"
#include "tests/support/firmware_files.h"
#include "tests/support/engine_harness.h"
#include "tests/support/temp_folder.h"

namespace enginetest {
namespace {

// What a load answered, and the image it left (empty when it obtained no storage).
struct Loaded {
  int32_t result = 0;
  int message = -1;
  uint32_t fileBytes = 0;
  uint32_t surviving = 0;
  bool imageHeld = false;
  std::vector<uint8_t> image;
};

// The harness's terminate requests, as the load asks for them.
uint8_t AbortOf(void* context) {
  Harness& h = *static_cast<Harness*>(context);
  const int query = ++h.abortQueries;
  return h.abortAnswer ? h.abortAnswer(query) : 0;
}

// The loaders alone: bytes in, an image or a failure out. No drive is attached: a load that
// sent a command would crash.
class LoaderTest : public ::testing::Test {
 protected:
  Loaded Load(const std::string& content, uint8_t isHex) {
    MemoryReader source(reinterpret_cast<const uint8_t*>(content.data()), content.size());
    return LoadFrom(source, isHex);
  }
  Loaded LoadFrom(FirmwareReader& source, uint8_t isHex) {
    FirmwareImage image{};
    const LoadResult load = LoadFirmware(h.os(), source, isHex, AbortQuery{&h, AbortOf}, image);
    Loaded out{load.result, load.message, load.fileBytes, load.survivingBytes,
               image.banks[0] != nullptr, {}};
    if (out.imageHeld) {
      out.image.assign(image.banks[0], image.banks[0] + kImageSize);
      for (uint32_t i = 1; i < kBankCount; ++i) {
        EXPECT_EQ(image.banks[i], image.banks[0] + i * kBankSize);
      }
    }
    ReleaseImage(h.os(), image);
    EXPECT_EQ(h.imagesHeld, 0);
    return out;
  }
  // A zero-filled image with `fileBytes` set at their addresses.
  static std::vector<uint8_t> Expected(const std::vector<std::pair<uint32_t, uint8_t>>& fileBytes) {
    std::vector<uint8_t> image(kImageSize, 0x00);
    for (const auto& [address, value] : fileBytes) image[address] = value;
    return image;
  }

  Harness h;  // image storage that is not zero when obtained, and counted
};

const std::string kEnd = ":00000001FF\r\n";
const std::string kBank = ":00000055AB\r\n";
const std::string k41At4000 = ":01400000417E\r\n";

TEST_F(LoaderTest, TextWithoutADataByteIsAFormatFailure) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"an end record alone", kEnd},
      {"bank records and an end record", kBank + kBank + kEnd},
      {"a data record of count 0", ":00400000C0\r\n" + kEnd},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Loaded l = Load(c.text, 1);
    EXPECT_EQ(l.result, kLoadFormatError) << "nothing to flash but zeros";
    EXPECT_TRUE(l.imageHeld) << "the run finishes the image before it shows the message";
  }
}

struct RecordCase {
  const char* name;
  std::string text;
  int32_t result;
  std::vector<std::pair<uint32_t, uint8_t>> bytes;  // image bytes the file sets
};

TEST_F(LoaderTest, RecordsLandWhereTheirAddressAndBankSay) {
  const RecordCase cases[] = {
      {"data record", k41At4000 + kEnd, kLoadOk, {{0x4000, 0x41}}},
      {"after a bank record", kBank + k41At4000 + kEnd, kLoadOk, {{0x14000, 0x41}}},
      {"after two bank records", kBank + kBank + k41At4000 + kEnd, kLoadOk, {{0x24000, 0x41}}},
      {"lower-case digits", ":01400000417e\n" + kEnd, kLoadOk, {{0x4000, 0x41}}},
      {"0xBA start mark and 0xB0 digit", "\xBA\xB0" "1400000417E\n" "\xBA" "00000001FF", kLoadOk,
       {{0x4000, 0x41}}},
      {"no line ends, junk between records", "xx:01400000417Ezz" + kEnd, kLoadOk,
       {{0x4000, 0x41}}},
      {"a record across a bank boundary", ":02FFFF00AABB9B\n" + kEnd, kLoadOk,
       {{0xFFFF, 0xAA}, {0x10000, 0xBB}}},
      {"0x1A between records", k41At4000 + "\x1A" + kEnd, kLoadOk, {{0x4000, 0x41}}},
      {"nothing after the end record is read", k41At4000 + kEnd + "garbage\xFF", kLoadOk,
       {{0x4000, 0x41}}},
      {"wrong checksum stores the byte first", ":01400000417F\n" + kEnd, kLoadFormatError,
       {{0x4000, 0x41}}},
      {"end record with a count", ":01000001FE\n", kLoadFormatError, {}},
      {"bank record with a count", ":0100005500AA\n", kLoadFormatError, {}},
      {"extended address type 02", ":020000021000EC\n" + kEnd, kLoadFormatError, {}},
      {"extended linear type 04", ":020000040001F9\n" + kEnd, kLoadFormatError, {}},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Loaded l = Load(c.text, 1);
    EXPECT_EQ(l.result, c.result);
    EXPECT_TRUE(l.image == Expected(c.bytes));
    if (c.result == kLoadOk) {
      EXPECT_EQ(l.fileBytes, c.bytes.size());
    }
  }
}

TEST_F(LoaderTest, EveryByteInADigitPlaceCountsByItsLowSevenBits) {
  // Each of the 256 byte values as the high digit of a data byte: a digit (either case, with
  // or without the top bit) loads, anything else, 0xFF included, is a wrong file.
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const int c = b & 0x7F;
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : -1;
    const uint8_t value = static_cast<uint8_t>(digit < 0 ? 0 : digit * 16);
    char sum[3];
    std::snprintf(sum, sizeof sum, "%02X", (0x100 - (0x01 + 0x40 + value)) & 0xFF);
    const std::string text = ":01400000" + std::string(1, static_cast<char>(b)) + "0" + sum +
                             "\r\n" + kEnd;
    const Loaded l = Load(text, 1);
    if (digit < 0) {
      EXPECT_EQ(l.result, kLoadStopped);
      EXPECT_EQ(l.message, kErrFormat);
    } else {
      EXPECT_EQ(l.result, kLoadOk);
      EXPECT_TRUE(l.image == Expected({{0x4000, value}}));
    }
  }
}

TEST_F(LoaderTest, GapsBetweenRecordsStayZero) {
  const Loaded l = Load(":02400000AABB59\n:017FF000CCC4\n" + kEnd, 1);
  EXPECT_EQ(l.result, kLoadOk);
  EXPECT_TRUE(l.image == Expected({{0x4000, 0xAA}, {0x4001, 0xBB}, {0x7FF0, 0xCC}}));
  EXPECT_EQ(l.fileBytes, 3u);
}

TEST_F(LoaderTest, RecordsBeyondTheImageAreFormatFailures) {
  std::string eightBanks;
  for (int i = 0; i < 8; ++i) eightBanks += kBank;
  std::string manyBanks;
  for (int i = 0; i < 65536; ++i) manyBanks += ":00000055AB";  // would wrap a 32-bit base to 0
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"data at 0x80000", eightBanks + ":0100000041BE\n" + kEnd},
      {"data crossing 0x7FFFF", eightBanks.substr(0, 7 * kBank.size()) + ":02FFFF00AABB9B\n" + kEnd},
      {"base wrapped by 65536 bank records", manyBanks + k41At4000 + kEnd},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Loaded l = Load(c.text, 1);
    EXPECT_EQ(l.result, kLoadFormatError);
    ASSERT_EQ(l.image.size(), kImageSize);
    EXPECT_EQ(l.image[0x4000], 0x00) << "a wrapped base must not bring data back into the image";
  }
  // Bank records alone, however many, do no harm.
  EXPECT_EQ(Load(k41At4000 + eightBanks + eightBanks + kEnd, 1).result, kLoadOk);
}

TEST_F(LoaderTest, ReaderFailuresStopTheLoadWithTheirMessage) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty text file", ""},
      {"no end record", k41At4000},
      {"a space inside a record", ":01400000 417E\n" + kEnd},
      {"a non-digit", ":0140000G417E\n" + kEnd},
      {"a 0xFF byte", ":014000\xFF" "00417E\n" + kEnd},
      {"end of file inside a record", ":014000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Loaded l = Load(c.text, 1);
    EXPECT_EQ(l.result, kLoadStopped);
    EXPECT_EQ(l.message, kErrFormat);
  }
}

// A refusal's detail, as a front end explains it: the reason in words and the line it is on.
// The result and message stay the ones the run acts on (the cases above).
TEST_F(LoaderTest, ARefusalSaysWhyAndOnWhichLine) {
  const std::string kData = ":0240000041423B\r\n";
  const struct {
    const char* name;
    std::string file;
    uint8_t isHex;
    const char* said;
  } cases[] = {
      {"standard extended linear address", kData + kData + ":020000040001F9\r\n" + kEnd, 1,
       "line 3: record type 04 is not used by this format (00, 01 and 55 are)"},
      {"standard extended segment address", ":020000021000EC\n" + kEnd, 1,
       "line 1: record type 02 is not used by this format (00, 01 and 55 are)"},
      {"a checksum off by one", kData + ":01400000417F\n" + kEnd, 1,
       "line 2: the record's checksum does not match (its bytes sum to 01, not 00)"},
      {"an end record with a count", kData + ":01000001FE\n", 1,
       "line 2: a record of type 01 must have a count of 00"},
      {"a letter past F", ":0140000G417E\n" + kEnd, 1,
       "line 1: 'G' stands where a hexadecimal digit belongs"},
      {"a space inside a record", "\n\n:01400000 417E\n" + kEnd, 1,
       "line 3: byte 0x20 stands where a hexadecimal digit belongs"},
      {"a byte 0xFF in a record", ":014000\xFF" "00417E\n" + kEnd, 1,
       "line 1: byte 0xFF stands where a hexadecimal digit belongs (0xFF ends the file for "
       "this format)"},
      {"a byte 0xFF between records", kData + "\xFF" + kEnd, 1,
       "line 2: a byte 0xFF, which ends the file for this format, comes before its end record "
       "(:00000001FF)"},
      {"no end record", kData + kData, 1,
       "line 3: the file ends before its end record (:00000001FF)"},
      {"the end inside a record", kData + ":014000", 1, "line 2: the file ends inside a record"},
      {"data past the image", kBank + kBank + kBank + kBank + kBank + kBank + kBank + kBank +
       ":0100000041BE\n" + kEnd, 1,
       "line 9: a data byte for address 0x80000, beyond the image's last address 0x7FFFF"},
      {"an end record first", kEnd, 1, "line 1: the end record comes before any data record"},
      {"data only under the boot data", ":040000001122334452\r\n" + kEnd, 1,
       "line 2: every byte the file supplies lies where the drive's boot data or the seal will "
       "stand"},
      {"an empty binary", "", 0, "the file is empty"},
      {"a binary longer than the image", std::string(kImageSize + 1, 'x'), 0,
       "the file is longer than the 524288-byte image"},
      {"a binary under the boot data only", std::string(0x4000, 'x'), 0,
       "every byte the file supplies lies where the drive's boot data or the seal will stand"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryReader source(reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size());
    FirmwareImage image{};
    const LoadResult load = LoadFirmware(h.os(), source, c.isHex, AbortQuery{&h, AbortOf}, image);
    ReleaseImage(h.os(), image);
    EXPECT_NE(load.result, kLoadOk);
    char said[256];
    EXPECT_TRUE(DescribeLoadDetail(load, said, sizeof said));
    EXPECT_STREQ(said, c.said);
  }
}

// Lines are counted across the loader's read-ahead: a full image's records run to 1.4 MB.
TEST_F(LoaderTest, TheLineOfARefusalDeepInALargeFile) {
  std::string text = TextRecordsFor(PatternImage());
  const size_t end = text.rfind(":00000001FF");
  ASSERT_NE(end, std::string::npos);
  text.replace(end, 11, ":00000004FC");
  uint32_t line = 1;
  for (size_t i = 0; i < end; ++i) line += text[i] == '\n' ? 1 : 0;
  MemoryReader source(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  FirmwareImage image{};
  const LoadResult load = LoadFirmware(h.os(), source, 1, AbortQuery{&h, AbortOf}, image);
  ReleaseImage(h.os(), image);
  EXPECT_EQ(load.result, kLoadFormatError);
  EXPECT_EQ(load.detail, kDetailRecordType);
  EXPECT_EQ(load.value, 4u);
  EXPECT_GT(line, 30000u);
  EXPECT_EQ(load.line, line);
}

TEST_F(LoaderTest, AGoodLoadAndAStopRequestHaveNoDetail) {
  const std::string text = k41At4000 + kEnd;
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "a stop request" : "a good load");
    h.abortAnswer = [stop](int) -> uint8_t { return stop ? 1 : 0; };
    MemoryReader source(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    FirmwareImage image{};
    const LoadResult load = LoadFirmware(h.os(), source, 1, AbortQuery{&h, AbortOf}, image);
    ReleaseImage(h.os(), image);
    EXPECT_EQ(load.result, stop ? kLoadStopped : kLoadOk);
    if (!stop) {
      EXPECT_EQ(load.line, 0u);
    }
    char said[64] = "untouched";
    EXPECT_FALSE(DescribeLoadDetail(load, said, sizeof said));
    EXPECT_STREQ(said, "");
  }
}

TEST_F(LoaderTest, TerminateWhileReadingIsSeenAtEveryCharacter) {
  const std::string text = "\r\n" + k41At4000 + kEnd;
  // Count the queries of an undisturbed load, then stop at each one in turn.
  Load(text, 1);
  const int queries = h.abortQueries;
  // One query per character up to and including the mark, one per digit of the record's 6
  // bytes, three up to the end record's mark, one per digit of its 5 bytes.
  EXPECT_EQ(queries, 3 + 12 + 3 + 10);
  for (int stopAt = 1; stopAt <= queries; ++stopAt) {
    SCOPED_TRACE(stopAt);
    h.abortQueries = 0;
    h.abortAnswer = [stopAt](int query) -> uint8_t { return query >= stopAt ? 1 : 0; };
    const Loaded l = Load(text, 1);
    EXPECT_EQ(l.result, kLoadStopped);
    EXPECT_EQ(l.message, kErrTerminate);
    EXPECT_EQ(h.abortQueries, stopAt) << "no character is read after the request is seen";
  }
}

TEST_F(LoaderTest, BinaryImagesOfEverySize) {
  std::string full(kImageSize, '\0');
  for (uint32_t i = 0; i < kImageSize; ++i) full[i] = static_cast<char>(i * 13 + (i >> 9));
  const auto bytesOf = [&full](uint32_t size) {
    std::vector<std::pair<uint32_t, uint8_t>> bytes;
    for (uint32_t a = 0; a < size; ++a) bytes.emplace_back(a, static_cast<uint8_t>(full[a]));
    return bytes;
  };
  for (uint32_t size : {0x4001u, 0x4064u, 0x8000u, 0x10000u, 0x7FFFFu, kImageSize}) {
    SCOPED_TRACE(size);
    const Loaded l = Load(full.substr(0, size), 0);
    EXPECT_EQ(l.result, kLoadOk);
    EXPECT_EQ(l.fileBytes, size);
    EXPECT_TRUE(l.image == Expected(bytesOf(size)));
  }
}

// The drive's boot data replaces image addresses 0..0x3FFF and the seal the last 8 bytes: a file
// that sets no byte outside them would flash nothing of its own, only zeros. It is refused, in
// either format; one byte that survives is enough.
TEST_F(LoaderTest, AFileWhoseBytesWouldAllBeReplacedIsRefused) {
  const auto record = [](uint32_t address) {
    // One data byte 0x5A at a 16-bit address, after as many bank records as address >> 16.
    std::string text;
    for (uint32_t b = 0; b < (address >> 16); ++b) text += ":00000055AB\n";
    const uint8_t hi = static_cast<uint8_t>(address >> 8), lo = static_cast<uint8_t>(address);
    char line[32];
    std::snprintf(line, sizeof line, ":01%02X%02X005A%02X\n", hi, lo,
                  (0x100 - ((0x01 + hi + lo + 0x5A) & 0xFF)) & 0xFF);
    return text + line + ":00000001FF\n";
  };
  const struct {
    const char* name;
    std::string text;
    uint8_t isHex;
    int32_t result;
    uint32_t surviving;
  } cases[] = {
      {"binary of 100 bytes", std::string(100, '\x33'), 0, kLoadFormatError, 0},
      {"binary of the boot data's size", std::string(0x4000, '\x33'), 0, kLoadFormatError, 0},
      {"binary one byte longer", std::string(0x4001, '\x33'), 0, kLoadOk, 1},
      {"binary of the whole image", std::string(kImageSize, '\x33'), 0, kLoadOk,
       kImageSize - 0x4000 - 8},
      {"record at 0x0000", record(0x0000), 1, kLoadFormatError, 0},
      {"record at 0x3FFF", record(0x3FFF), 1, kLoadFormatError, 0},
      {"record in the seal's trailer", record(kImageSize - 8), 1, kLoadFormatError, 0},
      {"record at 0x4000", record(0x4000), 1, kLoadOk, 1},
      {"record just before the trailer", record(kImageSize - 9), 1, kLoadOk, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Loaded l = Load(c.text, c.isHex);
    EXPECT_EQ(l.result, c.result);
    if (c.result == kLoadOk) {
      EXPECT_EQ(l.surviving, c.surviving);
    }
  }
}

TEST_F(LoaderTest, EmptyAndOversizeBinariesObtainNoStorage) {
  const struct {
    const char* name;
    std::string content;
    int32_t result;
  } cases[] = {
      {"empty", "", kLoadReadError},
      {"one byte too long", std::string(kImageSize + 1, '\x11'), kLoadFormatError},
      {"twice the size", std::string(2 * kImageSize, '\x11'), kLoadFormatError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Loaded l = Load(c.content, 0);
    EXPECT_EQ(l.result, c.result);
    EXPECT_FALSE(l.imageHeld);
  }
}

TEST_F(LoaderTest, NoStorageStopsEitherFormat) {
  h.failImageStorage = true;
  for (uint8_t isHex : {0, 1}) {
    const Loaded l = Load(isHex ? kEnd : std::string(10, 'x'), isHex);
    EXPECT_EQ(l.result, kLoadStopped);
    EXPECT_EQ(l.message, kErrAllocate);
  }
}

// A source whose measured size and delivered bytes may differ, as a file that changes between
// being measured and being read.
class ChangingSource final : public FirmwareReader {
 public:
  ChangingSource(std::string bytes, uint64_t measured)
      : bytes_(std::move(bytes)), measured_(measured),
        inner_(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size()) {}
  uint64_t Size() const override { return measured_; }
  int32_t Read(uint8_t* buffer, uint32_t length) override { return inner_.Read(buffer, length); }
  void Close() override { inner_.Close(); }

 private:
  std::string bytes_;
  uint64_t measured_;
  MemoryReader inner_;
};

struct ChangingBinaryCase {
  const char* name;
  uint32_t measured;   // the size when the file was opened
  uint32_t delivered;  // the bytes it then delivers
  int32_t result;
};

TEST_F(LoaderTest, ABinaryMustDeliverExactlyTheSizeMeasured) {
  const ChangingBinaryCase cases[] = {
      {"unchanged", 0x9000, 0x9000, kLoadOk},
      {"unchanged, the whole image", kImageSize, kImageSize, kLoadOk},
      {"shrinks by one byte", 0x9000, 0x8FFF, kLoadReadError},
      {"shrinks to 100 bytes", 0x9000, 100, kLoadReadError},
      {"shrinks to nothing", 0x9000, 0, kLoadReadError},
      {"grows by one byte", 0x9000, 0x9001, kLoadReadError},
      {"grows past the image", kImageSize, kImageSize + 1, kLoadReadError},
  };
  for (const ChangingBinaryCase& c : cases) {
    SCOPED_TRACE(c.name);
    ChangingSource source(std::string(c.delivered, '\x5C'), c.measured);
    const Loaded l = LoadFrom(source, 0);
    EXPECT_EQ(l.result, c.result);
    if (c.result == kLoadOk) {
      EXPECT_EQ(l.image[c.measured - 1], 0x5C);
      EXPECT_EQ(l.fileBytes, c.measured);
    }
  }
}


// The run's load step: the file through the loaders, then the drive's boot data read twice and
// the seal, and how each way a load fails is shown. What it leaves is seen in what the drive
// was sent and what the user saw; the run's failed ending follows each failure.
class LoadStepTest : public ::testing::Test {
 protected:
  LoadStepTest() : drive(h.clock) { h.Attach(drive); }

  void Run(const std::string& content, uint8_t isHex) {
    RunPath(folder.Write(isHex ? "load.hex" : "load.bin", content), isHex);
  }
  void RunPath(const std::string& path, uint8_t isHex) {
    h.statuses.clear();
    h.trace.clear();
    FlashUpdater engine(owner, h.Job(path, isHex), h.os());
    engine.Run();
    EXPECT_EQ(h.imagesHeld, 0) << "the storage is released on every path";
    EXPECT_EQ(h.inputFilesOpen, 0) << "the file is closed on every path";
  }

  Harness h;
  sim::KdrDrive drive;
  FakeOwner owner;
  testsupport::TempFolder folder;
};

TEST_F(LoadStepTest, AGoodLoadReadsTheBootDataTwiceAndSeals) {
  Run(k41At4000 + kEnd, 1);
  EXPECT_EQ(h.librariesLoaded, std::vector<std::string>{"sumseal"});
  // After the two stops: PrepareReadBack, then the four read-backs of 4096 bytes at
  // 0x180000..0x183000, twice, before the first block is written.
  ASSERT_GE(h.trace.size(), 12u);
  EXPECT_EQ(h.trace[2].cdb[0], 0xF1);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(h.trace[3 + i].cdb[0], 0x3C);
    EXPECT_EQ(h.trace[3 + i].cdb[3], 0x18);
    EXPECT_EQ(h.trace[3 + i].cdb[4], 0x10 * (i % 4));
  }
  EXPECT_EQ(h.trace[11].cdb[0], 0x3B);
  std::vector<uint8_t> file(kImageSize, 0x00);
  file[0x4000] = 0x41;
  EXPECT_EQ(drive.flash(), FinishedImage(file, sim::KdrDrive::FactoryBootData()));
}

TEST_F(LoadStepTest, EachFailureIsShownOnceAndOnlyAFinishedLoadTouchesTheDrive) {
  const struct {
    const char* name;
    std::string content;
    uint8_t isHex;
    std::vector<std::string> statuses;
    bool finished;  // the boot data was read and the image sealed before the message
  } cases[] = {
      {"a wrong character", ":0140000G417E\n" + kEnd, 1,
       {"ERR: input file format mismatched!"}, false},
      {"a wrong record checksum", ":01400000417F\n" + kEnd, 1,
       {"ERR: input file format mismatched!"}, true},
      {"an empty binary", "", 0, {"ERR: fail to read input file!"}, false},
      {"an oversize binary", std::string(kImageSize + 1, '\x11'), 0,
       {"ERR: input file format mismatched!"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Run(c.content, c.isHex);
    EXPECT_EQ(h.statuses, c.statuses);
    EXPECT_EQ(CountCommands(h.trace, 0xF1), c.finished ? 1 : 0);
    EXPECT_EQ(CountCommands(h.trace, 0x3B), 0) << "no block is written";
  }
}

TEST_F(LoadStepTest, OpenAndStorageFailures) {
  RunPath(folder.File("does_not_exist.hex"), 1);
  EXPECT_EQ(h.statuses, (std::vector<std::string>{"ERR: fail to open input file!",
                                                  "ERR: fail to read input file!"}));
  h.failImageStorage = true;
  for (uint8_t isHex : {0, 1}) {
    Run(isHex ? kEnd : std::string(10, 'x'), isHex);
    EXPECT_EQ(h.statuses, std::vector<std::string>{"ERR: fail to allocate memory!"});
    EXPECT_EQ(CountCommands(h.trace, 0xF1), 0);
  }
}

TEST(FailWithMessage, SixteenTexts) {
  EXPECT_STREQ(errorMessages[0], "fail to initial IDE port, please reboot PC!");
  EXPECT_STREQ(errorMessages[13], "flash size is smaller then the selected address!");
  EXPECT_STREQ(errorMessages[15], "terminate wait flash read/write!");
  EXPECT_EQ(sizeof errorMessages / sizeof errorMessages[0], 16u);
}

}  // namespace
}  // namespace enginetest
