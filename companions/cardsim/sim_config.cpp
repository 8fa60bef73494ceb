// The configuration file of the simulated card (named by CARDSIM_CONFIG, or given to
// cardsim_load_config): "key = value" lines for a host without test code.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "card_model.h"
#include "sim_text.h"

namespace cardsim {

namespace text {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool Number(const std::string& s, uint32_t& out) {
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (*end != '\0' || v > 0xFFFFFFFFull) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

bool Real(const std::string& s, double& out) {
  const char* end = s.data() + s.size();
  const auto r = std::from_chars(s.data(), end, out);
  return r.ec == std::errc() && r.ptr == end && std::isfinite(out);
}

bool Numbers(const std::string& s, uint32_t* out, size_t count) {
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t comma = i + 1 < count ? s.find(',', pos) : std::string::npos;
    if (i + 1 < count && comma == std::string::npos) return false;
    if (!Number(Trim(s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos)), out[i]))
      return false;
    pos = comma + 1;
  }
  return true;
}

bool HexBytes(const std::string& s, uint8_t* out, size_t count) {
  std::string digits;
  for (char c : s) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (c != ' ' && c != ':' && c != '-') {
      return false;
    }
  }
  if (digits.size() != 2 * count) return false;
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
  return true;
}

uint32_t ReadEntries(const char* path, const EntryFn& entry, const RefusedFn& refused) {
  if (!path) return 0xFFFFFFFFu;
  std::ifstream f(path, std::ios::binary);
  if (!f) return 0xFFFFFFFFu;
  std::string line;
  uint32_t n = 0, first = 0;
  while (std::getline(f, line)) {
    ++n;
    if (const size_t c = line.find_first_of("#;"); c != std::string::npos) line.erase(c);
    line = Trim(line);
    if (line.empty() || line[0] == '[') continue;
    const size_t eq = line.find('=');
    const std::string key = eq == std::string::npos ? line : Lower(Trim(line.substr(0, eq)));
    const std::string value = eq == std::string::npos ? std::string() : Trim(line.substr(eq + 1));
    const Entry e = eq == std::string::npos ? Entry::kNoEntry : entry(key, value);
    if (e == Entry::kTaken) continue;
    if (first == 0) first = n;
    if (refused) refused(n, e, key, value);
  }
  return first;
}

}  // namespace text

namespace {

// A relative picture path is taken from the folder of the configuration file.
std::string BesideConfig(const char* configPath, const std::string& path) {
  const bool absolute = path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':');
  const std::string config(configPath);
  const size_t sep = config.find_last_of("/\\");
  if (absolute || sep == std::string::npos) return path;
  return config.substr(0, sep + 1) + path;
}

// A size of the picture's field: a real above 0.
bool Size(const std::string& s, double& out) {
  double v = 0;
  if (!text::Real(text::Trim(s), v) || v <= 0) return false;
  out = v;
  return true;
}

}  // namespace

uint32_t CardModel::ApplyConfigFile(const char* path, bool report) {
  using namespace text;
  // Keys with a number: the largest value each takes and where it goes.
  using Set = void (*)(CardConfig&, CardState&, uint32_t);
  constexpr uint32_t kAny = 0xFFFFFFFFu;
  static const struct {
    const char* key;
    uint32_t max;
    Set set;
  } kNumbers[] = {
      {"card_version", kAny, [](CardConfig& c, CardState&, uint32_t v) {
         c.hwWord = (c.hwWord & ~kVersionBitsMask) | VersionBits(v);
       }},
      {"hw_word", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.hwWord = v; }},
      {"hw_features", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.hwFeatures = v; }},
      {"hw_info2_0", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.hwInfo2[0] = v; }},
      {"hw_info2_1", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.hwInfo2[1] = v; }},
      {"usb_startup", 2, [](CardConfig& c, CardState&, uint32_t v) { c.usbStartup = v; }},
      {"inputs", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.inputs = v; }},
      {"ad", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.ad = v; }},
      {"alarms", kAny, [](CardConfig&, CardState& s, uint32_t v) { s.alarms = v; }},
      {"laser_alarm", kAny, [](CardConfig&, CardState& s, uint32_t v) { s.laserAlarm = v & 63; }},
      {"secondary", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.secondaryAnswer = v & 0xFF; }},
      {"secondary_mode", 2, [](CardConfig& c, CardState&, uint32_t v) { c.secondaryMode = v; }},
      {"link_level", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.linkLevel = v & 3; }},
      {"latency_us", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.latencyUs = v; }},
      {"speed", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.speedPercent = v; }},
      {"consume", CARDSIM_CONSUME_STALLED, [](CardConfig& c, CardState&, uint32_t v) { c.consumeMode = v; }},
      {"start_bytes", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.startBytes = v; }},
      {"present", kAny, [](CardConfig& c, CardState&, uint32_t v) { c.present = v; }},
      {"laser_type", 7, [](CardConfig& c, CardState&, uint32_t v) { c.laserType = v; }},
  };
  const auto entry = [this, path](const std::string& key, const std::string& value) {
    const std::string low = Lower(value);
    uint32_t v = 0;
    const bool num = Number(value, v);
    if (key == "svg") {
      cfg_.svgPath = value.empty() ? std::string() : BesideConfig(path, value);  // empty: no picture
      return Entry::kTaken;
    }
    if (key == "field_mm") {
      const size_t comma = value.find(',');
      double x = 0, y = 0;
      if (!Size(value.substr(0, comma), x)) return Entry::kBadValue;
      if (comma == std::string::npos) {
        y = x;
      } else if (!Size(value.substr(comma + 1), y)) {
        return Entry::kBadValue;
      }
      cfg_.svgField.fieldX = x;
      cfg_.svgField.fieldY = y;
      return Entry::kTaken;
    }
    if (key == "half_range_mm") return TakenIf(Size(value, cfg_.svgField.halfRange));
    if (key == "card_type") {
      if (low == "usb" || (num && v == 0)) {
        cfg_.type = CardType::Usb;
      } else if (low == "pcie" || (num && v == 1)) {
        cfg_.type = CardType::Pcie;
      } else {
        return Entry::kBadValue;
      }
      return Entry::kTaken;
    }
    if (key == "unique_id") return TakenIf(HexBytes(value, cfg_.uniqueId, 7));
    if (key == "usb_firmware") {
      uint32_t b[2] = {};
      if (!Numbers(value, b, 2) || b[0] > 255 || b[1] > 255) return Entry::kBadValue;
      cfg_.usbFirmware[0] = static_cast<uint8_t>(b[0]);
      cfg_.usbFirmware[1] = static_cast<uint8_t>(b[1]);
      return Entry::kTaken;
    }
    for (const auto& k : kNumbers) {
      if (key != k.key) continue;
      if (!num || v > k.max) return Entry::kBadValue;
      k.set(cfg_, st_, v);
      return Entry::kTaken;
    }
    return Entry::kUnknownKey;
  };
  // A host names the file by CARDSIM_CONFIG and sees no answer: what the card did not take is said
  // on standard error, one line each, and every other line still holds.
  const RefusedFn refused = [path](uint32_t line, Entry why, const std::string& key, const std::string& value) {
    std::string what;
    if (why == Entry::kUnknownKey) {
      what = "unknown key \"" + key + "\"";
    } else if (why == Entry::kBadValue) {
      what = "value \"" + value + "\" of " + key + " not understood or out of range";
    } else {
      what = "\"" + key + "\" is not a \"key = value\" line";
    }
    std::fprintf(stderr, "cardsim: CARDSIM_CONFIG %s line %u: %s; every other line is applied\n", path, line,
                 what.c_str());
  };
  const uint32_t rc = ReadEntries(path, entry, report ? refused : RefusedFn());
  if (report && rc == 0xFFFFFFFFu)
    std::fprintf(stderr, "cardsim: CARDSIM_CONFIG %s cannot be read; the card keeps its defaults\n", path);
  return rc;
}

}  // namespace cardsim
