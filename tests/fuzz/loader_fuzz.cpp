// Fuzz target for the firmware loaders. Each load is checked against a small reference model of
// the two formats kept in this file: the result (and the message of a load that stopped) must be
// the model's, and after a good load every image byte and the count of file bytes must be too. A
// refusal must carry the loader's detail, and a text file's a line within the file.
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

#include "engine/error_messages.h"
#include "engine/firmware_loader.h"
#include "platform/linux/linux_os.h"

namespace {

constexpr uint32_t kMaxDescribedSize = 0x88000;

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
  int message;         // of a load that stopped
  uint32_t fileBytes;  // of a good load
  uint8_t* image;      // kImageSize bytes; 0x00 where the file puts nothing
};

// The bytes that reach the drive as the file set them: the drive's boot data takes the first
// 16 KiB (the seal's window lies inside it) and the seal the last 8 bytes. A file that sets
// none of these is nothing to flash.
bool Survives(uint64_t address) { return address >= 0x4000 && address < kImageSize - 8; }

// Text records: ":" count, address high, address low, type, data, checksum, each byte two hex
// digits. Every character counts by its low 7 bits; the end of the file and a 0xFF byte end the
// input. The abort query is asked once per character searched for ":" and once per digit.
class TextModel {
 public:
  TextModel(const File& file, uint8_t* image) : file_(file), image_(image) {}

  int32_t Run() {
    uint64_t bankBase = 0;
    dataBytes = 0;
    survivingBytes = 0;
    for (;;) {
      sum_ = 0;
      if (!SkipToMark()) return kLoadStopped;
      int count, high, low, type;
      if (!Byte(count) || !Byte(high) || !Byte(low) || !Byte(type)) return kLoadStopped;
      int checksum;
      switch (type) {
        case 0x00: {  // data
          uint64_t address = bankBase + static_cast<uint64_t>(high * 256 + low);
          for (int i = 0; i < count; ++i, ++address) {
            int value;
            if (!Byte(value)) return kLoadStopped;
            // Data beyond the image is a format failure; the bytes before it are stored.
            if (address >= kImageSize) return kLoadFormatError;
            image_[address] = static_cast<uint8_t>(value);
            ++dataBytes;
            if (Survives(address)) ++survivingBytes;
          }
          if (!Byte(checksum)) return kLoadStopped;
          if (sum_ != 0) return kLoadFormatError;
          break;
        }
        case 0x01:  // end
        case 0x55:  // bank: later records land 64 KiB higher
          if (!Byte(checksum)) return kLoadStopped;
          if (count != 0 || sum_ != 0) return kLoadFormatError;
          if (type == 0x01) return survivingBytes != 0 ? kLoadOk : kLoadFormatError;
          bankBase += 0x10000;
          break;
        default:  // found before the checksum is read
          return kLoadFormatError;
      }
    }
  }

  uint32_t dataBytes = 0;
  uint32_t survivingBytes = 0;
  int message = -1;  // why the reading stopped

 private:
  static constexpr int kEndOfFile = -1;

  int NextChar() {
    if (at_ == file_.size || file_.bytes[at_] == 0xFF) return kEndOfFile;
    return file_.bytes[at_++];
  }
  bool Aborted() { return file_.abortAt != 0 && ++queries_ >= file_.abortAt; }
  bool Stop(int why) {
    message = why;
    return false;
  }
  bool SkipToMark() {
    for (int c = NextChar();; c = NextChar()) {
      if (c == kEndOfFile) return Stop(kErrFormat);
      if (Aborted()) return Stop(kErrTerminate);
      if ((c & 0x7F) == ':') return true;
    }
  }
  bool Digit(int& out) {
    if (Aborted()) return Stop(kErrTerminate);
    const int c = NextChar();
    if (c == kEndOfFile) return Stop(kErrFormat);
    const int ch = c & 0x7F;
    if (ch >= '0' && ch <= '9') {
      out = ch - '0';
    } else if (ch >= 'A' && ch <= 'F') {
      out = ch - 'A' + 10;
    } else if (ch >= 'a' && ch <= 'f') {
      out = ch - 'a' + 10;
    } else {
      return Stop(kErrFormat);
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
  return file.size > 0x4000 ? kLoadOk : kLoadFormatError;  // a byte beyond the boot data
}

Expected Model(const File& file) {
  static uint8_t image[kImageSize];
  std::memset(image, 0x00, sizeof image);
  if (!file.isText) {
    return {BinaryModel(file, image), -1, static_cast<uint32_t>(file.size), image};
  }
  TextModel model(file, image);
  const int32_t result = model.Run();
  return {result, model.message, model.dataBytes, image};
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

// The system with the arena as its image storage: the loaders' only use of it.
class ArenaOs final : public platform::OsWrapper {
 public:
  using OsWrapper::OsWrapper;
  void* allocImage(size_t size) override { return AllocImage(size); }
  void freeImage(void* block) override { FreeImage(block); }
};

// One for the whole run: the fuzzer's entry point takes no context.
platform::Os& FuzzOs() {
  static platform::SystemKernel kernel;
  static platform::LinuxOs system(kernel);
  static ArenaOs os(system);
  return os;
}

int abortAt = 0;
int queries = 0;

uint8_t IsAbortRequested(void*) { return abortAt != 0 && ++queries >= abortAt ? 1 : 0; }

void CheckGoodImage(const FirmwareImage& image, const uint8_t* expected) {
  for (uint32_t i = 1; i < kBankCount; ++i) {
    if (image.banks[i] != image.banks[0] + i * kBankSize) Fail("bank is a slice", i, -1);
  }
  const uint8_t* got = image.banks[0];
  if (std::memcmp(got, expected, kImageSize) == 0) return;
  for (uint32_t a = 0; a < kImageSize; ++a) {
    if (got[a] == expected[a]) continue;
    std::fprintf(stderr, "loader_fuzz: image byte at 0x%05X\n", static_cast<unsigned>(a));
    Fail("image byte", expected[a], got[a]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ASAN_POISON_MEMORY_REGION(arena, sizeof arena);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  platform::Os& os = FuzzOs();

  const File file = DecodeInput(data, size);
  // The file's bytes come straight from memory, measured as a file would be.
  MemoryReader reader(file.bytes, file.size);
  abortAt = file.abortAt;
  queries = 0;

  const Expected expected = Model(file);
  FirmwareImage image{};
  const LoadResult load =
      LoadFirmware(os, reader, file.isText ? 1 : 0, AbortQuery{nullptr, IsAbortRequested}, image);
  if (load.result != expected.result) Fail("load result", expected.result, load.result);
  switch (load.result) {
    case kLoadOk:
      if (held != 1) Fail("storage held after a good load", 1, held);
      if (load.fileBytes != expected.fileBytes) {
        Fail("file bytes", expected.fileBytes, load.fileBytes);
      }
      CheckGoodImage(image, expected.image);
      break;
    case kLoadFormatError:
    case kLoadReadError:
      break;
    case kLoadStopped:
      if (load.message != expected.message) Fail("message", expected.message, load.message);
      break;
    default:
      Fail("a known result", 1, load.result);
  }
  // A refused file says why in the loader's detail, and a text file on which line: one that the
  // file has (lines counted by line feeds).
  const bool refused = load.result == kLoadFormatError || load.result == kLoadReadError ||
                       (load.result == kLoadStopped && load.message == kErrFormat);
  char said[256];
  if (refused != DescribeLoadDetail(load, said, sizeof said)) {
    Fail("a detail exactly for a refusal", refused, !refused);
  }
  if (file.isText && load.result != kLoadOk && load.message != kErrAllocate) {
    long lines = 1;
    for (size_t i = 0; i < file.size; ++i) lines += file.bytes[i] == '\n' ? 1 : 0;
    if (load.line < 1 || load.line > lines) Fail("the refusal's line", lines, load.line);
  }
  ReleaseImage(os, image);
  if (held != 0) Fail("storage released at the end", 0, held);
  return 0;
}
