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

bool RefuseFileWrite(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return !g_failPrefix.empty() && path.compare(0, g_failPrefix.size(), g_failPrefix) == 0;
}

bool RefuseFileRead(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return !g_failReadPrefix.empty() && path.compare(0, g_failReadPrefix.size(), g_failReadPrefix) == 0;
}

std::string ModuleDir() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_moduleDir;
}

void Install() {
  static const plat::FaultPoint point{RefuseThread, RefuseFileWrite, ModuleDir, RefuseFileRead};
  plat::SetFaultPoint(&point);
}

}  // namespace

void SetModuleDir(const std::string& dir) {
  Install();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_moduleDir = dir;
}

void FailThreadCreation(bool fail) {
  Install();
  g_failThreads.store(fail);
}

void FailFileWrites(const std::string& prefix) {
  Install();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_failPrefix = prefix;
}

void FailFileReads(const std::string& prefix) {
  Install();
  std::lock_guard<std::mutex> lock(g_mutex);
  g_failReadPrefix = prefix;
}

}  // namespace qztest
