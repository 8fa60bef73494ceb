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
#include <string>

#include "cardlink/card_locks.h"
#include "markbase/job_state.h"
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

// One received byte at once (the body of QZ_UartCmdRecvByte): plain form command 116 (0, 0), the
// byte in r0's low byte and its valid flag in r1 bit 0; handshake form: 116 (0, 0) until the
// receiver is idle, 116 (0, 1) until it answers (then the byte), 116 (0, 0) until idle again (a
// receiver that never answers: 116 (0, 0), then 37).
void UartRecvByte(uint8_t& byte, uint32_t& valid) EXCLUDES(g_csCardCmd);
// Sends `count` bytes in order (UartSendByte each).
void UartSendBytes(const uint8_t* bytes, int32_t count) EXCLUDES(g_csCardCmd);

// Collects a reply line: a received byte every 10 ms until the line is longer than `terminator`
// and ends with it (the terminator is cut off: true), or kUartLineMs passed (false).
constexpr uint32_t kUartLineMs = 2000;
bool UartRecvLine(std::string& line, const std::string& terminator) EXCLUDES(g_csCardCmd);
// Reads and drops what the laser sent before a query: until no valid byte is left, at most
// kUartDrainBytes bytes or kUartLineMs (a laser that never stops talking).
constexpr uint32_t kUartDrainBytes = 4096;
void UartDrain() EXCLUDES(g_csCardCmd);

// The fiber laser's state codes (status r0 bits 22-25): the texts of the alarms and of the other
// states; codes 14 and 15 are in neither table.
struct FiberLaserState {
  uint32_t code;
  bool alarm;
  const char* text;
};
extern const FiberLaserState FiberLaserStateTable[14];
bool FiberLaserCodeIsAlarm(uint32_t code);
// Command 33: *alarm becomes 1 when the code is an alarm, else stays as it was.
void FiberLaserIsAlarm(int32_t* alarm) EXCLUDES(g_csCardCmd);

// The back-reflection current of an SPI laser ("QI"): the decimal after the first ',' of the reply
// (saturating). Returns 0 (also without a reply: current stays -1) or 30 for a reply without ','.
uint32_t GetSpiBackCurrent(int32_t& current) EXCLUDES(g_csCardCmd);
// The laser's alarm: LASER_TYPE 2 the fiber state code, 3 the SPI status ("QS", bit 15 = alarm;
// 2 without a reply that is all digits), other types 0.
void SystemIsAlarm(int32_t& alarm) EXCLUDES(g_csCardCmd);
