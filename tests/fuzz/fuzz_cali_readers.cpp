// Feeds mutated box text files to the box-file reader and mutated "CaliPara.cl" contents to the
// block reader, its version check and the preparation of the block for the box-correction module.
//
//   qz_fuzz_cali [--seconds S] [--iterations N] [--seed X]
//
// Each input must either be read or be refused with code 11 (box files) / false (blocks); a box
// file that is read must write back to a text that reads to the same records. Anything else, a
// crash or a sanitizer report, is a failure (exit code 1 or the sanitizer's). The run is
// reproducible from its seed, which is printed.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "calibration/box_file.h"
#include "calibration/box_para.h"
#include "calibration/cali_link.h"
#include "frame/errors.h"

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

const char* const kValues[] = {"-1", "0", "1", "2", "3", "999", "1000", "1000000", "1000001", "2147483647",
                               "-2147483648", "4294967295", "99999999999", "nan", "-nan", "inf", "-inf", "1e308",
                               "-0", "0.1", "  7", "0x10", "+5", "1e-320", "", "\x1a", "\r"};

BoxFileRecords SeedBox(int type) {
  BoxFileRecords r;
  r.version = 1;
  r.type = type;
  r.nZSelect = 1;
  for (int i = 0; i < 11; ++i) r.r2D[i] = i + 0.5;
  r.n3DCount = 2;
  r.nRows = 2;
  r.nCols = 2;
  r.dbGridFieldX = r.dbGridFieldY = 50.0;
  r.gridPairs.assign(8, 0.25);
  r.nDiffEnable = 1;
  r.nDiffRows = 1;
  r.diffRows.assign(5, 1.0);
  r.nListCount = 2;
  r.listFirst = {1.0, 2.0};
  r.listSecond = {3.0, 4.0};
  return r;
}

std::vector<std::string> SplitLines(const std::string& t) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < t.size()) {
    size_t end = t.find('\n', start);
    if (end == std::string::npos) end = t.size() - 1;
    lines.push_back(t.substr(start, end + 1 - start));
    start = end + 1;
  }
  return lines;
}

std::string MutateText(const std::string& seed, Rng& rng) {
  std::vector<std::string> lines = SplitLines(seed);
  const size_t n = 1 + rng.Below(6);
  for (size_t k = 0; k < n; ++k) {
    const size_t at = rng.Below(lines.size() + 1);
    switch (rng.Below(7)) {
      case 0:  // one value replaced by a value that tends to matter
        if (at < lines.size()) lines[at] = std::string(kValues[rng.Below(std::size(kValues))]) + "\n";
        break;
      case 1:  // a line inserted
        lines.insert(lines.begin() + at, std::string(kValues[rng.Below(std::size(kValues))]) + "\r\n");
        break;
      case 2:  // a line dropped
        if (at < lines.size()) lines.erase(lines.begin() + at);
        break;
      case 3:  // a byte changed
        if (at < lines.size() && !lines[at].empty()) lines[at][rng.Below(lines[at].size())] = static_cast<char>(rng.Next());
        break;
      case 4:  // a long line (read in pieces of 255 bytes)
        lines.insert(lines.begin() + at, std::string(200 + rng.Below(400), rng.Below(2) ? ' ' : '9') + "\n");
        break;
      case 5:  // the rest cut off
        lines.resize(at);
        break;
      default:  // random bytes
        lines.insert(lines.begin() + at, std::string(rng.Below(40), '\0'));
        for (char& c : lines[at]) c = static_cast<char>(rng.Next());
        break;
    }
  }
  std::string out;
  for (const std::string& l : lines) out += l;
  if (out.size() > 65536) out.resize(65536);
  return out;
}

bool FuzzBoxFile(const std::string& text) {
  BoxFileRecords r;
  try {
    r = ParseBoxFile(text);
  } catch (const MyException& e) {
    if (e.code == RV_UNSUPPORTED_CALI_TYPE) return true;
    std::fprintf(stderr, "box file refused with code %u\n", e.code);
    return false;
  }
  const BoxRecordImage img = PackBoxRecords(r);
  if (img.bytes.size() != img.offList + 88 + 2 * sizeof(void*)) {
    std::fprintf(stderr, "packed records of %zu bytes\n", img.bytes.size());
    return false;
  }
  // What was read writes back to a text that reads the same (compared as text: NaN != NaN).
  const std::string again = BoxFileText(r);
  if (BoxFileText(ParseBoxFile(again)) != again) {
    std::fprintf(stderr, "box file does not read back\n");
    return false;
  }
  return true;
}

bool FuzzBlock(const std::string& bytes) {
  BoxParaBlock block{};
  if (!BoxParaFromFile(bytes, block)) return bytes.size() < kBoxParaSize;  // a short file is no block
  const bool accepted = CheckBoxParaVer(block, 1, false);
  const int32_t a = static_cast<int32_t>(BoxGetU32(block, kBoxVersionA));
  const int32_t b = static_cast<int32_t>(BoxGetU32(block, kBoxVersionB));
  if (accepted != (a >= 1 && b < 4)) {
    std::fprintf(stderr, "version words %d %d judged %d\n", a, b, accepted);
    return false;
  }
  const BoxParaBlock p = CCaliLink::PrepareModuleBlock(block);
  if (!std::equal(p.begin(), p.begin() + kBoxSetA, block.begin()) ||
      !std::equal(p.begin() + kBoxExtension, p.end(), block.begin() + kBoxExtension)) {
    std::fprintf(stderr, "preparing the block changed more than its coefficient sets\n");
    return false;
  }
  return true;
}

std::string MutateBlock(const std::string& seed, Rng& rng) {
  std::string b = seed;
  const size_t n = 1 + rng.Below(16);
  for (size_t k = 0; k < n; ++k) {
    switch (rng.Below(4)) {
      case 0: b[rng.Below(b.size())] = static_cast<char>(rng.Next()); break;
      case 1: {  // one of the words that steer the reader and the preparation
        static const size_t words[] = {kBoxVersionA, kBoxVersionB, kBoxSwapXY, kBoxMirrorX, kBoxMirrorY, kBoxExtension};
        const uint32_t v = rng.Below(2) ? static_cast<uint32_t>(rng.Next()) : (0xA5000000u | static_cast<uint32_t>(rng.Below(4)));
        std::memcpy(&b[words[rng.Below(std::size(words))]], &v, 4);
        break;
      }
      case 2: b.resize(rng.Below(2) ? rng.Below(b.size() + 1) : b.size() + rng.Below(64), '\x5a'); break;
      default: b.append(b.substr(0, rng.Below(b.size() + 1))); break;
    }
    if (b.empty()) b.assign(1, '\0');
  }
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0.0;
  long iterations = 0;
  uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) | 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--iterations")) iterations = std::atol(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--seed")) seed = std::strtoull(argv[i + 1], nullptr, 0) | 1;
  }
  if (seconds <= 0.0 && iterations <= 0) iterations = 1000;
  std::printf("qz_fuzz_cali: seed 0x%llx\n", static_cast<unsigned long long>(seed));
  std::fflush(stdout);

  const std::vector<std::string> boxSeeds = {BoxFileText(SeedBox(0)), BoxFileText(SeedBox(1)), "0\n0\n", ""};
  BoxParaBlock defaults;
  SetBoxParaDefaults(defaults);
  BoxSetU32(defaults, kBoxExtension, 0xA5000003);
  BoxSetU32(defaults, kBoxMirrorX, 1);
  const std::string blockSeed(defaults.begin(), defaults.end());

  Rng rng{seed};
  const auto start = std::chrono::steady_clock::now();
  long done = 0;
  for (;; ++done) {
    if (iterations > 0 && done >= iterations) break;
    if (seconds > 0.0 && std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= seconds) break;
    const std::string text = MutateText(boxSeeds[rng.Below(boxSeeds.size())], rng);
    if (!FuzzBoxFile(text)) {
      std::fprintf(stderr, "failing box file after %ld inputs (seed 0x%llx):\n%s\n", done,
                   static_cast<unsigned long long>(seed), text.c_str());
      return 1;
    }
    if (!FuzzBlock(MutateBlock(blockSeed, rng))) {
      std::fprintf(stderr, "failing block after %ld inputs (seed 0x%llx)\n", done, static_cast<unsigned long long>(seed));
      return 1;
    }
  }
  std::printf("qz_fuzz_cali: %ld box files and %ld blocks, no failure\n", done, done);
  return 0;
}
