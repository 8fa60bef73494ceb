#pragma once
// Files and folders. Paths use the platform's separator (plat::kPathSep).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace plat {

bool IsFolder(const std::string& path);
bool FileExists(const std::string& path);  // a regular file
// Creates `path` and every missing folder above it (through the file-system API, never a shell).
// True when the folder exists afterwards.
bool CreateFolders(const std::string& path);
// Names (without folder) of the regular files in `folder` whose names match `pattern`, a wildcard
// with * and ? as the system's file search reads it.
std::vector<std::string> FindFiles(const std::string& folder, const std::string& pattern);
bool DeleteFilePath(const std::string& path);
// Deletes a folder with everything below it (tests and scratch folders).
bool RemoveFolderTree(const std::string& path);
bool CopyFilePath(const std::string& from, const std::string& to);
// Last-write time as calendar time (seconds since 1970 UTC); 0 when the file cannot be found.
int64_t FileLastWriteTime(const std::string& path);
bool SetFileLastWriteTime(const std::string& path, int64_t t);
// The system's folder for temporary files, ending with the separator.
std::string TempFolder();
// A regular file read front to back. Open: nullptr when refused, when the path names no regular
// file (a folder, a device) or when the system cannot open it. Reads never go past the size the
// file had at the open, so a file that grows meanwhile still ends where it ended then.
class InFile {
 public:
  static std::unique_ptr<InFile> Open(const std::string& path);
  ~InFile();
  InFile(const InFile&) = delete;
  InFile& operator=(const InFile&) = delete;
  uint64_t Size() const { return size; }
  // Up to `bytes` bytes into `data`; fewer at the end or on a read failure.
  size_t Read(void* data, size_t bytes);

 private:
  InFile(std::FILE* f, uint64_t size);
  std::FILE* file;
  uint64_t size;
  uint64_t consumed = 0;
};
// Reads or writes a whole file as bytes. Read: false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& out);
bool WriteWholeFile(const std::string& path, const std::string& data);
// A file written front to back through a buffer of its own, handed to the system in large pieces.
// The fault point is asked at the creation and before each piece goes to the system, so a refused
// write shows at the write that fills the buffer, at Flush or at Close.
class OutFile {
 public:
  static constexpr size_t kDefaultBuffer = size_t{1} << 20;
  // Creates (or empties) `path`; nullptr when refused or the system cannot create it.
  static std::unique_ptr<OutFile> Create(const std::string& path, size_t bufferBytes = kDefaultBuffer);
  ~OutFile();  // closes; a failure there goes unreported (use Close to know)
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  // False when a piece could not be written: the file is then left as it is, and every further
  // write fails.
  bool Write(const void* data, size_t bytes);
  bool Flush();
  // Flushes and closes; false when anything written since the creation was lost.
  bool Close();

 private:
  OutFile(std::FILE* f, std::string path, size_t bufferBytes);
  std::FILE* file;
  std::string path;
  std::vector<uint8_t> buffer;
  size_t used = 0;
  bool failed = false;
};

// The id of this process.
uint32_t ProcessId();

}  // namespace plat
