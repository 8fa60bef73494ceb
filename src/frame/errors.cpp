#include "frame/errors.h"

#include <memory>

#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "platform/files.h"
#include "platform/ini_profile.h"
#include "platform/msgbox.h"

std::map<int32_t, std::string> g_mapErrText;
uint8_t g_bLangZh = 0;
CIniCfg* g_pLangCfg = nullptr;

namespace {

// Language-file keys of the codes' texts, by code.
const char* const kErrTextKeys[kReturnCodeCount] = {
    nullptr,                                          // 0: fixed "OK"
    "STRING_Card_is_not_connected",                   // 1
    nullptr,                                          // 2: fixed "Error"
    "STRING_FUN_Mark_Fail",                           // 3
    nullptr,                                          // 4: no text
    "STRING_Card_is_Busy_Start_Rask_Fail",            // 5
    "STRING_Layer_number_Over",                       // 6
    "STRING_Data_is_nan",                             // 7
    "STRING_Lines_endPoint_less_than_2",              // 8
    "STRING_not_Open_OffLine_File",                   // 9
    "STRING_not_Open_Box_File",                       // 10
    "STRING_UnSuported_Cali_Type",                    // 11
    "STRING_Line_Less_Than_1",                        // 12
    "STRING_OffLineFile_is_too_Big",                  // 13
    "STRING_Fifo_data_error",                         // 14
    "STRING_Ext_Axis_number_Over",                    // 15
    "STRING_illige_Call_markFunc_Same_time",          // 16
    "STRING_mark_not_start",                          // 17
    "STRING_dotMark_is_illige_for_rotationMark",      // 18
    "STRING_line_direction_err_for_rotationMark",     // 19
    "STRING_mark_error",                              // 20
    "STRING_markTime_not_add",                        // 21
    "STRING_LineEnegyWaveTooLong",                    // 22
    "STRING_Card_is_Marking_StopFail",                // 23
    "STRING_WriteReadFlash_not_same",                 // 24
    "STRING_ScanDriveMotor_TimeErr",                  // 25
    "STRING_Flush_Fail",                              // 26
    "STRING_MarkData_is_not_Locked_to_use",           // 27
    "STRING_Download_no_Nand",                        // 28
    "STRING_Ext_Para_OverFlow",                       // 29
    "STRING_ERR_UART",                                // 30
    "STRING_PointMark_time_less_than_1",              // 31
    "STRING_FIBER_PWM_NOT_HALF",                      // 32
    "STRING_Laser_is_already_on_when_open",           // 33
    "STRING_laser_time_is_Minus",                     // 34
    "STRING_Line_Buf_Mark_End_Not_Empty",             // 35
    "STRING_DllCfg_different_With_Card",              // 36
    "STRING_Task_Over_Time",                          // 37
    "STRING_MemoryException",                         // 38
    "STRING_MarkLaserByIO_illigel_enable_dot_line_both",  // 39
    "STRING_preLaserOff_BigThan_CurLaserOn",          // 40
};

// The order in which the texts are read from the language file.
const uint32_t kReadOrder[] = {1,  3,  5,  6,  7,  31, 8,  32, 39, 9,  10, 11, 12, 13, 14, 15, 16,
                               17, 18, 19, 20, 21, 22, 23, 25, 24, 26, 27, 28, 29, 30, 33, 34, 35,
                               36, 37, 38, 40};

}  // namespace

const char* ErrTextKey(uint32_t code) { return code < kReturnCodeCount ? kErrTextKeys[code] : nullptr; }

uint32_t MyException::Show() const {
  if (!bShow) return code;
  ReportFailure("MyException::Show", GetErrText(static_cast<int32_t>(code)));
  return code;
}

std::string GetErrText(int32_t code) {
  auto it = g_mapErrText.find(code);
  return it == g_mapErrText.end() ? std::string() : it->second;
}

std::string GetLanguageString(const char* key) {
  if (!g_pLangCfg) return std::string();
  return g_pLangCfg->GetString("language", key, "");
}

std::string LangText(const char* key, const char* zh, const char* en) {
  std::string text = GetLanguageString(key);
  return text.empty() ? std::string(Lang(zh, en)) : text;
}

void InitErrorTexts() {
  g_mapErrText[0] = "OK";
  g_mapErrText[2] = "Error";
  for (uint32_t code : kReadOrder) g_mapErrText[static_cast<int32_t>(code)] = GetLanguageString(kErrTextKeys[code]);
}

void InitLanguage() {
  std::string name = ReadMainString("OTHER", "languageFile", "QZ_zh.txt");
  g_bLangZh = name.find("zh.txt") != std::string::npos ? 1 : 0;
  std::string path = ResolveConfigPath(GetModuleDir(), name);
  if (!plat::FileExists(path)) plat::ShowMessageBox("no language File", plat::BoxButtons::Ok, false);
  std::unique_ptr<CIniCfg> fresh = std::make_unique<CIniCfg>(name);
  delete g_pLangCfg;
  g_pLangCfg = fresh.release();
}

void ShowTopmostBox(const std::string& text) { plat::ShowMessageBox(text, plat::BoxButtons::Ok, true); }

void ReportFailure(const char* tag, const std::string& text) {
  LogFailure(tag, text);
  ShowTopmostBox(text);
}
