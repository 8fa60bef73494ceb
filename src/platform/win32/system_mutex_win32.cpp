// The system-wide named mutex on Win32: a named mutex object. Its existence is what counts; it is
// never waited for.
#include <windows.h>

#include "platform/system_mutex.h"

namespace plat {

SystemMutex::Result SystemMutex::Create(const std::string& name) {
  Close();
  HANDLE h = CreateMutexA(nullptr, FALSE, name.c_str());
  if (!h) {
    // A mutex of that name made by another user can exist without being open to us.
    return GetLastError() == ERROR_ACCESS_DENIED ? Result::AlreadyExists : Result::Failed;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(h);
    return Result::AlreadyExists;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return Result::Created;
}

void SystemMutex::Close() {
  if (handle_ == kNone) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNone;
}

}  // namespace plat
