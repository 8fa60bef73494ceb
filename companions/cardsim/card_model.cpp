#include "card_model.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace cardsim {

namespace {
constexpr uint32_t kCmdRouteStates = 117;
}  // namespace

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void SleepUs(uint32_t us) {
  if (us == 0) return;
#if defined(_WIN32)
  // The system's sleep counts whole milliseconds and only yields for less: the last millisecond
  // is waited out on the clock, so that an exchange of 100 µs takes 100 µs here too.
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
  if (us > 2000) std::this_thread::sleep_for(std::chrono::microseconds(us - 1000));
  while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
#else
  std::this_thread::sleep_for(std::chrono::microseconds(us));
#endif
}

// Alarm bits of status r0: everything above the run state except bit 7 (the laser alarm's low bit).
constexpr uint32_t kAlarmMask = 0xFFFFFF78u;

}  // namespace

CardModel::CardModel(CardType type) : defaultType_(type), t0_(std::chrono::steady_clock::now()) {
  ApplyDefaults();
}

CardModel& CardModel::Global() {
  // Never destroyed: driver calls may still arrive from threads while the process ends.
  static CardModel* g = [] {
    auto* m = new CardModel(CardType::Usb);
    std::lock_guard<std::mutex> lock(m->mu_);
    m->keepsStateFile_ = true;
    m->PowerUpLocked();
    return m;
  }();
  return *g;
}

void CardModel::SetDefaultType(CardType type) {
  std::lock_guard<std::mutex> g(mu_);
  defaultType_ = type;
  PowerUpLocked();
}

void CardModel::ApplyDefaults() {
  cfg_ = CardConfig();
  cfg_.type = defaultType_;
  faults_ = CardFaults();
  st_ = CardState();
  log_.clear();
  logTotal_ = 0;
  logOwner_ = std::this_thread::get_id();
  stream_.Reset();
  flash_.Reset();
  encoder_.Reset();
  debug_.Reset();
  cameraReady_ = true;
  axes_.Reset();
  imm_ = ImmediateState();
  oss_.Reset();
  para_.clear();
}

void CardModel::PowerUpLocked() {
  ApplyDefaults();
  ApplyConfigFromEnvironment();
  ReadStatePath();
  // A missing or broken file leaves the defaults; either way nothing is written until a change.
  if (!statePath_.empty()) {
    ApplyStateFile(statePath_.c_str());
    ReadFlashFile();
  }
  savedText_ = statePath_.empty() ? std::string() : StateText();
}

void CardModel::Reset() {
  std::lock_guard<std::mutex> g(mu_);
  ApplyDefaults();
  ApplyConfigFromEnvironment();
  ReadStatePath();
  savedText_.clear();
  if (!statePath_.empty()) {
    WriteStateFile(StateText());
    WriteFlashFile();
  }
}

uint32_t CardModel::SaveState() {
  std::lock_guard<std::mutex> g(mu_);
  ReadStatePath();
  if (statePath_.empty()) return 1;
  const bool state = WriteStateFile(StateText());
  return state && WriteFlashFile() ? 0 : 1;
}

uint32_t CardModel::LoadState() {
  std::lock_guard<std::mutex> g(mu_);
  ReadStatePath();
  if (statePath_.empty()) return 0xFFFFFFFFu;
  const uint32_t rc = ApplyStateFile(statePath_.c_str());
  if (rc == 0) {
    ReadFlashFile();
    savedText_ = StateText();
  }
  return rc;
}

uint32_t CardModel::LoadConfigFile(const char* path) {
  Guard g(*this);
  return ApplyConfigFile(path, false);
}

void CardModel::ApplyConfigFromEnvironment() {
  if (const char* path = std::getenv("CARDSIM_CONFIG"); path && *path) ApplyConfigFile(path, true);
}

void CardModel::SetBulkSink(BulkSink* sink) {
  std::lock_guard<std::mutex> g(mu_);
  sink_ = sink;
}

// ------------------------------------------------------------------------------------------------
// Driver entry points

uint32_t CardModel::OpenDriver(uint32_t index) {
  Guard g(*this);
  // The cards are indexes 0..present-1; any other index names no card.
  if (index >= cfg_.present) return 1;
  st_.open = true;
  st_.lost = false;
  st_.openCount += 1;
  st_.lastIndex = index;
  return 0;
}

uint32_t CardModel::GetCardsNo(void* a, void* b, uint32_t /*magic*/) {
  Guard g(*this);
  // Our layout: a receives the number of cards (u32), b the index of the first one (u32).
  if (a) Put32(static_cast<uint8_t*>(a), cfg_.present);
  if (b) Put32(static_cast<uint8_t*>(b), 0);
  return 0;
}

uint32_t CardModel::CloseDriver() {
  Guard g(*this);
  st_.open = false;
  st_.closeCount += 1;
  return 0;
}

uint32_t CardModel::CmdSend(const void* data, uint32_t length) {
  Guard g(*this);
  if (!LinkUp() || !data) return 1;
  if (faults_.loseAtSend && --faults_.loseAtSend == 0) {
    st_.lost = true;
    return 1;
  }
  const auto* b = static_cast<const uint8_t*>(data);
  const bool pcie = cfg_.type == CardType::Pcie;
  if (pcie && length == 4) {
    LinkWord(Get32(b));
    return 0;
  }
  uint32_t off = 0;
  uint32_t flags = 0;
  if (!pcie && length == 10) {
  } else if (pcie && length == 12) {
  } else if (pcie && length == 16 && Get32(b) == kFrameHeaderWord) {
    off = 4;
    flags |= CARDSIM_FRAME_HEADER;
  } else {
    Log(NewEntry(CARDSIM_KIND_REJECTED, data, length));
    return 1;
  }
  if (faults_.holdLow & LINK_CMD_READY) st_.notReadySends += 1;

  const uint32_t word = Get16(b + off);
  const uint32_t p1 = Get32(b + off + 2);
  const uint32_t p2 = Get32(b + off + 6);
  uint32_t command;
  uint32_t seq = 0;
  if (!cfg_.NumberedCommands() && (word & 0xFF) == 0x55 && (word >> 8) != 0) {
    command = 0x100 + (word >> 8);
    flags |= CARDSIM_FRAME_LEGACY;
  } else {
    command = word & 0x1FF;
    seq = word >> 12;
  }

  cardsim_frame e = NewEntry(CARDSIM_KIND_COMMAND, data, length);
  e.word = word;
  e.command = command;
  e.p1 = p1;
  e.p2 = p2;
  e.seq = seq;
  e.flags = flags;
  Log(e);

  SyncStream();
  // While a run runs the axes move in its card time (StreamElapsed).
  if (stream_.PhaseCode() != CARDSIM_PHASE_RUNNING && stream_.PhaseCode() != CARDSIM_PHASE_FLUSHING) {
    axes_.Step(AxisModel::kStepPerExchangeUs);
  }
  uint32_t r0 = 0, r1 = 0;
  const bool replies = Command(command, p1, p2, r0, r1);
  SyncStream();
  if (!replies) {
    // Answered on the bulk channel; a reply nobody took is gone.
    st_.replyPending = false;
    return 0;
  }
  if (auto it = cfg_.answers.find({command, p1, p2}); it != cfg_.answers.end()) {
    r0 = it->second.first;
    r1 = it->second.second;
  }
  uint32_t echo = word;
  if (faults_.wrongEchoAt && --faults_.wrongEchoAt == 0) echo ^= 0x1000;
  std::memset(st_.reply, 0, sizeof st_.reply);
  Put16(st_.reply, echo);
  Put32(st_.reply + 2, r0);
  Put32(st_.reply + 6, r1);
  st_.replyLen = ReplyLength();
  st_.replyPending = true;
  return 0;
}

uint32_t CardModel::CmdRecv(void* buffer, uint32_t length) {
  uint32_t sleepUs;
  {
    Guard g(*this);
    if (!LinkUp() || !buffer || !st_.replyPending) return 1;
    std::memcpy(buffer, st_.reply, std::min(length, st_.replyLen));
    st_.replyPending = false;
    sleepUs = cfg_.latencyUs;
    // A stalled exchange: this reply comes late; every other entry is served meanwhile.
    if (imm_.stallAt && --imm_.stallAt == 0) sleepUs += imm_.stallMs * 1000u;
  }
  SleepUs(sleepUs);
  return 0;
}

uint32_t CardModel::BufSend(const void* data, uint32_t length) {
  uint32_t sleepUs;
  {
    Guard g(*this);
    if (!LinkUp() || !data || length == 0) return 1;
    if (faults_.loseAtChunk && --faults_.loseAtChunk == 0) {
      st_.lost = true;
      return 1;
    }
    if (faults_.holdLow & LINK_BULK_READY) st_.notReadySends += 1;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (sink_) sink_->Chunk(bytes, length);
    SyncStream();
    const uint32_t flash = std::min(length, flash_.DataDue());
    if (flash) FlashDataIn(bytes, flash);
    if (length > flash) stream_.Intake(bytes + flash, length - flash, Settings(), NowUs());
    SyncStream();
    st_.bulkChunks += 1;
    st_.bulkBytes += length;
    st_.lastChunkLength = length;
    sleepUs = cfg_.latencyUs;
  }
  SleepUs(sleepUs);
  return 0;
}

uint32_t CardModel::BufRecv(void* buffer, uint32_t length) {
  uint32_t sleepUs;
  {
    Guard g(*this);
    if (!LinkUp() || !buffer || st_.bulkPending == 0) return 1;
    const uint32_t n = std::min(length, st_.bulkPending);
    while (st_.bulkOut.size() > st_.bulkPending) st_.bulkOut.pop_front();
    const uint32_t stale = st_.bulkPending - static_cast<uint32_t>(st_.bulkOut.size());
    auto* out = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i < n; ++i) {
      if (i < stale) {
        out[i] = 0xEE;
      } else {
        out[i] = st_.bulkOut.front();
        st_.bulkOut.pop_front();
      }
    }
    st_.bulkPending -= n;
    sleepUs = cfg_.latencyUs;
  }
  SleepUs(sleepUs);
  return 0;
}

uint32_t CardModel::DeviceIoControl(uint32_t code, void* /*in*/, uint32_t /*inLength*/, void* out,
                                    uint32_t outLength, uint32_t* returned) {
  Guard g(*this);
  if (!LinkUp() || code != kIoctlLinkState || !out || outLength < 4) return 1;
  SyncStream();
  Put32(static_cast<uint8_t*>(out), ComposeLinkState());
  if (returned) *returned = 4;
  return 0;
}

uint32_t CardModel::SendComCmd(uint32_t direction, uint32_t request, uint32_t value, uint32_t index,
                               void* buffer, uint32_t length) {
  Guard g(*this);
  if (!LinkUp()) return 1;
  cardsim_frame e = NewEntry(CARDSIM_KIND_CONTROL, nullptr, length);
  e.word = request;
  e.command = request;
  e.p1 = value;
  e.p2 = index;
  Log(e);
  if (direction != 0) return 1;
  if (faults_.controlFailAt && --faults_.controlFailAt == 0) return 1;
  auto* out = static_cast<uint8_t*>(buffer);
  if (cfg_.type == CardType::Usb) {
    if (request == REQ_USB_STATUS) {
      if (!out || length < 2) return 1;
      uint8_t b1;
      if (cfg_.usbStartup == 1) {
        b1 = 0x00;
      } else if (cfg_.usbStartup == 2 || st_.usbPolls < cfg_.usbNotReadyPolls) {
        st_.usbPolls += (cfg_.usbStartup == 2 ? 0 : 1);
        b1 = 0x10;
      } else {
        // Bit 0 of byte 1 falls while something waits on the command channel.
        b1 = st_.replyPending ? 0x50 : 0x51;
      }
      out[0] = cfg_.usbStartup == 1 ? 0x00 : '[';
      out[1] = b1;
      for (uint32_t i = 2; i < std::min<uint32_t>(length, 4); ++i) out[i] = 0;
      return 0;
    }
    if (request == REQ_USB_FIRMWARE) {
      if (!out || length < 2) return 1;
      out[0] = cfg_.usbFirmware[0];
      out[1] = cfg_.usbFirmware[1];
      return 0;
    }
    return 1;
  }
  if (request == REQ_SECONDARY) {
    // 64-bit hosts pass the answer byte as a buffer of length 1; 32-bit hosts its address as value.
    uint8_t* answer = nullptr;
    if (out && length == 1) {
      answer = out;
    } else if constexpr (sizeof(void*) == 4) {
      answer = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(value));
    }
    if (!answer) return 1;
    *answer = static_cast<uint8_t>(cfg_.secondaryAnswer);
    return 0;
  }
  return 1;
}

// ------------------------------------------------------------------------------------------------
// The card's side

uint32_t CardModel::ComposeLinkState() {
  st_.statusReads += 1;
  uint32_t nibble;
  if (faults_.toggleAt && --faults_.toggleAt == 0) {
    nibble = faults_.toggleMode == 2 ? 0 : st_.toggle;
  } else {
    st_.toggle = st_.toggle == 0xA ? 0x5 : 0xA;
    nibble = st_.toggle;
  }
  const uint32_t level = (cfg_.secondaryMode != 1 && st_.qualitySet) ? (cfg_.linkLevel & 3) : 0;
  uint32_t w = nibble << 28;
  w |= (st_.latched & 0x3FF) << 16;
  w |= level << 14;
  w |= (st_.linked ? 1u : 0u) << 13;
  w |= (st_.secondLink ? 1u : 0u) << 12;
  w |= (st_.linkError & 7) << 9;
  w |= cfg_.linkFlags & 0x60;
  // Bulk ready falls while the FIFO has no room for another block, unless a flash page is due.
  const bool bulkReady = flash_.DataDue() != 0 || stream_.RoomFor(kStreamBlockBytes);
  const uint32_t ready = LINK_CMD_READY | (bulkReady ? LINK_BULK_READY : 0);
  w |= ready & ~faults_.holdLow;
  if (st_.replyPending) w |= LINK_REPLY_PENDING;
  if (st_.bulkPending) w |= LINK_BULK_PENDING;
  return w;
}

void CardModel::LinkWord(uint32_t word) {
  cardsim_frame e = NewEntry(CARDSIM_KIND_LINK, &word, 4);
  Put32(e.bytes, word);
  e.word = word;
  e.command = word >> 24;
  e.p1 = word;
  Log(e);
  const uint32_t arg = word & 0xFFFFFF;
  switch (word & 0xFF000000u) {
    case LINKW_QUALITY_PERIOD:
      st_.qualityPeriod = arg;
      st_.qualitySet = true;
      break;
    case LINKW_LOST_FAIL:
      st_.lostFail = arg;
      break;
    case LINKW_LOST_LINK:
      st_.lostLink = arg;
      break;
    case LINKW_SETTING_0:
    case LINKW_SETTING_1:
    case LINKW_SETTING_2:
      st_.linkSettings |= 1u << ((word - LINKW_SETTING_0) >> 24);
      break;
    case LINKW_LATCH_FAIL_WHY & 0xFF000000u:
      if (word == LINKW_LATCH_FAIL_WHY) st_.latched = (cfg_.failReasons | (st_.linked ? 0u : 1u)) & 0xF;
      if (word == LINKW_LATCH_COUNTER) st_.latched = cfg_.linkCounter & 0x3FF;
      break;
    case LINKW_HANDSHAKE: {
      // Handshake steps come in the order 1, 4, 5, 2, 0; a step out of order breaks the link.
      const bool canLink = cfg_.secondaryMode == 0;
      const uint32_t h = st_.handshake;
      bool ok = true;
      if (arg == 1) {
        st_.handshake = 1;
        st_.linked = st_.secondLink = false;
        st_.linkError = 0;
      } else if (arg == 4 && h == 1) {
        st_.handshake = 4;
      } else if (arg == 5 && h == 4) {
        st_.handshake = 5;
        st_.secondLink = canLink;
      } else if (arg == 2 && h == 5) {
        st_.handshake = 2;
        st_.linked = canLink && st_.secondLink;
      } else if (arg == 0 && h == 2) {
        st_.handshake = 0x10;
        st_.linkError = cfg_.linkError & 7;
      } else {
        ok = false;
      }
      if (!ok) {
        st_.handshake = 0xFF;
        st_.linked = st_.secondLink = false;
      }
      break;
    }
    default:
      break;
  }
}

std::pair<uint32_t, uint32_t> CardModel::StatusWordsLocked() const {
  const uint32_t r0 = (st_.runState & 7) | (st_.alarms & kAlarmMask) | ((st_.laserAlarm & 1) << 7);
  const uint32_t r1 = (cfg_.statusFlags & 0xFFFF) | (flash_.PageStatus() & 0xFF) | ((stream_.EndCode() & 15) << 8) |
                      ((stream_.SubCode() & 7) << 13) |
                      ((st_.subState & 31) << 16) | ((st_.taskId & 31) << 21) |
                      ((st_.offline & 1) << 26) | (((st_.laserAlarm >> 1) & 31) << 27);
  return {r0, r1};
}

void CardModel::InjectReply(uint32_t word, uint32_t r0, uint32_t r1) {
  Guard g(*this);
  std::memset(st_.reply, 0, sizeof st_.reply);
  Put16(st_.reply, word);
  Put32(st_.reply + 2, r0);
  Put32(st_.reply + 6, r1);
  st_.replyLen = ReplyLength();
  st_.replyPending = true;
}

std::pair<uint32_t, uint32_t> CardModel::StatusWords() {
  std::lock_guard<std::mutex> g(mu_);
  return StatusWordsLocked();
}

bool CardModel::Command(uint32_t command, uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1) {
  switch (command) {
    case CMD_INPUT:
      r0 = cfg_.inputs;
      r1 = axes_.Inputs();
      break;
    case CMD_OUTPUT:
      st_.outputs = (st_.outputs & ~p1) | (p2 & p1);
      oss_.Outputs(st_.outputs, NowUs());
      stream_.Lasers().OutputsNow(stream_.Clock(), st_.outputs);
      r1 = st_.outputs;
      DebugIoWord();
      break;
    case CMD_DEBUG_RECORD:
      debug_.Next(r0, r1);
      break;
    case kCmdRecordKinds:
      debug_.SetKinds(p2);
      break;
    case kCmdIoSettings:
      debug_.IoSettings(p2);
      break;
    case 0x149:
    case 0x14A:
      // The optical path switch (oss_model.h); other parameters answer what the encoder model does.
      if (!oss_.Command(command, p1, p2, NowUs(), r0, r1)) encoder_.Command(command, p1, p2, r0, r1);
      break;
    case CMD_SET_DA:
      st_.da[p1 & 1] = p2 & 0xFFF;
      break;
    case CMD_GET_ADDA:
      r0 = cfg_.ad & 0xFFF;
      r1 = (st_.da[0] << 8) | (st_.da[1] << 20);
      break;
    case CMD_HW_VERSION:
      r0 = cfg_.hwWord;
      r1 = cfg_.hwFeatures;
      break;
    case CMD_HW_INFO2:
      r0 = cfg_.hwInfo2[0];
      r1 = cfg_.hwInfo2[1];
      break;
    case CMD_SET_FLAG:
      SetFlag(p1, p2);
      break;
    case CMD_OPERATE:
      // Other operations complete at once for now: the run state the sender polls stays as it is.
      st_.operateCount += 1;
      st_.operateOp = p1;
      st_.operateArg = p2;
      if (p1 == OP_START_RUN && (p2 & OP_ARG_OFFLINE_DOC) != 0) {
        RunOfflineDoc(p2 & 0xFF);
      } else if (p1 == OP_START_RUN && p2 == 0) {
        offline_.Forget();
        flash_.CancelData();
        stream_.Open(LayoutOfVersion(cfg_.CardVersion()), NowUs());
        StreamRunning(true);
      } else if (p1 == OP_FLASH || p1 == OP_COMMIT) {
        return FlashOperate(p1, p2);
      }
      break;
    case CMD_RECEIVED_COUNT:
      r0 = stream_.TakingIn() ? 1 : 0;
      r1 = stream_.ReceivedUnits() & 0xFF;
      break;
    case CMD_FIFO_POINTERS:
      r0 = stream_.ReadPointer();
      r1 = stream_.WritePointer();
      break;
    case CMD_COUNT_MARKER:
      if (p1 == 0 && p2 == 0) r0 = stream_.LastCount() & 0xFFFF;
      encoder_.Command(command, p1, p2, r0, r1);
      break;
    case CMD_STATUS: {
      const auto w = StatusWordsLocked();
      r0 = w.first;
      r1 = w.second;
      // A flash operation runs for the status commands that see it.
      FlashBusySeen();
      break;
    }
    case CMD_WAIT_DETAIL:
    case CMD_WAIT_STATE:
    case CMD_WAIT_REASON:
      WaitAnswer(command, r0, r1);
      break;
    case CMD_SCAN_MOVE:
    case CMD_SCAN_POS:
    case CMD_UART_SEND:
    case CMD_UART_TX_BUSY:
    case CMD_UART_RECV:
    case kCmdRouteStates:
    case CMD_FLASH_READBACK:
      return ImmediateCommand(command, p1, p2, r0, r1);
    case CMD_UNIQUE_ID:
      r1 = Get32(cfg_.uniqueId);
      r0 = cfg_.uniqueId[4] | (cfg_.uniqueId[5] << 8) | (cfg_.uniqueId[6] << 16);
      break;
    default:
      if (axes_.Command(command, p1, p2, r0, r1)) break;
      // The encoder and fly commands (encoder_model.h). Queries without a model of their own
      // (galvanometer status, link info, ...) answer what cardsim_set_answer put there, else zeros.
      encoder_.Command(command, p1, p2, r0, r1);
      break;
  }
  return true;
}

bool CardModel::ImmediateCommand(uint32_t command, uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1) {
  const bool form21 = cfg_.CardVersion() >= 80;
  switch (command) {
    case CMD_SCAN_MOVE:
      imm_.galvo.Move(p1, p2, form21);
      imm_.galvoSeen = stream_.Galvo().Count();
      break;
    case CMD_SCAN_POS: {
      // Where the executor left the mirrors, when it ran position words since the last look.
      if (stream_.Galvo().Count() != imm_.galvoSeen) {
        imm_.galvoSeen = stream_.Galvo().Count();
        cardsim_galvo g{};
        stream_.Galvo().State(g);
        const uint32_t shift = g.form == 21 ? 5 : 0;
        imm_.galvo.x = (g.x >> shift) & 0xFFFF;
        imm_.galvo.y = (g.y >> shift) & 0xFFFF;
      }
      imm_.galvo.Pos(p1, p2, r0, r1);
      break;
    }
    case kCmdRouteStates:
      r0 = imm_.routes[0];
      r1 = imm_.routes[1];
      break;
    case CMD_FLASH_READBACK: {
      // p2 pages of the card's flash on the bulk channel, no reply: from a serial-flash byte
      // address on cards of version 56 and later, else from a NAND page.
      const bool spi = cfg_.CardVersion() >= 56;
      const uint32_t chip = spi ? CARDSIM_FLASH_SPI : CARDSIM_FLASH_NAND;
      const uint64_t address = spi ? p1 : static_cast<uint64_t>(p1) * kFlashPageBytes;
      std::vector<uint8_t> page(kFlashPageBytes);
      for (uint32_t i = 0; i < p2; ++i) {
        const uint64_t a = address + static_cast<uint64_t>(i) * kFlashPageBytes;
        std::fill(page.begin(), page.end(), 0);
        if (a + kFlashPageBytes <= 0xFFFFFFFFull) flash_.Peek(chip, static_cast<uint32_t>(a), page.data(), kFlashPageBytes);
        st_.bulkOut.insert(st_.bulkOut.end(), page.begin(), page.end());
        st_.bulkPending += kFlashPageBytes;
      }
      return false;
    }
    default:
      imm_.uart.Command(command, p2, form21, r0, r1);
      break;
  }
  return true;
}

bool CardModel::FlashOperate(uint32_t op, uint32_t arg) {
  if (op == OP_COMMIT) {
    // The card loads the areas the commit names from its flash; a failed load keeps one out.
    const uint32_t areas = FlashModel::CommitAreas(arg);
    const uint32_t failed = flash_.FailedAreas(areas);
    if ((areas & ~failed) & (1u << AREA_CARD_PARA)) LoadCardPara(arg);
    st_.alarms = (st_.alarms & ~(areas << kAreaFlagShift)) | (failed << kAreaFlagShift);
    flash_.Committed(arg);
    FlashBusy(4, FlashModel::CommitSubState(arg));
    return true;
  }
  const FlashStep step = flash_.Control(arg);
  st_.flashBusy = 0;
  st_.flashBusyUntilUs = 0;
  if (flash_.DataDue() != 0) {
    // The page data is due on the bulk channel: busy until it arrived.
    st_.runState |= 2;
    st_.subState = step.subState;
    return true;
  }
  ClearRunBits(2);  // page data that was due and never came is given up
  FlashBusy(2, step.subState);
  if (!step.bulkOut) return true;
  const Page& page = flash_.ReadBuffer();
  st_.bulkOut.insert(st_.bulkOut.end(), page.begin(), page.end());
  st_.bulkPending += kPageBytes;
  return false;
}

void CardModel::LoadCardPara(uint32_t arg) {
  std::vector<cardsim_para_packet> list;
  if (!ReadParaPage(flash_, cfg_.CardVersion(), list)) {
    // Its own commit finds no parameters; a commit of every area keeps what was loaded.
    if (arg == OP_ARG_COMMIT_CARD_PARA) para_.clear();
    return;
  }
  para_ = std::move(list);
  for (const cardsim_para_packet& p : para_) {
    if (p.command == CMD_SET_FLAG) {
      SetFlag(p.p1, p.p2);
    } else if (p.command == kCmdRecordKinds) {
      debug_.SetKinds(p.p2);
    } else if (p.command == kCmdIoSettings) {
      debug_.IoSettings(p.p2);
    } else if (p.command == kCmdRunStart) {
      cfg_.startBytes = (p.p2 & 0xFFu) * kRunStartUnitBytes;
    }
  }
}

uint32_t CardModel::ParaCount() {
  std::lock_guard<std::mutex> g(mu_);
  return static_cast<uint32_t>(para_.size());
}

bool CardModel::Para(uint32_t index, cardsim_para_packet& out) {
  std::lock_guard<std::mutex> g(mu_);
  if (index >= para_.size()) return false;
  out = para_[index];
  return true;
}

void CardModel::FlashBusy(uint32_t bit, uint32_t subState) {
  if (cfg_.flashBusyPolls == 0 && cfg_.flashBusyUs == 0) return;
  st_.runState |= bit;
  st_.subState = subState;
  st_.flashBusy = cfg_.flashBusyPolls;
  st_.flashBusyBit = bit;
  st_.flashBusyUntilUs = cfg_.flashBusyUs != 0 ? NowUs() + cfg_.flashBusyUs : 0;
}

void CardModel::FlashBusySeen() {
  if (st_.flashBusy == 0 && st_.flashBusyUntilUs == 0) return;
  if (st_.flashBusy != 0) --st_.flashBusy;
  if (st_.flashBusy != 0 || NowUs() < st_.flashBusyUntilUs) return;
  st_.flashBusyUntilUs = 0;
  ClearRunBits(st_.flashBusyBit);
}

bool CardModel::RunOfflineDoc(uint32_t doc) {
  if (!offline_.Begin(flash_, doc)) return false;
  flash_.CancelData();
  stream_.Open(LayoutOfVersion(cfg_.CardVersion()), NowUs());
  StreamRunning(true);
  stream_.StartRun(NowUs());
  SyncStream();
  return true;
}

bool CardModel::StartInput(uint32_t doc) {
  Guard g(*this);
  SyncStream();
  return RunOfflineDoc(doc);
}

void CardModel::FlashDataIn(const uint8_t* data, uint32_t length) {
  flash_.DataIn(data, length);
  if (flash_.DataDue() != 0) return;
  const uint32_t sub = st_.subState;
  ClearRunBits(2);
  FlashBusy(2, sub);
}

cardsim_flash CardModel::FlashCounts() {
  std::lock_guard<std::mutex> g(mu_);
  cardsim_flash c = flash_.Counts();
  c.areas_out = (st_.alarms >> kAreaFlagShift) & ((1u << kAreaCount) - 1);
  return c;
}

void CardModel::ClearRunBits(uint32_t bits) {
  st_.runState &= ~(bits & ~cfg_.stickyRun);
  if ((st_.runState & 7) == 0) st_.subState = 0;
}

void CardModel::SetFlag(uint32_t value, uint32_t mask) {
  for (uint32_t bit = 0; bit < 32; ++bit) {
    const uint32_t m = 1u << bit;
    if (!(mask & m)) continue;
    st_.flagValue[bit] = value;
    st_.flagCount[bit] += 1;
    switch (m) {
      case FLAG_PAUSE:
        st_.paused = 1;
        break;
      case FLAG_RESUME:
        st_.paused = 0;
        break;
      case FLAG_STOP:
        if (!stream_.Live()) ClearRunBits(1);
        stream_.Stop();  // a live run, or a resident program
        st_.paused = 0;
        break;
      case FLAG_FLUSH:
        // A live run runs out what was received; without one there is nothing to run out.
        if (stream_.Live()) {
          stream_.Flush(NowUs());
        } else {
          ClearRunBits(1);
        }
        break;
      case FLAG_DEBUG_RECORD:
        st_.debug = value;
        debug_.SetOn(value != 0);
        break;
      case FLAG_OFFLINE:
        st_.offline = value & 1;
        break;
      case FLAG_CLEAR_ALARM:
        // The library sends 0, then 1: the rising edge clears.
        if (value == 1) {
          st_.alarms &= cfg_.stickyAlarms;
          st_.laserAlarm = 0;
          stream_.ClearWaitReasons();
        }
        break;
      case FLAG_TASK_ID:
        st_.taskId = value & 31;
        break;
      case FLAG_FINISH_FLASH_WRITE:
        // The card gives up the page data it waited for and ends the operation.
        flash_.CancelData();
        st_.flashBusy = 0;
        st_.flashBusyUntilUs = 0;
        ClearRunBits(2);
        break;
      case FLAG_PARA_VALID:
        // The areas of the value are being rewritten: out of effect until committed.
        if (value & ((1u << kAreaCount) - 1)) {
          st_.alarms |= (value & ((1u << kAreaCount) - 1)) << kAreaFlagShift;
          flash_.Noticed();
        }
        break;
      case FLAG_ABORT_CARD_INIT:
        ClearRunBits(4);
        break;
      case FLAG_START_BUFFERED_RUN:
        stream_.StartRun(NowUs());
        break;
      default:
        break;
    }
  }
}

// ------------------------------------------------------------------------------------------------
// Log and snapshot

cardsim_frame CardModel::NewEntry(uint32_t kind, const void* data, uint32_t length) const {
  cardsim_frame e{};
  e.time_us = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0_).count());
  e.kind = kind;
  e.length = length;
  if (data) std::memcpy(e.bytes, data, std::min<uint32_t>(length, sizeof e.bytes));
  return e;
}

void CardModel::Log(const cardsim_frame& f) {
  log_.push_back(f);
  if (std::this_thread::get_id() != logOwner_) log_.back().flags |= CARDSIM_FRAME_OTHER_THREAD;
  if (log_.size() > kLogCapacity) log_.pop_front();
  logTotal_ += 1;
}

uint32_t CardModel::LogCount() {
  std::lock_guard<std::mutex> g(mu_);
  return logTotal_;
}

bool CardModel::LogGet(uint32_t index, cardsim_frame& out) {
  std::lock_guard<std::mutex> g(mu_);
  const uint32_t first = logTotal_ - static_cast<uint32_t>(log_.size());
  if (index < first || index >= logTotal_) return false;
  out = log_[index - first];
  return true;
}

void CardModel::LogClear() {
  std::lock_guard<std::mutex> g(mu_);
  log_.clear();
  logTotal_ = 0;
  logOwner_ = std::this_thread::get_id();
}

cardsim_state CardModel::Snapshot() {
  Guard g(*this);
  SyncStream();
  cardsim_state s{};
  s.bulk_bytes = st_.bulkBytes;
  s.card_type = static_cast<uint32_t>(cfg_.type);
  s.open = st_.open;
  s.lost = st_.lost;
  s.open_count = st_.openCount;
  s.close_count = st_.closeCount;
  s.last_index = st_.lastIndex;
  s.reply_pending = st_.replyPending;
  s.bulk_pending = st_.bulkPending;
  s.status_reads = st_.statusReads;
  s.bulk_chunks = st_.bulkChunks;
  s.last_chunk_length = st_.lastChunkLength;
  s.not_ready_sends = st_.notReadySends;
  const auto w = StatusWordsLocked();
  s.status_r0 = w.first;
  s.status_r1 = w.second;
  s.run_state = st_.runState & 7;
  s.task_id = st_.taskId;
  s.sub_state = st_.subState;
  s.offline = st_.offline;
  s.paused = st_.paused;
  s.debug = st_.debug;
  s.inputs = cfg_.inputs;
  s.outputs = st_.outputs;
  s.da[0] = st_.da[0];
  s.da[1] = st_.da[1];
  s.ad = cfg_.ad;
  s.alarm_bits = st_.alarms & kAlarmMask;
  s.laser_alarm = st_.laserAlarm;
  s.operate_count = st_.operateCount;
  s.operate_op = st_.operateOp;
  s.operate_arg = st_.operateArg;
  s.quality_period = st_.qualityPeriod;
  s.lost_fail = st_.lostFail;
  s.lost_link = st_.lostLink;
  s.link_settings = st_.linkSettings;
  s.handshake_state = st_.handshake;
  s.link_level = (cfg_.secondaryMode != 1 && st_.qualitySet) ? (cfg_.linkLevel & 3) : 0;
  s.linked = st_.linked;
  s.second_link = st_.secondLink;
  s.link_error = st_.linkError;
  return s;
}

// ------------------------------------------------------------------------------------------------
// The data stream

uint64_t CardModel::NowUs() const {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0_).count());
}

StreamSettings CardModel::Settings() const {
  StreamSettings s;
  s.mode = cfg_.consumeMode;
  s.speedPercent = cfg_.speedPercent;
  s.startBytes = cfg_.startBytes;
  s.paused = st_.paused != 0;
  return s;
}

void CardModel::SyncStream() {
  stream_.Sync(Settings(), NowUs());
  // An offline document is read from the flash as the executor makes room for it.
  while (offline_.Feed(flash_, stream_, Settings(), NowUs())) stream_.Sync(Settings(), NowUs());
}

uint32_t CardModel::StreamOutputs(uint32_t mask, uint32_t values) {
  st_.outputs = (st_.outputs & ~mask) | (values & mask);
  // The lasers' emission first, so that the debug record of this word shows it.
  stream_.Lasers().OutputsNow(stream_.Clock(), st_.outputs);
  DebugIoWord();
  oss_.Outputs(st_.outputs, NowUs());
  return st_.outputs;
}

void CardModel::StreamClockAt(uint64_t t) {
  cardsim_laser l{};
  stream_.Lasers().State(0, l);
  debug_.StreamAt(t, cfg_.ad, l.power_da);
}

void CardModel::StreamMoved() {
  cardsim_galvo g{};
  stream_.Galvo().State(g);
  debug_.Moved(g.x, g.y, g.form == 21);
}

void CardModel::DebugIoWord() {
  cardsim_laser l{};
  stream_.Lasers().State(0, l);
  const uint32_t gate = (st_.runState & 1u) != 0 && l.emitting != 0 ? 2u : 0u;
  debug_.IoWord((st_.outputs & ~1u) | gate | (st_.runState & 1u));
}

void CardModel::StreamRunning(bool running) {
  if (running) {
    // Emission follows the configured laser's gates from the outputs the card holds now.
    stream_.Lasers().SetLaserType(cfg_.laserType);
    stream_.Lasers().OutputsNow(stream_.Clock(), st_.outputs);
    st_.runState |= 1;
    debug_.RunOpened();
    DebugIoWord();
    return;
  }
  StreamClockAt(stream_.Clock());
  ClearRunBits(1);
  DebugIoWord();
  // The run ended (end word, stop, data break, failed check, wait time-out): its picture. A card has
  // no one to tell that the file could not be written but the host's error stream.
  if (!cfg_.svgPath.empty() && !WriteSvgLocked(cfg_.svgPath, cfg_.svgField))
    std::fprintf(stderr, "cardsim: the picture of the run could not be written to %s\n", cfg_.svgPath.c_str());
}

void CardModel::StreamAlarm(uint32_t bits) {
  // A document that fails its check is an offline file the card could not read.
  if (offline_.Owns() && (bits & kStreamCheckAlarm)) bits = (bits & ~kStreamCheckAlarm) | kOfflineReadAlarm;
  st_.alarms |= bits;
}

void CardModel::WaitAnswer(uint32_t command, uint32_t& r0, uint32_t& r1) const {
  if (command == CMD_WAIT_REASON) {
    r0 = stream_.Waits().TimeoutReasons();
    return;
  }
  cardsim_wait w{};
  if (!stream_.Waits().LastRegisterWait(w)) return;
  if (command == CMD_WAIT_STATE) {
    r0 = w.mask;
    r1 = w.values;
    return;
  }
  r0 = (w.source & 0xF) | (w.end == CARDSIM_WAIT_OPEN ? 0x10u : 0u);
  r1 = w.source == 1 ? cfg_.inputs : 0;
}

cardsim_fifo CardModel::Fifo() {
  Guard g(*this);
  SyncStream();
  cardsim_fifo f;
  stream_.Fill(f);
  f.consume_mode = cfg_.consumeMode;
  f.start_threshold = cfg_.startBytes;
  return f;
}

bool CardModel::StepStream(uint64_t us) {
  Guard g(*this);
  SyncStream();
  return stream_.Step(us, st_.paused != 0);
}

uint32_t CardModel::TraceCount(uint32_t which) {
  std::lock_guard<std::mutex> g(mu_);
  return stream_.TraceCount(which);
}

bool CardModel::TraceGet(uint32_t which, uint32_t index, cardsim_trace_entry& out) {
  std::lock_guard<std::mutex> g(mu_);
  return stream_.TraceGet(which, index, out);
}

void CardModel::SetCameraReady(bool ready) {
  Guard g(*this);
  SyncStream();
  cameraReady_ = ready;
}

uint32_t CardModel::CameraCount() {
  Guard g(*this);
  SyncStream();
  return stream_.CameraCount();
}

bool CardModel::CameraGet(uint32_t index, cardsim_camera& out) {
  Guard g(*this);
  SyncStream();
  return stream_.CameraGet(index, out);
}

void CardModel::TraceClear() {
  std::lock_guard<std::mutex> g(mu_);
  stream_.TraceClear();
}

bool CardModel::LaserState(uint32_t laser, cardsim_laser& out) {
  Guard g(*this);
  SyncStream();
  return stream_.Lasers().State(laser, out);
}

uint32_t CardModel::LaserSegmentCount(uint32_t laser) {
  Guard g(*this);
  SyncStream();
  return stream_.Lasers().SegmentCount(laser);
}

bool CardModel::LaserSegment(uint32_t laser, uint32_t index, cardsim_laser_segment& out) {
  Guard g(*this);
  SyncStream();
  return stream_.Lasers().Segment(laser, index, stream_.Clock(), out);
}

uint32_t CardModel::PowerChangeCount() {
  Guard g(*this);
  SyncStream();
  return stream_.Lasers().PowerCount();
}

bool CardModel::PowerChange(uint32_t index, cardsim_power_change& out) {
  Guard g(*this);
  SyncStream();
  return stream_.Lasers().PowerChange(index, out);
}

uint32_t CardModel::OutputChangeCount() {
  Guard g(*this);
  SyncStream();
  return stream_.Lasers().OutputCount();
}

bool CardModel::OutputChange(uint32_t index, cardsim_output_change& out) {
  Guard g(*this);
  SyncStream();
  return stream_.Lasers().OutputChange(index, out);
}

void CardModel::SetInputs(uint32_t bits) {
  Guard g(*this);
  SyncStream();
  cfg_.inputs = bits;
  SyncStream();
}

cardsim_galvo CardModel::GalvoState() {
  Guard g(*this);
  SyncStream();
  cardsim_galvo out;
  stream_.Galvo().State(out);
  return out;
}

uint32_t CardModel::PositionCount() {
  Guard g(*this);
  SyncStream();
  return stream_.Galvo().Count();
}

bool CardModel::Position(uint32_t index, cardsim_position& out) {
  Guard g(*this);
  SyncStream();
  return stream_.Galvo().Get(index, out);
}

bool CardModel::MirrorAt(uint64_t t, cardsim_mirror& out) {
  Guard g(*this);
  SyncStream();
  return stream_.MirrorAt(t, out);
}

uint32_t CardModel::WaitCount() {
  Guard g(*this);
  SyncStream();
  return stream_.Waits().WaitCount();
}

bool CardModel::Wait(uint32_t index, cardsim_wait& out) {
  Guard g(*this);
  SyncStream();
  return stream_.Waits().WaitGet(index, out);
}

uint32_t CardModel::RegWriteCount() {
  Guard g(*this);
  SyncStream();
  return stream_.Waits().WriteCount();
}

bool CardModel::RegWrite(uint32_t index, cardsim_reg_write& out) {
  Guard g(*this);
  SyncStream();
  return stream_.Waits().WriteGet(index, out);
}

bool CardModel::WriteSvgLocked(const std::string& path, const SvgField& field) const {
  try {
    return WriteSvgFile(path, SvgPicture(stream_.Galvo(), stream_.Lasers(), stream_.Clock(), field));
  } catch (...) {
    return false;  // out of memory: no picture
  }
}

uint32_t CardModel::WriteSvg(const char* path, double fieldX, double fieldY, double halfRange) {
  Guard g(*this);
  SyncStream();
  if (!path || !*path) return 1;
  SvgField f = cfg_.svgField;
  if (fieldX != 0) f.fieldX = fieldX;
  if (fieldY != 0) f.fieldY = fieldY;
  if (halfRange != 0) f.halfRange = halfRange;
  if (!f.Valid()) return 1;
  return WriteSvgLocked(path, f) ? 0 : 1;
}

}  // namespace cardsim
