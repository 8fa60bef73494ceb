#pragma once
// The card model behind the simulated driver link.
//
// One CardModel is one card. The driver entry points and the cardsim_ control functions work on
// the process-global one (CardModel::Global()); tests of the model may build their own. Every
// entry takes the model's mutex for an O(1) step (no sleeping inside the lock; a latency that a
// test asks for is slept after the lock is released), so commands may arrive from several threads.
//
// The wire vocabulary (command numbers, link status bits, link words, control requests, flags,
// operations, the block size) is the library's own header, cardlink/card_wire.h; the card includes
// nothing else of the library, and its block checks, CRC and decoding are its own.
//
// The card's side of the link:
// - Link status word (QZ_DeviceIoControl 0x222004): toggle nibble 0xA / 0x5 flipping on every read
//   (bits 31-28), latched link-fail reasons or link counter (25-16), link level (15-14), linked
//   (13), second link (12), link error (11-9), link flags (6, 5), bulk ready (3), command ready (2),
//   reply pending (1), bulk data pending (0).
// - Command frames: USB 10 bytes; PCIe 12 bytes, or 16 behind the header 0x0300000C; PCIe link
//   words of 4 bytes. Anything else is refused (nonzero) and logged as rejected. The reply
//   (10 bytes USB, 12 PCIe) echoes the command word exactly; it waits until QZ_CmdRecv takes it, and
//   a later frame replaces a reply nobody took.
// - Command words: on a card with numbered commands (version >= 64) the number is word & 0x1FF and
//   the sequence nibble word >> 12. On an older card a word whose low byte is 0x55 and high byte is
//   not 0 is the legacy form of 256 + high byte; any other word is read like a numbered one (the
//   library numbers its first frames after an open before it knows the card's version).
// - Control requests: USB 0xDF (start-up and channel state), 0xDC (firmware bytes); PCIe 0xA2
//   (secondary card byte). A request of the other card type is refused.
// - Bulk chunks go into the card's FIFO (stream_engine.h: checker, decoder, executor), and to a
//   BulkSink when a test set one. Command 83 (1, 0) opens the buffer; 86 and 89 report on the
//   FIFO; flags 0x40000, 0x8, 0x4, 0x1 and 0x2 start, flush, stop, pause and resume the run;
//   command 100 (0, 0) answers the last count marker run in r0 bits 0-15; 17, 18 and 19 answer what
//   the card waits for. The executor is brought up to date at every entry point (the lock held), so
//   a paced run advances with each exchange, and a wait on the inputs ends at the first entry that
//   sees them match.
// - The flash (flash_model.h): 83 (2, word) runs a flash control word; the bulk bytes of a data
//   phase go to the page buffer, not the FIFO; a bulk-read word gets no reply, its page waits on
//   the bulk channel for QZ_BufRecv (link status bit 0). 83 (4, word) commits flash areas; flag
//   0x10000 takes areas out of effect (status r0 bits 14-20); the page status is status r1 bits
//   0-7. With a busy count each operation keeps its run-state bit for that many status commands.
// - Cards: QZ_GetCardsNo reports `present` cards (1 by default), the first at index 0;
//   QZ_OpenDriver refuses an index beyond them and opens nothing.
//
// The state file. The real card keeps its state while its host dies; this one lives inside the
// host process. When CARDSIM_STATE names a file, the process-global model loads what a later
// process must see from it at power-up (library load), and every entry that changed any of it
// writes it back before the lock is released (sim_state.cpp lists the keys). The variable is read
// at power-up, at Reset, and by SaveState and LoadState.
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "cardlink/card_wire.h"
#include "cardsim_api.h"
#include "debug_record_model.h"
#include "encoder_model.h"
#include "axis_model.h"
#include "flash_model.h"
#include "immediate_model.h"
#include "offline_run.h"
#include "oss_model.h"
#include "para_record.h"
#include "stream_engine.h"
#include "svg_writer.h"

namespace cardsim {

enum class CardType : uint32_t { Usb = 0, Pcie = 1 };

// The hardware word bits of a card version v: ((word >> 3) & 0xE0) + (word & 0x1F) gives v back.
constexpr uint32_t VersionBits(uint32_t v) { return (v & 0x1F) | ((v & 0xE0) << 3); }
constexpr uint32_t kVersionBitsMask = 0x71F;

// A tap on the bulk channel for tests: sees every chunk the card takes, besides the FIFO.
class BulkSink {
 public:
  virtual ~BulkSink() = default;
  // Called under the model's lock; must be O(chunk length) and must not call back into the model.
  virtual void Chunk(const uint8_t* data, uint32_t length) = 0;
};

// What tests and the configuration file set. It survives close and reopen; Reset restores it.
struct CardConfig {
  CardType type = CardType::Usb;
  uint32_t present = 1;          // cards the driver reports (indexes 0..present-1); 0: none
  uint32_t hwWord = VersionBits(85);
  uint32_t hwFeatures = 0x3000;
  uint32_t hwInfo2[2] = {0, 0};
  uint8_t uniqueId[7] = {0x51, 0x5A, 0x4D, 0x00, 0x00, 0x00, 0x01};
  uint8_t usbFirmware[2] = {0x01, 0x00};
  uint32_t usbStartup = 0;       // 0 complete, 1 incomplete, 2 never ready
  uint32_t usbNotReadyPolls = 0;
  uint32_t inputs = 0;
  uint32_t ad = 0;
  uint32_t stickyAlarms = 0x1FC000u | 0x40000000u;
  uint32_t stickyRun = 0;
  uint32_t statusFlags = 0;      // status r1 bits 0-15
  uint32_t secondaryAnswer = 0;
  uint32_t secondaryMode = 0;    // 0 links, 1 absent, 2 never links
  uint32_t linkLevel = 3;
  uint32_t linkError = 0;
  uint32_t linkFlags = 0;
  uint32_t failReasons = 0xC;
  uint32_t linkCounter = 0;
  uint32_t latencyUs = 0;
  uint32_t speedPercent = 100;
  uint32_t consumeMode = CARDSIM_CONSUME_AT_ONCE;
  uint32_t startBytes = StreamSettings::kDefaultStartBytes;
  uint32_t flashBusyPolls = 0;   // status commands that see a flash operation running
  uint32_t flashBusyUs = 0;      // and the time it runs at least (µs of the host's clock)
  // The picture written at the end of each run (configuration key svg; empty: none) and the field
  // it is drawn in (field_mm, half_range_mm), also what cardsim_write_svg takes for a size of 0.
  std::string svgPath;
  SvgField svgField;
  // The library's LASER_TYPE (configuration key laser_type): which outputs gate emission.
  uint32_t laserType = 0;
  std::map<std::tuple<uint32_t, uint32_t, uint32_t>, std::pair<uint32_t, uint32_t>> answers;

  uint32_t CardVersion() const { return ((hwWord >> 3) & 0xE0) + (hwWord & 0x1F); }
  bool NumberedCommands() const { return CardVersion() >= 64; }
};

// Faults armed by tests; counters count down to the faulty exchange.
struct CardFaults {
  uint32_t loseAtSend = 0;
  uint32_t loseAtChunk = 0;
  uint32_t wrongEchoAt = 0;
  uint32_t controlFailAt = 0;
  uint32_t toggleAt = 0;
  uint32_t toggleMode = 0;
  uint32_t holdLow = 0;
};

// The card's own state.
struct CardState {
  bool open = false;
  bool lost = false;
  uint32_t openCount = 0, closeCount = 0, lastIndex = 0;
  // Command channel.
  bool replyPending = false;
  uint8_t reply[12] = {};
  uint32_t replyLen = 0;
  // Bulk channel. Bytes waiting for QZ_BufRecv: the last bulkOut.size() of them are the card's
  // answers (flash pages), any before them are stale bytes read as 0xEE.
  uint32_t bulkPending = 0;
  std::deque<uint8_t> bulkOut;
  uint64_t bulkBytes = 0;
  uint32_t bulkChunks = 0, lastChunkLength = 0;
  uint32_t notReadySends = 0;
  // Link status word.
  uint32_t toggle = 0x5;   // the first read shows 0xA
  uint32_t statusReads = 0;
  uint32_t latched = 0;    // bits 25-16
  // Secondary-card link.
  uint32_t qualityPeriod = 0, lostFail = 0, lostLink = 0, linkSettings = 0;
  bool qualitySet = false;
  uint32_t handshake = 0;
  bool linked = false, secondLink = false;
  uint32_t linkError = 0;
  // 0xDF polls answered.
  uint32_t usbPolls = 0;
  // Card status.
  uint32_t runState = 0, taskId = 0, subState = 0;
  uint32_t offline = 1, paused = 0, debug = 0;
  uint32_t alarms = 0, laserAlarm = 0;
  uint32_t outputs = 0;
  uint32_t da[2] = {0, 0};
  uint32_t flagValue[32] = {};
  uint32_t flagCount[32] = {};
  uint32_t operateCount = 0, operateOp = 0, operateArg = 0;
  // A flash operation or commit still running: status commands left, the run-state bit it holds.
  uint32_t flashBusy = 0, flashBusyBit = 0;
  uint64_t flashBusyUntilUs = 0;  // with a busy time: when the operation is done (0: no time)
};

class CardModel : private StreamHost {
 public:
  explicit CardModel(CardType type = CardType::Usb);
  CardModel(const CardModel&) = delete;
  CardModel& operator=(const CardModel&) = delete;

  // The process-global card. Created on first use with the USB type, the file named by
  // CARDSIM_CONFIG and then the state file; a driver library sets its own type with SetDefaultType.
  // Only this model keeps a state file.
  static CardModel& Global();
  // The card type this model takes at construction and after every Reset; then it powers up again
  // (defaults, the config file, the state file).
  void SetDefaultType(CardType type);

  // ---- the nine driver entry points
  uint32_t OpenDriver(uint32_t index);
  uint32_t GetCardsNo(void* a, void* b, uint32_t magic);
  uint32_t CloseDriver();
  uint32_t CmdSend(const void* data, uint32_t length);
  uint32_t CmdRecv(void* buffer, uint32_t length);
  uint32_t BufSend(const void* data, uint32_t length);
  uint32_t BufRecv(void* buffer, uint32_t length);
  uint32_t DeviceIoControl(uint32_t code, void* in, uint32_t inLength, void* out, uint32_t outLength,
                           uint32_t* returned);
  uint32_t SendComCmd(uint32_t direction, uint32_t request, uint32_t value, uint32_t index, void* buffer,
                      uint32_t length);

  // ---- control
  // Defaults, empty logs, driver closed; then the configuration file named by CARDSIM_CONFIG.
  // With a state file, the file is rewritten with that state.
  void Reset();
  // Writes the state file now: 0, or 1 when CARDSIM_STATE is not set or the file cannot be written.
  uint32_t SaveState();
  // Reads the state file: 0 applied; 0xFFFFFFFF CARDSIM_STATE not set or the file unreadable;
  // otherwise the first line not understood (then nothing is applied).
  uint32_t LoadState();
  // 0 applied; 0xFFFFFFFF unreadable; otherwise the first line not taken (every other line is
  // applied). The caller has the answer, so nothing is said on standard error.
  uint32_t LoadConfigFile(const char* path);
  // Runs f(config, state, faults) under the lock.
  template <class F>
  auto With(F f) {
    Guard g(*this);
    return f(cfg_, st_, faults_);
  }
  // Runs f(flash) under the lock.
  template <class F>
  auto WithFlash(F f) {
    Guard g(*this);
    return f(flash_);
  }
  // Runs f(debug records) under the lock.
  template <class F>
  auto WithDebugRecords(F f) {
    Guard g(*this);
    return f(debug_);
  }
  // Runs f(axes) under the lock.
  template <class F>
  auto WithAxes(F f) {
    Guard g(*this);
    return f(axes_);
  }
  // Runs f(oss) under the lock.
  template <class F>
  auto WithOss(F f) {
    Guard g(*this);
    return f(oss_);
  }
  // Runs f(encoder) under the lock.
  template <class F>
  auto WithEncoder(F f) {
    Guard g(*this);
    return f(encoder_);
  }
  // Runs f(immediate state) under the lock (immediate_model.h).
  template <class F>
  auto WithImmediate(F f) {
    Guard g(*this);
    return f(imm_);
  }
  cardsim_flash FlashCounts();
  cardsim_state Snapshot();
  uint32_t LogCount();
  bool LogGet(uint32_t index, cardsim_frame& out);
  void LogClear();
  // Replaces the bulk sink (nullptr: the counting one). The sink must outlive its use.
  void SetBulkSink(BulkSink* sink);
  // A reply waiting on the command channel that no frame asked for (a host died before reading it).
  void InjectReply(uint32_t word, uint32_t r0, uint32_t r1);
  // What the status command answers now.
  std::pair<uint32_t, uint32_t> StatusWords();

  // ---- the data stream (under the lock; the executor brought up to date first)
  cardsim_fifo Fifo();
  // false when the run is not running or is paused.
  bool StepStream(uint64_t us);
  uint32_t TraceCount(uint32_t which);
  bool TraceGet(uint32_t which, uint32_t index, cardsim_trace_entry& out);
  // The camera (stream_engine.h).
  void SetCameraReady(bool ready);
  uint32_t CameraCount();
  bool CameraGet(uint32_t index, cardsim_camera& out);
  void TraceClear();
  // The lasers (laser_record.h), the executor brought up to date first.
  bool LaserState(uint32_t laser, cardsim_laser& out);
  uint32_t LaserSegmentCount(uint32_t laser);
  bool LaserSegment(uint32_t laser, uint32_t index, cardsim_laser_segment& out);
  uint32_t PowerChangeCount();
  bool PowerChange(uint32_t index, cardsim_power_change& out);
  uint32_t OutputChangeCount();
  bool OutputChange(uint32_t index, cardsim_output_change& out);
  // The inputs, with the executor brought up to date before and after (a wait they end ends now).
  void SetInputs(uint32_t bits);
  // The galvanometer, waits and register writes (galvo_record.h, wait_record.h), the executor
  // brought up to date first.
  cardsim_galvo GalvoState();
  uint32_t PositionCount();
  bool Position(uint32_t index, cardsim_position& out);
  bool MirrorAt(uint64_t t, cardsim_mirror& out);
  uint32_t WaitCount();
  bool Wait(uint32_t index, cardsim_wait& out);
  uint32_t RegWriteCount();
  bool RegWrite(uint32_t index, cardsim_reg_write& out);
  // The card's picture (svg_writer.h) of the run since the buffer open, the executor brought up to
  // date first; a size of 0 takes the configured one. 1 for a null or empty path, a size below 0 or
  // not finite, or a file that cannot be written.
  uint32_t WriteSvg(const char* path, double fieldX, double fieldY, double halfRange);
  // The card's start input: runs offline document `doc` (offline_run.h) as command 83 (1, 0x100 |
  // doc) does, with or without a host. false for a document from 16 on.
  bool StartInput(uint32_t doc);
  // The card-parameter list the card loaded last (para_record.h).
  uint32_t ParaCount();
  bool Para(uint32_t index, cardsim_para_packet& out);

  static constexpr uint32_t kLogCapacity = 262144;

 private:
  // The model's lock for an entry that may change the card's state: the state file is brought up
  // to date before the lock is released.
  class Guard {
   public:
    explicit Guard(CardModel& m) : m_(m), lock_(m.mu_) {}
    ~Guard() { m_.PersistLocked(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    CardModel& m_;
    std::lock_guard<std::mutex> lock_;
  };

  bool LinkUp() const { return cfg_.present != 0 && st_.open && !st_.lost; }
  uint32_t ReplyLength() const { return cfg_.type == CardType::Usb ? 10 : 12; }
  uint32_t ComposeLinkState();
  std::pair<uint32_t, uint32_t> StatusWordsLocked() const;
  void LinkWord(uint32_t word);
  // false: the command gets no reply.
  bool Command(uint32_t command, uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1);
  bool FlashOperate(uint32_t op, uint32_t arg);
  // A commit of `arg` that covers the card-parameter area: loads and applies the page.
  void LoadCardPara(uint32_t arg);
  void FlashBusy(uint32_t bit, uint32_t subState);
  // A status command has seen the flash operation: its busy count and time run down.
  void FlashBusySeen();
  bool RunOfflineDoc(uint32_t doc);
  void FlashDataIn(const uint8_t* data, uint32_t length);
  void SetFlag(uint32_t value, uint32_t mask);
  void ClearRunBits(uint32_t bits);
  void Log(const cardsim_frame& f);
  cardsim_frame NewEntry(uint32_t kind, const void* data, uint32_t length) const;
  void ApplyDefaults();
  // 0 applied; 0xFFFFFFFF unreadable; otherwise the first line not taken (every other line is
  // applied). With `report` an unreadable file and each line not taken are said on standard error.
  uint32_t ApplyConfigFile(const char* path, bool report);
  // The file named by CARDSIM_CONFIG, when set, reported: a host has no other answer from it.
  void ApplyConfigFromEnvironment();
  // Defaults, config file, state file; the state file is not written.
  void PowerUpLocked();
  // State file (sim_state.cpp).
  void ReadStatePath();
  std::string StateText();
  uint32_t ApplyStateFile(const char* path);
  bool WriteStateFile(const std::string& text);
  std::string FlashPath() const { return statePath_ + ".flash"; }
  bool WriteFlashFile();
  void ReadFlashFile();
  void PersistLocked() noexcept;
  uint64_t NowUs() const;
  StreamSettings Settings() const;
  void SyncStream();
  // StreamHost
  uint32_t StreamOutputs(uint32_t mask, uint32_t values) override;
  void StreamRunning(bool running) override;
  void StreamAlarm(uint32_t bits) override;
  uint32_t StreamInputs() override { return cfg_.inputs; }
  void StreamClockAt(uint64_t t) override;
  void StreamMoved() override;
  void StreamPulses() override { DebugIoWord(); }
  // The io word of the debug records: bit 0 while the card holds a job, the outputs above it, bit 1
  // also while laser 0's pulses run.
  void DebugIoWord();
  void StreamElapsed(uint64_t us) override {
    encoder_.Run(us);
    axes_.Step(us);
  }
  uint32_t StreamEncoder() override { return encoder_.Counter(); }
  uint64_t StreamEncoderUntil(uint32_t value, uint32_t mask) override { return encoder_.UsUntil(value, mask); }
  void StreamEncoderReset() override { encoder_.Set(0, 0); }
  bool StreamCameraReady() override { return cameraReady_; }
  void StreamMotorWord(uint32_t word) override { axes_.StreamWord(word); }
  uint32_t StreamMotorValue(uint32_t source) override { return axes_.SourceValue(source); }
  uint64_t StreamMotorUntil(uint32_t source, uint32_t v, uint32_t mask) override {
    const uint64_t us = axes_.UsUntil(source, v, mask);
    return us == AxisModel::kNeverUs ? kNeverUs : us;
  }
  void StreamUart(uint32_t word) override { imm_.uart.StreamWord(word, cfg_.CardVersion() >= 80); }
  uint64_t StreamWallUs() override { return NowUs(); }
  // Commands of the immediate models: galvanometers, UART, routes, memory read-back. false: no reply.
  bool ImmediateCommand(uint32_t command, uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1);
  // Commands 17, 18 and 19 from the last wait on the inputs (stream_engine.h).
  void WaitAnswer(uint32_t command, uint32_t& r0, uint32_t& r1) const;
  bool WriteSvgLocked(const std::string& path, const SvgField& field) const;

  std::mutex mu_;
  bool cameraReady_ = true;
  CardType defaultType_;
  CardConfig cfg_;
  CardFaults faults_;
  CardState st_;
  std::deque<cardsim_frame> log_;
  std::thread::id logOwner_;  // the thread that cleared the log last (frames of others are marked)
  uint32_t logTotal_ = 0;
  std::chrono::steady_clock::time_point t0_;
  BulkSink* sink_ = nullptr;
  StreamEngine stream_{*this};
  FlashModel flash_;
  EncoderModel encoder_;
  DebugRecordModel debug_;
  AxisModel axes_;
  ImmediateState imm_;
  OfflineRun offline_;
  OssModel oss_;
  std::vector<cardsim_para_packet> para_;  // the card-parameter list loaded last
  bool keepsStateFile_ = false;  // the process-global model
  std::string statePath_;        // empty: no state file
  std::string savedText_;        // what the state file holds

};

}  // namespace cardsim
