#pragma once
// The library's two text logs: the daily log g_InfoLog ("Log_MM_DD.log" in the log folder, a new
// file after midnight at the first line written) and the error log g_ErrorLog ("Error.log").
// Lines: "%-9.9s[%04d-%02d-%02d %02d:%02d:%02d.%03d] %s:%s\n" with the level tag, the local time,
// the writer's name and the message (formatted by VFormat: reals with the dot whatever the host's
// locale). A log that cannot be opened drops its lines silently, and so does a line the system
// refuses to write; the next line is tried again.
#include <atomic>
#include <cstdint>
#include <string>

#include "frame/conv.h"
#include "platform/files.h"
#include "platform/lock.h"

enum LogLevel : int { LOG_TRACE = 0, LOG_INFO = 1, LOG_WARNING = 2, LOG_ERROR = 3, LOG_FATAL = 4 };

class CLogFile {
 public:
  CLogFile() = default;
  ~CLogFile();
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;

  // Minimum level 1, append mode; an empty name makes the log daily. Then Open.
  void Init(const std::string& name);
  // Builds the path, creates its folder when missing, opens the file.
  void Open(const std::string& name);
  void Close();

  // Writes one line when `level` reaches the minimum level. A message longer than 8000 characters
  // is replaced by "TOO LONG,CAN NOT LOG!".
  void Write(const char* func, int level, const char* format, ...)
      QZ_PRINTF(4, 5);
  // The same with a finished text (a per-cent sign in it is not a format directive).
  void WriteText(const char* func, int level, const std::string& text);

  void SetMinLevel(int level) { nMinLevel = level; }
  int MinLevel() const { return nMinLevel; }
  std::string Path();

 private:
  void OpenLocked(const std::string& name) REQUIRES(lock_);
  void WriteLine(const char* func, int level, const char* msg) REQUIRES(lock_);

  plat::Lock lock_;
  std::atomic<int> nMinLevel{1};
  std::string szPath GUARDED_BY(lock_);
  int nOpenMode GUARDED_BY(lock_) = 0;
  plat::File file GUARDED_BY(lock_);
  uint8_t bByDate GUARDED_BY(lock_) = 0;
  int openedDay GUARDED_BY(lock_) = 0;  // day of the month when the daily file was opened
  char msgBuf[8002] GUARDED_BY(lock_) = {};
  char lineBuf[8192] GUARDED_BY(lock_) = {};
};

extern CLogFile g_InfoLog;
extern CLogFile g_ErrorLog;

// Writes `text` at INFO to the daily log and at ERROR to the error log, both with `tag`: the way a
// failure is recorded.
void LogFailure(const char* tag, const std::string& text);

// The last-write time of a file as calendar time; 0 when it cannot be found.
int64_t GetFileLocalTime(const std::string& path);
// Deletes files of `folder` matching `pattern` (which begins with the separator, "/*.log") whose
// names have at least 8 characters, contain "Log", "io", "monitor" or "info", and are more than ten
// days old.
void DeleteOldLogs(const std::string& folder, const std::string& pattern);
