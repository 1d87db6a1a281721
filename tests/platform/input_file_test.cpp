// The Linux binding of the firmware file operations: only a regular file opens, without ever
// waiting on a FIFO, and its descriptor does not outlive an exec.
#include "platform/linux/input_file.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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

struct RefusedCase {
  const char* name;
  std::function<bool(const std::string& path)> make;
};

TEST_F(InputFileTest, AnythingButARegularFileIsRefused) {
  const RefusedCase cases[] = {
      {"missing", [](const std::string&) { return true; }},
      {"a directory", [](const std::string& p) { return mkdir(p.c_str(), 0700) == 0; }},
      // Opening a FIFO for reading waits for a writer unless told not to: no test hang here.
      {"a FIFO without a writer", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }},
      {"/dev/zero", [](const std::string& p) { return symlink("/dev/zero", p.c_str()) == 0; }},
      {"/dev/null", [](const std::string& p) { return symlink("/dev/null", p.c_str()) == 0; }},
      {"a socket",
       [](const std::string& p) {
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         if (fd < 0 || p.size() >= sizeof address.sun_path) return false;
         std::memcpy(address.sun_path, p.c_str(), p.size() + 1);
         const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
         close(fd);
         return bound;
       }},
  };
  int n = 0;
  for (const RefusedCase& c : cases) {
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
