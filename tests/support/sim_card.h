#pragma once
// The driver link against the simulated card, inside a test program that links the core: the
// simulated card's library is copied into a fresh folder that becomes the library's own folder, the
// configuration lives there (logs and boxes as in LibFolderTest), the link is loaded by the card
// type, and the simulated card's control functions are resolved from the loaded module.
#include <string>

#include "support/fake_clock.h"
#include "support/lib_folder.h"
#include "support/sim_control.h"

namespace qztest {

class SimCardTest : public LibFolderTest, public SimControl {
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
  // The command frames logged since the last clear (of one number only, unless 0).
  std::vector<Cmd> Commands(uint32_t only = 0) { return Sent(only); }

  FakeClock clock;

 private:
  void* SimSymbol(const char* name);
  std::string folder_;
  int stages_ = 0;
};

}  // namespace qztest
