#pragma once
// The driver-link companion library: "Portlane.dll" for USB cards, "PortlanePCIE.dll" for PCIe
// cards, chosen at load by [Main] CardType. Its nine entry points carry command frames, replies,
// bulk blocks, the link status word and control requests between the library and one card; each
// returns 0 on success.
#include <cstdint>

#include "frame/companion.h"

struct PortlaneApiTable {
  using OpenDriverFn = uint32_t(QZ_CALL_COMPANION*)(uint32_t index);
  using GetCardsNoFn = uint32_t(QZ_CALL_COMPANION*)(void* a, void* b, uint32_t magic);
  using CloseDriverFn = uint32_t(QZ_CALL_COMPANION*)();
  using CmdSendFn = uint32_t(QZ_CALL_COMPANION*)(const void* data, uint32_t length);
  using CmdRecvFn = uint32_t(QZ_CALL_COMPANION*)(void* buffer, uint32_t length);
  using BufSendFn = uint32_t(QZ_CALL_COMPANION*)(const void* data, uint32_t length);
  using BufRecvFn = uint32_t(QZ_CALL_COMPANION*)(void* buffer, uint32_t length);
  using DeviceIoControlFn = uint32_t(QZ_CALL_COMPANION*)(uint32_t code, void* in, uint32_t inLength,
                                                         void* out, uint32_t outLength, uint32_t* returned);
  using SendComCmdFn = uint32_t(QZ_CALL_COMPANION*)(uint32_t direction, uint32_t request, uint32_t value,
                                                    uint32_t index, void* buffer, uint32_t length);

  CompanionModule module;
  uint8_t bLoaded = 0;
  OpenDriverFn QZ_OpenDriver = nullptr;
  GetCardsNoFn QZ_GetCardsNo = nullptr;
  CloseDriverFn QZ_CloseDriver = nullptr;
  CmdSendFn QZ_CmdSend = nullptr;
  CmdRecvFn QZ_CmdRecv = nullptr;
  BufSendFn QZ_BufSend = nullptr;
  BufRecvFn QZ_BufRecv = nullptr;
  DeviceIoControlFn QZ_DeviceIoControl = nullptr;
  SendComCmdFn QZ_SendComCmd = nullptr;
};

extern PortlaneApiTable PortlaneApi;
