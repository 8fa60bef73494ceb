// The configuration file of the simulated card (named by CARDSIM_CONFIG, or given to
// cardsim_load_config): "key = value" lines for a host without test code.
#include <cctype>
#include <charconv>
#include <cmath>
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

uint32_t ReadEntries(const char* path, const std::function<bool(const std::string&, const std::string&)>& entry) {
  if (!path) return 0xFFFFFFFFu;
  std::ifstream f(path, std::ios::binary);
  if (!f) return 0xFFFFFFFFu;
  std::string line;
  uint32_t n = 0;
  while (std::getline(f, line)) {
    ++n;
    if (const size_t c = line.find_first_of("#;"); c != std::string::npos) line.erase(c);
    line = Trim(line);
    if (line.empty() || line[0] == '[') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos || !entry(Lower(Trim(line.substr(0, eq))), Trim(line.substr(eq + 1)))) return n;
  }
  return 0;
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

uint32_t CardModel::ApplyConfigFile(const char* path) {
  using namespace text;
  return ReadEntries(path, [this, path](const std::string& key, const std::string& value) {
    const std::string low = Lower(value);
    uint32_t v = 0;
    const bool num = Number(value, v);
    if (key == "svg") {
      cfg_.svgPath = value.empty() ? std::string() : BesideConfig(path, value);  // empty: no picture
    } else if (key == "field_mm") {
      const size_t comma = value.find(',');
      double x = 0, y = 0;
      if (!Size(value.substr(0, comma), x)) return false;
      if (comma == std::string::npos) {
        y = x;
      } else if (!Size(value.substr(comma + 1), y)) {
        return false;
      }
      cfg_.svgField.fieldX = x;
      cfg_.svgField.fieldY = y;
    } else if (key == "half_range_mm") {
      return Size(value, cfg_.svgField.halfRange);
    } else if (key == "card_type") {
      if (low == "usb" || (num && v == 0)) {
        cfg_.type = CardType::Usb;
      } else if (low == "pcie" || (num && v == 1)) {
        cfg_.type = CardType::Pcie;
      } else {
        return false;
      }
    } else if (key == "unique_id") {
      return HexBytes(value, cfg_.uniqueId, 7);
    } else if (key == "usb_firmware") {
      uint32_t b[2] = {};
      if (!Numbers(value, b, 2) || b[0] > 255 || b[1] > 255) return false;
      cfg_.usbFirmware[0] = static_cast<uint8_t>(b[0]);
      cfg_.usbFirmware[1] = static_cast<uint8_t>(b[1]);
    } else if (!num) {
      return false;
    } else if (key == "card_version") {
      cfg_.hwWord = (cfg_.hwWord & ~kVersionBitsMask) | VersionBits(v);
    } else if (key == "hw_word") {
      cfg_.hwWord = v;
    } else if (key == "hw_features") {
      cfg_.hwFeatures = v;
    } else if (key == "hw_info2_0") {
      cfg_.hwInfo2[0] = v;
    } else if (key == "hw_info2_1") {
      cfg_.hwInfo2[1] = v;
    } else if (key == "usb_startup" && v <= 2) {
      cfg_.usbStartup = v;
    } else if (key == "inputs") {
      cfg_.inputs = v;
    } else if (key == "ad") {
      cfg_.ad = v;
    } else if (key == "alarms") {
      st_.alarms = v;
    } else if (key == "laser_alarm") {
      st_.laserAlarm = v & 63;
    } else if (key == "secondary") {
      cfg_.secondaryAnswer = v & 0xFF;
    } else if (key == "secondary_mode" && v <= 2) {
      cfg_.secondaryMode = v;
    } else if (key == "link_level") {
      cfg_.linkLevel = v & 3;
    } else if (key == "latency_us") {
      cfg_.latencyUs = v;
    } else if (key == "speed") {
      cfg_.speedPercent = v;
    } else if (key == "consume" && v <= CARDSIM_CONSUME_STALLED) {
      cfg_.consumeMode = v;
    } else if (key == "start_bytes") {
      cfg_.startBytes = v;
    } else if (key == "present") {
      cfg_.present = v;
    } else if (key == "laser_type" && v <= 7) {
      cfg_.laserType = v;
    } else {
      return false;
    }
    return true;
  });
}

}  // namespace cardsim
