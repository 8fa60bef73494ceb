#pragma once
// Expects a call to fail with the library's exception.
#include <gtest/gtest.h>

#include <cstdint>

#include "frame/errors.h"

namespace qztest {

// Expects `body` to throw MyException with `code` and the show flag `show`.
template <class Body>
void ExpectCode(uint32_t code, uint8_t show, Body body) {
  try {
    body();
    ADD_FAILURE() << "no exception";
  } catch (const MyException& e) {
    EXPECT_EQ(e.code, code);
    EXPECT_EQ(e.bShow, show);
  }
}

// Expects `body` to report a lost card: code 1, silently.
template <class Body>
void ExpectLost(Body body) {
  ExpectCode(1, 0, body);
}

}  // namespace qztest
