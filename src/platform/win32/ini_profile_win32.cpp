// INI profiles on Win32: the system's profile functions.
#include <windows.h>

#include "platform/fault_point.h"
#include "platform/ini_profile.h"

namespace plat {

std::string IniReadString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def) {
  char buf[kIniValueMax + 1];
  const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf,
                                           sizeof buf, path.c_str());
  return std::string(buf, n < sizeof buf ? n : kIniValueMax);
}

bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
  if (FileWriteRefused(path)) return false;
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) != 0;
}

}  // namespace plat
