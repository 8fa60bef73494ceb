#pragma once
// Context for the assertions of a table row. Natively it is gtest's scoped trace; the Win32 build
// under Wine leaves it out: the trace's thread-local storage makes Wine crash now and then when the
// test process exits.
#include <gtest/gtest.h>

#if defined(_WIN32)
#define QZ_TRACE(message) ((void)0)
#else
#define QZ_TRACE(message) SCOPED_TRACE(message)
#endif
