#pragma once
// A fresh folder for one test, removed with everything in it when the test ends.
#include <string>

namespace qztest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder, ending with the separator.
  const std::string& Path() const { return path_; }
  // A path below the folder; '/' in `rel` becomes the platform's separator.
  std::string File(const std::string& rel) const;

 private:
  std::string path_;
};

// '/' -> the platform's separator.
std::string NativePath(const std::string& p);

}  // namespace qztest
