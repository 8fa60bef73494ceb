#pragma once
// The flush pipeline: from floor 0's eight word channels to the card's 2048-byte stream blocks.
//
// A flush merges the channels in time order into the merged queue while holding back a window of
// stream time (late writers may still put words in between), encodes explicit time advances
// (0x57) in front of every word that is later than its predecessor, cuts the encoded stream into
// blocks in the layout of the card (nBufDataCheckType) and hands each block to the block ring and the
// FIFO sender. A block is built straight from the stream words into its ring slot, and sent from there. A flush runs at the start of every mark-list call, at every floor pop, at the buffer
// exports and, final (no window, last block padded), at the end of the job.
//
// Block layouts (512 little-endian words, written byte by byte):
//   0  words 0..511 stream words; the stream itself begins with 0x5110A55A
//   1  4 sub-blocks of 128 words: word 0 = 0x5110A55A | ((sequence + i) mod 16) << 16, then 127
//      stream words; the sequence grows by 4 per block
//   2  16 sub-blocks of 32 words: 31 stream words, then 0x5A000000 | CRC-16 of the sub-block's
//      first 124 bytes (polynomial 0x1021, initial value (sequence + i) & 0xFFFF); the sequence grows
//      by 16 per block
// A configured layout other than 1 or 2 is taken as layout 0 (header word included).
//
// Bounds that keep a slow card from eating memory: a non-final flush skips merging while the merged
// queue holds more than 0x10000 entries, and skips encoding while more than 0x10000 stream words wait.
// A time advance never exceeds its 24-bit operand: the merge inserts NOP fillers into long gaps, and
// the encoder splits a wider advance into steps of at most 0x700000 µs with NOP words between them.
//
// Runs on the host thread that holds the mark-call guard.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cardlink/card_wire.h"
#include "markbase/job_state.h"
#include "markbase/mark_floor.h"


constexpr uint32_t kStreamBlockWords = kStreamBlockBytes / 4;
constexpr size_t kPipelineLimit = 0x10000;  // merged entries / stream words before a flush only sends
constexpr uint32_t kPadSpacerEvery = 20;    // every 20th padding word, counted back from the last

// Layout of the blocks by nBufDataCheckType (0, 1 or 2).
uint32_t StreamLayout();
// Stream bytes carried by one block of a layout: 2048, 2032 or 1984.
uint32_t StreamPayloadBytes(uint32_t layout);
// Builds one block of `layout` with the sub-block sequence `sequence` from stream words: at most the
// layout's payload words; a short piece is padded like the last block of a job.
void BuildStreamBlockFromWords(const uint32_t* words, size_t count, uint32_t layout, uint32_t sequence,
                               uint8_t* block);
// How much the sub-block sequence grows per block of a layout: 0, 4 or 16.
uint32_t SequenceStep(uint32_t layout);

// Rotation marking is on (QZ_SetRotateMarkPara's enable is 1): every flush passes the merged queue
// through RotMark::Process (mark/rot_mark.h), which moves it into the rotation queue at a final flush,
// and the rotation queue is encoded.
bool RotationMarkingOn();

class CMarkData2Fifo {
 public:
  CMarkData2Fifo();

  // The job-start reset: queues emptied, merge time 0, the stream emptied (and given its header word
  // in layout 0), sequence 0, last encoded time -1, first-chunk flag 1.
  void Reset();
  // The whole pipeline; bFinal merges everything, encodes everything and pads the last block.
  void Flush(uint8_t bFinal) REQUIRES(g_MarkCall);
  // Merges floor 0's channels into the merged queue, holding back `window` µs of stream time.
  void MergeChannels(uint32_t window);
  // Encodes all but `keep` entries of `queue` into stream words (nothing unless at least 2 x keep).
  void EncodeDeltas(uint32_t keep, std::vector<TimedWord>& queue);
  // Cuts blocks while more than `keep` stream words wait, and sends them.
  void SendFifoData(uint32_t keep) REQUIRES(g_MarkCall);

  std::vector<TimedWord> vMerged;
  std::vector<TimedWord> vRotation;
  int64_t nMergeTime = 0;
  std::vector<uint32_t> vStreamWords;
  uint32_t nSequence = 0;
  int64_t nLastEncodedTime = -1;
  uint8_t bFirstChunk = 1;
  // The previous merged word (for the failure text of a time going back).
  int32_t nLastMergedChannel = 0;
  uint32_t nLastMergedWord = 0;
  // Ticks of the previous send and of the previous send log line.
  uint32_t nPrevSendTick = 0;
  uint32_t nLogTick = 0;
};

extern CMarkData2Fifo g_MarkData2Fifo;
