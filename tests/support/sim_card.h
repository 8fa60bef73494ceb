#pragma once
// The driver link against the simulated card, inside a test program that links the core: the
// simulated card's library is copied into a fresh folder that becomes the library's own folder, the
// configuration and logs live there, the link is loaded by the card type, and the simulated card's
// control functions are resolved from the loaded module.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "cardsim_api.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace qztest {

using Cmd = std::tuple<uint32_t, uint32_t, uint32_t>;  // a command frame: command, p1, p2

class SimCardTest : public ::testing::Test {
 protected:
  void TearDown() override;

  // cardType 0 USB, 1 PCIe; `config` is appended to the main configuration.
  void Stage(int cardType, const std::string& config = "");
  // CPortlane::Open on card 0 and, on success, the connected flag, as card opening does.
  uint32_t OpenLink();

  template <class F>
  F Sim(const char* name) {
    void* p = SimSymbol(name);
    if (!p) ADD_FAILURE() << "simulated card lacks " << name;
    return reinterpret_cast<F>(p);
  }
#define QZ_SIM_MEMBER(fn) decltype(&fn) fn##_ = nullptr;
  CARDSIM_CONTROL_FUNCTIONS(QZ_SIM_MEMBER)
#undef QZ_SIM_MEMBER

  std::vector<cardsim_frame> Frames();
  // The command frames logged since the last clear (of one number only, unless 0).
  std::vector<Cmd> Commands(uint32_t only = 0);
  cardsim_state State();
  cardsim_flash Flash();
  cardsim_fifo Fifo();
  // The words the card ran (trace 1).
  std::vector<uint32_t> TraceWords();
  std::vector<std::string> InfoLines() const;
  std::vector<std::string> ErrorLines() const;
  std::vector<std::string> Boxes() const;

  TempDir dir;
  FakeClock clock;

 private:
  void* SimSymbol(const char* name);
  std::string folder_;
  int stages_ = 0;
};

}  // namespace qztest
