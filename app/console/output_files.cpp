#include "app/console/output_files.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// A path with a final component that does not exist (yet): its folder resolved, the component
// kept. A symbolic link is followed even when it dangles, since writing through it creates its
// target. Without a resolvable folder the path stays as given, made absolute.
std::string Resolved(std::string path) {
  for (int links = 0; links < 40; ++links) {
    char full[PATH_MAX];
    if (realpath(path.c_str(), full) != nullptr) return full;
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length <= 0) break;
    target[length] = '\0';
    const size_t slash = path.rfind('/');
    path = (target[0] == '/' || slash == std::string::npos) ? std::string(target)
                                                            : path.substr(0, slash + 1) + target;
  }
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char full[PATH_MAX];
  if (realpath(folder.c_str(), full) != nullptr) {
    const std::string base = full;
    return base == "/" ? "/" + name : base + "/" + name;
  }
  if (path[0] == '/') return path;
  char cwd[PATH_MAX];
  return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  if (stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }
  return Resolved(a) == Resolved(b);
}

bool CheckOutputFiles(const std::string& firmwareFile, const std::string& traceFile,
                      const std::string& simFlashFile, std::string& error) {
  if (!traceFile.empty() && SameFile(traceFile, firmwareFile)) {
    error = "--trace names the firmware file " + firmwareFile;
    return false;
  }
  if (!simFlashFile.empty() && SameFile(simFlashFile, firmwareFile)) {
    error = "--sim-flash names the firmware file " + firmwareFile;
    return false;
  }
  if (!traceFile.empty() && !simFlashFile.empty() && SameFile(traceFile, simFlashFile)) {
    error = "--trace and --sim-flash name the same file";
    return false;
  }
  return true;
}

int OpenOutputFile(const std::string& path, const char* option, std::string& error) {
  // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of holding the program,
  // where no signal would end the wait; O_NOCTTY: a terminal never becomes the controlling one.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = std::string(option) + " " + path + ": " +
            (errno == ENXIO ? "a FIFO that nothing reads" : std::strerror(errno));
    return -1;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    error = std::string(option) + " " + path + ": not a regular file";
    return -1;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (ftruncate(fd, 0) != 0 || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    error = std::string(option) + " " + path + ": " + std::strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}
