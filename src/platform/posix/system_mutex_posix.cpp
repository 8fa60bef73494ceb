// The system-wide named mutex on POSIX: an exclusive, non-blocking flock on a file named after the
// mutex in the temporary folder. Each Create opens the file anew, and flocks taken through two
// opens conflict even within one process, so a second Create of a held name is told that it
// already exists, as with a Win32 named mutex. The kernel drops the lock when the process ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/system_mutex.h"

namespace plat {

namespace {

// The file name for a mutex name: letters, digits, '-' and '.' stay; every other byte becomes
// '_' and two hex digits, so that two names never share a file.
std::string LockFileName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "qzmark_mutex_";
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '_';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out + ".lock";
}

}  // namespace

SystemMutex::Result SystemMutex::Create(const std::string& name) {
  Close();
  const std::string path = TempFolder() + LockFileName(name);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);  // another user's file
  if (fd < 0) return Result::Failed;
  int rc;
  while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? Result::AlreadyExists : Result::Failed;
  }
  handle_ = fd;
  return Result::Created;
}

void SystemMutex::Close() {
  if (handle_ == kNone) return;
  // The file stays: removing it could let a second holder lock a new file of the same name.
  ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

}  // namespace plat
