// The Linux binding of the firmware file operations: only a regular file opens, without ever
// waiting on a FIFO, and its descriptor does not outlive an exec.
#include "platform/linux/input_file.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/not_a_file.h"
#include "tests/support/temp_folder.h"

namespace {

using namespace platform::linux_file;

class InputFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.path().empty()); }
  std::string Path(const std::string& name) const { return folder_.File(name); }
  void Write(const std::string& path, const std::string& content) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
  }

  testsupport::TempFolder folder_;
};

// The descriptor this process holds open on `path`, or -1.
int DescriptorOf(const std::string& path) {
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  int found = -1;
  while (dirent* entry = readdir(fds)) {
    char target[4096];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) found = std::atoi(entry->d_name);
  }
  closedir(fds);
  return found;
}

TEST_F(InputFileTest, ARegularFileOpensMeasuredAndCloseOnExec) {
  const std::string path = Path("fw.bin");
  std::string content(10000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  Write(path, content);
  uint64_t size = 0;
  platform::Handle file = OpenInputFile(path.c_str(), &size);
  ASSERT_NE(file, platform::InvalidHandle());
  EXPECT_EQ(size, content.size());
  const int fd = DescriptorOf(path);
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "a child process must not inherit it";
  std::string read;
  char buffer[4096];
  for (int32_t got; (got = ReadInputFile(file, buffer, sizeof buffer)) > 0;) read.append(buffer, got);
  EXPECT_EQ(read, content);
  EXPECT_EQ(ReadInputFile(file, buffer, sizeof buffer), 0);
  CloseInputFile(file);
  EXPECT_EQ(DescriptorOf(path), -1);
}

TEST_F(InputFileTest, AnythingButARegularFileIsRefused) {
  std::vector<testsupport::NotAFile> cases = {
      {"missing", [](const std::string&) { return true; }}};
  for (const testsupport::NotAFile& kind : testsupport::NotRegularFiles()) cases.push_back(kind);
  int n = 0;
  for (const testsupport::NotAFile& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path("x" + std::to_string(n++) + ".hex");
    ASSERT_TRUE(c.make(path));
    uint64_t size = 12345;
    EXPECT_EQ(OpenInputFile(path.c_str(), &size), platform::InvalidHandle());
    EXPECT_EQ(DescriptorOf(path), -1) << "nothing left open";
  }
  EXPECT_EQ(OpenInputFile(nullptr, nullptr), platform::InvalidHandle());
}

}  // namespace
