#include "mark/fifo_data.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "cardlink/card_cmd.h"
#include "cardlink/card_locks.h"
#include "cardlink/portlane.h"
#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "laser/laser_outputs.h"
#include "markbase/job_state.h"
#include "mark/phase_timer.h"
#include "platform/clock.h"
#include "platform/debug_out.h"

namespace {

constexpr uint32_t kFifoMaxAddress = kFifoBytes - 1;  // 16777215
constexpr uint32_t kSenderSleepMs = 15;
constexpr uint32_t kRingSleepMs = 5;
constexpr uint32_t kIdleGapMs = 100;             // a gap between blocks counted as an idle period
constexpr uint32_t kReceiveStallMs = 10000;      // the card shows no progress in taking the blocks

struct BufferPara {
  uint32_t slots;
  FifoModel model;
};

// Clamps with NaN taking the lower bound.
double Clamp(double v, double lo, double hi) {
  if (!(v >= lo)) return lo;
  return v > hi ? hi : v;
}

BufferPara DeriveBufferPara(double trans, double space, double sleep) {
  BufferPara p;
  p.slots = RealToUInt32(Clamp(trans, 0.01, 0.999) * kRingCapacity);
  const uint32_t usable = RealToUInt32(Clamp(space, 0.01, 0.999) * kFifoMaxAddress / kFifoUnit);
  p.model.nUsable = usable;
  p.model.nFullMark = RealToUInt32(usable * 0.98);
  p.model.nSleepMark = RealToUInt32(Clamp(sleep, 0.0, 1.0) * usable);
  return p;
}

const BufferPara kDefaultBufferPara = DeriveBufferPara(0.999, 0.999, 0.8);

uint32_t FillUnits(uint32_t readPtr, uint32_t writePtr) { return ((writePtr - readPtr) & kFifoMaxAddress) / kFifoUnit; }

// MurmurHash3 (x64, 128-bit) of one block: the digest of the same-data history.
uint64_t Fmix64(uint64_t k) {
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdULL;
  k ^= k >> 33;
  k *= 0xc4ceb9fe1a85ec53ULL;
  k ^= k >> 33;
  return k;
}

uint64_t Rotl64(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

std::array<uint64_t, 2> BlockDigest(const uint8_t* block) {
  constexpr uint64_t c1 = 0x87c37b91114253d5ULL, c2 = 0x4cf5ad432745937fULL;
  uint64_t h1 = 0, h2 = 0;
  static_assert(kStreamBlockBytes % 16 == 0, "whole 16-byte steps");
  // One lane of a step: the key mixed in, the lane rotated and stirred with the other lane.
  auto lane = [](uint64_t& h, uint64_t k, uint64_t ca, uint64_t cb, int rk, int rh, uint64_t other, uint64_t add) {
    h ^= Rotl64(k * ca, rk) * cb;
    h = (Rotl64(h, rh) + other) * 5 + add;
  };
  for (uint32_t i = 0; i < kStreamBlockBytes; i += 16) {
    lane(h1, GetU64(block + i), c1, c2, 31, 27, h2, 0x52dce729);
    lane(h2, GetU64(block + i + 8), c2, c1, 33, 31, h1, 0x38495ab5);
  }
  h1 ^= kStreamBlockBytes;
  h2 ^= kStreamBlockBytes;
  h1 += h2;
  h2 += h1;
  h1 = Fmix64(h1);
  h2 = Fmix64(h2);
  h1 += h2;
  h2 += h1;
  return {h1, h2};
}

void Wait(uint32_t ms) {
  plat::Sleep(ms);
  if (g_SystemPara.bPrintTime) g_FifoData.dbWaitMs += ms;
}

}  // namespace

CFifoData g_FifoData;
BlockRing g_BlockRing;
std::atomic<uint32_t> g_bRunFlag{0};

CFifoData::CFifoData() { model = kDefaultBufferPara.model; }

BlockRing::BlockRing() : nSlots(kDefaultBufferPara.slots), storage(static_cast<size_t>(kRingCapacity) * kStreamBlockBytes) {}

uint8_t* BlockRing::Claim() {
  while (Full() && g_bRunFlag) {
    // The wait ends when the job is stopped or has failed or the card is lost.
    if (g_MarkJob.bStopMark || MarkFailed() || !g_Link.g_bConnected) return nullptr;
    Wait(kRingSleepMs);
    g_FifoData.DrainRing();
  }
  if (!g_bRunFlag) return nullptr;
  return &storage[static_cast<size_t>(nWrite) * kStreamBlockBytes];
}

void BlockRing::Put(const uint8_t* block) {
  uint8_t* slot = Claim();
  if (!slot) return;
  std::memcpy(slot, block, kStreamBlockBytes);
  Publish();
}

void CFifoData::ReadBufferPara(bool bRead) {
  auto read = [bRead](const char* key, double def) { return bRead ? ReadMainDouble("HARDWARE", key, def) : def; };
  const double trans = read("dbValideBufPercentTransThread", 0.999);
  double space = read("dbValideBufferSpacePercent", 0.999);
  if (g_SystemPara.wob == 1) space = 0.8;
  const double sleep = read("dbCanSleepValidSpacePercent", 0.8);
  const BufferPara p = DeriveBufferPara(trans, space, sleep);
  g_BlockRing.nSlots = p.slots < 2 ? 2 : p.slots;
  g_BlockRing.Reset();
  g_FifoData.model = p.model;
}

void CFifoData::ResetForJob() {
  nSentUnits = nLoggedUnits = 0;
  bSameData = 1;
  bFlushRequested = 0;
  bRunStarted = 0;
  nFinalStatus = 0;
  nStartTick = nLastSendTick = nLogTick = plat::TickMs();
  nIdleCount = nMaxIdleMs = nSendCount = 0;
  bFirstBlock = 1;
  dbWaitMs = 0.0;
  model.nFill = model.nFullMark;  // the first block asks the card for its pointers
  model.nMinFill = 0;
  model.nQueries = 0;
  g_PhaseTimer.StartJob(nStartTick);
}

bool CFifoData::CloseOfflineFile() {
  if (!pOfflineFile) return true;
  const bool ok = pOfflineFile->Close();
  pOfflineFile.reset();
  return ok;
}

void CFifoData::FailOfflineWrite(const char* tag) {
  CloseOfflineFile();
  g_ErrorLog.Write(tag, LOG_ERROR, "Can't write download file!");
  ThrowMarkError(RV_NOT_OPEN_OFFLINE_FILE);
}

void CFifoData::FlushOfflineFile() {
  if (pOfflineFile && !pOfflineFile->Flush()) FailOfflineWrite("CFifoData::FlushOfflineFile");
}

void CFifoData::BufferStart(uint32_t flag) {
  g_bRunFlag = 1;
  nFinalStatus = 0;
  nStartFlag = flag;
  // The buffer counts as started before anything can fail, so that a failure here ends the job like
  // any other (later calls see a failed job, not one that never started).
  g_MarkJob.nMarkState = kMarkStateBufferStarted;
  nStartTick = plat::TickMs();
  CLaserAll::SetEnableOutputs(1);
  if (g_MarkJob.nRunMode == 2) {
    CloseOfflineFile();
    pOfflineFile = plat::OutFile::Create(GetModuleDir() + "OffLineFile.tmp");
    if (!pOfflineFile) {
      g_ErrorLog.Write("CFifoData::BufferStart", LOG_ERROR, "Can't create download file!");
      // Without the file no block could be taken: the job fails instead of waiting for room.
      ThrowMarkError(RV_NOT_OPEN_OFFLINE_FILE);
    }
  } else {
    SendCmdNoReply(CMD_OPERATE, OP_START_RUN, 0);
  }
}

uint32_t CFifoData::QueryFillLevel() {
  CmdReply reply;
  CPortlane::SendCmd(CMD_FIFO_POINTERS, 0, 0, reply);
  model.nFill = FillUnits(reply.r0(), reply.r1());
  if (model.nQueries == 1)
    model.nMinFill = model.nFill;
  else if (model.nQueries > 1)
    model.nMinFill = std::min(model.nMinFill, model.nFill);
  ++model.nQueries;
  return model.nFill;
}

void CFifoData::NoteHistory(uint32_t index, const uint8_t* block) {
  if (index >= kHistoryBlocks) return;
  const std::array<uint64_t, 2> digest = BlockDigest(block);
  if (index >= nHistoryBlocks || history[index] != digest) {
    bSameData = 0;
    history[index] = digest;
  }
}

bool CFifoData::PushBlock() {
  const uint32_t index = nSentUnits / kUnitsPerBlock;
  // The block is sent from its slot: nothing writes the ring while this thread sends.
  const uint8_t* block = g_BlockRing.Oldest();
  if (g_MarkJob.nRunMode == 2) {
    if (!pOfflineFile) return true;
    g_BlockRing.DropOldest();
    if (!pOfflineFile->Write(block, kStreamBlockBytes)) FailOfflineWrite("CFifoData::PushBlock");
  } else {
    if (model.nFill >= model.nFullMark) {
      QueryFillLevel();
      if (model.nFill > model.nSleepMark) Wait(kSenderSleepMs);
      if (model.nFill >= model.nFullMark) {
        if (g_SystemPara.wob) SetMarkErrorAndThrow(RV_ERROR, "Wob Data Full Error!");
        return true;  // no room yet: the caller calls again
      }
    }
    g_BlockRing.DropOldest();
    CPortlane::BufSend(block);
  }
  NoteHistory(index, block);
  nSentUnits += kUnitsPerBlock;
  model.nFill += kUnitsPerBlock;
  nLastSendTick = plat::TickMs();
  ++nSendCount;
  if (bFlushRequested == 1 && !bRunStarted) {
    bRunStarted = 1;
    SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_START_BUFFERED_RUN);
  }
  return true;
}

void CFifoData::DrainRing() {
  while (!g_BlockRing.Empty() && (g_MarkJob.nRunMode == 2 || g_Link.g_bConnected)) {
    // The wait for room ends when the job is stopped or has failed.
    if (g_MarkJob.bStopMark || MarkFailed()) return;
    PushBlock();
  }
}

void CFifoData::NoteBlockBuilt(uint32_t tick) {
  if (bFirstBlock) {
    bFirstBlock = 0;
  } else {
    const uint32_t gap = tick - nLastSendTick;
    if (gap > nMaxIdleMs) nMaxIdleMs = gap;
    if (gap > kIdleGapMs) ++nIdleCount;
  }
}

void CFifoData::WaitSendFinish() {
  bCardTookNoData = 0;
  // The blocks of this job are the history the next job is compared with.
  nHistoryBlocks = std::max(nHistoryBlocks, std::min(nSentUnits / kUnitsPerBlock, kHistoryBlocks));
  if (g_MarkJob.nRunMode == 2) {
    // A file that lost a piece at its close leaves the download unfinished.
    if (CloseOfflineFile()) {
      nFinalStatus = kFinalStatusOffline;
    } else {
      g_ErrorLog.Write("CFifoData::WaitSendFinish", LOG_ERROR, "Can't write download file!");
      nFinalStatus = 0;
    }
    return;
  }
  // The wait is bounded only while the card has not received every block and its received count
  // makes no progress: a card that stops taking data fails the job, but the link stays up. Once every
  // block is in, the card is running the job and answers each poll; that wait lasts as long as the
  // job does.
  uint32_t lastReceived = 0xFFFFFFFF;
  uint32_t progressTick = plat::TickMs();
  while (g_Link.g_bConnected) {
    CardCmdGiveWay();
    bool ready = true;
    if (g_SystemPara.CardLinkCfg.bUsbCard) {
      uint8_t st[4] = {};
      CPortlane::SendComCmd(REQ_USB_STATUS, 0, 0, st, 4);
      ready = (GetU32(st) >> 8) & 1u;
    }
    CmdReply reply;
    CPortlane::SendCmd(CMD_RECEIVED_COUNT, 0, 0, reply);
    plat::DebugOutput(StrFormat("zbr:Send %x -- Recv %x", nSentUnits, reply.r1()));
    const uint32_t received = reply.r1() & 0xFF;
    const bool allReceived = received == (nSentUnits & 0xFF);
    if (ready && allReceived && !(reply.r0() & 1)) break;
    if (allReceived || received != lastReceived) {
      lastReceived = received;
      progressTick = plat::TickMs();
    } else if (plat::TickMs() - progressTick > kReceiveStallMs) {
      g_ErrorLog.Write("CFifoData::WaitSendFinish", LOG_ERROR,
                       "the card takes no data: nothing received for %u ms, sent %x, received %x", kReceiveStallMs,
                       nSentUnits, reply.r1());
      StopCardRun();
      nFinalStatus = 0;
      bCardTookNoData = 1;
      return;
    }
  }
  SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_FLUSH);
  CmdReply status;
  do {
    CardCmdGiveWay();
    CPortlane::SendCmd(CMD_STATUS, 0, 0, status);
    plat::Sleep(1);
  } while (g_Link.g_bConnected && (status.r0() & 7u) != 0);
  nFinalStatus = status.r1();
}
