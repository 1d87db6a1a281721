#include "tests/support/not_a_file.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace testsupport {
namespace {

bool MakeSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return bound;
}

}  // namespace

const std::vector<NotAFile>& NotRegularFiles() {
  static const std::vector<NotAFile> kinds = {
      {"a directory", [](const std::string& p) { return mkdir(p.c_str(), 0700) == 0; }},
      // Opening a FIFO for reading waits for a writer unless told not to: no test hang here.
      {"a FIFO without a writer", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }},
      {"/dev/zero under a firmware name",
       [](const std::string& p) { return symlink("/dev/zero", p.c_str()) == 0; }},
      {"/dev/null under a firmware name",
       [](const std::string& p) { return symlink("/dev/null", p.c_str()) == 0; }},
      {"a socket", MakeSocket},
  };
  return kinds;
}

}  // namespace testsupport
