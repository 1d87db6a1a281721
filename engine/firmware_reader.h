// Where the loader takes the firmware file's bytes from: the file itself, opened through the
// operating system it is given, or bytes already in memory (a test, a fuzzer). Both measure
// their size before anything is read, so that the loader can hold a binary file to exactly
// that size.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/os.h"

class FirmwareReader {
 public:
  // The size measured when the source was opened.
  virtual uint64_t Size() const = 0;
  // Up to `length` further bytes into `buffer`: the count delivered (possibly fewer than asked
  // for), 0 at the end, -1 on a read error.
  virtual int32_t Read(uint8_t* buffer, uint32_t length) = 0;
  // Releases the source; nothing is read from it afterwards.
  virtual void Close() = 0;

 protected:
  ~FirmwareReader() = default;
};

// Bytes in memory, owned by the caller, who keeps them until the load has ended.
class MemoryReader final : public FirmwareReader {
 public:
  MemoryReader(const uint8_t* bytes, uint64_t size) : bytes_(bytes), size_(size) {}
  uint64_t Size() const override { return size_; }
  int32_t Read(uint8_t* buffer, uint32_t length) override {
    const uint64_t left = closed_ ? 0 : size_ - at_;
    const uint32_t n = left < length ? static_cast<uint32_t>(left) : length;
    if (n > 0) std::memcpy(buffer, bytes_ + at_, n);
    at_ += n;
    return static_cast<int32_t>(n);
  }
  void Close() override { closed_ = true; }

 private:
  const uint8_t* bytes_;
  uint64_t size_;
  uint64_t at_ = 0;
  bool closed_ = false;
};

// The firmware file, through the operating system's input file operations.
class FileReader final : public FirmwareReader {
 public:
  explicit FileReader(platform::Os& os) : os_(os) {}
  ~FileReader() { Close(); }
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // False when the file cannot be opened or is not a regular file.
  bool Open(const char* path) {
    Close();
    size_ = 0;
    failed_ = false;
    file_ = os_.openInputFile(path, &size_);
    return file_ != platform::InvalidHandle();
  }
  uint64_t Size() const override { return size_; }
  int32_t Read(uint8_t* buffer, uint32_t length) override {
    // After a read error nothing more of the file is trusted.
    if (file_ == platform::InvalidHandle() || failed_) return -1;
    const int32_t got = os_.readInputFile(file_, buffer, length);
    if (got < 0) failed_ = true;
    return got;
  }
  void Close() override {
    if (file_ != platform::InvalidHandle()) os_.closeInputFile(file_);
    file_ = platform::InvalidHandle();
  }

 private:
  platform::Os& os_;
  platform::Handle file_ = platform::InvalidHandle();
  uint64_t size_ = 0;
  bool failed_ = false;
};
