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
// Reads or writes a whole file as bytes. Read: false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& out);
bool WriteWholeFile(const std::string& path, const std::string& data);
// A file read or written piece by piece (logs, record logs, read-back and offline files), opened
// with a C runtime mode ("rb", "wb", "ab", "at+", "w", ...). Opening for anything but reading, and
// every write, ask the fault point first: a refused or failed open or write reports false and
// writes nothing. Closed by Close or at the end of its life.
class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Closes what was open, then opens `path`; false when it cannot be opened.
  bool Open(const std::string& path, const char* mode);
  bool IsOpen() const { return f_ != nullptr; }
  // All `size` bytes or false (also when not open).
  bool Write(const void* data, size_t size);
  bool Write(const std::string& text) { return Write(text.data(), text.size()); }
  // Up to `size` bytes; 0 at the end, on a failure or when not open.
  size_t Read(void* data, size_t size);
  // Hands what is buffered to the system: false when it refuses it.
  bool Flush();
  // True when every write since the open went through and the close did too; closing a file that
  // is not open is true.
  bool Close();

 private:
  std::FILE* f_ = nullptr;
  std::string path_;
  bool failed_ = false;
};

// A File written front to back through a buffer of its own, handed to the system in large pieces.
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
  explicit OutFile(size_t bufferBytes);
  File file;
  std::vector<uint8_t> buffer;
  size_t used = 0;
  bool failed = false;
};

// The id of this process.
uint32_t ProcessId();

}  // namespace plat
