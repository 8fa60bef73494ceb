#include "markbase/io_words.h"

#include <atomic>

#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/wait_desc.h"

namespace {

// Output banks as (first output, outputs in the bank) for the outputs a 32-bit mask reaches.
struct Bank {
  uint32_t first, count;
};
constexpr Bank kMaskBanks[3] = {{0, 12}, {12, 10}, {22, 10}};

// The output word of bank `index` of kMaskBanks with that bank's part of mask and values.
uint32_t BankWord(int index, uint32_t mask, uint32_t values) {
  const Bank& b = kMaskBanks[index];
  const uint32_t field = (1u << b.count) - 1u;
  const uint32_t m = (mask >> b.first) & field;
  const uint32_t v = (values >> b.first) & field;
  return ((SW_IO_BANK_BASE + static_cast<uint32_t>(index) * SW_IO_BANK_STEP) | m) << SW_IO_SHIFT | v;
}

uint32_t BankMask(int index, uint32_t mask) {
  const Bank& b = kMaskBanks[index];
  return (mask >> b.first) & ((1u << b.count) - 1u);
}

// The list the emitters build their sequences in: one per library, owned by the mark call, so
// that its capacity is kept from call to call.
WordList g_SeqList GUARDED_BY(g_MarkCall);

WordList& SeqList() REQUIRES(g_MarkCall) {
  g_SeqList.clear();
  return g_SeqList;
}

void Put(WordList& list, uint64_t t, uint32_t word) { list.push_back({t, word}); }

// The last out-of-range output number logged (a value no int32_t has: none yet).
std::atomic<int64_t> g_nLastBadOutput{INT64_MIN};

}  // namespace

void LogOutputOutOfRange(int32_t n) {
  if (g_nLastBadOutput.exchange(n) == n) return;
  g_InfoLog.Write("MakeIoWord", LOG_WARNING, Lang("输出口 %d 超出范围 0..43，写入空操作", "output %d is outside 0..43, a NOP is written"),
                  static_cast<int>(n));
}

uint32_t MakeIoWordByMask(uint32_t mask, uint32_t values) {
  for (int i = 0; i < 3; ++i)
    if (BankMask(i, mask) != 0) return BankWord(i, mask, values);
  return (SW_IO_BANK_BASE + 3 * SW_IO_BANK_STEP) << SW_IO_SHIFT;
}

uint32_t AddOutputWords(uint32_t values, uint32_t mask) {
  for (int i = 0; i < 3; ++i)
    if (BankMask(i, mask) != 0) AppendStreamWord(1, 0, BankWord(i, mask, values));
  return RV_OK;
}

void AddSerialBitPattern(WordList& list, uint32_t n, int32_t bit, const uint8_t* bytes) {
  if (n == 0 || bytes == nullptr) return;
  uint64_t t = 50;
  for (uint32_t i = 0; i < n; ++i) {
    for (int k = 7; k >= 0; --k) {
      Put(list, t, MakeIoWord(bit, (bytes[i] >> k) & 1u));
      t += 100;
    }
  }
  // t is now the time of the last bit + 100.
  Put(list, t, MakeIoWord(bit, 0));
}

WordList& MakeSeqRegReset(WordList& list) {
  Put(list, 1, SW_REG_LANE);
  Put(list, 1, SW_REG_BYTES | 0x1E00);
  for (uint32_t i = 0; i < 3; ++i) {
    Put(list, 1, SW_REG_LANE | (1 + i));
    Put(list, 1, SW_REG_BYTES);
  }
  Put(list, 2, SW_REG_RESET);
  Put(list, 3, SW_NOP);
  return list;
}

WordList& MakeSeqWriteReg32(WordList& list, uint32_t a, uint64_t t, uint32_t b) {
  for (uint32_t lane = 0; lane < 4; ++lane) {
    const uint32_t shift = 8 * lane;
    Put(list, t, SW_REG_LANE | lane);
    Put(list, t, SW_REG_BYTES | ((a >> shift) & 0xFF) << 8 | ((b >> shift) & 0xFF));
  }
  return list;
}

WordList& MakeSeqWriteRegIo(WordList& list, uint32_t a, uint64_t t, uint32_t b, uint32_t kind, uint32_t timeoutMs,
                            uint32_t source) {
  MakeSeqWriteReg32(list, a, t + 1, b);
  const uint32_t c = kind == kWaitWithTimeout ? 1 : 0;
  if (c) Put(list, t + 2, SW_WAIT_TIMEOUT | ((timeoutMs * 1000u) & SW_OPERAND_MASK));
  uint32_t setup = SW_WAIT_SETUP | c * SW_WAIT_SETUP_TIMEOUT | (source & 15u);
  if (c && timeoutMs == 0) setup |= SW_WAIT_SETUP_ZERO_TIMEOUT;
  Put(list, t + 2, setup);
  Put(list, t + 3, SW_WAIT_MARK | ((source & 15u) * 2 | c) << SW_WAIT_MARK_SHIFT);
  return list;
}

void EmitWriteRegIo(uint32_t a, uint32_t b, uint32_t port, uint32_t flag) {
  WordList& list = SeqList();
  MakeSeqWriteReg32(list, a, 1, b);
  Put(list, 2, SW_WAIT_SETUP_PORT | (port & 15u));
  Put(list, 3, SW_REG_IO_COND | ((flag << 1) & SW_OPERAND_MASK));
  AppendShiftedWords(list);
}

WordList& MakeSeqNamedReg(WordList& list, uint32_t kind, uint64_t t, uint32_t timeoutMs, const std::string& name) {
  WaitDesc d{};
  if (!LookupWaitDesc(name, d)) {
    LogFailure("MakeSeqNamedReg", std::string(Lang("没有这个等待条件: ", "no such wait condition: ")) + name);
    return list;
  }
  return MakeSeqWriteRegIo(list, d.mask, t, d.value, kind, timeoutMs, d.kind);
}

uint32_t EmitNamedReg(uint32_t kind, uint32_t timeoutMs, const std::string& name) {
  AppendShiftedWords(MakeSeqNamedReg(SeqList(), kind, 0, timeoutMs, name));
  return RV_OK;
}

uint32_t EmitWriteRegSeq(uint32_t a, uint32_t b, uint32_t kind, uint32_t timeoutMs, uint32_t source) {
  AppendShiftedWords(MakeSeqWriteRegIo(SeqList(), a, 0, b, kind, timeoutMs, source));
  return RV_OK;
}

WordList& MakeSeqWriteReg16(WordList& list, uint32_t a1, uint32_t b1, uint32_t a2, uint32_t b2) {
  Put(list, 1, SW_REG_LANE);
  Put(list, 1, SW_REG_DATA16 | (a1 & 0xFF) << 8 | (b1 & 0xFF));
  Put(list, 1, SW_REG_LANE | 1);
  Put(list, 1, SW_REG_DATA16 | (a2 & 0xFF) << 8 | (b2 & 0xFF));
  Put(list, 1, SW_REG_LANE | 5);
  Put(list, 2, SW_REG_WRITE_CLOSE);
  return list;
}

uint32_t EmitWriteReg16(uint32_t a1, uint32_t b1, uint32_t a2, uint32_t b2) {
  AppendShiftedWords(MakeSeqWriteReg16(SeqList(), a1, b1, a2, b2));
  return RV_OK;
}

uint32_t AddInputWaitRecords(uint32_t mask, uint32_t values, uint32_t edge, uint32_t edgeMode, uint32_t timeoutMs) {
  if (timeoutMs > kMaxHostWaitMs) {
    g_InfoLog.Write("AddInputWaitRecords", LOG_INFO, "time-out %u ms cut to %u ms", timeoutMs, kMaxHostWaitMs);
    timeoutMs = kMaxHostWaitMs;
  }
  const uint32_t kind = timeoutMs == 0 ? kWaitNoTimeout : kWaitWithTimeout;
  if (edge == 0) return EmitWriteRegSeq(mask, values, kind, timeoutMs, kWaitSourceInputs);
  const uint32_t a = mask | edge;
  const uint32_t low = values & ~edge, high = values | edge;
  const bool rising = edgeMode == 1;
  EmitWriteRegSeq(a, rising ? low : high, kind, timeoutMs, kWaitSourceInputs);
  EmitWriteRegSeq(a, rising ? high : low, kind, timeoutMs, kWaitSourceInputs);
  return RV_OK;
}

uint32_t CheckBufWaitWord(uint32_t w) {
  const uint32_t lane = (w >> 25) & 7u;
  if (lane <= 4) return RV_OK;
  LogFailure("QZ_MarkBufWait", StrFormat("input byte lane %u of wait word 0x%08X is not one of 0..4", lane, w));
  return RV_ERROR;
}

uint32_t AddBufWaitRecords(uint32_t w) {
  const uint32_t shift = (((w >> 25) & 7u) * 8u - 8u) & 31u;
  const uint32_t e = ((w >> 16) & 0xFF) << shift;
  const uint32_t m = ((w >> 8) & 0xFF) << shift;
  const uint32_t v = (w & 0xFF) << shift;
  if (e == 0) return EmitWriteRegSeq(m, v, kWaitNoTimeout, 0, kWaitSourceInputs);
  const bool rising = (w >> 24) & 1u;
  EmitWriteRegSeq(m | e, rising ? v & ~e : e | v, kWaitNoTimeout, 0, kWaitSourceInputs);
  EmitWriteRegSeq(m | e, rising ? e | v : v & ~e, kWaitNoTimeout, 0, kWaitSourceInputs);
  return RV_OK;
}
