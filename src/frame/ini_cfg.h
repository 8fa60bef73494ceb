#pragma once
// Configuration files and the per-card folder rules.
//
// All files live relative to the folder of the library file itself. Several cards are served from
// one machine by one copy of the library per card in folders named "QuenloDLL<c>": when the
// library's folder contains "<sep>QuenloDLL", the character c right after it selects the
// configuration folder "<prefix>ini<sep>Quenlo<c><sep>" and the log folder
// "<prefix>LOG<sep>Card<c><sep>", where the prefix is the library's folder cut just after the
// separator that opens the match (the first match decides). Otherwise "<folder>ini<sep>" and
// "<folder>LOG<sep>Card<sep>" below the library's own folder are used. Paths are not limited in
// length.
#include <cstdint>
#include <string>

// The library's own folder, ending with the separator. A program that links the core may give the
// library another folder through the fault point (platform/fault_point.h).
std::string GetModuleDir();

// The rules as pure functions of the module folder.
std::string ResolveConfigPath(const std::string& moduleDir, const std::string& fileName);
std::string ResolveLogDir(const std::string& moduleDir);

// The log folder of this library (ending with the separator) and a file in it. Neither creates it.
std::string BuildLogDir();
std::string BuildLogFilePath(const std::string& fileName);

// An INI file in the configuration folder.
class CIniCfg {
 public:
  explicit CIniCfg(const std::string& fileName);
  virtual ~CIniCfg() = default;
  CIniCfg(const CIniCfg&) = default;
  CIniCfg& operator=(const CIniCfg&) = default;

  const std::string& Path() const { return path; }

  // bRead 0 returns the default without touching the file. Otherwise the default is formatted as
  // text ("%d" / "%.8f"), the key is read (at most 255 bytes) and converted like the C runtime.
  int32_t GetInt(const char* section, const char* key, int32_t def, uint8_t bRead = 1) const;
  double GetDouble(const char* section, const char* key, uint8_t bRead, double def) const;
  std::string GetString(const char* section, const char* key, const std::string& def) const;
  bool WriteString(const char* section, const char* key, const std::string& value) const;

 private:
  std::string path;
};

// "QZMarkPara.cfg": the file of every configuration read and write of the library.
extern CIniCfg g_MainCfg;

// Reads of the main configuration with a default (the default formatted as text, as GetInt and
// GetDouble do).
int32_t ReadMainInt(const char* section, const char* key, int32_t def);
double ReadMainDouble(const char* section, const char* key, double def);
std::string ReadMainString(const char* section, const char* key, const std::string& def);
// Writes "%d" of `value` into the main configuration; a refused write is logged in the error log
// (the file keeps its other keys).
void WriteMainCfgInt(const char* section, const char* key, int32_t value);
