#pragma once
// What the fuzz targets share: the oracle check and a scratch library folder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame/ini_cfg.h"
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
  static const std::string& dir =
      *new std::string(plat::TempFolder() + "qzfuzz_" + std::to_string(plat::ProcessId()) + plat::kPathSep);
  [[maybe_unused]] static const bool installed = [] {
    plat::CreateFolders(dir + "ini");
    plat::CreateFolders(dir + "LOG");
    // Boxes (a refused axis key, a missing language file) are kept out of the output.
#if defined(_WIN32)
    plat::SetEnvVar("QZMARK_MSGBOX_LOG", "NUL");
#else
    plat::SetEnvVar("QZMARK_MSGBOX_LOG", "/dev/null");
#endif
    static plat::FaultPoint point;
    point.refuseThread = [] { return true; };  // no target starts the library's threads
    point.moduleDir = [] { return dir; };
    plat::SetFaultPoint(&point);
    // The main configuration took its path when the program started, in the program's folder: it
    // takes it again, in this one, where the targets stage their files.
    g_MainCfg = CIniCfg("QZMarkPara.cfg");
    std::atexit([] { plat::RemoveFolderTree(dir); });
    return true;
  }();
  return dir;
}

inline std::string IniFile(const std::string& name) { return LibraryFolder() + "ini" + plat::kPathSep + name; }

inline std::string Bytes(const uint8_t* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

// The value of `key` when the file opens with the lines "[section]" and "key=value" and the value is
// plain (letters, digits, '.', '_', '-', blanks inside, at most 255 bytes): the value that any reader
// of the file finds there. Empty otherwise. A target checks it to show that its input is what the
// library read.
inline std::string OpeningValue(const std::string& file, const std::string& section, const std::string& key) {
  const std::string head = "[" + section + "]\n" + key + "=";
  if (file.compare(0, head.size(), head) != 0) return std::string();
  const std::string v = file.substr(head.size(), file.find('\n', head.size()) - head.size());
  const bool plain =
      v.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._- ") == std::string::npos;
  return plain && !v.empty() && v.size() <= 255 && v.front() != ' ' && v.back() != ' ' ? v : std::string();
}

}  // namespace qzfuzz
