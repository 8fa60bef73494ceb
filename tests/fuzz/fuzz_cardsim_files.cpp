// The simulated card's text files: its configuration (CARDSIM_CONFIG) and its state file
// (CARDSIM_STATE) with the flash file beside it. Built twice: FUZZ_CARDSIM_STATE selects the state
// file, whose input is the state text, then (after a NUL byte) the flash file.
// Oracle, configuration: the answer is 0 or the number of a line the file has, and a fresh card
// answers the same. State: a file that is refused (a line not understood) changes nothing, the
// state saved before is saved again; a file that is applied saves a state (and flash) that loads and
// saves again to the same files.
#include <string>

#include "card_model.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = qzfuzz::Bytes(data, size);
#if defined(FUZZ_CARDSIM_STATE)
  static const std::string path = [] {
    const std::string p = qzfuzz::LibraryFolder() + "card.state";
    plat::SetEnvVar("CARDSIM_STATE", p);
    return p;
  }();
  const auto read = [](const std::string& p) {
    std::string s;
    plat::ReadWholeFile(p, s);
    return s;
  };
  cardsim::CardModel& card = cardsim::CardModel::Global();
  FUZZ_CHECK(card.SaveState() == 0, "the state cannot be saved");
  const std::string before = read(path);
  const size_t nul = input.find('\0');
  plat::WriteWholeFile(path, input.substr(0, nul));
  if (nul != std::string::npos) plat::WriteWholeFile(path + ".flash", input.substr(nul + 1));
  const uint32_t rc = card.LoadState();
  FUZZ_CHECK(card.SaveState() == 0, "the state cannot be saved");
  const std::string after = read(path), flashAfter = read(path + ".flash");
  if (rc != 0) {
    FUZZ_CHECK(after == before, "a refused state file (line %u) changed the state", rc);
    return 0;
  }
  FUZZ_CHECK(card.LoadState() == 0, "a saved state is refused");
  FUZZ_CHECK(card.SaveState() == 0 && read(path) == after && read(path + ".flash") == flashAfter,
             "a saved state does not load and save to the same files");
#else
  const std::string path = qzfuzz::LibraryFolder() + "card.cfg";
  plat::WriteWholeFile(path, input);
  size_t lines = 0;
  for (char c : input) lines += c == '\n';
  if (!input.empty() && input.back() != '\n') ++lines;
  cardsim::CardModel first, second;
  const uint32_t rc = first.LoadConfigFile(path.c_str());
  FUZZ_CHECK(rc == 0 || (rc >= 1 && rc <= lines), "answer %u for a file of %zu lines", rc, lines);
  FUZZ_CHECK(second.LoadConfigFile(path.c_str()) == rc, "a second card answers otherwise");
#endif
  return 0;
}
