// Files and folders on POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/detail.h"
#include "platform/fault_point.h"
#include "platform/files.h"
#include "platform/module.h"

namespace plat {

namespace {

// '*' matches any run of characters, '?' exactly one; everything else itself (with case).
bool WildcardMatch(std::string_view pat, std::string_view name) {
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pat.size() && (pat[p] == '?' || pat[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pat.size() && pat[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pat.size() && pat[p] == '*') ++p;
  return p == pat.size();
}

// The system's file search reads a final ".*" as "any extension or none", so "*.*" finds every
// file and "name.*" finds "name" as well.
bool FileNameMatch(std::string_view pat, std::string_view name) {
  if (WildcardMatch(pat, name)) return true;
  return pat.size() >= 2 && pat.substr(pat.size() - 2) == ".*" &&
         WildcardMatch(pat.substr(0, pat.size() - 2), name);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + '/' + name;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool RemoveTree(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0;
  if (DIR* d = ::opendir(path.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string_view n = e->d_name;
      if (n == "." || n == "..") continue;
      RemoveTree(Join(path, e->d_name));
    }
    ::closedir(d);
  }
  return ::rmdir(path.c_str()) == 0;
}

}  // namespace

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool detail::RegularFileSize(std::FILE* f, uint64_t& size) {
  struct stat st {};
  if (::fstat(::fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CreateFolders(const std::string& path) {
  if (path.empty() || FileWriteRefused(path)) return false;
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i] == '/' && path[i - 1] != '/') ::mkdir(path.substr(0, i).c_str(), 0777);
  }
  ::mkdir(path.c_str(), 0777);
  return IsFolder(path);
}

std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!d) return names;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || !FileNameMatch(pattern, name)) continue;
    if (e->d_type == DT_REG || (e->d_type != DT_DIR && FileExists(Join(folder, name))))
      names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());  // the order of the directory is not the same everywhere
  return names;
}

bool DeleteFilePath(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RemoveFolderTree(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return RemoveTree(path);
}

bool CopyFilePath(const std::string& from, const std::string& to) {
  std::string data;
  return ReadWholeFile(from, data) && WriteWholeFile(to, data);
}

int64_t FileLastWriteTime(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtime);
}

bool SetFileLastWriteTime(const std::string& path, int64_t t) {
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the access time stays
  times[1].tv_sec = static_cast<time_t>(t);
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::string TempFolder() {
  std::string dir = GetEnvVar("TMPDIR");
  if (dir.empty()) dir = "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

uint32_t ProcessId() { return static_cast<uint32_t>(::getpid()); }

namespace detail {

bool AppendToFile(const std::string& path, const std::string& data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, data);
  return ::close(fd) == 0 && ok;
}

bool ReplaceFileContents(const std::string& path, const std::string& data) {
  static std::atomic<unsigned> counter{0};
  // Beside the file, so that the rename stays within one file system.
  const std::string tmp =
      path + ".~" + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
  struct stat st {};
  const bool existed = ::stat(path.c_str(), &st) == 0;
  const mode_t mode = existed ? (st.st_mode & 07777) : 0666;

  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data);
  if (ok && existed) ::fchmod(fd, mode);  // keeps its permissions, whatever the umask
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) return true;
  ::unlink(tmp.c_str());
  return false;
}

const char* NewFileLineEnd() { return "\n"; }

}  // namespace detail

}  // namespace plat
