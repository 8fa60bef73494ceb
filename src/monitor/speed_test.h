#pragma once
// The service engineer's speed tests: the bulk-data rate towards the card's FIFO and the rate of
// immediate commands (QZ_TestSpeed, library task 15), and the optical path switch's return to
// path 1 from each of four paths (QZ_TestOssSwitchSpeed, no task). Each shows its figures in one
// topmost box in the language of the language flag.
//
// Times come from the platform clock: the buffer test from the tick, the command and switch tests
// from the performance counter; every wait of the switch test ends 1000 ms after output 30 rose.
#include <cstdint>
#include <string>

#include "markbase/job_state.h"

constexpr uint32_t kSpeedTestBlocks = 50000;    // blocks of the buffer test, and commands of the command test
constexpr double kSlowestCommandMs = 1110.0;    // the minimum's start value
constexpr uint32_t kOssDeadlineMs = 1000;
constexpr uint32_t kOssOutput = 0x40000000u;    // output 30 starts the switch back to path 1
constexpr uint32_t kOssPlanned = 1u << 21;      // 0x149 (0, 0) r0: the galvanometers are planned
constexpr uint32_t kOssFeedback = 1u << 22;     // their feedback arrived
constexpr uint32_t kOssDone = 1u << 23;         // the switch is done

// The buffer test's generator: one block (the end word, then zeros) 50000 times through the block
// ring, drained to the card while it is open; `elapsedMs` takes the ticks it took.
void TestBufferSpeedFlow(uint32_t& elapsedMs) REQUIRES(g_MarkCall);
// Both tests; the text of the box (the three lines and the note). A lost card throws code 1.
std::string TestSpeed();
// QZ_TestSpeed: 1 without a card or with the card lost, the refusal of task 15 (2 busy), else 0.
uint32_t RunSpeedTest();

// The text of one path p (0..3): planning, feedback and total times, or "Time out not completed!".
std::string TestOssSwitchSpeed(uint32_t p);
// QZ_TestOssSwitchSpeed: 1 without a card or with the card lost, else 0.
uint32_t RunOssSwitchSpeedTest();
