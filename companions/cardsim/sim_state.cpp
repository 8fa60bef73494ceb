// The state file of the simulated card (named by CARDSIM_STATE): what a host process that starts
// after another one died finds on the card.
//
// A "key = value" text file in the style of the configuration file. It holds:
// - the configuration tests set: hw_word (the card version is in it), hw_features, hw_info2_0/1,
//   unique_id, usb_firmware, usb_startup, usb_not_ready_polls, present, inputs, ad, sticky_alarms,
//   sticky_run, status_flags, secondary, secondary_mode, link_level, link_error, link_flags,
//   fail_reasons, link_counter, latency_us, speed, consume, start_bytes, flash_busy, and one line
//   "answer = command, p1, p2, r0, r1" per fixed answer;
// - the card status: run_state, task_id, sub_state, offline, paused, debug, alarms, laser_alarm,
//   outputs, da_0, da_1, and "flag_N = value, count" for each flag bit N of command 82 ever sent;
// - the run: phase (CARDSIM_PHASE_...), layout, end_code, sub_code, last_count;
// - the channels: "reply = word, r0, r1" while a reply waits, bulk_pending.
// The flash lives in a file of its own beside it, the state file's name plus ".flash" (binary, see
// FlashModel::Serialize), written when the flash changed; a missing or broken flash file leaves the
// flash as it is (blank at power-up).
// Not kept: the card type (the library file's own), the driver handle and the lost state, the
// counters, the frame log, the traces, the FIFO's contents, faults, the secondary-card link
// handshake. Loading replaces the flags, the fixed answers and the waiting reply as a whole; a
// scalar key the file lacks keeps its value. A file with a line not understood is not applied.
//
// Writing goes through a temporary file beside the target and a rename that replaces it at once
// (std::filesystem::rename replaces an existing file on both platforms), so a host killed in the
// middle of a write leaves the previous file whole.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "card_model.h"
#include "sim_text.h"

namespace cardsim {

namespace {

// The run as the state file holds it.
struct RunFields {
  uint32_t phase = 0, layout = 0, endCode = 0, subCode = 0, lastCount = 0;
};

// A plain number of the file: its key, where it lives, its largest value, hex or decimal, and the
// heading written before it (the reader skips headings).
struct Field {
  const char* key;
  uint32_t* value;
  uint32_t max;
  bool hex;
  const char* heading = nullptr;
};

std::vector<Field> Fields(CardConfig& c, CardState& s, RunFields& r) {
  constexpr uint32_t kAny = 0xFFFFFFFFu;
  return {
      {"present", &c.present, kAny, false},
      {"hw_word", &c.hwWord, kAny, true},
      {"hw_features", &c.hwFeatures, kAny, true},
      {"hw_info2_0", &c.hwInfo2[0], kAny, true},
      {"hw_info2_1", &c.hwInfo2[1], kAny, true},
      {"usb_startup", &c.usbStartup, 2, false},
      {"usb_not_ready_polls", &c.usbNotReadyPolls, kAny, false},
      {"inputs", &c.inputs, kAny, true},
      {"ad", &c.ad, kAny, false},
      {"sticky_alarms", &c.stickyAlarms, kAny, true},
      {"sticky_run", &c.stickyRun, 7, false},
      {"status_flags", &c.statusFlags, 0xFFFF, true},
      {"secondary", &c.secondaryAnswer, 0xFF, false},
      {"secondary_mode", &c.secondaryMode, 2, false},
      {"link_level", &c.linkLevel, 3, false},
      {"link_error", &c.linkError, 7, false},
      {"link_flags", &c.linkFlags, 0x60, true},
      {"fail_reasons", &c.failReasons, 0xF, true},
      {"link_counter", &c.linkCounter, 0x3FF, false},
      {"latency_us", &c.latencyUs, kAny, false},
      {"speed", &c.speedPercent, kAny, false},
      {"consume", &c.consumeMode, CARDSIM_CONSUME_STALLED, false},
      {"start_bytes", &c.startBytes, kAny, false},
      {"flash_busy", &c.flashBusyPolls, kAny, false},
      {"run_state", &s.runState, 7, false, "[status]"},
      {"task_id", &s.taskId, 31, false},
      {"sub_state", &s.subState, 31, false},
      {"offline", &s.offline, 1, false},
      {"paused", &s.paused, 1, false},
      {"debug", &s.debug, kAny, false},
      {"alarms", &s.alarms, kAny, true},
      {"laser_alarm", &s.laserAlarm, 63, false},
      {"outputs", &s.outputs, kAny, true},
      {"da_0", &s.da[0], 0xFFF, false},
      {"da_1", &s.da[1], 0xFFF, false},
      {"bulk_pending", &s.bulkPending, kAny, false},
      {"phase", &r.phase, CARDSIM_PHASE_ENDED, false, "[run]"},
      {"layout", &r.layout, 2, false},
      {"end_code", &r.endCode, 15, false},
      {"sub_code", &r.subCode, 7, false},
      {"last_count", &r.lastCount, 0xFFFF, false},
  };
}

void Line(std::string& out, const char* key, const char* format, uint32_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, v);
  out += key;
  out += " = ";
  out += buf;
  out += '\n';
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

}  // namespace

void CardModel::ReadStatePath() {
  const char* path = keepsStateFile_ ? std::getenv("CARDSIM_STATE") : nullptr;
  statePath_ = path ? path : "";
}

std::string CardModel::StateText() {
  RunFields r{stream_.PhaseCode(), stream_.Layout(), stream_.EndCode(), stream_.SubCode(), stream_.LastCount()};
  std::string out = "# The simulated card's state: read when the driver library loads, written on every change.\n";
  out.reserve(1536);
  char buf[96];
  std::snprintf(buf, sizeof buf, "[card]\nunique_id = %02X %02X %02X %02X %02X %02X %02X\n", cfg_.uniqueId[0],
                cfg_.uniqueId[1], cfg_.uniqueId[2], cfg_.uniqueId[3], cfg_.uniqueId[4], cfg_.uniqueId[5],
                cfg_.uniqueId[6]);
  out += buf;
  std::snprintf(buf, sizeof buf, "usb_firmware = %u, %u\n", cfg_.usbFirmware[0], cfg_.usbFirmware[1]);
  out += buf;
  for (const Field& f : Fields(cfg_, st_, r)) {
    if (f.heading) (out += f.heading) += '\n';
    Line(out, f.key, f.hex ? "0x%X" : "%u", *f.value);
  }
  out += "[answers, flags, waiting reply]\n";
  for (const auto& [key, answer] : cfg_.answers) {
    out += "answer = " + std::to_string(std::get<0>(key)) + ", " + Hex(std::get<1>(key)) + ", " +
           Hex(std::get<2>(key)) + ", " + Hex(answer.first) + ", " + Hex(answer.second) + "\n";
  }
  for (uint32_t bit = 0; bit < 32; ++bit) {
    if (st_.flagValue[bit] == 0 && st_.flagCount[bit] == 0) continue;
    out += "flag_" + std::to_string(bit) + " = " + Hex(st_.flagValue[bit]) + ", " +
           std::to_string(st_.flagCount[bit]) + "\n";
  }
  if (st_.replyPending) {
    const uint32_t word = st_.reply[0] | (st_.reply[1] << 8);
    uint32_t r0 = 0, r1 = 0;
    for (int i = 3; i >= 0; --i) {
      r0 = (r0 << 8) | st_.reply[2 + i];
      r1 = (r1 << 8) | st_.reply[6 + i];
    }
    out += "reply = " + Hex(word) + ", " + Hex(r0) + ", " + Hex(r1) + "\n";
  }
  return out;
}

uint32_t CardModel::ApplyStateFile(const char* path) {
  using namespace text;
  CardConfig c = cfg_;
  CardState s = st_;
  RunFields r{stream_.PhaseCode(), stream_.Layout(), stream_.EndCode(), stream_.SubCode(), stream_.LastCount()};
  c.answers.clear();
  for (uint32_t bit = 0; bit < 32; ++bit) s.flagValue[bit] = s.flagCount[bit] = 0;
  s.replyPending = false;
  uint32_t reply[3] = {};
  const std::vector<Field> fields = Fields(c, s, r);
  const uint32_t rc = ReadEntries(path, [&](const std::string& key, const std::string& value) {
    // Every line counts: the first one not taken refuses the whole file (below).
    for (const Field& f : fields) {
      if (key != f.key) continue;
      uint32_t v = 0;
      if (!Number(value, v) || v > f.max) return Entry::kBadValue;
      *f.value = v;
      return Entry::kTaken;
    }
    if (key == "unique_id") return TakenIf(HexBytes(value, c.uniqueId, 7));
    if (key == "usb_firmware") {
      uint32_t b[2] = {};
      if (!Numbers(value, b, 2) || b[0] > 255 || b[1] > 255) return Entry::kBadValue;
      c.usbFirmware[0] = static_cast<uint8_t>(b[0]);
      c.usbFirmware[1] = static_cast<uint8_t>(b[1]);
      return Entry::kTaken;
    }
    if (key == "answer") {
      uint32_t a[5] = {};
      if (!Numbers(value, a, 5)) return Entry::kBadValue;
      c.answers[{a[0], a[1], a[2]}] = {a[3], a[4]};
      return Entry::kTaken;
    }
    if (key == "reply") {
      if (!Numbers(value, reply, 3) || reply[0] > 0xFFFF) return Entry::kBadValue;
      s.replyPending = true;
      return Entry::kTaken;
    }
    if (key.rfind("flag_", 0) == 0) {
      uint32_t bit = 0, vc[2] = {};
      if (!Number(key.substr(5), bit) || bit > 31) return Entry::kUnknownKey;
      if (!Numbers(value, vc, 2)) return Entry::kBadValue;
      s.flagValue[bit] = vc[0];
      s.flagCount[bit] = vc[1];
      return Entry::kTaken;
    }
    return Entry::kUnknownKey;
  });
  if (rc != 0) return rc;
  c.linkFlags &= 0x60;
  cfg_ = c;
  st_ = s;
  if (st_.replyPending) {
    for (auto& b : st_.reply) b = 0;
    for (int i = 0; i < 4; ++i) {
      if (i < 2) st_.reply[i] = static_cast<uint8_t>(reply[0] >> (8 * i));
      st_.reply[2 + i] = static_cast<uint8_t>(reply[1] >> (8 * i));
      st_.reply[6 + i] = static_cast<uint8_t>(reply[2] >> (8 * i));
    }
    st_.replyLen = ReplyLength();
  }
  stream_.Restore(r.phase, r.layout, r.endCode, r.subCode, r.lastCount, NowUs());
  return 0;
}

bool CardModel::WriteStateFile(const std::string& text) {
  const std::string temp = statePath_ + ".tmp";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f << text;
    f.close();
    if (!f) return false;
  }
  std::error_code ec;
  std::filesystem::rename(std::filesystem::path(temp), std::filesystem::path(statePath_), ec);
  if (ec) {
    std::remove(temp.c_str());
    return false;
  }
  savedText_ = text;
  return true;
}

namespace {

bool ReplaceFile(const std::string& path, const std::string& bytes) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f) return false;
  }
  std::error_code ec;
  std::filesystem::rename(std::filesystem::path(temp), std::filesystem::path(path), ec);
  if (ec) std::remove(temp.c_str());
  return !ec;
}

}  // namespace

bool CardModel::WriteFlashFile() { return ReplaceFile(FlashPath(), flash_.Serialize()); }

void CardModel::ReadFlashFile() {
  std::ifstream f(FlashPath(), std::ios::binary);
  if (!f) return;
  const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  flash_.Deserialize(bytes);
}

void CardModel::PersistLocked() noexcept {
  if (statePath_.empty()) return;
  try {
    if (flash_.Dirty()) WriteFlashFile();
    std::string text = StateText();
    if (text != savedText_) WriteStateFile(text);
  } catch (...) {
    // Out of memory: the next change writes the file.
  }
}

}  // namespace cardsim
