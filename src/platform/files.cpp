// Whole-file reads and writes and buffered output files (the same on every platform: the C
// runtime's byte streams).
#include "platform/files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/detail.h"
#include "platform/fault_point.h"

namespace plat {

std::unique_ptr<InFile> InFile::Open(const std::string& path) {
  if (FileReadRefused(path)) return nullptr;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  uint64_t size = 0;
  if (!detail::RegularFileSize(f, size)) {
    std::fclose(f);
    return nullptr;
  }
  return std::unique_ptr<InFile>(new InFile(f, size));
}

InFile::InFile(std::FILE* f, uint64_t s) : file(f), size(s) {}

InFile::~InFile() { std::fclose(file); }

size_t InFile::Read(void* data, size_t bytes) {
  const uint64_t left = size - consumed;
  const size_t want = bytes < left ? bytes : static_cast<size_t>(left);
  const size_t n = want == 0 ? 0 : std::fread(data, 1, want, file);
  consumed += n;
  return n;
}

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

std::unique_ptr<OutFile> OutFile::Create(const std::string& path, size_t bufferBytes) {
  if (FileWriteRefused(path)) return nullptr;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return nullptr;
  std::setvbuf(f, nullptr, _IONBF, 0);  // the buffer below is the only one
  return std::unique_ptr<OutFile>(new OutFile(f, path, bufferBytes < 1 ? 1 : bufferBytes));
}

OutFile::OutFile(std::FILE* f, std::string p, size_t bufferBytes) : file(f), path(std::move(p)), buffer(bufferBytes) {}

OutFile::~OutFile() {
  if (file) std::fclose(file);
}

bool OutFile::Flush() {
  if (failed || !file) return false;
  if (used == 0) return true;
  if (FileWriteRefused(path) || std::fwrite(buffer.data(), 1, used, file) != used) failed = true;
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
  bool ok = Flush();
  if (file) ok = std::fclose(file) == 0 && ok;
  file = nullptr;
  return ok;
}

}  // namespace plat
