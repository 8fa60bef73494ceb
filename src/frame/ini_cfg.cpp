#include "frame/ini_cfg.h"

#include "frame/conv.h"
#include "frame/log_file.h"
#include "platform/fault_point.h"
#include "platform/ini_profile.h"
#include "platform/module.h"

namespace {

// The marker of a per-card folder: "<sep>QuenloDLL".
std::string CardFolderMarker() { return std::string(1, plat::kPathSep) + "QuenloDLL"; }

// Finds the marker in `moduleDir`; on a match sets `prefix` (cut just after the separator that
// opens the match) and `c` (the character right after the marker).
bool FindCardFolder(const std::string& moduleDir, std::string& prefix, char& c) {
  const std::string marker = CardFolderMarker();
  size_t pos = moduleDir.find(marker);
  if (pos == std::string::npos) return false;
  prefix = moduleDir.substr(0, pos + 1);
  size_t after = pos + marker.size();
  c = after < moduleDir.size() ? moduleDir[after] : '\0';
  return true;
}

std::string WithChar(const std::string& s, char c) { return c ? s + c : s; }

}  // namespace

std::string GetModuleDir() {
  if (const plat::FaultPoint* p = plat::CurrentFaultPoint(); p && p->moduleDir) {
    std::string dir = p->moduleDir();
    if (!dir.empty()) {
      if (dir.back() != plat::kPathSep) dir += plat::kPathSep;
      return dir;
    }
  }
  std::string path = plat::OwnModulePath();
  size_t cut = path.find_last_of(plat::kPathSep);
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string ResolveConfigPath(const std::string& moduleDir, const std::string& fileName) {
  const char sep = plat::kPathSep;
  std::string prefix;
  char c = 0;
  if (FindCardFolder(moduleDir, prefix, c))
    return WithChar(prefix + "ini" + sep + "Quenlo", c) + sep + fileName;
  return moduleDir + "ini" + sep + fileName;
}

std::string ResolveLogDir(const std::string& moduleDir) {
  const char sep = plat::kPathSep;
  std::string prefix;
  char c = 0;
  if (FindCardFolder(moduleDir, prefix, c)) return WithChar(prefix + "LOG" + sep + "Card", c) + sep;
  return moduleDir + "LOG" + sep + "Card" + sep;
}

std::string BuildLogDir() { return ResolveLogDir(GetModuleDir()); }

std::string BuildLogFilePath(const std::string& fileName) { return BuildLogDir() + fileName; }

CIniCfg::CIniCfg(const std::string& fileName) : path(ResolveConfigPath(GetModuleDir(), fileName)) {}

int32_t CIniCfg::GetInt(const char* section, const char* key, int32_t def, uint8_t bRead) const {
  if (!bRead) return def;
  return CrtAtoi(plat::IniReadString(path, section, key, StrFormat("%d", def)));
}

double CIniCfg::GetDouble(const char* section, const char* key, uint8_t bRead, double def) const {
  if (!bRead) return def;
  return CrtAtof(plat::IniReadString(path, section, key, StrFormat("%.8f", def)));
}

std::string CIniCfg::GetString(const char* section, const char* key, const std::string& def) const {
  return plat::IniReadString(path, section, key, def);
}

bool CIniCfg::WriteString(const char* section, const char* key, const std::string& value) const {
  return plat::IniWriteString(path, section, key, value);
}

CIniCfg g_MainCfg("QZMarkPara.cfg");

int32_t ReadMainInt(const char* section, const char* key, int32_t def) {
  return g_MainCfg.GetInt(section, key, def, 1);
}

double ReadMainDouble(const char* section, const char* key, double def) {
  return g_MainCfg.GetDouble(section, key, 1, def);
}

std::string ReadMainString(const char* section, const char* key, const std::string& def) {
  return g_MainCfg.GetString(section, key, def);
}

void WriteMainCfgInt(const char* section, const char* key, int32_t value) {
  if (!g_MainCfg.WriteString(section, key, StrFormat("%d", value)))
    g_ErrorLog.Write("WriteMainCfgInt", LOG_ERROR, "[%s] %s=%d cannot be written to %s", section, key,
                     static_cast<int>(value), g_MainCfg.Path().c_str());
}
