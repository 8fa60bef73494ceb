#include "frame/export_call.h"

#include "frame/log_file.h"

uint32_t ReportMemoryFailure(const char* exportName) noexcept {
  try {
    ReportFailure(exportName, GetErrText(RV_MEMORY_EXCEPTION));
  } catch (...) {
  }
  return RV_MEMORY_EXCEPTION;
}

uint32_t ReportUnexpectedFailure(const char* exportName, const char* what) noexcept {
  try {
    LogFailure(exportName, std::string("unexpected exception: ") + (what ? what : ""));
  } catch (...) {
  }
  return RV_ERROR;
}
