// The seeded mutation loop that runs one fuzz target without a fuzzing engine: every seed as it is, then
// mutations of the seeds until the time or the count is spent; a broken oracle aborts, as under libFuzzer.
//   qz_fuzz_<target> [--seconds S] [--iterations N] [--seed X] [--max-len L] <seed folder or file>...
// A run repeats from its printed seed; each input is written to "fuzz-failure-<target>" before it runs.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

struct Rng {
  uint64_t s;
  uint64_t Next() {  // xorshift64*
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 2685821657736338717ull;
  }
  size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }
};

// Texts that tend to matter to a reader of numbers and lines.
const char* const kTokens[] = {"-1", "0", "1", "2", "3", "7", "255", "256", "999", "1000", "65535", "65536",
                               "1000000", "2147483647", "-2147483648", "4294967295", "99999999999", "0x10",
                               "nan", "-nan", "inf", "-inf", "1e308", "-0", "0.1", "1e-320", "  7", "+5", "",
                               "=", "[", "]", "\"", ";", "#", "\r", "\n", "\x1a", "\xff", "\xe4\xb8\xad"};

// The lines of a text, each with its line end.
std::vector<std::string> Lines(const std::string& t) {
  std::vector<std::string> lines;
  for (size_t start = 0, end = 0; start < t.size(); start = end + 1) {
    end = std::min(t.find('\n', start), t.size() - 1);
    lines.push_back(t.substr(start, end + 1 - start));
  }
  return lines;
}

void MutateOnce(std::string& b, const std::vector<std::string>& seeds, Rng& rng) {
  const size_t at = rng.Below(b.size() + 1);
  const std::string token = kTokens[rng.Below(std::size(kTokens))];
  switch (rng.Below(11)) {
    case 0:  // one byte changed
      if (!b.empty()) b[rng.Below(b.size())] = static_cast<char>(rng.Next());
      break;
    case 1:  // one bit flipped
      if (!b.empty()) b[rng.Below(b.size())] ^= static_cast<char>(1u << rng.Below(8));
      break;
    case 2:  // a token inserted
      b.insert(at, token);
      break;
    case 3: {  // a run of digits or of a letter replaced by a token
      size_t e = at;
      while (e < b.size() && (std::isalnum(static_cast<unsigned char>(b[e])) || b[e] == '.' || b[e] == '-')) ++e;
      b.replace(at, e - at, token);
      break;
    }
    case 4:  // a piece cut out
      b.erase(at, rng.Below(b.size() - at + 1));
      break;
    case 5: {  // a piece repeated
      const std::string piece = b.substr(at, rng.Below(64));
      for (size_t k = rng.Below(8) + 1; k > 0; --k) b.insert(at, piece);
      break;
    }
    case 6: {  // spliced with another seed
      const std::string& other = seeds[rng.Below(seeds.size())];
      b = b.substr(0, at) + other.substr(rng.Below(other.size() + 1));
      break;
    }
    case 7: {  // a 32-bit value written little-endian
      static const uint32_t kWords[] = {0, 1, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0xA5, 0x5110A55Au,
                                        0x51100001u, 0x51800001u, 0x51A00001u, 0x54100002u, 0x51A10001u,
                                        0x57000001u, 0x57FFFFFFu, 0x50000000u};
      const uint32_t w = rng.Below(2) ? kWords[rng.Below(std::size(kWords))] : static_cast<uint32_t>(rng.Next());
      const size_t p = at & ~size_t{3};
      b.resize(std::max(b.size(), p + 4));
      for (int i = 0; i < 4; ++i) b[p + i] = static_cast<char>(w >> (8 * i));
      break;
    }
    case 8: {  // a line dropped, repeated or moved
      std::vector<std::string> lines = Lines(b);
      if (lines.empty()) break;
      const size_t i = rng.Below(lines.size()), j = rng.Below(lines.size());
      switch (rng.Below(3)) {
        case 0: lines.erase(lines.begin() + i); break;
        case 1: lines.insert(lines.begin() + j, lines[i]); break;
        default: std::swap(lines[i], lines[j]); break;
      }
      b = std::accumulate(lines.begin(), lines.end(), std::string());
      break;
    }
    case 9:  // a long line (read in pieces)
      b.insert(at, std::string(200 + rng.Below(400), rng.Below(2) ? ' ' : '9'));
      break;
    default:  // random bytes
      for (size_t k = rng.Below(16) + 1; k > 0; --k) b.insert(b.begin() + static_cast<long>(rng.Below(b.size() + 1)), static_cast<char>(rng.Next()));
      break;
  }
}

void AddSeeds(const std::string& path, std::vector<std::string>& seeds) {
  std::string data;
  if (plat::IsFolder(path)) {
    for (const std::string& name : plat::FindFiles(path, "*")) AddSeeds(path + plat::kPathSep + name, seeds);
  } else if (plat::ReadWholeFile(path, data)) {
    seeds.push_back(data);
  } else {
    std::fprintf(stderr, "cannot read seed %s\n", path.c_str());
    std::exit(2);
  }
}

std::string g_failureFile;

int Run(const std::string& input) {
  plat::WriteWholeFile(g_failureFile, input);
  return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0.0;
  long iterations = 0;
  size_t maxLen = 65536;
  uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) | 1;
  std::vector<std::string> seeds;
  std::string name = argv[0];
  name = name.substr(name.find_last_of("/\\") + 1);
  for (int i = 1; i < argc; ++i) {
    const bool value = i + 1 < argc;
    if (value && !std::strcmp(argv[i], "--seconds")) seconds = std::strtod(argv[++i], nullptr);
    else if (value && !std::strcmp(argv[i], "--iterations")) iterations = std::strtol(argv[++i], nullptr, 10);
    else if (value && !std::strcmp(argv[i], "--seed")) seed = std::strtoull(argv[++i], nullptr, 0) | 1;
    else if (value && !std::strcmp(argv[i], "--max-len")) maxLen = std::strtoul(argv[++i], nullptr, 10);
    else AddSeeds(argv[i], seeds);
  }
  if (seeds.empty()) seeds.emplace_back();
  if (seconds <= 0.0 && iterations <= 0) iterations = 1000;
  g_failureFile = "fuzz-failure-" + name;
  std::printf("%s: %zu seeds, seed 0x%llx\n", name.c_str(), seeds.size(), static_cast<unsigned long long>(seed));
  std::fflush(stdout);

  for (const std::string& s : seeds) Run(s);
  Rng rng{seed};
  const auto start = std::chrono::steady_clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  long done = 0;
  for (; (iterations <= 0 || done < iterations) && (seconds <= 0.0 || elapsed() < seconds); ++done) {
    std::string input = seeds[rng.Below(seeds.size())];
    for (size_t k = rng.Below(6) + 1; k > 0; --k) MutateOnce(input, seeds, rng);
    if (input.size() > maxLen) input.resize(maxLen);
    Run(input);
  }
  plat::DeleteFilePath(g_failureFile);
  std::printf("%s: %ld inputs, no failure\n", name.c_str(), done);
  return 0;
}
