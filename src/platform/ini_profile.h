#pragma once
// INI profile files: read a string with a default, write a string.
//
// Behaviour (the system's profile functions on Win32; our own engine elsewhere, which behaves the
// same): section and key names match without regard to case and the first match wins; blanks around
// names and values and one pair of surrounding quotes are removed; a value is cut at 255 bytes; a
// missing file or key gives the default; a key that is present with an empty value gives the empty
// text; nothing after a value is treated as a comment. A write replaces the key's line in place, or
// appends the key to its section, or appends the section to the file; it goes through a temporary
// file and a rename. A write into a folder that does not exist fails.
#include <string>

namespace plat {

constexpr size_t kIniValueMax = 255;

std::string IniReadString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def);
bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);

// Our own engine, built on every platform (the POSIX implementation of the two functions above).
namespace ini_engine {
std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& def);
bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value);
}  // namespace ini_engine

}  // namespace plat
