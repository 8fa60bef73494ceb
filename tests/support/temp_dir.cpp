#include "support/temp_dir.h"

#include <atomic>
#include <stdexcept>

#include "frame/conv.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/module.h"

namespace qztest {

std::string NativePath(const std::string& p) {
  std::string r = p;
  for (char& c : r)
    if (c == '/') c = plat::kPathSep;
  return r;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string p = plat::TempFolder() +
                    StrFormat("qztest_%u_%u_%u", plat::ProcessId(), counter++,
                              static_cast<unsigned>(plat::SystemClock().TickMs()));
    if (plat::IsFolder(p)) continue;
    if (plat::CreateFolders(p)) {
      path_ = p + plat::kPathSep;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  if (!path_.empty()) plat::RemoveFolderTree(path_.substr(0, path_.size() - 1));
}

std::string TempDir::File(const std::string& rel) const { return path_ + NativePath(rel); }

}  // namespace qztest
