#pragma once
// The one wrapper every export runs its body through: no exception ever leaves the library.
//   MyException        -> MyException::Show() (reported when its show flag is set)
//   memory exhaustion  -> 38, its text logged (INFO and ERROR, tagged with the export's name) and
//                         shown in a topmost box
//   anything else      -> 2, logged at INFO and ERROR with the export's name
#include <cstdint>
#include <exception>
#include <new>

#include "frame/errors.h"

uint32_t ReportMemoryFailure(const char* exportName) noexcept;
uint32_t ReportUnexpectedFailure(const char* exportName, const char* what) noexcept;

template <class Body>
uint32_t ExportCall(const char* exportName, Body&& body) noexcept {
  try {
    return body();
  } catch (const MyException& e) {
    try {
      return e.Show();
    } catch (...) {
      return e.code;
    }
  } catch (const std::bad_alloc&) {
    return ReportMemoryFailure(exportName);
  } catch (const std::exception& e) {
    return ReportUnexpectedFailure(exportName, e.what());
  } catch (...) {
    return ReportUnexpectedFailure(exportName, "unknown exception");
  }
}
