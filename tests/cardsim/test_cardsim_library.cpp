// The built driver libraries, loaded by file name and driven through their exported names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cardsim_api.h"
#include "platform/module.h"

namespace {

struct Driver {
  plat::ModuleHandle module = nullptr;
  uint32_t(CARDSIM_CALL* open)(uint32_t) = nullptr;
  uint32_t(CARDSIM_CALL* send)(const void*, uint32_t) = nullptr;
  uint32_t(CARDSIM_CALL* recv)(void*, uint32_t) = nullptr;
  uint32_t(CARDSIM_CALL* ioctl)(uint32_t, void*, uint32_t, void*, uint32_t, uint32_t*) = nullptr;
#define CARDSIM_MEMBER(name) decltype(&name) name##_ = nullptr;
  CARDSIM_CONTROL_FUNCTIONS(CARDSIM_MEMBER)
#undef CARDSIM_MEMBER
};

Driver Load(const char* base) {
  Driver d;
  d.module = plat::LoadModule(std::string(QZ_DEPLOY_DIR) + plat::kPathSep + plat::CompanionFileName(base));
  EXPECT_NE(nullptr, d.module) << base;
  if (!d.module) return d;
  for (const char* name : {"QZ_OpenDriver", "QZ_GetCardsNo", "QZ_CloseDriver", "QZ_CmdSend", "QZ_CmdRecv",
                           "QZ_BufSend", "QZ_BufRecv", "QZ_DeviceIoControl", "QZ_SendComCmd"})
    EXPECT_NE(nullptr, plat::FindSymbol(d.module, name)) << base << " " << name;
  d.open = reinterpret_cast<decltype(d.open)>(plat::FindSymbol(d.module, "QZ_OpenDriver"));
  d.send = reinterpret_cast<decltype(d.send)>(plat::FindSymbol(d.module, "QZ_CmdSend"));
  d.recv = reinterpret_cast<decltype(d.recv)>(plat::FindSymbol(d.module, "QZ_CmdRecv"));
  d.ioctl = reinterpret_cast<decltype(d.ioctl)>(plat::FindSymbol(d.module, "QZ_DeviceIoControl"));
#define CARDSIM_RESOLVE(name)                                                              \
  d.name##_ = reinterpret_cast<decltype(&name)>(plat::FindSymbol(d.module, #name));       \
  EXPECT_NE(nullptr, reinterpret_cast<void*>(d.name##_)) << base << " " << #name;
  CARDSIM_CONTROL_FUNCTIONS(CARDSIM_RESOLVE)
#undef CARDSIM_RESOLVE
  return d;
}

TEST(CardsimLibrary, BothVariantsAnswerTheirOwnFramesByExportedNames) {
  struct Case { const char* base; uint32_t type, length; } cases[] = {{"Portlane", 0, 10}, {"PortlanePCIE", 1, 12}};
  for (const auto& c : cases) {
    Driver d = Load(c.base);
    ASSERT_NE(nullptr, d.open);
    ASSERT_NE(nullptr, d.cardsim_get_state_);
    cardsim_state s{};
    ASSERT_EQ(0u, d.cardsim_get_state_(&s));
    EXPECT_EQ(c.type, s.card_type) << c.base;
    d.cardsim_set_inputs_(0x1234);
    ASSERT_EQ(0u, d.open(0));
    uint8_t frame[12] = {0x21, 0x50};  // inputs, sequence nibble 5
    EXPECT_NE(0u, d.send(frame, c.length == 10 ? 12 : 10));  // the other type's length
    ASSERT_EQ(0u, d.send(frame, c.length));
    uint8_t reply[12] = {};
    ASSERT_EQ(0u, d.recv(reply, c.length));
    EXPECT_EQ(0x21u, reply[0]);
    EXPECT_EQ(0x50u, reply[1]);
    EXPECT_EQ(0x34u, reply[2]);
    EXPECT_EQ(0x12u, reply[3]);
    uint8_t st[4] = {};
    ASSERT_EQ(0u, d.ioctl(0x222004, nullptr, 0, st, 4, nullptr));
    EXPECT_EQ(0xA0u, st[3] & 0xF0);
    // The reset keeps the library's own card type.
    d.cardsim_reset_();
    ASSERT_EQ(0u, d.cardsim_get_state_(&s));
    EXPECT_EQ(c.type, s.card_type) << c.base;
    EXPECT_EQ(0u, s.inputs);
  }
}

}  // namespace
