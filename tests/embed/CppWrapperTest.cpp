// The C++ wrapper (playdll.hpp): failures as exceptions, ownership that
// moves with its handler. (The README's C++ example builds a wave, plays it
// through the wrapper and prints every report its handler hears.)

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include <playdll.hpp>

namespace {

using Texts = std::vector<std::string>;

playdll::Options Simulated() {
  playdll::Options o;
  o.Simulate = true;
  return o;
}

// The Ttl texts a handler was given.
struct Seen {
  std::mutex Mu;
  Texts Ttls;
  playdll::Player::Handler Handler() {
    return [this](const playdll::Event& e) {
      std::lock_guard<std::mutex> lock(Mu);
      Ttls.push_back(e.Ttl);
    };
  }
};

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

TEST(CppWrapperTest, AMovedPlayerKeepsItsHandlerAndTheOneMovedFromHoldsNoHandle) {
  Seen seen;
  playdll::Player a(Simulated());
  a.OnEvent(seen.Handler());
  playdll::Player b = std::move(a);
  b.PlayContinue();
  EXPECT_EQ(seen.Ttls, Texts{"Nothing to Continue"});
  EXPECT_EQ(a.Handle(), nullptr);  // what a move leaves behind is the point here
  EXPECT_THROW(a.PlayContinue(), playdll::Error);
}

}  // namespace
