// The cardsim_ control functions: thin wrappers over the process-global card model.
#include "cardsim_api.h"

#include <cstring>

#include "card_model.h"

#include <algorithm>
#include <cstring>

using cardsim::CardConfig;
using cardsim::CardFaults;
using cardsim::CardModel;
using cardsim::CardState;
using cardsim::CardType;
using cardsim::FlashModel;
using cardsim::ImmediateState;
using cardsim::UART_NEVER_CLEARS;

namespace {

CardModel& Card() { return CardModel::Global(); }

// Runs f(config, state, faults) under the model's lock and answers 0.
template <class F>
uint32_t Set(F f) {
  Card().With([&](CardConfig& c, CardState& s, CardFaults& x) { f(c, s, x); });
  return 0;
}

}  // namespace

extern "C" {

uint32_t CARDSIM_CALL cardsim_reset(void) {
  Card().Reset();
  return 0;
}

uint32_t CARDSIM_CALL cardsim_load_config(const char* path) { return Card().LoadConfigFile(path); }

uint32_t CARDSIM_CALL cardsim_save_state(void) { return Card().SaveState(); }

uint32_t CARDSIM_CALL cardsim_load_state(void) { return Card().LoadState(); }

uint32_t CARDSIM_CALL cardsim_get_state(cardsim_state* out) {
  if (!out) return 1;
  *out = Card().Snapshot();
  return 0;
}

uint32_t CARDSIM_CALL cardsim_set_card_type(uint32_t type) {
  if (type > 1) return 1;
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.type = static_cast<CardType>(type); });
}

uint32_t CARDSIM_CALL cardsim_set_card_version(uint32_t version) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) {
    c.hwWord = (c.hwWord & ~cardsim::kVersionBitsMask) | cardsim::VersionBits(version);
  });
}

uint32_t CARDSIM_CALL cardsim_set_hw_words(uint32_t word, uint32_t features, uint32_t info0, uint32_t info1) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) {
    c.hwWord = word;
    c.hwFeatures = features;
    c.hwInfo2[0] = info0;
    c.hwInfo2[1] = info1;
  });
}

uint32_t CARDSIM_CALL cardsim_set_unique_id(const uint8_t* id) {
  if (!id) return 1;
  return Set([&](CardConfig& c, CardState&, CardFaults&) {
    for (int i = 0; i < 7; ++i) c.uniqueId[i] = id[i];
  });
}

uint32_t CARDSIM_CALL cardsim_set_usb_firmware(uint32_t b0, uint32_t b1) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) {
    c.usbFirmware[0] = static_cast<uint8_t>(b0);
    c.usbFirmware[1] = static_cast<uint8_t>(b1);
  });
}

uint32_t CARDSIM_CALL cardsim_set_usb_startup(uint32_t mode, uint32_t not_ready_polls) {
  if (mode > 2) return 1;
  return Set([&](CardConfig& c, CardState& s, CardFaults&) {
    c.usbStartup = mode;
    c.usbNotReadyPolls = not_ready_polls;
    s.usbPolls = 0;
  });
}

uint32_t CARDSIM_CALL cardsim_set_present(uint32_t cards) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.present = cards; });
}

uint32_t CARDSIM_CALL cardsim_set_speed(uint32_t percent) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.speedPercent = percent; });
}

uint32_t CARDSIM_CALL cardsim_set_inputs(uint32_t bits) {
  Card().SetInputs(bits);
  return 0;
}

uint32_t CARDSIM_CALL cardsim_set_ad(uint32_t count) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.ad = count; });
}

uint32_t CARDSIM_CALL cardsim_set_run_state(uint32_t run_state, uint32_t task_id, uint32_t sub_state) {
  return Set([&](CardConfig&, CardState& s, CardFaults&) {
    s.runState = run_state & 7;
    s.taskId = task_id & 31;
    s.subState = sub_state & 31;
  });
}

uint32_t CARDSIM_CALL cardsim_set_alarms(uint32_t r0_bits, uint32_t laser_field) {
  return Set([&](CardConfig&, CardState& s, CardFaults&) {
    s.alarms = r0_bits;
    s.laserAlarm = laser_field & 63;
  });
}

uint32_t CARDSIM_CALL cardsim_set_sticky(uint32_t alarm_bits, uint32_t run_bits) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) {
    c.stickyAlarms = alarm_bits;
    c.stickyRun = run_bits & 7;
  });
}

uint32_t CARDSIM_CALL cardsim_set_status_flags(uint32_t r1_low) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.statusFlags = r1_low & 0xFFFF; });
}

uint32_t CARDSIM_CALL cardsim_set_answer(uint32_t command, uint32_t p1, uint32_t p2, uint32_t r0, uint32_t r1) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.answers[{command, p1, p2}] = {r0, r1}; });
}

uint32_t CARDSIM_CALL cardsim_clear_answers(void) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.answers.clear(); });
}

uint32_t CARDSIM_CALL cardsim_get_flag(uint32_t mask, uint32_t* value, uint32_t* count) {
  if (mask == 0 || (mask & (mask - 1)) != 0) return 1;
  uint32_t bit = 0;
  while (!(mask & (1u << bit))) ++bit;
  Card().With([&](CardConfig&, CardState& s, CardFaults&) {
    if (value) *value = s.flagValue[bit];
    if (count) *count = s.flagCount[bit];
  });
  return 0;
}

uint32_t CARDSIM_CALL cardsim_set_secondary(uint32_t answer, uint32_t mode) {
  if (mode > 2) return 1;
  return Set([&](CardConfig& c, CardState&, CardFaults&) {
    c.secondaryAnswer = answer & 0xFF;
    c.secondaryMode = mode;
  });
}

uint32_t CARDSIM_CALL cardsim_set_link_fields(uint32_t level, uint32_t error, uint32_t flags) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) {
    c.linkLevel = level & 3;
    c.linkError = error & 7;
    c.linkFlags = flags & 0x60;
  });
}

uint32_t CARDSIM_CALL cardsim_set_link_latches(uint32_t reasons, uint32_t counter) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) {
    c.failReasons = reasons & 0xF;
    c.linkCounter = counter & 0x3FF;
  });
}

uint32_t CARDSIM_CALL cardsim_log_count(void) { return Card().LogCount(); }

uint32_t CARDSIM_CALL cardsim_log_get(uint32_t index, cardsim_frame* out) {
  if (!out) return 1;
  return Card().LogGet(index, *out) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_log_clear(void) {
  Card().LogClear();
  return 0;
}

uint32_t CARDSIM_CALL cardsim_fault_lose_at(uint32_t n) {
  return Set([&](CardConfig&, CardState&, CardFaults& x) { x.loseAtSend = n; });
}

uint32_t CARDSIM_CALL cardsim_fault_lose_at_chunk(uint32_t n) {
  return Set([&](CardConfig&, CardState&, CardFaults& x) { x.loseAtChunk = n; });
}

uint32_t CARDSIM_CALL cardsim_fault_wrong_echo(uint32_t n) {
  return Set([&](CardConfig&, CardState&, CardFaults& x) { x.wrongEchoAt = n; });
}

uint32_t CARDSIM_CALL cardsim_fault_control_fail(uint32_t n) {
  return Set([&](CardConfig&, CardState&, CardFaults& x) { x.controlFailAt = n; });
}

uint32_t CARDSIM_CALL cardsim_fault_toggle(uint32_t n, uint32_t mode) {
  if (n != 0 && mode != 1 && mode != 2) return 1;
  return Set([&](CardConfig&, CardState&, CardFaults& x) {
    x.toggleAt = n;
    x.toggleMode = mode;
  });
}

uint32_t CARDSIM_CALL cardsim_fault_hold_low(uint32_t mask) {
  return Set([&](CardConfig&, CardState&, CardFaults& x) { x.holdLow = mask; });
}

uint32_t CARDSIM_CALL cardsim_inject_stale_reply(uint32_t word, uint32_t r0, uint32_t r1) {
  Card().InjectReply(word, r0, r1);
  return 0;
}

uint32_t CARDSIM_CALL cardsim_inject_stale_bulk(uint32_t bytes) {
  return Set([&](CardConfig&, CardState& s, CardFaults&) { s.bulkPending += bytes; });
}

uint32_t CARDSIM_CALL cardsim_set_latency_us(uint32_t us) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.latencyUs = us; });
}

uint32_t CARDSIM_CALL cardsim_set_consume(uint32_t mode) {
  if (mode > CARDSIM_CONSUME_STALLED) return 1;
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.consumeMode = mode; });
}

uint32_t CARDSIM_CALL cardsim_set_start_threshold(uint32_t bytes) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.startBytes = bytes; });
}

uint32_t CARDSIM_CALL cardsim_get_fifo(cardsim_fifo* out) {
  if (!out) return 1;
  *out = Card().Fifo();
  return 0;
}

uint32_t CARDSIM_CALL cardsim_step_us(uint32_t us) { return Card().StepStream(us) ? 0 : 1; }

uint32_t CARDSIM_CALL cardsim_trace_count(uint32_t words_only) { return Card().TraceCount(words_only); }

uint32_t CARDSIM_CALL cardsim_trace_get(uint32_t words_only, uint32_t index, cardsim_trace_entry* out) {
  if (!out) return 1;
  return Card().TraceGet(words_only, index, *out) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_trace_clear(void) {
  Card().TraceClear();
  return 0;
}

uint32_t CARDSIM_CALL cardsim_laser_state(uint32_t laser, cardsim_laser* out) {
  if (!out) return 1;
  return Card().LaserState(laser, *out) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_laser_segment_count(uint32_t laser) { return Card().LaserSegmentCount(laser); }

uint32_t CARDSIM_CALL cardsim_laser_segment_get(uint32_t laser, uint32_t index, cardsim_laser_segment* out) {
  if (!out) return 1;
  return Card().LaserSegment(laser, index, *out) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_power_change_count(void) { return Card().PowerChangeCount(); }

uint32_t CARDSIM_CALL cardsim_power_change_get(uint32_t index, cardsim_power_change* out) {
  if (!out) return 1;
  return Card().PowerChange(index, *out) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_output_change_count(void) { return Card().OutputChangeCount(); }

uint32_t CARDSIM_CALL cardsim_output_change_get(uint32_t index, cardsim_output_change* out) {
  if (!out) return 1;
  return Card().OutputChange(index, *out) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_get_flash(cardsim_flash* out) {
  if (!out) return 1;
  *out = Card().FlashCounts();
  return 0;
}

uint32_t CARDSIM_CALL cardsim_flash_read(uint32_t chip, uint32_t address, uint8_t* out, uint32_t length) {
  return Card().WithFlash([&](FlashModel& f) { return f.Peek(chip, address, out, length); }) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_flash_write(uint32_t chip, uint32_t address, const uint8_t* data, uint32_t length) {
  return Card().WithFlash([&](FlashModel& f) { return f.Poke(chip, address, data, length); }) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_nand_set_bad(uint32_t block, uint32_t bad) {
  return Card().WithFlash([&](FlashModel& f) { return f.SetBad(block, bad != 0); }) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_nand_set_id(const uint8_t* id, uint32_t length) {
  return Card().WithFlash([&](FlashModel& f) { return f.SetId(id, length); }) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_flash_fault(uint32_t chip, uint32_t kind, uint32_t where, uint32_t times) {
  return Card().WithFlash([&](FlashModel& f) { return f.AddFault(chip, kind, where, times); }) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_flash_commit_fail(uint32_t areas, uint32_t times) {
  Card().WithFlash([&](FlashModel& f) { f.SetCommitFault(areas, times); });
  return 0;
}

uint32_t CARDSIM_CALL cardsim_set_flash_busy(uint32_t polls) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.flashBusyPolls = polls; });
}

uint32_t CARDSIM_CALL cardsim_set_flash_busy_us(uint32_t us) {
  return Set([&](CardConfig& c, CardState&, CardFaults&) { c.flashBusyUs = us; });
}

// ---- offline files

uint32_t CARDSIM_CALL cardsim_off_head_get(uint32_t chip, uint32_t address, cardsim_off_head* out) {
  using cardsim::kPageBytes;
  if (!out) return 1;
  uint8_t page[kPageBytes];
  if (!Card().WithFlash([&](FlashModel& f) { return f.Peek(chip, address, page, kPageBytes); })) return 1;
  if (page[kPageBytes - 1] != 0xA5) return 1;
  const uint8_t* h = page + 1488;
  auto u16 = [](const uint8_t* p) { return static_cast<uint32_t>(p[0] | (p[1] << 8)); };
  auto u32 = [](const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
  };
  *out = cardsim_off_head{};
  out->version = u16(h);
  out->pid = h[2];
  out->timing = u32(h + 3);
  for (uint32_t i = 0; i < 16; ++i) {
    const uint8_t* e = h + 7 + 33 * i;
    cardsim_off_entry& x = out->entries[i];
    x.state = e[0];
    std::memcpy(x.name, e + 1, sizeof x.name);
    x.mark = u32(e + 21);
    x.reserved = u32(e + 25);
    x.id = u16(e + 29);
    x.tail = u16(e + 31);
  }
  return 0;
}

uint32_t CARDSIM_CALL cardsim_start_input(uint32_t doc) { return Card().StartInput(doc) ? 0 : 1; }

// ---- the galvanometer, waits and register writes

uint32_t CARDSIM_CALL cardsim_galvo_state(cardsim_galvo* out) {
  if (!out) return 1;
  *out = Card().GalvoState();
  return 0;
}

uint32_t CARDSIM_CALL cardsim_position_count(void) { return Card().PositionCount(); }

uint32_t CARDSIM_CALL cardsim_position_get(uint32_t index, cardsim_position* out) {
  if (!out) return 1;
  return Card().Position(index, *out) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_position_at(uint64_t time_us, cardsim_mirror* out) {
  if (!out) return 1;
  return Card().MirrorAt(time_us, *out) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_wait_count(void) { return Card().WaitCount(); }

uint32_t CARDSIM_CALL cardsim_wait_get(uint32_t index, cardsim_wait* out) {
  if (!out) return 1;
  return Card().Wait(index, *out) ? 0 : 1;
}

uint32_t CARDSIM_CALL cardsim_reg_write_count(void) { return Card().RegWriteCount(); }

uint32_t CARDSIM_CALL cardsim_reg_write_get(uint32_t index, cardsim_reg_write* out) {
  if (!out) return 1;
  return Card().RegWrite(index, *out) ? 0 : 1;
}

// ---- the card's picture

uint32_t CARDSIM_CALL cardsim_write_svg(const char* path, double field_x_mm, double field_y_mm, double half_range_mm) {
  return Card().WriteSvg(path, field_x_mm, field_y_mm, half_range_mm);
}

// ---- the encoder

uint32_t CARDSIM_CALL cardsim_set_encoder(uint32_t position, uint32_t period_ticks) {
  Card().WithEncoder([&](cardsim::EncoderModel& e) { e.Set(position, period_ticks); });
  return 0;
}

uint32_t CARDSIM_CALL cardsim_encoder_move(int32_t pulses) {
  Card().WithEncoder([&](cardsim::EncoderModel& e) { e.Move(pulses); });
  return 0;
}

uint32_t CARDSIM_CALL cardsim_get_encoder(cardsim_encoder* out) {
  if (!out) return 1;
  Card().WithEncoder([&](cardsim::EncoderModel& e) { e.Fill(*out); });
  return 0;
}

// ---- the card parameters

uint32_t CARDSIM_CALL cardsim_para_count(void) { return Card().ParaCount(); }

uint32_t CARDSIM_CALL cardsim_para_get(uint32_t index, cardsim_para_packet* out) {
  if (!out) return 1;
  return Card().Para(index, *out) ? 0 : 1;
}

// ---- the io debug records

uint32_t CARDSIM_CALL cardsim_debug_queue(uint32_t kind, uint32_t dt, uint32_t value) {
  Card().WithDebugRecords([&](cardsim::DebugRecordModel& d) { d.Queue(kind, dt, value); });
  return 0;
}

uint32_t CARDSIM_CALL cardsim_debug_form(uint32_t short_form) {
  Card().WithDebugRecords([&](cardsim::DebugRecordModel& d) { d.SetShortForm(short_form != 0); });
  return 0;
}

uint32_t CARDSIM_CALL cardsim_debug_count(uint32_t* queued, uint32_t* overflow) {
  Card().WithDebugRecords([&](cardsim::DebugRecordModel& d) {
    if (queued) *queued = d.Queued();
    if (overflow) *overflow = d.Overflow();
  });
  return 0;
}

// ---- the conveyor and the camera

uint32_t CARDSIM_CALL cardsim_set_encoder_speed(int32_t pulses_per_second) {
  Card().WithEncoder([&](cardsim::EncoderModel& e) { e.SetSpeed(pulses_per_second); });
  return 0;
}

uint32_t CARDSIM_CALL cardsim_set_camera_ready(uint32_t ready) {
  Card().SetCameraReady(ready != 0);
  return 0;
}

uint32_t CARDSIM_CALL cardsim_camera_count(void) { return Card().CameraCount(); }

uint32_t CARDSIM_CALL cardsim_camera_get(uint32_t index, cardsim_camera* out) {
  if (!out) return 1;
  return Card().CameraGet(index, *out) ? 0 : 1;
}

// ---- the extra axes

uint32_t CARDSIM_CALL cardsim_axis_step_us(uint64_t us) {
  return Card().WithAxes([&](cardsim::AxisModel& a) {
    a.Step(us);
    return 0u;
  });
}

uint32_t CARDSIM_CALL cardsim_axis_get(uint32_t index, cardsim_axis* out) {
  if (!out) return 1;
  return Card().WithAxes([&](cardsim::AxisModel& a) { return a.Get(index, *out) ? 0u : 1u; });
}

uint32_t CARDSIM_CALL cardsim_axis_set_switches(uint32_t index, uint32_t home, uint32_t limit_p, uint32_t limit_n) {
  if (index >= 4) return 1;
  return Card().WithAxes([&](cardsim::AxisModel& a) {
    a.SetSwitches(index, home, limit_p, limit_n);
    return 0u;
  });
}

}  // extern "C"

uint32_t CARDSIM_CALL cardsim_uart_script(const char* request, const char* reply, uint32_t delay_ms) {
  if (!request) return 1;
  return Card().WithImmediate([&](ImmediateState& m) {
    if (reply) {
      m.uart.script[request] = {reply, delay_ms};
    } else {
      m.uart.script.erase(request);
    }
    return 0u;
  });
}

uint32_t CARDSIM_CALL cardsim_uart_behaviour(uint32_t behaviour) {
  if (behaviour > UART_NEVER_CLEARS) return 1;
  return Card().WithImmediate([&](ImmediateState& m) {
    m.uart.behaviour = behaviour;
    return 0u;
  });
}

uint32_t CARDSIM_CALL cardsim_uart_received(char* out, uint32_t size) {
  return Card().WithImmediate([&](ImmediateState& m) {
    const std::string& r = m.uart.received;
    if (out && size > 0) {
      const size_t n = std::min<size_t>(r.size(), size - 1);
      std::memcpy(out, r.data(), n);
      out[n] = '\0';
    }
    return static_cast<uint32_t>(r.size());
  });
}

uint32_t CARDSIM_CALL cardsim_set_galvo_cmd(uint32_t moving_polls, uint32_t for_ever, int32_t offset_x,
                                            int32_t offset_y) {
  return Card().WithImmediate([&](ImmediateState& m) {
    m.galvo.movingPolls = moving_polls;
    m.galvo.movingForEver = for_ever != 0;
    m.galvo.offsetX = offset_x;
    m.galvo.offsetY = offset_y;
    return 0u;
  });
}

uint32_t CARDSIM_CALL cardsim_galvo_cmd_state(uint32_t* x, uint32_t* y, uint32_t* moves, uint32_t* raw_switch,
                                              uint32_t* raw_switches) {
  return Card().WithImmediate([&](ImmediateState& m) {
    if (x) *x = m.galvo.x;
    if (y) *y = m.galvo.y;
    if (moves) *moves = m.galvo.moves;
    if (raw_switch) *raw_switch = m.galvo.rawSwitch;
    if (raw_switches) *raw_switches = m.galvo.rawSwitches;
    return 0u;
  });
}

uint32_t CARDSIM_CALL cardsim_set_routes(uint32_t r0, uint32_t r1) {
  return Card().WithImmediate([&](ImmediateState& m) {
    m.routes[0] = r0;
    m.routes[1] = r1;
    return 0u;
  });
}

uint32_t CARDSIM_CALL cardsim_fault_stall_reply(uint32_t n, uint32_t ms) {
  return Card().WithImmediate([&](ImmediateState& m) {
    m.stallAt = n;
    m.stallMs = ms;
    return 0u;
  });
}

// ---- the optical path switch

uint32_t CARDSIM_CALL cardsim_set_oss(const cardsim_oss* o) {
  if (!o) return 1;
  Card().WithOss([&](cardsim::OssModel& m) { m.Set(*o); });
  return 0;
}

uint32_t CARDSIM_CALL cardsim_get_oss(cardsim_oss* out) {
  if (!out) return 1;
  Card().WithOss([&](cardsim::OssModel& m) { m.Fill(*out); });
  return 0;
}
