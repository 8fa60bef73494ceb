#pragma once
// A host with the library, our calibration modules and the simulated card in one folder, and the
// English language file.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "qzmark.h"
#include "support/lib_folder.h"
#include "support/sim_control.h"
#include "support/staged_library.h"

namespace qztest {

class CardHost : public ::testing::Test, public SimControl {
 protected:
  CardHost() { keepWatchdogReads = false; }
  // `config` continues section [Main] of the main configuration (further sections may follow).
  // Stage = StageFiles, then Load with a fresh card.
  void Stage(int cardType, const std::string& config = "", char cardChar = 0);
  void StageFiles(int cardType, const std::string& config = "", char cardChar = 0);
  // Loads the staged library and resolves its exports and the simulated card's control functions;
  // with resetCard the card starts from its defaults.
  void Load(bool resetCard);
  // Stages type `cardType` with `config` in [Main], loads with a fresh card (of `version` unless 0),
  // opens it and accepts the parameters. Callers check HasFatalFailure().
  void OpenCard(int cardType = 0, const std::string& config = "", uint32_t version = 0);
  // QZ_InitCard, then the parameters accepted (QZ_SetFlag), each expected to succeed.
  void InitAndAccept();
  // The same with the default box block and the plain box file staged, and (with `apply`) the
  // parameter file applied and the parameters accepted again; the frame log is left as it is. A
  // library staged before is closed and let go first (it stays loaded; under Windows its open card
  // would keep the next one from opening).
  void OpenWithParaFile(int cardType, const std::string& config, uint32_t version, bool apply = true);
  // The default box block ("CaliPara.cl") and the plain box file ("Default.box") in the staged folder.
  void AddCaliFiles();
  // OpenWithParaFile, then `pens` pens of 20 kHz pulses at 50 % marking at `markMmPerS` and jumping
  // ten times as fast, without delays.
  void OpenWithPens(int cardType, const std::string& config, uint32_t version, int pens = 2,
                    double markMmPerS = 10000.0);

  // Command numbers of the command frames logged since the last clear (the frames, the trace, the
  // card's state and flash: SimControl).
  std::vector<uint32_t> Commands();
  using Frame = Cmd;
  std::vector<cardsim_trace_entry> Trace() { return TraceEntries(); }
  // An export of the loaded library by name; a missing one fails the test (and gives null).
  template <class F>
  F Export(const char* name) {
    F f = lib->Get<F>(name);
    if (!f) ADD_FAILURE() << "the library lacks " << name;
    return f;
  }
  std::vector<std::string> InfoLog();
  std::vector<std::string> ErrorLog();
  std::string ConfigText();

  std::unique_ptr<StagedLibrary> lib;
  // Cleared before Stage: the folder gets no calibration module (loading then shows their two boxes).
  bool withCaliModules = true;
  decltype(&QZ_InitCard) InitCard = nullptr;
  decltype(&QZ_CloseCard) CloseCard = nullptr;
  decltype(&QZ_GetCardsNo) GetCardsNo = nullptr;
  decltype(&QZ_SetFlag) SetFlag = nullptr;
  decltype(&QZ_MarkStart) MarkStart = nullptr;
  decltype(&QZ_MarkEnd) MarkEnd = nullptr;
  decltype(&QZ_GetWaitInfo) GetWaitInfo = nullptr;
  decltype(&QZ_GetHdVer) GetHdVer = nullptr;
  decltype(&debug_OpenCard2GetMsg) OpenOnly = nullptr;
};

// QZ(MarkDot)(...): the export QZ_MarkDot of the loaded library, inside a CardHost.
#define QZ(fn) Export<decltype(&QZ_##fn)>("QZ_" #fn)

constexpr uint32_t kParaKey = 0x7E21C4B9;

// The box parameter block a host starts from (half range 10 mm).
std::vector<uint8_t> DefaultBoxBlock();

// Pen records for QZ_SetMarkPara: `count` pens with pulses of kHz at duty %, marking and jumping at
// the given speeds in mm/s, without delays (the reals at their byte offsets of the host record).
std::vector<uint8_t> PenRecords(int count, double kHz, double duty, double markMmPerS, double jumpMmPerS);

// A box file of the old box method: a 2D box of 100 mm without correction.
std::string PlainBoxFile();

}  // namespace qztest
