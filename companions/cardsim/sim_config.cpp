// The configuration file of the simulated card (named by CARDSIM_CONFIG, or given to
// cardsim_load_config): "key = value" lines for a host without test code.
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>

#include "card_model.h"

namespace cardsim {

namespace {

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

// A 32-bit number, decimal or 0x-hex; the whole text must be the number.
bool Number(const std::string& s, uint32_t& out) {
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (*end != '\0' || v > 0xFFFFFFFFull) return false;
  out = static_cast<uint32_t>(v);
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

}  // namespace

uint32_t CardModel::ApplyConfigFile(const char* path) {
  if (!path) return 0xFFFFFFFFu;
  std::ifstream f(path);
  if (!f) return 0xFFFFFFFFu;
  std::string line;
  uint32_t n = 0;
  while (std::getline(f, line)) {
    ++n;
    if (const size_t c = line.find_first_of("#;"); c != std::string::npos) line.erase(c);
    line = Trim(line);
    if (line.empty() || line[0] == '[') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return n;
    const std::string key = Lower(Trim(line.substr(0, eq)));
    const std::string text = Trim(line.substr(eq + 1));
    const std::string low = Lower(text);
    uint32_t v = 0;
    const bool num = Number(text, v);
    if (key == "card_type") {
      if (low == "usb" || (num && v == 0)) {
        cfg_.type = CardType::Usb;
      } else if (low == "pcie" || (num && v == 1)) {
        cfg_.type = CardType::Pcie;
      } else {
        return n;
      }
    } else if (key == "unique_id") {
      if (!HexBytes(text, cfg_.uniqueId, 7)) return n;
    } else if (key == "usb_firmware") {
      const size_t comma = text.find(',');
      uint32_t b0 = 0, b1 = 0;
      if (comma == std::string::npos || !Number(Trim(text.substr(0, comma)), b0) ||
          !Number(Trim(text.substr(comma + 1)), b1) || b0 > 255 || b1 > 255)
        return n;
      cfg_.usbFirmware[0] = static_cast<uint8_t>(b0);
      cfg_.usbFirmware[1] = static_cast<uint8_t>(b1);
    } else if (!num) {
      return n;
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
      cfg_.present = v != 0;
    } else {
      return n;
    }
  }
  return 0;
}

}  // namespace cardsim
