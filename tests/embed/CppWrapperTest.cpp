// The C++ wrapper (playdll.hpp): failures as exceptions, events to a
// std::function or the queue, ownership that moves. (The README's C++
// example builds a wave and plays it through the wrapper.)

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

TEST(CppWrapperTest, TheHandlerHearsACallsReportsBeforeItReturnsAndWithoutOneTheyQueue) {
  Seen seen;
  playdll::Player p(Simulated());
  p.OnEvent(seen.Handler());
  p.PlayContinue();
  EXPECT_EQ(seen.Ttls, Texts{"Nothing to Continue"});
  p.OnEvent({});
  p.PlayUTurn();
  EXPECT_EQ(seen.Ttls.size(), 1u);
  const auto first = p.TakeEvent();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->Kind, playdll::Event::MsgBoxOb);
  EXPECT_EQ(first->Ttl, "Driver is Off");
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
