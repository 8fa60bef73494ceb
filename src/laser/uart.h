#pragma once
// The card's serial port (UART) to the laser, one byte at a time: at once over the command channel,
// or inside a job as stream words that the card sends when it reaches them.
//
// Two forms, chosen by bNewBoxCali (cards of the new calibration method have the handshake):
//   plain      wait until the transmitter is idle (command 115, r1 0), then send the byte (114).
//              In the stream: the byte word 0x71000000 | b, a 1 s wait time-out, the wait word.
//   handshake  the byte (114), idle, the byte again with the strobe bit 0x100, wait until the card
//              took it (115 nonzero), the byte without the strobe, idle. In the stream: the byte
//              word, the strobed word 0x71000100 | b and the byte word again, each followed by a
//              named wait on the transmitter ("等待串口发送结束", "等待串口发送开始"; 1000 s time-out).
// Every poll makes at most 100 attempts, 10 ms apart; a card that never gets there is a time-out
// (code 37, reported). A lost card is code 1 without a message.
#include <cstdint>

#include "cardlink/card_locks.h"
#include "mark/job_state.h"
#include "platform/lock.h"

// Held around every exchange that must not be split by another user of the laser's serial port: a
// text query (request and reply), a PA/MO frame, and each byte sent at once. Taken before the
// card-command lock, which is held only for single exchanges.
extern plat::Lock UartLaserLock ACQUIRED_BEFORE(g_csCardCmd);

// Attempts of a UART poll and the pause between two of them.
constexpr int kUartPollAttempts = 100;
constexpr uint32_t kUartPollSleepMs = 10;

// Sends one byte to the laser at once (under UartLaserLock). Code 37 on time-out, 1 when the card is
// lost.
void UartSendByte(uint8_t b) EXCLUDES(g_csCardCmd);
// Appends one byte for the laser to the job stream; the clock advances by 1 µs before each word.
void ListUartSendByte(uint8_t b) REQUIRES(g_MarkCall);
