#pragma once
// Return codes, the library's exception, the error-text table and the language.
//
// Every failure inside the library is thrown as MyException and leaves an export as a small
// unsigned code. Each code has a text from the language file (section "language"); one flag, set
// when the configured language file's name contains "zh.txt", chooses between the Chinese and the
// English form of the library's built-in messages.
#include <cstdint>
#include <exception>
#include <map>
#include <string>

class CIniCfg;

enum RETURN_V : uint32_t {
  RV_OK = 0,
  RV_CARD_NOT_CONNECTED = 1,
  RV_ERROR = 2,
  RV_MARK_FAIL = 3,
  RV_CODE4 = 4,  // has no text
  RV_CARD_BUSY_START_TASK_FAIL = 5,
  RV_LAYER_NUMBER_OVER = 6,
  RV_DATA_IS_NAN = 7,
  RV_LINE_END_POINT_LESS_THAN_2 = 8,
  RV_NOT_OPEN_OFFLINE_FILE = 9,
  RV_NOT_OPEN_BOX_FILE = 10,
  RV_UNSUPPORTED_CALI_TYPE = 11,
  RV_LINE_LESS_THAN_1 = 12,
  RV_OFFLINE_FILE_TOO_BIG = 13,
  RV_FIFO_DATA_ERROR = 14,
  RV_EXT_AXIS_NUMBER_OVER = 15,
  RV_MARK_CALLS_OVERLAP = 16,
  RV_MARK_NOT_START = 17,
  RV_DOT_MARK_ILLEGAL_FOR_ROTATION = 18,
  RV_LINE_DIRECTION_ERR_FOR_ROTATION = 19,
  RV_MARK_ERROR = 20,
  RV_MARK_TIME_NOT_ADD = 21,
  RV_LINE_ENERGY_WAVE_TOO_LONG = 22,
  RV_CARD_MARKING_STOP_FAIL = 23,
  RV_WRITE_READ_FLASH_NOT_SAME = 24,
  RV_SCAN_DRIVE_MOTOR_TIME_ERR = 25,
  RV_FLUSH_FAIL = 26,
  RV_MARK_DATA_NOT_LOCKED = 27,
  RV_DOWNLOAD_NO_NAND = 28,
  RV_EXT_PARA_OVERFLOW = 29,
  RV_ERR_UART = 30,
  RV_POINT_MARK_TIME_LESS_THAN_1 = 31,
  RV_FIBER_PWM_NOT_HALF = 32,
  RV_LASER_ALREADY_ON_WHEN_OPEN = 33,
  RV_LASER_TIME_IS_MINUS = 34,
  RV_LINE_BUF_MARK_END_NOT_EMPTY = 35,
  RV_DLL_CFG_DIFFERENT_WITH_CARD = 36,
  RV_TASK_OVER_TIME = 37,
  RV_MEMORY_EXCEPTION = 38,
  RV_MARK_LASER_BY_IO_DOT_LINE_BOTH = 39,
  RV_PRE_LASER_OFF_BIGGER_THAN_CUR_LASER_ON = 40,
};
constexpr uint32_t kReturnCodeCount = 41;

class MyException : public std::exception {
 public:
  MyException(uint32_t c, uint8_t show) : bShow(show), code(c) {}
  const char* what() const noexcept override { return "C++ Exception"; }
  // Reports the failure when bShow is set (INFO to the daily log, ERROR to the error log, a topmost
  // box, all with the code's text) and returns the code.
  uint32_t Show() const;

  uint8_t bShow;
  uint32_t code;
};

// The language-file key of a code's text; nullptr for 0, 2 (fixed texts), 4 and unknown codes.
const char* ErrTextKey(uint32_t code);

extern std::map<int32_t, std::string> g_mapErrText;
// The text of `code`; the empty text when it has none.
std::string GetErrText(int32_t code);
// Key of section "language" of the language file, at most 255 bytes; empty when missing.
std::string GetLanguageString(const char* key);
// The text of `key` in the language file, or the built-in Chinese or English text (by the language
// flag) when the file does not have it: texts added after the language files people already hold.
std::string LangText(const char* key, const char* zh, const char* en);
// Fills g_mapErrText: 0 "OK", 2 "Error", then every code from its key.
void InitErrorTexts();

extern uint8_t g_bLangZh;
extern CIniCfg* g_pLangCfg;
// Resolves the language file named by [OTHER] languageFile (default "QZ_zh.txt"), sets the
// language flag, shows "no language File" when the file is missing, and replaces g_pLangCfg.
void InitLanguage();

// The Chinese or the English form of a built-in message, by the language flag at the time of use.
inline const char* Lang(const char* zh, const char* en) { return g_bLangZh ? zh : en; }

// A topmost OK box with `text`.
void ShowTopmostBox(const std::string& text);
// Logs `text` as a failure under `tag` (INFO and ERROR) and shows it in a topmost OK box.
void ReportFailure(const char* tag, const std::string& text);
