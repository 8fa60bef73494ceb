// What the card answers: status, flags and their effects, inputs and outputs, versions, the
// secondary-card link.
#include "cardsim_fixture.h"

namespace cardsim_test {
namespace {

using CardsimStatus = CardsimTest;
using CardsimCommands = CardsimTest;
using CardsimSecondary = CardsimTest;

TEST_F(CardsimStatus, StatusReplyCarriesEveryField) {
  struct Case { uint32_t run, task, sub, alarms, laser, flags, offline, r0, r1; } cases[] = {
      {0, 0, 0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 1, 0, 1u << 26},
      {1, 1, 0, 0, 0, 0, 0, 0x1, 1u << 21},
      {2, 9, 2, 0, 0, 0x8000, 0, 0x2, (9u << 21) | (2u << 16) | 0x8000},
      {4, 31, 31, 0, 0, 0, 0, 0x4, (31u << 21) | (31u << 16)},
      {0, 0, 0, (1u << 10) | (1u << 21) | (1u << 4) | (1u << 31), 0, 0, 0, (1u << 10) | (1u << 21) | (1u << 4) | (1u << 31), 0},
      {0, 0, 0, 0, 17, 0, 0, 1u << 7, 8u << 27},  // the laser alarm
      {0, 0, 0, 0x87, 0, 0, 0, 0, 0},             // run-state and laser bits are no alarm bits
  };
  for (const auto& c : cases) {
    cardsim_reset();
    Open(CardType::Pcie);
    cardsim_set_run_state(c.run, c.task, c.sub);
    cardsim_set_alarms(c.alarms, c.laser);
    cardsim_set_status_flags(c.flags);
    ASSERT_EQ(0u, Exchange(0x1052, c.offline, 0x20).rc);
    const auto s = Status();
    EXPECT_EQ(c.r0, s.first) << std::hex << c.r0;
    EXPECT_EQ(c.r1, s.second) << std::hex << c.r1;
    EXPECT_EQ(s.first, State().status_r0);
    EXPECT_EQ(s.second, State().status_r1);
  }
}

TEST_F(CardsimStatus, FlagRequestsChangeTheRunStateUnlessItIsStuck) {
  struct Case { uint32_t run, sub, stuck, mask, value, runAfter, subAfter; } cases[] = {
      {1, 0, 0, 0x4, 0, 0, 0},        // stop
      {1, 0, 0, 0x8, 0, 0, 0},        // flush
      {1, 0, 1, 0x4, 0, 1, 0},        // a card that does not stop
      {4, 3, 0, 0x80000, 0, 0, 0},    // abort the card's initialisation
      {4, 3, 4, 0x80000, 0, 4, 3},    // initialisation that cannot be aborted
      {2, 2, 0, 0x20000, 0, 0, 0},    // finish an interrupted flash write
      {2, 2, 2, 0x20000, 0, 2, 2},
      {5, 1, 0, 0x80000, 0, 1, 1},    // only the bit the request names
      {1, 0, 0, 0x1, 0, 1, 0},        // pause leaves the run state
  };
  for (const auto& c : cases) {
    cardsim_reset();
    Open(CardType::Usb);
    cardsim_set_run_state(c.run, 0, c.sub);
    cardsim_set_sticky(0, c.stuck);
    ASSERT_EQ(0u, Exchange(82, c.value, c.mask).rc);
    const cardsim_state s = State();
    EXPECT_EQ(c.runAfter, s.run_state) << std::hex << c.mask;
    EXPECT_EQ(c.subAfter, s.sub_state) << std::hex << c.mask;
  }
}

TEST_F(CardsimStatus, FlagValuesTaskIdOfflinePauseAndDebug) {
  Open(CardType::Usb);
  EXPECT_EQ(1u, State().offline);  // a card without a host is off-line
  ASSERT_EQ(0u, Exchange(82, 0, 0x20).rc);
  ASSERT_EQ(0u, Exchange(82, 7, 0x8000).rc);
  ASSERT_EQ(0u, Exchange(82, 1, 0x10).rc);
  ASSERT_EQ(0u, Exchange(82, 0, 0x1).rc);
  cardsim_state s = State();
  EXPECT_EQ(0u, s.offline);
  EXPECT_EQ(7u, s.task_id);
  EXPECT_EQ(1u, s.debug);
  EXPECT_EQ(1u, s.paused);
  ASSERT_EQ(0u, Exchange(82, 0, 0x2).rc);
  ASSERT_EQ(0u, Exchange(82, 0, 0x8000).rc);
  s = State();
  EXPECT_EQ(0u, s.paused);
  EXPECT_EQ(0u, s.task_id);
  uint32_t value = 99, count = 0;
  ASSERT_EQ(0u, cardsim_get_flag(0x8000, &value, &count));
  EXPECT_EQ(0u, value);
  EXPECT_EQ(2u, count);
  ASSERT_EQ(0u, cardsim_get_flag(0x4000, &value, &count));
  EXPECT_EQ(0u, count);
  EXPECT_NE(0u, cardsim_get_flag(0x6000, &value, &count));
}

TEST_F(CardsimStatus, ClearingAlarmsOnTheRisingValueLeavesTheStickyOnes) {
  Open(CardType::Usb);
  const uint32_t alarms = (1u << 10) | (1u << 14) | (1u << 20) | (1u << 21) | (1u << 30) | (1u << 31);
  cardsim_set_alarms(alarms, 17);
  ASSERT_EQ(0u, Exchange(82, 0, 0x400).rc);
  EXPECT_EQ(alarms, State().alarm_bits);
  ASSERT_EQ(0u, Exchange(82, 1, 0x400).rc);
  EXPECT_EQ((1u << 14) | (1u << 20) | (1u << 30), State().alarm_bits);
  EXPECT_EQ(0u, State().laser_alarm);
  cardsim_set_sticky(0, 0);
  ASSERT_EQ(0u, Exchange(82, 1, 0x400).rc);
  EXPECT_EQ(0u, State().alarm_bits);
}

TEST_F(CardsimCommands, InputsOutputsAndAnalogueValues) {
  Open(CardType::Usb);
  cardsim_set_inputs(0xA5A5);
  EXPECT_EQ(0xA5A5u, Exchange(33).r0);
  struct Step { uint32_t mask, value, outputs; } steps[] = {
      {0x0F, 0x05, 0x05}, {0xF0, 0xFF, 0xF5}, {0x01, 0x00, 0xF4}, {0, 0, 0xF4}, {0x100, 0x1FF, 0x1F4}};
  for (const auto& s : steps) {
    const Reply r = Exchange(34, s.mask, s.value);
    EXPECT_EQ(s.outputs, r.r1) << std::hex << s.mask;
    EXPECT_EQ(s.outputs, State().outputs);
  }
  ASSERT_EQ(0u, Exchange(35, 0, 0x1ABC).rc);  // 12 bits kept
  ASSERT_EQ(0u, Exchange(35, 1, 0x123).rc);
  cardsim_set_ad(0x7FF);
  const Reply r = Exchange(39);
  EXPECT_EQ(0x7FFu, r.r0 & 0xFFF);
  EXPECT_EQ(0xABCu, (r.r1 >> 8) & 0xFFF);
  EXPECT_EQ(0x123u, r.r1 >> 20);
}

TEST_F(CardsimCommands, HardwareWordCarriesTheCardVersion) {
  Open(CardType::Pcie);
  cardsim_set_hw_words(0x02100000, 0x00123454, 0x11, 0x22);
  for (uint32_t v : {0x30u, 63u, 64u, 85u, 96u, 128u, 255u}) {
    cardsim_set_card_version(v);
    const Reply r = Exchange(81);
    EXPECT_EQ(v, ((r.r0 >> 3) & 0xE0) + (r.r0 & 0x1F)) << v;
    EXPECT_EQ(0x02100000u, r.r0 & 0xFFFFF8E0u) << v;  // other bits stay
    EXPECT_EQ(0x00123454u, r.r1);
  }
  const Reply r = Exchange(84, 1, 0);
  EXPECT_EQ(0x11u, r.r0);
  EXPECT_EQ(0x22u, r.r1);
}

TEST_F(CardsimCommands, FixedAnswersMatchCommandAndParametersExactly) {
  Open(CardType::Usb);
  cardsim_set_answer(3, 1, 0, 0x100, 0x200);
  cardsim_set_answer(3, 0, 0, 0x7F000000, 0);
  cardsim_set_answer(18, 0, 0, 0x11, 0x22);
  struct Case { uint32_t cmd, p1, p2, r0, r1; } cases[] = {
      {3, 1, 0, 0x100, 0x200}, {3, 0, 0, 0x7F000000, 0}, {3, 1, 1, 0, 0}, {18, 0, 0, 0x11, 0x22}, {17, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const Reply r = Exchange(c.cmd, c.p1, c.p2);
    EXPECT_EQ(c.r0, r.r0) << c.cmd << "," << c.p1 << "," << c.p2;
    EXPECT_EQ(c.r1, r.r1) << c.cmd << "," << c.p1 << "," << c.p2;
  }
  // A fixed answer does not undo the command's effect.
  cardsim_set_answer(34, 1, 1, 0, 0xDEAD);
  EXPECT_EQ(0xDEADu, Exchange(34, 1, 1).r1);
  EXPECT_EQ(1u, State().outputs);
  cardsim_clear_answers();
  EXPECT_EQ(0u, Exchange(3, 1, 0).r0);
}

TEST_F(CardsimCommands, OperationsAreRecordedAndCompleteAtOnce) {
  Open(CardType::Pcie);
  ASSERT_EQ(0u, Exchange(83, 4, 0xF00000FF).rc);
  const cardsim_state s = State();
  EXPECT_EQ(1u, s.operate_count);
  EXPECT_EQ(4u, s.operate_op);
  EXPECT_EQ(0xF00000FFu, s.operate_arg);
  EXPECT_EQ(0u, Status().first & 7);
}

TEST_F(CardsimSecondary, StepOutOfOrderBreaksTheLinkAndTheLastStepReportsTheError) {
  Open(CardType::Pcie);
  cardsim_set_secondary(1, 0);
  cardsim_set_link_fields(2, 5, 0x60);
  ASSERT_EQ(0u, LinkWord(0x04000200));
  for (uint32_t w : {0x01000001u, 0x01000005u}) ASSERT_EQ(0u, LinkWord(w));
  EXPECT_EQ(0xFFu, State().handshake_state);
  EXPECT_EQ(0u, (LinkState() >> 12) & 3);
  for (uint32_t w : {0x01000001u, 0x01000004u, 0x01000005u, 0x01000002u, 0x01000000u}) ASSERT_EQ(0u, LinkWord(w));
  const uint32_t st = LinkState();
  EXPECT_EQ(2u, (st >> 14) & 3);
  EXPECT_EQ(3u, (st >> 12) & 3);
  EXPECT_EQ(5u, (st >> 9) & 7);
  EXPECT_EQ(0x60u, st & 0x60);
}

TEST_F(CardsimSecondary, LatchWordsPutReasonsOrCounterIntoTheStatusWord) {
  Open(CardType::Pcie);
  cardsim_set_link_latches(0xC, 0x2AB);
  EXPECT_EQ(0u, (LinkState() >> 16) & 0x3FF);
  ASSERT_EQ(0u, LinkWord(0x07000000));
  EXPECT_EQ(0xDu, (LinkState() >> 16) & 0x3FF);  // not linked: slave link failed
  ASSERT_EQ(0u, LinkWord(0x07000005));
  EXPECT_EQ(0x2ABu, (LinkState() >> 16) & 0x3FF);
  cardsim_set_secondary(1, 0);
  for (uint32_t w : {0x04000200u, 0x01000001u, 0x01000004u, 0x01000005u, 0x01000002u, 0x07000000u})
    ASSERT_EQ(0u, LinkWord(w));
  EXPECT_EQ(0xCu, (LinkState() >> 16) & 0x3FF);
}

}  // namespace
}  // namespace cardsim_test
