#pragma once
// The driver link against the simulated card in a program that links the core: the card's library
// copied into a fresh folder that becomes the library's own (as in LibFolderTest), the link loaded
// by the card type, the card's control functions resolved from the loaded module.
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

  FakeClock clock;

 private:
  void* SimSymbol(const char* name);
  std::string folder_;
  int stages_ = 0;
};

}  // namespace qztest
