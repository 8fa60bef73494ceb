#pragma once
// The card's status and the texts that explain it: the status words decoded into CardStatus, the
// alarm, galvanometer and wait texts in the language of the moment, and the host's status text.
// Texts are built in growable strings; a lost card inside any of the reads throws code 1.
#include <cstdint>
#include <string>

struct CardStatus {
  uint32_t connected = 0;    // 1 when the status was read
  uint32_t cardTaskId = 0;   // r1 bits 21-25: task id registered with the card
  uint32_t subState = 0;     // r1 bits 16-20: step of the card's own operation
  uint32_t runState = 0;     // r0 & 7: 0 idle, 2 a flash operation, 4 a flush or the card's initialisation
  uint8_t offline = 0;       // r1 bit 26
  uint8_t running = 0;       // r0 bit 0
  uint8_t bAlarm[32] = {};   // one byte per alarm bit of r0 (bits 4-6, 10-22, 24-31)
  uint32_t laserAlarm = 0;   // (r0 bit 7) | (r1 bits 27-31) << 1; 17 means a laser alarm

  bool AnyFlagSet() const;
};

constexpr uint32_t kLaserAlarm = 17;

// Decodes the two status words. Only connected, run state, running and the alarm bytes of r0 bits 10
// and 11 are decoded always; the rest only when the card numbers its commands.
CardStatus DecodeCardStatus(uint32_t r0, uint32_t r1, bool cmdWithNum);
// The status command's two words and the card's command form, read under the command lock (where an
// open writes the form); false, with nothing sent, when no card is open. Code 1 when the card is lost.
bool ReadCardStatusWords(uint32_t& r0, uint32_t& r1, bool& cmdWithNum);
// Zero when no card is open; otherwise the card's status (code 1 when the card is lost).
CardStatus ReadCardStatus();

// Appends the alarm lines of `status` (with the galvanometer and wait-reason details they need).
void FormatCardAlarm(const CardStatus& status, std::string& text);
// Appends the galvanometer feedback lines for the two CMD_GALVO_STATUS result words.
void FormatGalvoAlarm(uint32_t w0, uint32_t w1, std::string& text);
// Appends what the card waits for.
void FormatWaitInfo(std::string& text, bool answered, bool enable, uint32_t kind, uint32_t value);

// The host's status text: off-line mode, the job's phase report (appended by the given function of
// the mark subsystem), the card's task, its alarms and what it waits for. Code 1 when the card is
// lost while it is built (what was built so far stays in `text`).
void BuildWaitInfo(std::string& text, void (*appendTimingReport)(std::string&));
// The version of the open card, read under the command lock (where an open writes it).
uint32_t OpenCardVersion();

// The buffer of QZ_GetWaitInfo holds 1024 bytes: at most 1023 and the terminating zero are written.
constexpr size_t kWaitInfoBufferSize = 1024;
