#pragma once
// The one place where a program that links the core makes the platform fail or relocates the
// library's folder. Nothing is installed in a loaded library: the point is null and every check
// below is one pointer load. A program installs a point before it starts the work it wants to
// disturb and keeps the point alive while it is installed; a callback may be called from any thread.
#include <string>

namespace plat {

struct FaultPoint {
  // Asked before a thread is created: true refuses the thread, as the system does when it has
  // none to give (Thread::Start returns false, nothing runs).
  bool (*refuseThread)() = nullptr;
  // Asked before a file is written (IniWriteString, WriteWholeFile, CopyFilePath, a File opened for
  // writing and each of its writes and flushes, an OutFile's creation and each piece it hands to the
  // system) or a folder created (CreateFolders): true fails the operation as the system would, with
  // nothing changed.
  bool (*refuseFileWrite)(const std::string& path) = nullptr;
  // The library's own folder in place of the folder of the module file; empty: the module's own.
  std::string (*moduleDir)() = nullptr;
};

// Installs `point` (not owned); nullptr removes it.
void SetFaultPoint(const FaultPoint* point);
// The installed point, or nullptr.
const FaultPoint* CurrentFaultPoint();

inline bool ThreadRefused() {
  const FaultPoint* p = CurrentFaultPoint();
  return p && p->refuseThread && p->refuseThread();
}

inline bool FileWriteRefused(const std::string& path) {
  const FaultPoint* p = CurrentFaultPoint();
  return p && p->refuseFileWrite && p->refuseFileWrite(path);
}

}  // namespace plat
