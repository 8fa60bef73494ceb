#pragma once
// The box parameter block of the new box method: 2048 bytes, exactly the content of "CaliPara.cl"
// in the configuration folder. Values are read and written at fixed little-endian offsets.
#include <array>
#include <cstddef>
#include <cstdint>

constexpr size_t kBoxParaSize = 2048;
using BoxParaBlock = std::array<uint8_t, kBoxParaSize>;

extern BoxParaBlock g_BoxPara;

// Fixed-offset access to a block.
uint32_t BoxGetU32(const BoxParaBlock& b, size_t off);
void BoxSetU32(BoxParaBlock& b, size_t off, uint32_t v);
double BoxGetF64(const BoxParaBlock& b, size_t off);
void BoxSetF64(BoxParaBlock& b, size_t off, double v);

// The load-time defaults: zero, then version words 3 and 1, the unit scales, 160.0, the DAC range
// 25000 and the twelve coefficients of set A at 60.0.
void SetBoxParaDefaults(BoxParaBlock& b);

// Version check: word A (offset 0) must be at least 1 and word B (offset 4) below 4. A valid block is
// copied into g_BoxPara. source 0: from the host software, 1: from the box file. With bThrow a
// failure is logged, shown and thrown as code 2 (without a further report); without it nothing is
// reported.
bool CheckBoxParaVer(const BoxParaBlock& block, int source, bool bThrow);

namespace CCaliLink {
// Reads "CaliPara.cl" and checks it (source 1). A file that cannot be opened leaves g_BoxPara as it
// is; it is reported (code 10's text, logged and shown) only when bReportMissing is set: at load the
// texts are not ready yet, so a missing file there keeps the defaults silently.
void ReadPara(bool bThrow, bool bReportMissing = true);
// The half range R of the galvanometer field in mm: 10.0 until the box-correction module reports
// it. The 21-bit codes of the stream are taken over [-R, +R]. Read on any thread.
double HalfRange();
// Stores the module's R. A value that is not finite and above 0 is refused (false): R stays.
bool SetHalfRange(double r);
}  // namespace CCaliLink
