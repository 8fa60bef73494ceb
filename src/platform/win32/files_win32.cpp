// Files and folders on Win32 (the ANSI functions: paths are in the system's code page).
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/detail.h"
#include "platform/fault_point.h"
#include "platform/files.h"

namespace plat {

namespace {

constexpr int64_t kEpochDiff = 116444736000000000LL;  // 1601 -> 1970 in 100 ns

bool IsSep(char c) { return c == '\\' || c == '/'; }

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || IsSep(folder.back())) return folder + name;
  return folder + '\\' + name;
}

// Length of the part of a path that is not a folder to create: "C:\", "\\server\share\" or "\".
size_t RootLength(const std::string& p) {
  if (p.size() >= 2 && p[1] == ':') return (p.size() >= 3 && IsSep(p[2])) ? 3 : 2;
  if (p.size() >= 2 && IsSep(p[0]) && IsSep(p[1])) {
    size_t i = 2, parts = 0;
    while (i < p.size() && parts < 2) {
      if (IsSep(p[i])) ++parts;
      ++i;
    }
    return i;
  }
  return (!p.empty() && IsSep(p[0])) ? 1 : 0;
}

bool WriteAll(HANDLE h, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
    if (!WriteFile(h, data.data() + done, chunk, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

bool RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(Join(path, "*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = Join(path, name);
      if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveTree(child);
      } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryA(child.c_str());  // a link to a folder: the link only
      } else {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
          SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  return RemoveDirectoryA(path.c_str()) != 0;
}

}  // namespace

bool IsFolder(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool detail::RegularFileSize(std::FILE* f, uint64_t& size) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  LARGE_INTEGER n{};
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &n)) return false;
  size = static_cast<uint64_t>(n.QuadPart);
  return true;
}

bool FileExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolders(const std::string& path) {
  if (path.empty() || FileWriteRefused(path)) return false;
  for (size_t i = RootLength(path); i < path.size(); ++i) {
    if (IsSep(path[i]) && i > 0 && !IsSep(path[i - 1]))
      CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
  return IsFolder(path);
}

std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(Join(folder, pattern).c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(fd.cFileName);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  std::sort(names.begin(), names.end());  // the order of the directory is not the same everywhere
  return names;
}

bool DeleteFilePath(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool RemoveFolderTree(const std::string& path) {
  if (!IsFolder(path)) return false;
  return RemoveTree(path);
}

bool CopyFilePath(const std::string& from, const std::string& to) {
  if (FileWriteRefused(to)) return false;
  return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

int64_t FileLastWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d)) return 0;
  const int64_t t = (static_cast<int64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) |
                    d.ftLastWriteTime.dwLowDateTime;
  return (t - kEpochDiff) / 10000000;
}

bool SetFileLastWriteTime(const std::string& path, int64_t t) {
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const uint64_t v = static_cast<uint64_t>(t * 10000000 + kEpochDiff);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  const bool ok = SetFileTime(h, nullptr, nullptr, &ft) != 0;
  CloseHandle(h);
  return ok;
}

std::string TempFolder() {
  char buf[MAX_PATH + 2];
  const DWORD n = GetTempPathA(sizeof buf, buf);
  std::string dir = (n > 0 && n < sizeof buf) ? std::string(buf, n) : std::string("C:\\");
  if (!IsSep(dir.back())) dir += '\\';
  return dir;
}

uint32_t ProcessId() { return GetCurrentProcessId(); }

namespace detail {

bool AppendToFile(const std::string& path, const std::string& data) {
  HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = WriteAll(h, data);
  return CloseHandle(h) && ok;
}

bool ReplaceFileContents(const std::string& path, const std::string& data) {
  static std::atomic<unsigned> counter{0};
  // Beside the file, so that the rename stays within one volume.
  const std::string tmp = path + ".~" + std::to_string(GetCurrentProcessId()) + "." +
                          std::to_string(counter++) + ".tmp";
  HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = WriteAll(h, data);
  ok = CloseHandle(h) && ok;
  if (ok && MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileA(tmp.c_str());
  return false;
}

const char* NewFileLineEnd() { return "\r\n"; }

}  // namespace detail

}  // namespace plat
