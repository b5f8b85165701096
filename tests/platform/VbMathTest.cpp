// The 8-bit scaling (Mul16) within range and its overflow at 128 are checked by
// the play chunk builder's tests, Str by the engines' loop reports. VbArray's
// bounds, ReDim and MoveRun are checked where the block engine and the buffers
// use them (their range errors included).

#include "platform/runtime/VbMath.h"

#include <gtest/gtest.h>

#include "platform/os/Errors.h"

namespace {

using os::OverflowError;

TEST(VbMath, CheckedArithmeticThrowsOnOverflowOnly) {
  EXPECT_EQ(vb::Add(2147483646, 1), 2147483647);
  EXPECT_THROW(vb::Add(2147483647, 1), OverflowError);
  EXPECT_THROW(vb::Sub(-2147483647 - 1, 1), OverflowError);
  EXPECT_EQ(vb::Mul(46340, 46340), 2147395600);
  EXPECT_THROW(vb::Mul(46341, 46341), OverflowError);
  EXPECT_THROW(vb::Mul16(-129, 256), OverflowError);
}

TEST(VbMath, CLngRoundsHalfToEvenAndChecksRange) {
  EXPECT_EQ(vb::CLng(0.5), 0);
  EXPECT_EQ(vb::CLng(1.5), 2);
  EXPECT_EQ(vb::CLng(2.5), 2);
  EXPECT_EQ(vb::CLng(-2.5), -2);
  EXPECT_EQ(vb::CLng(2147483647.4), 2147483647);
  EXPECT_THROW(vb::CLng(2147483647.5), OverflowError);
  EXPECT_EQ(vb::CLng(-2147483648.5), -2147483647 - 1);  // rounds to even, fits
  EXPECT_THROW(vb::CLng(-2147483649.0), OverflowError);
  EXPECT_EQ(vb::Int(-0.5), -1.0);
}

}  // namespace
