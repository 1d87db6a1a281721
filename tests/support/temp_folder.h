// A private folder for the files a test writes, removed with everything in it when the owner
// goes, so that a run of the suite leaves nothing behind in the temporary directory.
#pragma once

#include <string>

namespace testsupport {

class TempFolder {
 public:
  // Creates a new, empty folder in the temporary directory ($TMPDIR, else the system's).
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the folder; the file need not exist.
  std::string File(const std::string& name) const;
  // Writes `content` to `name` inside the folder and returns its path (empty if it failed).
  std::string Write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

}  // namespace testsupport
