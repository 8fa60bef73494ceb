// Whole-file reads and writes and files written piece by piece (the same on every platform: the C
// runtime's byte streams).
#include "platform/files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/detail.h"
#include "platform/fault_point.h"

namespace plat {

bool ReadWholeFile(const std::string& path, std::string& out) {
  out.clear();
  if (FileReadRefused(path)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[16384];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  if (!ok) out.clear();
  return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  if (FileWriteRefused(path)) return false;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

bool File::Open(const std::string& path, const char* mode) {
  Close();
  failed_ = false;
  if (std::strchr(mode, 'r') == nullptr || std::strchr(mode, '+') != nullptr) {
    if (FileWriteRefused(path)) return false;
  } else if (FileReadRefused(path)) {
    return false;
  }
  f_ = std::fopen(path.c_str(), mode);
  path_ = path;
  return f_ != nullptr;
}

bool File::Write(const void* data, size_t size) {
  if (!f_ || FileWriteRefused(path_) || std::fwrite(data, 1, size, f_) != size) {
    failed_ = true;
    return false;
  }
  return true;
}

size_t File::Read(void* data, size_t size) { return f_ ? std::fread(data, 1, size, f_) : 0; }

bool File::RegularSize(uint64_t& size) const { return f_ && detail::RegularFileSize(f_, size); }

bool File::Flush() {
  if (!f_ || FileWriteRefused(path_) || std::fflush(f_) != 0) {
    failed_ = true;
    return false;
  }
  return true;
}

bool File::Close() {
  if (!f_) return true;
  const bool ok = std::fclose(f_) == 0 && !failed_;
  f_ = nullptr;
  failed_ = false;
  return ok;
}

std::unique_ptr<OutFile> OutFile::Create(const std::string& path, size_t bufferBytes) {
  std::unique_ptr<OutFile> out(new OutFile(bufferBytes < 1 ? 1 : bufferBytes));
  if (!out->file.Open(path, "wb")) return nullptr;
  return out;
}

OutFile::OutFile(size_t bufferBytes) : buffer(bufferBytes) {}

OutFile::~OutFile() = default;

bool OutFile::Flush() {
  if (failed || !file.IsOpen()) return false;
  if (used == 0) return true;
  if (!file.Write(buffer.data(), used) || !file.Flush()) failed = true;
  used = 0;
  return !failed;
}

bool OutFile::Write(const void* data, size_t bytes) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (!failed && bytes > 0) {
    const size_t n = std::min(bytes, buffer.size() - used);
    std::memcpy(buffer.data() + used, p, n);
    used += n;
    p += n;
    bytes -= n;
    if (used == buffer.size()) Flush();
  }
  return !failed;
}

bool OutFile::Close() {
  const bool flushed = Flush();
  const bool ok = file.Close() && flushed;
  return ok;
}

}  // namespace plat
