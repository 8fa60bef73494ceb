#include "mark/mark_data2fifo.h"

#include "mark/rot_mark.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "mark/crc16.h"
#include "mark/fifo_data.h"
#include "markbase/job_state.h"
#include "mark/phase_timer.h"
#include "markbase/stream_words.h"
#include "platform/clock.h"

CMarkData2Fifo g_MarkData2Fifo;

namespace {

constexpr uint32_t kLayout1SubBlocks = 4;
constexpr uint32_t kLayout1SubWords = 128;
constexpr uint32_t kLayout2SubBlocks = 16;
constexpr uint32_t kLayout2SubWords = 32;
constexpr uint32_t kMaxAdvance = 0xFFFFFF;             // the operand of a time advance
constexpr uint32_t kSplitAdvance = SystemPara::nMaxMergeGapUs;  // step of a split advance

bool Stopped() { return g_MarkJob.bStopMark.load(std::memory_order_relaxed) != 0; }

// Removes the first n entries of a vector, moving the rest to the front (capacity kept).
template <class T>
void DropFront(std::vector<T>& v, size_t n) {
  if (n >= v.size())
    v.clear();
  else if (n)
    v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

uint32_t StreamLayout() {
  const int32_t t = g_SystemPara.nBufDataCheckType;
  return t == 1 || t == 2 ? static_cast<uint32_t>(t) : 0;
}

uint32_t StreamPayloadBytes(uint32_t layout) {
  switch (layout) {
    case 1:
      return kLayout1SubBlocks * (kLayout1SubWords - 1) * 4;  // 2032
    case 2:
      return kLayout2SubBlocks * (kLayout2SubWords - 1) * 4;  // 1984
    default:
      return kStreamBlockBytes;
  }
}

uint32_t SequenceStep(uint32_t layout) {
  return layout == 1 ? kLayout1SubBlocks : (layout == 2 ? kLayout2SubBlocks : 0);
}

namespace {

// The payload word at index j of a piece of `count` stream words padded to `slots` words.
inline uint32_t PadWord(uint32_t j, uint32_t slots) {
  return (slots - 1 - j) % kPadSpacerEvery == 0 ? SW_PAD_SPACER : SW_NOP;
}

// Writes payload words [from, from + n) of the piece into `out`.
inline void PutPayload(const uint32_t* words, size_t count, uint32_t slots, uint32_t from, uint32_t n, uint8_t* out) {
  const uint32_t full = count > from ? static_cast<uint32_t>(std::min<size_t>(n, count - from)) : 0;
  for (uint32_t i = 0; i < full; ++i) PutU32(out + 4 * i, words[from + i]);
  for (uint32_t i = full; i < n; ++i) PutU32(out + 4 * i, PadWord(from + i, slots));
}

}  // namespace

void BuildStreamBlockFromWords(const uint32_t* words, size_t count, uint32_t layout, uint32_t sequence,
                               uint8_t* block) {
  // Built in place, one pass per sub-block: the words, then the padding of a short piece (a NOP in
  // every free slot, the spacer 0x57000001 in every 20th slot counted back from the last).
  const uint32_t slots = StreamPayloadBytes(layout) / 4;
  count = std::min<size_t>(count, slots);
  if (layout == 1) {
    for (uint32_t i = 0; i < kLayout1SubBlocks; ++i) {
      uint8_t* sub = block + i * kLayout1SubWords * 4;
      PutU32(sub, SW_STREAM_HEADER | ((sequence + i) & 15u) << 16);
      PutPayload(words, count, slots, i * (kLayout1SubWords - 1), kLayout1SubWords - 1, sub + 4);
    }
  } else if (layout == 2) {
    for (uint32_t i = 0; i < kLayout2SubBlocks; ++i) {
      uint8_t* sub = block + i * kLayout2SubWords * 4;
      PutPayload(words, count, slots, i * (kLayout2SubWords - 1), kLayout2SubWords - 1, sub);
      const uint16_t crc = CalcCrc16(sub, kStreamCrcPoly, static_cast<uint16_t>(sequence + i), 0, 0, 0);
      PutU32(sub + kCrc16Bytes, SW_CRC | crc);
    }
  } else {
    PutPayload(words, count, slots, 0, slots, block);
  }
}

bool RotationMarkingOn() { return g_RotatePara.nEnable.load() == 1; }

namespace {
int64_t FloorMergedTime() { return g_MarkData2Fifo.nMergeTime; }
void FloorFlush() REQUIRES(g_MarkCall) { g_MarkData2Fifo.Flush(0); }
}  // namespace

// The floors below call back into the pipeline through the hooks it installs.
CMarkData2Fifo::CMarkData2Fifo() { InstallFloorPipeline({&FloorMergedTime, &FloorFlush}); }

void CMarkData2Fifo::Reset() {
  vMerged.clear();
  vRotation.clear();
  nMergeTime = 0;
  vStreamWords.clear();
  if (StreamLayout() == 0) vStreamWords.push_back(SW_STREAM_HEADER);
  nSequence = 0;
  nLastEncodedTime = -1;
  bFirstChunk = 1;
  nLastMergedChannel = 0;
  nLastMergedWord = 0;
  nPrevSendTick = nLogTick = plat::TickMs();
}

void CMarkData2Fifo::Flush(uint8_t bFinal) {
  uint32_t window = bFirstChunk ? g_SystemPara.HowLongTimeFirstBuf : g_SystemPara.nSteadyWindowUs;
  if (bFinal) window = 0;
  if (!(window != 0 && vMerged.size() > kPipelineLimit)) MergeChannels(window);
  std::vector<TimedWord>* queue = &vMerged;
  if (RotationMarkingOn()) {
    // A final flush moves the whole merged queue, rewritten, into the rotation queue.
    g_RotMark.Process(bFinal != 0, vMerged, vRotation);
    queue = &vRotation;
  }
  EncodeDeltas(bFinal ? 0 : 100, *queue);
  SendFifoData(bFinal ? 0 : kStreamBlockWords);
  // What an offline download holds in its file buffer is written now, while a failure still fails
  // the job.
  if (bFinal) g_FifoData.FlushOfflineFile();
}

void CMarkData2Fifo::MergeChannels(uint32_t window) {
  if (!g_MarkJob.g_bMarkCallBusy.load()) throw MyException(RV_MARK_DATA_NOT_LOCKED, 1);
  CMarkFloor& f = g_MarkFloor[0];
  f.UpdateClock();
  const int64_t clock = static_cast<int64_t>(f.clock);
  const int64_t w = window;  // 64-bit and never negative
  int64_t m = nMergeTime;
  // At least twice the window of stream time must be pending.
  if (m + w > clock - w) return;
  bFirstChunk = 0;
  size_t read[kFloorChannels] = {};
  auto compact = [&] {
    for (int i = 0; i < kFloorChannels; ++i) DropFront(*f.ch[i], read[i]);
  };
  // The channels that hold words, as cursors: the loop picks the earliest head among them and drops
  // a channel once it is read out (a job keeps only a few channels busy at a time).
  struct Cursor {
    const TimedWord* next;
    const TimedWord* end;
    int channel;
  };
  Cursor live[kFloorChannels];
  int nLive = 0;
  for (int i = 0; i < kFloorChannels; ++i) {
    const std::vector<TimedWord>& c = *f.ch[i];
    if (!c.empty()) live[nLive++] = {c.data(), c.data() + c.size(), i};
  }
  if (!Stopped()) {
    const bool failed = MarkFailed();  // only this thread fails the job, by throwing
    bool done = failed;
    while (!done && nLive > 0) {
      // The earliest head; on equal times the highest channel goes first.
      int best = 0;
      int64_t t = TwTime(*live[0].next);
      for (int k = 1; k < nLive; ++k) {
        const int64_t tk = TwTime(*live[k].next);
        if (tk <= t) {
          t = tk;
          best = k;
        }
      }
      // The earliest head of the other channels: the chosen channel runs on while its words are
      // earlier (on an equal time the choice is made again).
      int64_t limit = std::numeric_limits<int64_t>::max();
      for (int k = 0; k < nLive; ++k)
        if (k != best) limit = std::min(limit, TwTime(*live[k].next));
      Cursor& cur = live[best];
      const int cand = cur.channel;
      for (;;) {
        // Inside the held-back window (a head beyond the clock is never merged).
        if (t > clock || clock - t < w) {
          done = true;
          break;
        }
        const uint32_t word = cur.next->word;
        if (t < m) {
          nMergeTime = m;
          compact();
          SetMarkErrorAndThrow(RV_ERROR, StrFormat("数据流时间非依次递增，请联系供应商!!! \n maxOld=%lld idx=%d info=%x \n "
                                                   "nextTm=%lld idx=%d info=%x",
                                                   static_cast<long long>(m), nLastMergedChannel, nLastMergedWord,
                                                   static_cast<long long>(t), cand, word));
        }
        constexpr int64_t G = SystemPara::nMaxMergeGapUs;
        while (t - m > G) {
          m = RealToInt64(static_cast<double>(m) + 0.8 * static_cast<double>(G));
          vMerged.push_back({static_cast<uint64_t>(m), SW_NOP});
        }
        vMerged.push_back({static_cast<uint64_t>(t), word});
        ++read[cand];
        m = t;
        nLastMergedChannel = cand;
        nLastMergedWord = word;
        if (Stopped()) {
          done = true;
          break;
        }
        if (++cur.next == cur.end) {
          // Read out: the channels after it move up, keeping their order for equal times.
          for (int k = best; k + 1 < nLive; ++k) live[k] = live[k + 1];
          --nLive;
          break;
        }
        t = TwTime(*cur.next);
        if (t >= limit) break;
      }
    }
  }
  nMergeTime = m;
  compact();
}

void CMarkData2Fifo::EncodeDeltas(uint32_t keep, std::vector<TimedWord>& queue) {
  if (keep != 0 && vStreamWords.size() > kPipelineLimit) return;
  const int64_t n = static_cast<int64_t>(queue.size()) - keep;
  if (n < static_cast<int64_t>(keep) || n < 1) return;
  if (MarkFailed()) return;  // only this thread fails the job, by throwing
  size_t done = 0;
  for (; done < static_cast<size_t>(n) && !Stopped(); ++done) {
    const TimedWord& e = queue[done];
    const int64_t t = TwTime(e);
    if (t != nLastEncodedTime) {
      if (t < nLastEncodedTime) {
        DropFront(queue, done);
        ThrowMarkError(RV_MARK_TIME_NOT_ADD);
      }
      uint64_t dt = static_cast<uint64_t>(t) - static_cast<uint64_t>(nLastEncodedTime);
      if (dt > kMaxAdvance) {
        // Only a queue fed around the merge's fillers gets here: no advance may spill into the opcode.
        while (dt > kSplitAdvance) {
          vStreamWords.push_back(SW_TIME_ADVANCE | kSplitAdvance);
          vStreamWords.push_back(SW_NOP);
          dt -= kSplitAdvance;
        }
      }
      vStreamWords.push_back(SW_TIME_ADVANCE | static_cast<uint32_t>(dt));
      nLastEncodedTime = t;
    }
    vStreamWords.push_back(e.word);
  }
  DropFront(queue, done);
}

void CMarkData2Fifo::SendFifoData(uint32_t keep) {
  if (vStreamWords.size() <= keep) return;
  const uint32_t now = plat::TickMs();
  g_PhaseTimer.Switch(now);
  const uint32_t fill = g_FifoData.QueryFillLevel();
  // The figures of the log line as they were before sending (kept as numbers: a send allocates
  // nothing).
  const double genMb = static_cast<double>(vStreamWords.size()) * 4.0 / 1048576.0;
  const int32_t sinceLast = static_cast<int32_t>(now - nPrevSendTick);
  nPrevSendTick = now;

  const uint32_t layout = StreamLayout();
  const uint32_t payloadWords = StreamPayloadBytes(layout) / 4;
  size_t sent = 0;
  const bool failed = MarkFailed();
  while (!failed && vStreamWords.size() - sent > keep && !Stopped()) {
    const size_t take = std::min<size_t>(payloadWords, vStreamWords.size() - sent);
    g_FifoData.NoteBlockBuilt(plat::TickMs());
    // The block is built straight into its ring slot (a short last piece padded on the way).
    if (uint8_t* slot = g_BlockRing.Claim()) {
      BuildStreamBlockFromWords(vStreamWords.data() + sent, take, layout, nSequence, slot);
      g_BlockRing.Publish();
    }
    nSequence += SequenceStep(layout);
    sent += take;
    g_FifoData.DrainRing();
    if (MarkFailed()) break;
  }
  DropFront(vStreamWords, sent);
  if (sent) {
    const uint32_t tick = plat::TickMs();
    const double mb = (g_FifoData.nSentUnits - g_FifoData.nLoggedUnits) / 2048.0;
    g_InfoLog.Write("CMarkData2Fifo::SendFifoData", LOG_INFO, "gened nDdr=%.3f  Gen=%.3f tmAll=%d  (Send=%.3f tm=%d)",
                    fill / 2048.0, genMb, sinceLast, mb, static_cast<int32_t>(tick - nLogTick));
    g_FifoData.nLoggedUnits = g_FifoData.nSentUnits;
    nLogTick = tick;
  }
}
