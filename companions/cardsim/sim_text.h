#pragma once
// The "key = value" text files of the simulated card: the configuration file (sim_config.cpp) and
// the state file (sim_state.cpp).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace cardsim::text {

std::string Trim(const std::string& s);
std::string Lower(std::string s);
// A 32-bit number, decimal or 0x-hex; the whole text must be the number.
bool Number(const std::string& s, uint32_t& out);
// A finite real with a dot as decimal separator (never the host's locale); the whole text must be
// the number.
bool Real(const std::string& s, double& out);
// Exactly `count` numbers separated by commas.
bool Numbers(const std::string& s, uint32_t* out, size_t count);
// Exactly `count` bytes as hex digits; blanks, ':' and '-' between them are allowed.
bool HexBytes(const std::string& s, uint8_t* out, size_t count);

// What an entry callback makes of one "key = value" line, and the same for a line without '='.
enum class Entry { kTaken, kUnknownKey, kBadValue, kNoEntry };
inline Entry TakenIf(bool ok) { return ok ? Entry::kTaken : Entry::kBadValue; }
using EntryFn = std::function<Entry(const std::string& key, const std::string& value)>;
// A line not taken: its number, why, and its key and value as read (a line without '=': its text).
using RefusedFn = std::function<void(uint32_t line, Entry why, const std::string& key, const std::string& value)>;

// Reads every line of the file at `path`: '#' or ';' begin a comment, blank lines and [sections]
// are skipped, keys are compared in lower case, key and value are trimmed. entry(key, value) says
// whether it took the entry; a line not taken goes to `refused` (when given) and reading goes on
// with the next line. 0: every line taken; 0xFFFFFFFF: the file cannot be read; otherwise the
// number of the first line not taken.
uint32_t ReadEntries(const char* path, const EntryFn& entry, const RefusedFn& refused = nullptr);

}  // namespace cardsim::text
