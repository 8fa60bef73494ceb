#include "oss_model.h"

namespace cardsim {

namespace {
constexpr uint32_t kQuery = 0x149;
constexpr uint32_t kSet = 0x14A;
constexpr uint32_t kStartOutput = 1u << 30;
}  // namespace

void OssModel::Outputs(uint32_t outputs, uint64_t nowUs) {
  const bool high = (outputs & kStartOutput) != 0;
  if (high && !raised_) raisedAt_ = nowUs;
  raised_ = high;
}

bool OssModel::Command(uint32_t command, uint32_t p1, uint32_t p2, uint64_t nowUs, uint32_t& r0, uint32_t& r1) {
  if (command == kSet) {
    cfg_.current = p2 & 0xFFFF;
    return true;
  }
  if (command != kQuery || p2 != 0) return false;
  r0 = p1 < 4 ? (cfg_.settings[p1] & 0xFFFF) : 0;
  r1 = cfg_.current & 0xFFFF;
  if (p1 == 0 && raised_) {
    for (uint32_t i = 0; i < 3; ++i) {
      const uint32_t delay = cfg_.delay_us[i];
      if (delay != CARDSIM_OSS_NEVER && nowUs - raisedAt_ >= delay) r0 |= 1u << (21 + i);
    }
  }
  return true;
}

}  // namespace cardsim
