#include "frame/card_version.h"

#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/system_para.h"

FlashAreaMap g_FlashAreaMap{};
CmdNumTable g_CmdNumTable{};

const uint32_t kExtCmdNumbers[kCmdNumCount] = {288, 289, 290, 291, 292, 293, 294, 295,
                                               297, 299, 300, 301, 302, 303, 304, 305,
                                               306, 307, 308, 309, 329, 330};

CardVersionKeys DeriveCardVersionKeys(uint32_t v) {
  CardVersionKeys k{};
  k.bJustM25p64 = v >= 56;
  k.bCmdWithNum = v >= 64;
  k.bNewBoxCali = v >= 80;
  k.nBufDataCheckType = v >= 96 ? 2 : (v >= 80 ? 1 : 0);
  return k;
}

FlashAreaMap FlashAreaMapFor(bool bJustM25p64) {
  if (bJustM25p64) {
    return FlashAreaMap{0x100000, 0x130000, 0x110000, 0x120000, 0x140000, 0x10000, 0, 0x50000};
  }
  return FlashAreaMap{0x100000, 0x1DA00, 0x1C000, 0x1C200, 0x1D000, 0x200, 0x1C600, 0x1CA00};
}

void CmdNumTable::Fill(bool bCmdWithNum) {
  for (int i = 0; i < kCmdNumCount; ++i) {
    num[i] = bCmdWithNum ? kExtCmdNumbers[i] : LegacyCmdNum(kExtCmdNumbers[i]);
  }
}

uint32_t CmdNumTable::Of(uint32_t n) const {
  for (int i = 0; i < kCmdNumCount; ++i) {
    if (kExtCmdNumbers[i] == n) return num[i];
  }
  return n;
}

bool SystemPara::CheckCardVersionCfg(uint32_t cardVersion) {
  bConfiguration = ReadMainInt("Main", "bConfiguration", 0);
  const CardVersionKeys d = DeriveCardVersionKeys(cardVersion);
  bJustM25p64 = ReadMainInt("Main", "bJustM25p64", 0);
  bHaveNandFlash = ReadMainInt("Main", "bHaveNandFlash", 0);  // read only, never compared
  bCmdWithNum = ReadMainInt("Main", "bCmdWithNum", 0);
  bNewBoxCali = ReadMainInt("Main", "bNewBoxCali", 0);
  nBufDataCheckType = ReadMainInt("Main", "nBufDataCheckType", 0);

  if (bConfiguration) {
    if (d.bJustM25p64 != bJustM25p64 || d.bCmdWithNum != bCmdWithNum ||
        d.bNewBoxCali != bNewBoxCali || d.nBufDataCheckType != nBufDataCheckType) {
      ShowTopmostBox(Lang("软件记录的卡版本与当前卡版本不匹配，请重新打V6补丁或重装软件",
                          "The card version recorded by the software does not match the current "
                          "card version. Please apply a V6 patch or reinstall the software."));
      return false;
    }
  } else {
    // First opening: record what this card's version fixes.
    bJustM25p64 = d.bJustM25p64;
    bCmdWithNum = d.bCmdWithNum;
    bNewBoxCali = d.bNewBoxCali;
    nBufDataCheckType = d.nBufDataCheckType;
    WriteMainCfgInt("Main", "bJustM25p64", bJustM25p64);
    WriteMainCfgInt("Main", "bCmdWithNum", bCmdWithNum);
    WriteMainCfgInt("Main", "bNewBoxCali", bNewBoxCali);
    WriteMainCfgInt("Main", "nBufDataCheckType", nBufDataCheckType);
    WriteMainCfgInt("Main", "bConfiguration", 1);
    bConfiguration = 1;
  }

  g_FlashAreaMap = FlashAreaMapFor(bJustM25p64 != 0);
  g_CmdNumTable.Fill(bCmdWithNum != 0);
  return true;
}
