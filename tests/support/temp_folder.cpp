#include "tests/support/temp_folder.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

namespace testsupport {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = ".";
  // Tests of one program may run in parallel processes: a random name, retried if taken.
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "fwloader_test_%08x%08x", random(), random());
    const fs::path candidate = base / name;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempFolder::File(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

std::string TempFolder::Write(const std::string& name, const std::string& content) const {
  if (path_.empty()) return std::string();
  const std::string path = File(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return std::string();
  const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  if (std::fclose(f) != 0 || !written) return std::string();
  return path;
}

}  // namespace testsupport
