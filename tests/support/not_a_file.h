// What a firmware path may name besides a regular file (POSIX builds): a directory, a FIFO
// without a writer, endless or empty devices, a socket. Each must be refused when opened, before
// a byte is read, and none may stop the program.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct NotAFile {
  const char* name;
  // Creates it at `path`; false when that failed.
  bool (*make)(const std::string& path);
};

const std::vector<NotAFile>& NotRegularFiles();

}  // namespace testsupport
