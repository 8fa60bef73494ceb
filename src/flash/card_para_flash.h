#pragma once
// The card parameters in the card's flash: the card-parameter page, the second parameter block and
// the offline-file head's timing value, each compared with what the card holds before it is
// written, and each committed so that the card takes it into effect.
//
// The correction tables, the packet list and the job that makes the second block belong to
// subsystems above this one; the start-up wiring hands them in as the upload's steps.
#include <cstdint>
#include <functional>
#include <string>

#include "cardlink/card_cmd.h"

struct CardParaUploadSteps {
  // Writes the correction tables to their areas (and commits them); empty: no tables.
  std::function<void()> sendBoxTables;
  // The card-parameter list, fly parameters included.
  std::function<void(CmdBatch&)> buildCommands;
  // Runs the parameter job into "OffLineFile.tmp": 0, or the code of its failure.
  std::function<uint32_t()> runSecondBlockJob;
};

// The offline-file head's timing value with an optical-switch card.
constexpr uint32_t kOffHeadTimingOss = 2000;

// The upload, in order: the bad-block table loaded (first use), the correction tables, the
// card-parameter page with its commit, the parameter job and the second block with its commit,
// and with [Main] wob or bKvxOSS the head's timing value. 0, or the code of a failure that ends it
// early (the job's, or the second block's); card and flash failures throw (26 for a commit the
// card does not take, shown; 1 for a lost card).
uint32_t FlushCardParaBlocks(const CardParaUploadSteps& steps);

// The card-parameter page of `batch` (cardlink/card_para.h) at the card-parameter page: compared
// and rewritten when it differs (notice of the area on the serial flash), then committed with
// 0x20000004; status r0 bit 18 set afterwards is code 26 (shown).
void WriteCardParaPage(const CmdBatch& batch);

// The whole 2048-byte pages of the file `path` at the second-block base plus one unit: compared
// and rewritten when one differs, then committed with 0x30000008 (r0 bit 19 set: code 26). A file
// that cannot be read or holds no whole page gives 9, more pages than one unit holds 13; both are
// logged and nothing is written.
uint32_t WriteSecondParaBlock(const std::string& path);
// The most pages the second block takes: one unit of the map.
uint32_t SecondBlockMaxPages();
