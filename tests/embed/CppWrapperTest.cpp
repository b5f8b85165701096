// The C++ wrapper (playdll.hpp): failures as exceptions. (The README's C++
// example builds a wave, plays it through the wrapper and prints every
// report its handler hears.)

#include <gtest/gtest.h>

#include <string>

#include <playdll.hpp>

namespace {

playdll::Options Simulated() {
  playdll::Options o;
  o.Simulate = true;
  return o;
}

TEST(CppWrapperTest, AFailureThrowsAnErrorCarryingTheStatusAndTheLibrarysText) {
  playdll::Player p(Simulated());
  p.Release();
  try {
    p.PlayAgain();
    FAIL() << "PlayAgain after Release returned";
  } catch (const playdll::Error& e) {
    EXPECT_EQ(e.Status(), PLAYDLL_ERROR_RELEASED);
    EXPECT_STREQ(e.what(), "PlayAgain: the object has been released");
  }
}

}  // namespace
