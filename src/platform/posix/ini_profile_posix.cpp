// INI profiles on POSIX: our own engine.
#include "platform/fault_point.h"
#include "platform/ini_profile.h"

namespace plat {

std::string IniReadString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def) {
  return ini_engine::ReadString(path, section, key, def);
}

bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
  if (FileWriteRefused(path)) return false;
  return ini_engine::WriteString(path, section, key, value);
}

}  // namespace plat
