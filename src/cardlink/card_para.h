#pragma once
// The card parameters: the list of command packets the card loads from its card-parameter page,
// the page that holds them, and the check that library, card, USB firmware and optical-switch card
// fit together before anything is uploaded.
//
// The list is built from SystemPara (filled by the parameter file) in a fixed order; the card reads
// the page's packets in that order. The fly parameter commands follow the list in the same batch;
// they come from the mark subsystem, so the caller appends them.
//
// The optical-switch card counts as configured when [LASER] OSS_TYPE is 1 or 2, whatever the
// light-path flags say (switching laser parameters while the laser is on clears those).
#include <cstdint>
#include <string>

#include "cardlink/card_cmd.h"
#include "cardlink/card_wire.h"

struct SystemPara;

// The galvanometer word G of command 1, from bCloseFeedback, nScanType, nScanFeedbackDisLimit,
// nScanFeedBackAlarmOkV and nScanFeedbackTimeAllowMs. The scanner types that drop the distance
// limit store 0 back into nScanFeedbackDisLimit; bScanFeedbackWait becomes 1 unless the type
// waits in the card itself.
uint32_t GalvoWordG(SystemPara& p);

// Command 20's parameter: the FIFO fill (in 64 KiB units) at which the card starts a run,
// F x 15 x nBufFullStartSize / 100 x 16 truncated and kept within 1 .. 255.
uint32_t RunStartUnits(double bufferSpace, int32_t nBufFullStartSize);

// The 22 packets of the card-parameter list, appended to `batch` in the card's order (command 1 of
// the galvanometer first, the error-reset input last). `bufferSpace` is the block-time value of the
// FIFO: the usable share of the card's FIFO, [HARDWARE] dbValideBufferSpacePercent (0.8 in wobble
// mode) clamped to 0.01 .. 0.999, which the FIFO code reads. Updates SystemPara as GalvoWordG does.
void BuildCardParaCommands(CmdBatch& batch, double bufferSpace);

// A card-parameter page holds at most this many packets: byte 2047 is the page's marker.
constexpr uint32_t kCardParaMaxPackets = (kFlashPageBytes - 1) / CmdPacket::kSize;
constexpr uint8_t kCardParaMarker = 0xA5;
// The page: the packets from byte 0 in order, zeros behind them, 0xA5 in byte 2047. A batch of more
// than kCardParaMaxPackets packets throws code 2 (shown).
void MakeCardParaBlock(const CmdBatch& batch, uint8_t* page);

// The USB firmware value of control request 0xDC's two bytes: (signed b0) << ((b1 + 8) & 31) on 32
// bits, taken as signed.
int32_t UsbFirmwareValue(uint8_t b0, uint8_t b1);
constexpr int32_t kMinUsbFirmware = 0x30;
// A version word of command 81 in which the card says it is in its upgrade mode.
constexpr bool IsUpgradeModeWord(uint32_t v) { return (v & 0xFFF00000u) == 0x02100000u; }
// [Main] CardVertion of a configuration made for this library.
constexpr int32_t kConfigCardVertion = 6;
// The optical-switch card's status command (number 329 of the extended command table): (0, 0) its
// status and alarm bits, (p, 0) path p's setting and the current one, (0, 1) clears its time alarm.
constexpr uint32_t kCmdOssStatus = 329;

// [LASER] OSS_TYPE names an optical-switch card.
bool OssCardConfigured(const SystemPara& p);

// Checks that the configuration, the library, the card and the optical-switch card fit together.
// Every refusal is logged (INFO and ERROR, tag "ConformCompatible") and shown in a topmost box;
// the result is then false. The texts exist in Chinese only. A lost card throws code 1.
bool ConformCompatible();
