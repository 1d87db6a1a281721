// Fuzz target for the firmware loaders. Each load is checked against a small reference model of
// the two formats kept in this file: the result must be the model's, and after a good load every
// image byte outside the drive's boot data (0..0x3FFF) and the seal trailer must be the model's.
//
// Input layout. Byte 0, bit 0 set: text records; bits 1-7 give the abort query on which a
// terminate request arrives (0: none); the rest is the file.
// Byte 0, bit 0 clear: a binary file. With bit 1 clear the rest is the file. With bit 1 set the
// file is described, so that sizes around the 512 KiB image are reached with small inputs:
// bytes 1-3 give its size (24 bits, little-endian, taken modulo kMaxDescribedSize + 1); the file
// is a fixed pattern that differs from byte to byte and bank to bank, with the input's remaining
// bytes written over its start (bit 2 clear) or its end (bit 2 set). An input too short to give
// a size is a plain file.
#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "drive/drive.h"
#include "engine/flash_updater.h"
#include "platform/platform.h"

namespace platform {
Os& os() {
  static Os table{};
  return table;
}
}  // namespace platform

constexpr uint8_t kDriveByte = 0xB0;

// A drive that accepts every command and answers reads with kDriveByte. A failed boot data
// read-back ends every load before its checks below, so the drive must answer for a load to
// reach the end; that failure itself has its own unit tests.
class AcceptingDrive final : public DriveTransport {
 public:
  bool Load(TransportState&) override { return true; }
  void Release(TransportState&) override {}
  void Discover(DriveList& drives) override { drives.count = 0; }

 protected:
  ScsiOutcome Carry(const ScsiRequest& request, bool& sent) override {
    sent = true;
    if (request.direction == SRB_DIR_IN && request.data != nullptr) {
      std::memset(request.data, kDriveByte, request.dataLength);
    }
    return ScsiOutcome::kGood;
  }
};
static AcceptingDrive acceptingDrive;

namespace {

constexpr uint32_t kMaxDescribedSize = 0x88000;
constexpr uint32_t kTrailerSize = 8;

[[noreturn]] void Fail(const char* what, long expected, long actual) {
  std::fprintf(stderr, "loader_fuzz: %s: expected %ld, got %ld\n", what, expected, actual);
  std::abort();
}

// ---- The file ------------------------------------------------------------------------------

struct File {
  bool isText;
  int abortAt;  // text: the abort query that answers 1 (0: none)
  const uint8_t* bytes;
  size_t size;
};

// Builds the file that `data` stands for (described files in a buffer of this function's).
File DecodeInput(const uint8_t* data, size_t size) {
  File file{(data[0] & 1) != 0, (data[0] & 1) != 0 ? data[0] >> 1 : 0, data + 1, size - 1};
  if (file.isText || (data[0] & 2) == 0 || size < 4) return file;

  static uint8_t pattern[kMaxDescribedSize];
  static uint8_t described[kMaxDescribedSize];
  static bool patternMade = false;
  if (!patternMade) {
    for (uint32_t i = 0; i < kMaxDescribedSize; ++i) {
      pattern[i] = static_cast<uint8_t>(i ^ (i >> 8) ^ ((i >> 15) * 0x3B));
    }
    patternMade = true;
  }
  const uint32_t wanted = uint32_t{data[1]} | uint32_t{data[2]} << 8 | uint32_t{data[3]} << 16;
  const size_t fileSize = wanted % (kMaxDescribedSize + 1);
  const uint8_t* literal = data + 4;
  const size_t literalSize = size - 4 < fileSize ? size - 4 : fileSize;
  std::memcpy(described, pattern, fileSize);
  const size_t at = (data[0] & 4) != 0 ? fileSize - literalSize : 0;
  if (literalSize != 0) std::memcpy(described + at, literal, literalSize);
  file.bytes = described;
  file.size = fileSize;
  return file;
}

// ---- The reference model -------------------------------------------------------------------

// What a load must end with: its result and, for a good load, the image as the file makes it.
struct Expected {
  int32_t result;
  uint8_t* image;  // kImageSize bytes; 0x00 where the file puts nothing
};

// Text records: ":" count, address high, address low, type, data, checksum, each byte two hex
// digits. Every character counts by its low 7 bits; the end of the file and a 0xFF byte end the
// input. The abort query is asked once per character searched for ":" and once per digit.
class TextModel {
 public:
  TextModel(const File& file, uint8_t* image) : file_(file), image_(image) {}

  int32_t Run() {
    uint64_t bankBase = 0;
    bool dataSeen = false;  // an image without a single data byte is nothing to flash
    for (;;) {
      sum_ = 0;
      if (!SkipToMark()) return kLoadAlreadyShown;
      int count, high, low, type;
      if (!Byte(count) || !Byte(high) || !Byte(low) || !Byte(type)) return kLoadAlreadyShown;
      int checksum;
      switch (type) {
        case 0x00: {  // data
          uint64_t address = bankBase + static_cast<uint64_t>(high * 256 + low);
          for (int i = 0; i < count; ++i, ++address) {
            int value;
            if (!Byte(value)) return kLoadAlreadyShown;
            // Data beyond the image is a format failure; the bytes before it are stored.
            if (address >= kImageSize) return kLoadFormatError;
            image_[address] = static_cast<uint8_t>(value);
            dataSeen = true;
          }
          if (!Byte(checksum)) return kLoadAlreadyShown;
          if (sum_ != 0) return kLoadFormatError;
          break;
        }
        case 0x01:  // end
        case 0x55:  // bank: later records land 64 KiB higher
          if (!Byte(checksum)) return kLoadAlreadyShown;
          if (count != 0 || sum_ != 0) return kLoadFormatError;
          if (type == 0x01) return dataSeen ? kLoadOk : kLoadFormatError;
          bankBase += 0x10000;
          break;
        default:  // found before the checksum is read
          return kLoadFormatError;
      }
    }
  }

 private:
  static constexpr int kEndOfFile = -1;

  int NextChar() {
    if (at_ == file_.size || file_.bytes[at_] == 0xFF) return kEndOfFile;
    return file_.bytes[at_++];
  }
  bool Aborted() { return file_.abortAt != 0 && ++queries_ >= file_.abortAt; }
  bool SkipToMark() {
    for (int c = NextChar();; c = NextChar()) {
      if (c == kEndOfFile || Aborted()) return false;
      if ((c & 0x7F) == ':') return true;
    }
  }
  bool Digit(int& out) {
    if (Aborted()) return false;
    const int c = NextChar();
    if (c == kEndOfFile) return false;
    const int ch = c & 0x7F;
    if (ch >= '0' && ch <= '9') {
      out = ch - '0';
    } else if (ch >= 'A' && ch <= 'F') {
      out = ch - 'A' + 10;
    } else if (ch >= 'a' && ch <= 'f') {
      out = ch - 'a' + 10;
    } else {
      return false;
    }
    return true;
  }
  bool Byte(int& out) {
    int high, low;
    if (!Digit(high) || !Digit(low)) return false;
    out = high * 16 + low;
    sum_ = static_cast<uint8_t>(sum_ + out);
    return true;
  }

  const File& file_;
  uint8_t* image_;
  size_t at_ = 0;
  int queries_ = 0;
  uint8_t sum_ = 0;
};

// A binary file is the image from address 0 up: empty is a read failure (the run's message),
// longer than the image a format failure.
int32_t BinaryModel(const File& file, uint8_t* image) {
  if (file.size == 0) return kLoadReadError;
  if (file.size > kImageSize) return kLoadFormatError;
  std::memcpy(image, file.bytes, file.size);
  return kLoadOk;
}

Expected Model(const File& file) {
  static uint8_t image[kImageSize];
  std::memset(image, 0x00, sizeof image);
  const int32_t result = file.isText ? TextModel(file, image).Run() : BinaryModel(file, image);
  return {result, image};
}

// ---- The loader under test -----------------------------------------------------------------

// The image storage: one block with poisoned guards on both sides, poisoned whole while it is
// not handed out, so that reads and writes outside it, or after its release, are caught as they
// would be on the heap, without mapping 512 KiB afresh for every input.
constexpr size_t kGuard = 4096;
alignas(4096) uint8_t arena[kGuard + kImageSize + kGuard];
uint8_t* const storage = arena + kGuard;
int held = 0;

void* AllocImage(size_t size) {
  if (size != kImageSize || held != 0) Fail("image storage asked for", kImageSize, long(size));
  ++held;
  ASAN_UNPOISON_MEMORY_REGION(storage, kImageSize);
  // The storage is not zero-filled: the loader must clear it itself.
  std::memset(storage, 0xE5, kImageSize);
  return storage;
}
void FreeImage(void* block) {
  if (block != storage) Fail("released storage is the one handed out", 1, 0);
  --held;
  ASAN_POISON_MEMORY_REGION(storage, kImageSize);
}

int abortAt = 0;
int queries = 0;

void Ignore(void*, const char*) {}
void IgnoreProgress(void*, int) {}
uint8_t IsAbortRequested(void*) { return abortAt != 0 && ++queries >= abortAt ? 1 : 0; }
void* LoadLibrary(const char*) { return nullptr; }

struct NoOwner : UpdateOwner {
  int GetCheckState(int) const override { return 0; }
};

void CheckGoodImage(const FirmwareImage& image, const uint8_t* expected) {
  if (image.length != kImageSize) Fail("image length", kImageSize, image.length);
  for (uint32_t i = 1; i < kBankCount; ++i) {
    if (image.banks[i] != image.banks[0] + i * kBankSize) Fail("bank is a slice", i, -1);
  }
  const uint8_t* got = image.banks[0];
  // The drive's boot data replaces whatever the file put at 0..0x3FFF.
  for (uint32_t a = 0; a < kBootDataSize; ++a) {
    if (got[a] != kDriveByte) Fail("boot data byte", kDriveByte, got[a]);
  }
  const uint32_t end = kImageSize - kTrailerSize;
  if (std::memcmp(got + kBootDataSize, expected + kBootDataSize, end - kBootDataSize) != 0) {
    for (uint32_t a = kBootDataSize; a < end; ++a) {
      if (got[a] == expected[a]) continue;
      std::fprintf(stderr, "loader_fuzz: image byte at 0x%05X\n", static_cast<unsigned>(a));
      Fail("image byte", expected[a], got[a]);
    }
  }
  for (uint32_t a = end + 4; a < kImageSize; ++a) {
    if (got[a] != 0xFF) Fail("trailer filler byte", 0xFF, got[a]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ASAN_POISON_MEMORY_REGION(arena, sizeof arena);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  platform::Os& os = platform::os();
  os.allocImage = AllocImage;
  os.freeImage = FreeImage;
  os.loadLibrary = LoadLibrary;

  const File file = DecodeInput(data, size);
  // The file's bytes come straight from memory, measured as a file would be.
  MemoryReader reader(file.bytes, file.size);
  UpdateJob job{};
  job.isHexFile = file.isText ? 1 : 0;
  job.callbacks = UiCallbacks{nullptr, Ignore, Ignore, IgnoreProgress, IsAbortRequested};
  job.useNtPassThrough = 1;
  job.transport = &acceptingDrive;
  abortAt = file.abortAt;
  queries = 0;

  const Expected expected = Model(file);
  NoOwner owner;
  FlashUpdater engine(owner, job);
  const int32_t result = engine.LoadFirmwareFrom(reader);
  if (result != expected.result) Fail("load result", expected.result, result);
  switch (result) {
    case kLoadOk:
      if (engine.firmwareFile != nullptr) Fail("file closed after a good load", 1, 0);
      if (held != 1) Fail("storage held after a good load", 1, held);
      CheckGoodImage(engine.image, expected.image);
      break;
    case kLoadFormatError:
    case kLoadReadError:
      // Either the tail ran (file closed, storage held, length set) or nothing was obtained.
      if (engine.image.banks[0] != nullptr && engine.image.length != kImageSize) {
        Fail("length of a held image", kImageSize, engine.image.length);
      }
      engine.FailWithMessage(result == kLoadFormatError ? kErrFormat : kErrReadInput);
      break;
    case kLoadAlreadyShown:
      if (engine.firmwareFile != nullptr) Fail("file closed after the loader's message", 1, 0);
      if (engine.image.banks[0] != nullptr) Fail("storage released after the message", 1, 0);
      break;
    default:
      Fail("a known result", 1, result);
  }
  engine.ReleaseImage();
  if (held != 0) Fail("storage released at the end", 0, held);
  return 0;
}
