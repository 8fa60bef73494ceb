// The INI engine and the configuration's numeric conversions. The input is a file, then (after NUL
// bytes) a section name, a key name and a value to write.
// Oracle: after the write, the key reads back as written whenever the value is one the INI rules
// keep (at most 255 bytes, no surrounding blanks or quotes, no line break; on Win32 plain ASCII, which
// the system's code page keeps); every other key of the
// file reads as before; a whole number written as "%d" reads back through GetInt and a real
// written as "%.17g" through GetDouble.
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "frame/conv.h"
#include "frame/ini_cfg.h"
#include "fuzz_support.h"
#include "platform/ini_profile.h"

namespace {

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t\r\n") + 1 - b);
}

// A name the INI rules keep: the input's bytes mapped onto letters, digits and '_'.
std::string Name(const std::string& raw, const char* fallback) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
  std::string n;
  for (char c : raw.substr(0, 40)) n += kAlphabet[static_cast<unsigned char>(c) % (sizeof kAlphabet - 1)];
  return n.empty() ? fallback : n;
}

[[maybe_unused]] bool Plain(const std::string& v) {
  for (char c : v)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

bool Kept(const std::string& v) {
  if (v.size() > 255 || v.find_first_of("\r\n") != std::string::npos) return false;
#if defined(_WIN32)
  // The system's functions pass the text through the ANSI code page: only plain ASCII is sure to
  // come back byte for byte.
  if (!Plain(v)) return false;
#endif
  if (v.empty()) return true;
  const auto blankOrQuote = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
  return !blankOrQuote(v.front()) && !blankOrQuote(v.back());
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < 4) parts.emplace_back();
    else parts.back() += static_cast<char>(data[i]);
  }
  parts.resize(4);
  const std::string section = Name(parts[1], "S"), key = Name(parts[2], "k"), value = parts[3];
  qzfuzz::LibraryFolder();
  const CIniCfg cfg("fuzz.ini");
  FUZZ_CHECK(plat::WriteWholeFile(cfg.Path(), parts[0]), "cannot stage the file");

  // The keys of the file, as a reader would see its lines (at most 16).
  std::vector<std::pair<std::string, std::string>> keys;
  std::string cur;
  size_t start = 0;
  while (start < parts[0].size() && keys.size() < 16) {
    size_t end = parts[0].find('\n', start);
    if (end == std::string::npos) end = parts[0].size();
    const std::string line = Trim(parts[0].substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line[0] == '[' && line.find(']') != std::string::npos) {
      cur = Trim(line.substr(1, line.find(']') - 1));
    } else if (line.find('=') != std::string::npos && line.find('=') > 0) {
      const std::string k = Trim(line.substr(0, line.find('=')));
#if defined(_WIN32)
      // The system's functions read nameless sections and names with control bytes (0x1A ends a
      // text file) their own way.
      if (cur.empty() || !Plain(cur) || !Plain(k)) continue;
#endif
      keys.emplace_back(cur, k);
    }
  }
  const std::string kMissing = "\x01missing";
  std::vector<std::string> before;
  for (const auto& [s, k] : keys) before.push_back(plat::IniReadString(cfg.Path(), s, k, kMissing));

  FUZZ_CHECK(cfg.WriteString(section.c_str(), key.c_str(), value), "the write failed");
  if (Kept(value)) {
    const std::string got = cfg.GetString(section.c_str(), key.c_str(), kMissing);
    FUZZ_CHECK(got == value, "[%s] %s wrote \"%s\", read \"%s\"", section.c_str(), key.c_str(), value.c_str(), got.c_str());
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    if (SameName(keys[i].first, section) && SameName(keys[i].second, key)) continue;
    const std::string got = plat::IniReadString(cfg.Path(), keys[i].first, keys[i].second, kMissing);
    FUZZ_CHECK(got == before[i], "[%s] %s changed from \"%s\" to \"%s\"", keys[i].first.c_str(), keys[i].second.c_str(),
               before[i].c_str(), got.c_str());
  }

  // Numbers: the value's bytes as a whole number and as a real.
  uint64_t bits = 0;
  std::memcpy(&bits, value.data(), std::min(value.size(), sizeof bits));
  const int32_t n = static_cast<int32_t>(bits);
  cfg.WriteString(section.c_str(), "n", StrFormat("%d", n));
  FUZZ_CHECK(cfg.GetInt(section.c_str(), "n", n == 0 ? 1 : 0) == n, "the whole number %d does not read back", n);
  double d = 0.0;
  std::memcpy(&d, &bits, sizeof d);
  if (std::isfinite(d)) {
    cfg.WriteString(section.c_str(), "d", StrFormat("%.17g", d));
    const double got = cfg.GetDouble(section.c_str(), "d", 1, d == 0.0 ? 1.0 : 0.0);
    FUZZ_CHECK(got == d, "the real %.17g read back as %.17g", d, got);
  }
  return 0;
}
