#include "frame/log_file.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "frame/ini_cfg.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/module.h"

namespace {

constexpr int kMaxMessage = 8000;
constexpr int64_t kOldLogSeconds = 864000;  // ten days

const char* LevelTag(int level) {
  switch (level) {
    case LOG_TRACE: return "[TRACE]";
    case LOG_INFO: return "[INFO]";
    case LOG_WARNING: return "[WARNING]";
    case LOG_ERROR: return "[ERROR]";
    default: return "[FATAL]";
  }
}

// A name whose second character is a colon is a drive path; on POSIX a name that begins with the
// separator is absolute as well.
bool IsAbsoluteName(const std::string& name) {
  if (name.size() >= 2 && name[1] == ':') return true;
#if !defined(_WIN32)
  if (!name.empty() && name[0] == '/') return true;
#endif
  return false;
}

std::string HostProgramDir() {
  std::string exe = plat::HostProgramPath();
  size_t cut = exe.find_last_of(plat::kPathSep);
  return cut == std::string::npos ? std::string() : exe.substr(0, cut);
}

}  // namespace

CLogFile g_InfoLog;
CLogFile g_ErrorLog;

CLogFile::~CLogFile() { Close(); }

void CLogFile::Init(const std::string& name) {
  plat::LockGuard g(lock_);
  nMinLevel = 1;
  nOpenMode = 0;
  bByDate = name.empty() ? 1 : 0;
  OpenLocked(name);
}

void CLogFile::Open(const std::string& name) {
  plat::LockGuard g(lock_);
  OpenLocked(name);
}

void CLogFile::Close() {
  plat::LockGuard g(lock_);
  file.Close();
}

std::string CLogFile::Path() {
  plat::LockGuard g(lock_);
  return szPath;
}

void CLogFile::OpenLocked(const std::string& nameIn) {
  file.Close();
  std::string name = nameIn;
  if (bByDate) {
    plat::LocalTime now = plat::LocalNow();
    openedDay = now.day;
    char daily[32];
    std::snprintf(daily, sizeof daily, "Log_%02d_%02d.log", now.month, now.day);
    name = BuildLogDir() + daily;
  }
  if (IsAbsoluteName(name)) {
    szPath = name;
  } else if (!name.empty() && name[0] == plat::kPathSep) {
    szPath = HostProgramDir() + name;
  } else {
    szPath = HostProgramDir() + plat::kPathSep + name;
  }
  size_t cut = szPath.find_last_of(plat::kPathSep);
  if (cut != std::string::npos && cut > 0) {
    std::string folder = szPath.substr(0, cut);
    if (!plat::IsFolder(folder)) plat::CreateFolders(folder);
  }
  file.Open(szPath, nOpenMode == 0 ? "at+" : "w");
}

void CLogFile::Write(const char* func, int level, const char* format, ...) {
  if (level < nMinLevel) return;
  plat::LockGuard g(lock_);
  va_list ap;
  va_start(ap, format);
  int n = VFormat(msgBuf, sizeof msgBuf, format, ap);
  va_end(ap);
  const char* msg = (n < 0 || n > kMaxMessage) ? "TOO LONG,CAN NOT LOG!" : msgBuf;
  WriteLine(func, level, msg);
}

void CLogFile::WriteText(const char* func, int level, const std::string& text) {
  if (level < nMinLevel) return;
  plat::LockGuard g(lock_);
  const char* msg = text.size() > static_cast<size_t>(kMaxMessage) ? "TOO LONG,CAN NOT LOG!" : text.c_str();
  WriteLine(func, level, msg);
}

void CLogFile::WriteLine(const char* func, int level, const char* msg) {
  plat::LocalTime now = plat::LocalNow();
  if (bByDate && now.day != openedDay) OpenLocked(std::string());
  if (!file.IsOpen()) return;
  // Formatted into the log's own buffer: a line allocates nothing.
  const int n = std::snprintf(lineBuf, sizeof lineBuf, "%-9.9s[%04d-%02d-%02d %02d:%02d:%02d.%03d] %s:%s\n",
                              LevelTag(level), now.year, now.month, now.day, now.hour, now.minute, now.second,
                              now.millisecond, func ? func : "", msg);
  if (n <= 0) return;
  if (file.Write(lineBuf, std::min(static_cast<size_t>(n), sizeof lineBuf - 1))) file.Flush();
}

void LogFailure(const char* tag, const std::string& text) {
  g_InfoLog.WriteText(tag, LOG_INFO, text);
  g_ErrorLog.WriteText(tag, LOG_ERROR, text);
}

int64_t GetFileLocalTime(const std::string& path) { return plat::FileLastWriteTime(path); }

void DeleteOldLogs(const std::string& folder, const std::string& pattern) {
  if (!plat::IsFolder(folder)) return;
  const int64_t now = plat::Now();
  // The pattern begins with the separator ("/*.log"); the search takes the name part.
  std::string namePattern = pattern;
  if (!namePattern.empty() && namePattern[0] == plat::kPathSep) namePattern.erase(0, 1);
  for (const std::string& name : plat::FindFiles(folder, namePattern)) {
    if (name.size() < 8) continue;
    bool marked = name.find("Log") != std::string::npos || name.find("io") != std::string::npos ||
                  name.find("monitor") != std::string::npos || name.find("info") != std::string::npos;
    if (!marked) continue;
    std::string path = folder + plat::kPathSep + name;
    if (now - GetFileLocalTime(path) > kOldLogSeconds) plat::DeleteFilePath(path);
  }
}
