#pragma once
// The host side of the card's FIFO (2^24 bytes): a job's buffer is opened (or, for an offline
// download, "OffLineFile.tmp"), each 2048-byte stream block goes through the block ring to the
// card, the FIFO is kept below its full mark by asking the card for its pointers and sleeping, and
// at the end of the job the sender waits until the card has received every block and stopped, and
// takes its final status.
//
// Everything runs on the host thread that holds the mark-call guard. No wait is unbounded: every
// wait for room ends when the job is stopped or has failed or the card is lost.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "cardlink/card_wire.h"
#include "markbase/job_state.h"
#include "platform/files.h"
#include "platform/thread_annotations.h"

constexpr uint32_t kFifoBytes = 1u << 24;
constexpr uint32_t kFifoUnit = 512;            // fill levels count 512-byte units
constexpr uint32_t kUnitsPerBlock = kStreamBlockBytes / kFifoUnit;
constexpr uint32_t kHistoryBlocks = 10000;
constexpr uint32_t kRingCapacity = 2048;
constexpr uint32_t kFinalStatusOffline = 0x100;  // a finished offline download
constexpr uint32_t kFinalStatusStopped = 0x200;  // end code 2, sub code 0: the run was stopped

// Blocks between the block builder and the sender.
class BlockRing {
 public:
  BlockRing();
  void Reset() { nWrite = nRead = 0; }
  bool Empty() const { return nWrite == nRead; }
  bool Full() const { return (nWrite + 1) % nSlots == nRead; }
  // Adds a block, waiting in 5 ms steps while the ring is full and the job runs; dropped when the
  // job's run flag is clear.
  void Put(const uint8_t* block) REQUIRES(g_MarkCall);
  // The slot at the write index, to build a block in place, after the same wait as Put; nullptr
  // when the block would be dropped. Publish adds the built block.
  uint8_t* Claim() REQUIRES(g_MarkCall);
  void Publish() { nWrite = (nWrite + 1) % nSlots; }
  const uint8_t* Oldest() const { return &storage[static_cast<size_t>(nRead) * kStreamBlockBytes]; }
  void DropOldest() { nRead = (nRead + 1) % nSlots; }

  uint32_t nSlots;
  uint32_t nWrite = 0;
  uint32_t nRead = 0;

 private:
  std::vector<uint8_t> storage;
};

// The card's FIFO as the host knows it, in 512-byte units.
struct FifoModel {
  uint32_t nUsable = 0;     // usable FIFO units
  uint32_t nFullMark = 0;   // at or above it the card is asked for its pointers
  uint32_t nSleepMark = 0;  // above it the sender sleeps 15 ms after asking
  uint32_t nFill = 0;       // last known content plus what was sent since
  uint32_t nMinFill = 0;    // smallest fill seen from the second query on
  uint32_t nQueries = 0;    // pointer queries in this job
};

class CFifoData {
 public:
  CFifoData();
  // Reads [HARDWARE] dbValideBufPercentTransThread, dbValideBufferSpacePercent and
  // dbCanSleepValidSpacePercent (bRead true) or takes their defaults, and derives the marks and the
  // ring's slot count.
  static void ReadBufferPara(bool bRead);

  // Resets the per-job state (statistics, flags, fill model) for a new job.
  void ResetForJob();
  // Opens the buffer of a job: flag 1 when a mark task of the task state machine owns it.
  void BufferStart(uint32_t flag) REQUIRES(g_MarkCall);
  // Sends the ring's oldest block, or waits for room; true.
  bool PushBlock() REQUIRES(g_MarkCall);
  // Sends every block of the ring while the card is connected.
  void DrainRing() REQUIRES(g_MarkCall);
  // Asks the card for its FIFO pointers and updates the fill model; the fill in units.
  uint32_t QueryFillLevel();
  // Waits until the card has received every block and ended its run, and takes its final status.
  // A card that takes no block for 10 s while blocks are missing ends the wait: final status 0,
  // bCardTookNoData set, the card's run stopped; the link stays up.
  void WaitSendFinish() REQUIRES(g_MarkCall);

  // Statistics of the sender, noted before each block is handed to the ring.
  void NoteBlockBuilt(uint32_t tick);
  // Hands what "OffLineFile.tmp" holds in its buffer to the system; a refused write fails the job
  // with 9.
  void FlushOfflineFile() REQUIRES(g_MarkCall);
  // Closes "OffLineFile.tmp" when it is open; false when something written to it was lost.
  bool CloseOfflineFile();

  // "OffLineFile.tmp" while an offline download runs, written in pieces of 1 MB.
  std::unique_ptr<plat::OutFile> pOfflineFile;
  uint32_t nSentUnits = 0;     // 512-byte units sent in this job
  uint32_t nLoggedUnits = 0;   // the sent count at the previous send log line
  uint8_t bSameData = 1;       // every block so far equals the previous job's block at its index
  uint32_t nHistoryBlocks = 0; // blocks of the previous jobs the history holds
  std::atomic<uint32_t> bFlushRequested{0};
  uint32_t bRunStarted = 0;
  uint32_t nStartFlag = 0;     // argument of the last BufferStart
  uint32_t nFinalStatus = 0;
  uint8_t bCardTookNoData = 0;  // the end wait gave up: the card stopped taking in blocks

  // Send statistics.
  uint32_t nStartTick = 0;
  uint32_t nLastSendTick = 0;
  uint32_t nLogTick = 0;
  uint32_t nIdleCount = 0;
  uint32_t nMaxIdleMs = 0;
  uint32_t nSendCount = 0;
  uint8_t bFirstBlock = 1;
  double dbWaitMs = 0.0;       // sleeps of the sender (with bPrintTime)

  FifoModel model;

 private:
  // A refused write of "OffLineFile.tmp": the file closed, a log line, the job failed with 9.
  [[noreturn]] void FailOfflineWrite(const char* tag);
  // The history of the first kHistoryBlocks blocks sent, kept across jobs, as a 128-bit digest per
  // block: the same-data flag only asks whether a block equals the one at its index, and a digest of
  // 16 bytes answers that with a false "same" practically impossible (2^-128 per block), in 160 KB
  // held from the start instead of 20 MB of block copies.
  void NoteHistory(uint32_t index, const uint8_t* block);
  std::array<std::array<uint64_t, 2>, kHistoryBlocks> history{};
};

extern CFifoData g_FifoData;
extern BlockRing g_BlockRing;
// The job's run flag: set by BufferStart, cleared at the end of the job.
extern std::atomic<uint32_t> g_bRunFlag;
