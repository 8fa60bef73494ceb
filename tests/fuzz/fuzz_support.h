#pragma once
// What the fuzz targets share: the oracle check and a scratch library folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/fault_point.h"
#include "platform/files.h"
#include "platform/module.h"

// A broken oracle: says which and aborts, which both the driver and libFuzzer report with the input.
#define FUZZ_CHECK(cond, ...)                                          \
  do {                                                                 \
    if (!(cond)) {                                                     \
      std::fprintf(stderr, "oracle broken: %s: ", #cond);              \
      std::fprintf(stderr, __VA_ARGS__);                               \
      std::fprintf(stderr, "\n");                                      \
      std::abort();                                                    \
    }                                                                  \
  } while (0)

namespace qzfuzz {

// A folder of this process in the temporary folder that the library takes as its own (its "ini"
// folder holds the configuration files), made at the first call, which also installs the fault
// point that gives the library that folder and refuses it threads.
inline const std::string& LibraryFolder() {
  // Never destroyed: the clean-up at exit and the library's last log lines still use it.
  static const std::string& dir = *new std::string([] {
    const std::string d = plat::TempFolder() + "qzfuzz_" + std::to_string(plat::ProcessId()) + plat::kPathSep;
    plat::CreateFolders(d + "ini");
    plat::CreateFolders(d + "LOG");
    // Boxes (a refused axis key, a missing language file) are kept out of the output.
#if defined(_WIN32)
    plat::SetEnvVar("QZMARK_MSGBOX_LOG", "NUL");
#else
    plat::SetEnvVar("QZMARK_MSGBOX_LOG", "/dev/null");
#endif
    static plat::FaultPoint point;
    point.refuseThread = [] { return true; };  // no target starts the library's threads
    point.moduleDir = [] { return LibraryFolder(); };
    plat::SetFaultPoint(&point);
    std::atexit([] { plat::RemoveFolderTree(LibraryFolder()); });
    return d;
  }());
  return dir;
}

inline std::string IniFile(const std::string& name) { return LibraryFolder() + "ini" + plat::kPathSep + name; }

inline std::string Bytes(const uint8_t* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

}  // namespace qzfuzz
