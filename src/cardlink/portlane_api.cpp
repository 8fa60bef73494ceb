#include "cardlink/portlane.h"

#include "frame/errors.h"
#include "frame/ini_cfg.h"

PortlaneApiTable PortlaneApi;

void CPortlane::LoadDll() {
  // The global configuration reader may not exist yet at this point of the load.
  CIniCfg cfg("QZMarkPara.cfg");
  const int32_t cardType = cfg.GetInt("Main", "CardType", 0);
  PortlaneApiTable t;
  t.module = LoadCompanion(cardType == 0 ? "Portlane" : "PortlanePCIE",
                           {"QZ_OpenDriver", "QZ_GetCardsNo", "QZ_CloseDriver", "QZ_CmdSend", "QZ_CmdRecv",
                            "QZ_BufSend", "QZ_BufRecv", "QZ_DeviceIoControl", "QZ_SendComCmd"});
  if (t.module.bLoaded) {
    const auto& e = t.module.entries;
    t.QZ_OpenDriver = reinterpret_cast<PortlaneApiTable::OpenDriverFn>(e[0]);
    t.QZ_GetCardsNo = reinterpret_cast<PortlaneApiTable::GetCardsNoFn>(e[1]);
    t.QZ_CloseDriver = reinterpret_cast<PortlaneApiTable::CloseDriverFn>(e[2]);
    t.QZ_CmdSend = reinterpret_cast<PortlaneApiTable::CmdSendFn>(e[3]);
    t.QZ_CmdRecv = reinterpret_cast<PortlaneApiTable::CmdRecvFn>(e[4]);
    t.QZ_BufSend = reinterpret_cast<PortlaneApiTable::BufSendFn>(e[5]);
    t.QZ_BufRecv = reinterpret_cast<PortlaneApiTable::BufRecvFn>(e[6]);
    t.QZ_DeviceIoControl = reinterpret_cast<PortlaneApiTable::DeviceIoControlFn>(e[7]);
    t.QZ_SendComCmd = reinterpret_cast<PortlaneApiTable::SendComCmdFn>(e[8]);
    t.bLoaded = 1;
  } else {
    // The language is not read yet at load, so the English text shows.
    ShowTopmostBox(Lang("初始化Portlane.dll失败!\r\n", "Failed to initialize Portlane.dll!  r  n"));
  }
  PortlaneApi = t;
}

void CPortlane::FreeDll() {
  FreeCompanion(PortlaneApi.module);
  PortlaneApi = PortlaneApiTable();
}
