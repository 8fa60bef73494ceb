#include "support/faults.h"

#include <atomic>
#include <mutex>

#include "platform/fault_point.h"

namespace qztest {

namespace {

// The callbacks may run on the library's threads while a test changes a setting.
std::mutex g_mutex;
std::string g_moduleDir;
std::string g_failPrefix;
std::string g_failReadPrefix;
std::atomic<bool> g_failThreads{false};

bool RefuseThread() { return g_failThreads.load(); }

// Whether `path` starts with the setting `prefix` (none when empty).
bool Matches(const std::string& prefix, const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return !prefix.empty() && path.compare(0, prefix.size(), prefix) == 0;
}

bool RefuseFileWrite(const std::string& path) { return Matches(g_failPrefix, path); }
bool RefuseFileRead(const std::string& path) { return Matches(g_failReadPrefix, path); }

std::string ModuleDir() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_moduleDir;
}

void Install() {
  static const plat::FaultPoint point{RefuseThread, RefuseFileWrite, ModuleDir, RefuseFileRead};
  plat::SetFaultPoint(&point);
}

// Installs the fault point and changes one of its settings.
void Set(std::string& setting, const std::string& value) {
  Install();
  std::lock_guard<std::mutex> lock(g_mutex);
  setting = value;
}

}  // namespace

void SetModuleDir(const std::string& dir) { Set(g_moduleDir, dir); }

void FailThreadCreation(bool fail) {
  Install();
  g_failThreads.store(fail);
}

void FailFileWrites(const std::string& prefix) { Set(g_failPrefix, prefix); }
void FailFileReads(const std::string& prefix) { Set(g_failReadPrefix, prefix); }

}  // namespace qztest
