#pragma once
// A host with the library, our calibration modules and the simulated card in one folder, and the
// English language file.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "cardsim_api.h"
#include "qzmark.h"
#include "support/staged_library.h"

namespace qztest {

class CardHost : public ::testing::Test {
 protected:
  // `config` continues section [Main] of the main configuration (further sections may follow).
  // Stage = StageFiles, then Load with a fresh card.
  void Stage(int cardType, const std::string& config = "", char cardChar = 0);
  void StageFiles(int cardType, const std::string& config = "", char cardChar = 0);
  // Loads the staged library and resolves its exports and the simulated card's control functions;
  // with resetCard the card starts from its defaults.
  void Load(bool resetCard);
  // Stages type `cardType` with `config` in [Main], the default box block and the plain box file,
  // loads with a fresh card of version `version`, opens it and applies the parameter file, the
  // parameters accepted before and after. Callers check HasFatalFailure().
  void OpenWithParaFile(int cardType, const std::string& config, uint32_t version);

  // The frames logged since the last clear, without the watchdog's hardware-version reads (every
  // 50 ms once the parameter file was applied) unless keepWatchdogReads is set.
  std::vector<cardsim_frame> Frames();
  // Command numbers of the command frames logged since the last clear.
  std::vector<uint32_t> Commands();
  // The command frames logged since the last clear as (command, p1, p2), of one number only unless 0.
  using Frame = std::tuple<uint32_t, uint32_t, uint32_t>;
  std::vector<Frame> Sent(uint32_t only = 0);
  // The words the card ran (trace 1), with their times, or the words alone.
  std::vector<cardsim_trace_entry> Trace();
  std::vector<uint32_t> TraceWords();
  cardsim_state State();
  cardsim_flash Flash();
  // Erases and programs of both chips.
  uint32_t FlashWrites();
  std::vector<std::string> InfoLog();
  std::vector<std::string> ErrorLog();
  std::string ConfigText();

  std::unique_ptr<StagedLibrary> lib;
  // Cleared before Stage: the folder gets no calibration module (loading then shows their two boxes).
  bool withCaliModules = true;
  bool keepWatchdogReads = false;
  decltype(&QZ_InitCard) InitCard = nullptr;
  decltype(&QZ_CloseCard) CloseCard = nullptr;
  decltype(&QZ_GetCardsNo) GetCardsNo = nullptr;
  decltype(&QZ_SetFlag) SetFlag = nullptr;
  decltype(&QZ_MarkStart) MarkStart = nullptr;
  decltype(&QZ_MarkEnd) MarkEnd = nullptr;
  decltype(&QZ_GetWaitInfo) GetWaitInfo = nullptr;
  decltype(&QZ_GetHdVer) GetHdVer = nullptr;
  decltype(&debug_OpenCard2GetMsg) OpenOnly = nullptr;
#define QZ_HOST_SIM(fn) decltype(&fn) fn##_ = nullptr;
  CARDSIM_CONTROL_FUNCTIONS(QZ_HOST_SIM)
#undef QZ_HOST_SIM
};

constexpr uint32_t kParaKey = 0x7E21C4B9;

// A hardware-version read (command 81 (0, 0)) sent by a thread other than the test's.
bool IsWatchdogRead(const cardsim_frame& f);

bool AnyLineHas(const std::vector<std::string>& lines, const std::string& text);

// The box parameter block a host starts from (half range 10 mm).
std::vector<uint8_t> DefaultBoxBlock();

// Pen records for QZ_SetMarkPara: `count` pens with pulses of kHz at duty %, marking and jumping at
// the given speeds in mm/s, without delays (the reals at their byte offsets of the host record).
std::vector<uint8_t> PenRecords(int count, double kHz, double duty, double markMmPerS, double jumpMmPerS);

// A box file of the old box method: a 2D box of 100 mm without correction.
std::string PlainBoxFile();

}  // namespace qztest
