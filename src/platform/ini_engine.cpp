// Our INI profile engine: reads and writes INI files the way the Windows profile functions do.
//
// Reading: lines end with "\n" ("\r" before it is dropped). A line whose first non-blank
// character is '[' and that holds a ']' opens a section named by the text up to the first ']'. A
// line holding '=' (and not starting with ';') is a key line: the name is the text before the
// first '=', the value everything after it (';' included: there are no comments after a value).
// Names and values lose their surrounding blanks (spaces and tabs); names match without regard to
// ASCII case; only the first section of a name is searched, and its first key of a name wins; keys
// above the first section header belong to the section with the empty name. A value loses one pair
// of matching surrounding quotes (" or ') and is cut at 255 bytes. A missing file, section or key
// gives the default, less its trailing spaces and cut at 255 bytes.
//
// Writing: the key's value in its line is replaced in place (the name and the blanks after '='
// are kept); a key missing from an existing section is inserted after the section's last key line
// (or after its header); a missing section is appended to the end of the file with the key. New
// lines take the file's line end (CRLF when the file has one, else LF; a new file gets the
// platform's). The file is rewritten through a temporary file and a rename.
#include <cstddef>
#include <string_view>

#include "platform/detail.h"
#include "platform/files.h"
#include "platform/ini_profile.h"

namespace plat::ini_engine {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// One line of the file: [begin, end) is its text without the line end; next is where the
// following line begins.
struct Line {
  size_t begin;
  size_t end;
  size_t next;
};

// Walks the lines of a text.
class LineReader {
 public:
  explicit LineReader(const std::string& text) : text_(text) {}
  bool Next(Line& line) {
    if (pos_ >= text_.size()) return false;
    const size_t nl = text_.find('\n', pos_);
    line.begin = pos_;
    line.next = nl == std::string::npos ? text_.size() : nl + 1;
    line.end = nl == std::string::npos ? text_.size() : nl;
    while (line.end > line.begin && text_[line.end - 1] == '\r') --line.end;
    pos_ = line.next;
    return true;
  }
  std::string_view Text(const Line& line) const {
    return std::string_view(text_).substr(line.begin, line.end - line.begin);
  }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

// A section header: true with its name.
bool ParseSection(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(line.substr(1, close - 1));
  return true;
}

// A key line: true with its name and the offset (within `line`) just after the '='.
bool ParseKey(std::string_view line, std::string_view& name, size_t& afterEq) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return false;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  name = Trim(line.substr(0, eq));
  afterEq = eq + 1;
  return true;
}

std::string ValueOf(std::string_view raw) {
  raw = Trim(raw);
  if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front())
    raw = raw.substr(1, raw.size() - 2);
  return std::string(raw.substr(0, kIniValueMax));
}

std::string DefaultOf(const std::string& def) {
  std::string_view d = def;
  while (!d.empty() && d.back() == ' ') d.remove_suffix(1);
  return std::string(d.substr(0, kIniValueMax));
}

}  // namespace

std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& def) {
  const std::string_view wantSection = Trim(section);
  const std::string_view wantKey = Trim(key);
  std::string text;
  if (wantKey.empty() || !ReadWholeFile(path, text)) return DefaultOf(def);

  LineReader lines(text);
  Line line;
  bool inSection = wantSection.empty();  // keys above the first header have no section name
  while (lines.Next(line)) {
    const std::string_view s = lines.Text(line);
    std::string_view name;
    size_t afterEq;
    if (ParseSection(s, name)) {
      if (inSection) break;  // only the first section of the name is searched
      inSection = EqualNoCase(name, wantSection);
    } else if (inSection && ParseKey(s, name, afterEq) && EqualNoCase(name, wantKey)) {
      return ValueOf(s.substr(afterEq));
    }
  }
  return DefaultOf(def);
}

bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value) {
  const std::string_view wantSection = Trim(section);
  const std::string_view wantKey = Trim(key);
  if (wantKey.empty()) return false;

  std::string text;
  if (FileExists(path) && !ReadWholeFile(path, text)) return false;
  const char* eol = text.find("\r\n") != std::string::npos ? "\r\n"
                    : text.find('\n') != std::string::npos ? "\n"
                                                           : detail::NewFileLineEnd();

  LineReader lines(text);
  Line line;
  bool inSection = wantSection.empty();
  bool sectionFound = inSection;
  Line last{};  // the section's last key line, or its header (or nothing: the top of the file)
  while (lines.Next(line)) {
    const std::string_view s = lines.Text(line);
    std::string_view name;
    size_t afterEq;
    if (ParseSection(s, name)) {
      if (inSection) break;
      inSection = EqualNoCase(name, wantSection);
      if (inSection) {
        sectionFound = true;
        last = line;
      }
    } else if (inSection && ParseKey(s, name, afterEq)) {
      if (EqualNoCase(name, wantKey)) {
        size_t valueBegin = line.begin + afterEq;
        while (valueBegin < line.end && IsBlank(text[valueBegin])) ++valueBegin;
        text.replace(valueBegin, line.end - valueBegin, value);
        return detail::ReplaceFileContents(path, text);
      }
      last = line;
    }
  }

  std::string keyLine;
  keyLine.append(wantKey).append("=").append(value).append(eol);
  if (sectionFound) {
    // After a last line without a line end, that line gets one first.
    if (last.next > 0 && text[last.next - 1] != '\n') keyLine.insert(0, eol);
    text.insert(last.next, keyLine);
  } else {
    if (!text.empty() && text.back() != '\n') text += eol;
    text.append("[").append(wantSection).append("]").append(eol).append(keyLine);
  }
  return detail::ReplaceFileContents(path, text);
}

}  // namespace plat::ini_engine
