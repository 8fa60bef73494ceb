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

// Reads the lines of the file at `path`: '#' or ';' begin a comment, blank lines and [sections]
// are skipped, keys are compared in lower case, key and value are trimmed. entry(key, value)
// answers false for an entry it does not understand. 0: every line read; 0xFFFFFFFF: the file
// cannot be read; otherwise the number of the first line not understood (reading stops there).
uint32_t ReadEntries(const char* path, const std::function<bool(const std::string&, const std::string&)>& entry);

}  // namespace cardsim::text
