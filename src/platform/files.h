#pragma once
// Files and folders. Paths use the platform's separator (plat::kPathSep).
#include <cstdint>
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
// The id of this process.
uint32_t ProcessId();

}  // namespace plat
