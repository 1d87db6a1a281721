// Loading the firmware file: the text records and the raw binary image, malformed files, and
// the finishing steps (the drive's boot data, the seal).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/flash_updater.h"
#include "sim/faults.h"
#include "sim/kdr_drive.h"
#include "tests/support/firmware_files.h"
#include "tests/support/engine_harness.h"
#include "tests/support/temp_folder.h"

namespace enginetest {
namespace {

struct Loaded {
  int32_t result = 0;
  bool fileClosed = false;
  bool imageHeld = false;
  uint32_t length = 0;
  std::vector<uint8_t> image;  // empty when the storage was released
};

class LoaderTest : public ::testing::Test {
 protected:
  LoaderTest() : drive(h.clock), faulty(drive, plan) { h.Attach(faulty); }

  // Loads `content` the way the run does and then cleans up the way the run does.
  Loaded Load(const std::string& content, uint8_t isHex) {
    const std::string path = folder.Write(isHex ? "load.hex" : "load.bin", content);
    EXPECT_FALSE(path.empty()) << "the firmware file could not be written";
    return LoadPath(path, isHex);
  }
  Loaded LoadPath(const std::string& path, uint8_t isHex) {
    FlashUpdater engine(owner, h.Job(path, isHex));
    Loaded out;
    out.result = engine.LoadFirmwareFile();
    out.fileClosed = engine.firmwareFile == nullptr;
    out.imageHeld = engine.image.banks[0] != nullptr;
    out.length = engine.image.length;
    if (out.imageHeld) out.image.assign(engine.image.banks[0], engine.image.banks[0] + kImageSize);
    if (out.imageHeld) {
      for (uint32_t i = 1; i < kBankCount; ++i) {
        EXPECT_EQ(engine.image.banks[i], engine.image.banks[0] + i * kBankSize);
      }
    }
    if (!out.fileClosed) engine.FailWithMessage(kErrReadInput);  // as the run would
    engine.ReleaseImage();
    EXPECT_EQ(h.imagesHeld, 0);
    return out;
  }
  // The image as a good load leaves it for `fileBytes` set at their addresses.
  std::vector<uint8_t> Expected(const std::vector<std::pair<uint32_t, uint8_t>>& fileBytes) {
    std::vector<uint8_t> image(kImageSize, 0x00);
    for (const auto& [address, value] : fileBytes) image[address] = value;
    return FinishedImage(std::move(image), drive.BootData());
  }

  Harness h;
  sim::FaultPlan plan;
  sim::KdrDrive drive;
  sim::FaultyDevice faulty;
  FakeOwner owner;
  testsupport::TempFolder folder;
};

const std::string kEnd = ":00000001FF\r\n";
const std::string kBank = ":00000055AB\r\n";
const std::string k41At4000 = ":01400000417E\r\n";

TEST_F(LoaderTest, OneDataRecordGivesBootDataReadTwiceAndSeal) {
  const Loaded l = Load(k41At4000 + kEnd, 1);
  EXPECT_EQ(l.result, kLoadOk);
  EXPECT_TRUE(l.fileClosed);
  EXPECT_EQ(l.length, kImageSize);
  EXPECT_TRUE(l.image == Expected({{0x4000, 0x41}}));
  EXPECT_TRUE(h.statuses.empty());
  EXPECT_EQ(h.librariesLoaded, std::vector<std::string>{"sumseal"});
  // PrepareReadBack, then the four read-backs of 4096 bytes at 0x180000..0x183000, twice.
  ASSERT_EQ(h.trace.size(), 9u);
  EXPECT_EQ(h.trace[0].cdb[0], 0xF1);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(h.trace[1 + i].cdb[0], 0x3C);
    EXPECT_EQ(h.trace[1 + i].cdb[3], 0x18);
    EXPECT_EQ(h.trace[1 + i].cdb[4], 0x10 * (i % 4));
  }
}

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
    EXPECT_TRUE(l.fileClosed);
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
    h.trace.clear();
    const Loaded l = Load(c.text, 1);
    EXPECT_EQ(l.result, c.result);
    EXPECT_TRUE(l.fileClosed);
    EXPECT_EQ(l.length, kImageSize);
    EXPECT_TRUE(l.image == Expected(c.bytes));
  }
  EXPECT_TRUE(h.statuses.empty()) << "format failures are the run's to report";
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
    h.statuses.clear();
    const Loaded l = Load(text, 1);
    if (digit < 0) {
      EXPECT_EQ(l.result, kLoadAlreadyShown);
      EXPECT_EQ(h.statuses, std::vector<std::string>{"ERR: input file format mismatched!"});
    } else {
      EXPECT_EQ(l.result, kLoadOk);
      EXPECT_TRUE(l.image == Expected({{0x4000, value}}));
    }
  }
}

TEST_F(LoaderTest, GapsBetweenRecordsStayZero) {
  const Loaded l = Load(":02400000AABB59\n:017FF000CCC4\n" + kEnd, 1);
  EXPECT_EQ(l.result, kLoadOk);
  EXPECT_EQ(l.length, kImageSize);
  EXPECT_TRUE(l.image == Expected({{0x4000, 0xAA}, {0x4001, 0xBB}, {0x7FF0, 0xCC}}));
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
    EXPECT_TRUE(l.fileClosed);
    ASSERT_EQ(l.image.size(), kImageSize);
    EXPECT_EQ(l.image[0x4000], 0x00) << "a wrapped base must not bring data back into the image";
  }
  // Bank records alone, however many, do no harm.
  EXPECT_EQ(Load(k41At4000 + eightBanks + eightBanks + kEnd, 1).result, kLoadOk);
}

TEST_F(LoaderTest, ReaderFailuresShowTheirOwnMessageAndReleaseEverything) {
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
    h.statuses.clear();
    h.trace.clear();
    const Loaded l = Load(c.text, 1);
    EXPECT_EQ(l.result, kLoadAlreadyShown);
    EXPECT_TRUE(l.fileClosed);
    EXPECT_FALSE(l.imageHeld);
    EXPECT_EQ(h.statuses, std::vector<std::string>{"ERR: input file format mismatched!"});
    EXPECT_TRUE(h.trace.empty()) << "the image is not finished after a reader failure";
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
    h.statuses.clear();
    h.abortQueries = 0;
    h.abortAnswer = [stopAt](int query) -> uint8_t { return query >= stopAt ? 1 : 0; };
    const Loaded l = Load(text, 1);
    EXPECT_EQ(l.result, kLoadAlreadyShown);
    EXPECT_EQ(h.abortQueries, stopAt) << "no character is read after the request is seen";
    EXPECT_EQ(h.statuses, std::vector<std::string>{"ERR: terminate upgrade/backup flash!"});
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
  for (uint32_t size : {100u, 0x4064u, 0x8000u, 0x10000u, 0x7FFFFu, kImageSize}) {
    SCOPED_TRACE(size);
    const Loaded l = Load(full.substr(0, size), 0);
    EXPECT_EQ(l.result, kLoadOk);
    EXPECT_TRUE(l.fileClosed);
    EXPECT_EQ(l.length, kImageSize);
    EXPECT_TRUE(l.image == Expected(bytesOf(size)));
  }
}

TEST_F(LoaderTest, EmptyAndOversizeBinariesLeaveTheMessageToTheRun) {
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
    h.trace.clear();
    h.statuses.clear();
    const Loaded l = Load(c.content, 0);
    EXPECT_EQ(l.result, c.result);
    EXPECT_FALSE(l.fileClosed) << "left open for the run's message to close";
    EXPECT_FALSE(l.imageHeld);
    EXPECT_TRUE(h.trace.empty()) << "nothing is sent for a file that is not an image";
  }
}

TEST_F(LoaderTest, OpenAndStorageFailures) {
  Loaded l = LoadPath(folder.File("does_not_exist.hex"), 1);
  EXPECT_EQ(l.result, kLoadReadError);
  EXPECT_EQ(h.statuses, std::vector<std::string>{"ERR: fail to open input file!"});

  h.statuses.clear();
  h.failImageStorage = true;
  for (uint8_t isHex : {0, 1}) {
    l = Load(isHex ? kEnd : std::string(10, 'x'), isHex);
    EXPECT_EQ(l.result, kLoadAlreadyShown);
    EXPECT_TRUE(l.fileClosed);
  }
  EXPECT_EQ(h.statuses, std::vector<std::string>(2, "ERR: fail to allocate memory!"));
}

// Ways in which the drive's boot data is not known: the image is never finished then.
struct BootDataFaultCase {
  const char* name;
  bool failPrepare;
  bool failReadBack;
  int32_t corruptReadBlock;  // buffer address / 4096 of a read-back that differs once
  int64_t shortReadAddress;
  int readBacks;  // READ BUFFER commands sent
};

TEST_F(LoaderTest, BootDataNotReadCleanlyTwiceFailsTheLoadAndReleasesEverything) {
  const BootDataFaultCase cases[] = {
      {"the read-back fails", false, true, -1, -1, 1},
      {"the prepare command fails", true, false, -1, -1, 0},
      {"the first read of 0x180000 differs", false, false, 0x180, -1, 5},
      {"the first read of 0x183000 differs", false, false, 0x183, -1, 8},
      {"a read-back delivers half its bytes", false, false, -1, 0x182000, 3},
  };
  for (const BootDataFaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::FaultPlan faults;
    faults.failPrepare = c.failPrepare;
    faults.failBootReadBack = c.failReadBack;
    faults.corruptReadBlock = c.corruptReadBlock;
    faults.corruptReadTimes = 1;
    faults.shortReadAddress = c.shortReadAddress;
    for (uint8_t isHex : {0, 1}) {
      sim::FaultyDevice failing(drive, faults);
      h.Attach(failing);
      h.statuses.clear();
      h.trace.clear();
      const Loaded l = Load(isHex ? k41At4000 + kEnd : std::string(0x2000, '\x77'), isHex);
      EXPECT_EQ(l.result, kLoadAlreadyShown);
      EXPECT_TRUE(l.fileClosed);
      EXPECT_FALSE(l.imageHeld);
      EXPECT_EQ(h.statuses, std::vector<std::string>{"ERR: fail to read flash!"});
      EXPECT_EQ(CountCommands(h.trace, 0x3C), c.readBacks);
    }
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
    FlashUpdater engine(owner, h.Job("unused.bin", 0));
    ChangingSource source(std::string(c.delivered, '\x5C'), c.measured);
    EXPECT_EQ(engine.LoadFirmwareFrom(source), c.result);
    EXPECT_EQ(engine.firmwareFile, nullptr) << "the load closed its source";
    EXPECT_EQ(engine.image.length, kImageSize);
    if (c.result == kLoadOk) {
      const uint32_t beyondBootData = c.measured / 2;
      EXPECT_EQ(engine.image.banks[beyondBootData >> 15][beyondBootData & 0x7FFF], 0x5C);
    }
    engine.ReleaseImage();
  }
}

TEST(FailWithMessage, ShowsTheTextAndReleasesOnce) {
  Harness h;
  FakeOwner owner;
  UpdateJob job = h.Job("x", 0);
  FlashUpdater engine(owner, job);
  engine.image.banks[0] = static_cast<uint8_t*>(platform::os().allocImage(kImageSize));
  engine.FailWithMessage(14);
  engine.FailWithMessage(6);
  EXPECT_EQ(h.statuses, (std::vector<std::string>{"ERR: terminate upgrade/backup flash!",
                                                  "ERR: input file format mismatched!"}));
  EXPECT_EQ(h.imagesHeld, 0);
  EXPECT_EQ(engine.image.banks[0], nullptr);
}

TEST(FailWithMessage, SixteenTexts) {
  EXPECT_STREQ(errorMessages[0], "fail to initial IDE port, please reboot PC!");
  EXPECT_STREQ(errorMessages[13], "flash size is smaller then the selected address!");
  EXPECT_STREQ(errorMessages[15], "terminate wait flash read/write!");
  EXPECT_EQ(sizeof errorMessages / sizeof errorMessages[0], 16u);
}

TEST(FlashUpdaterConstruction, FromAZeroFilledJob) {
  Harness h;
  FakeOwner owner;
  const UpdateJob job{};
  FlashUpdater engine(owner, job);
  EXPECT_STREQ(engine.firmwarePath, "");
  EXPECT_EQ(engine.isHexFile, 0);
  EXPECT_EQ(engine.useNtPassThrough, 0);
  EXPECT_EQ(engine.firmwareFile, nullptr);
  for (uint8_t* bank : engine.image.banks) EXPECT_EQ(bank, nullptr);
}

}  // namespace
}  // namespace enginetest
