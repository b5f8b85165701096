#pragma once
// A playdll handle over the simulated world and scripted engines
// (tests/facade/FakeEngines.h), for tests of what sits on the C API: the
// test keeps a view of the world to read the shared state after a call
// (the call's end orders the loop thread's writes before the read).

#include <memory>

#include "embed/Handle.h"
#include "tests/facade/FakeEngines.h"
#include "tests/support/TestWorld.h"

namespace testing_support {

class ScriptedWorld final : public embed::PlayWorld {
 public:
  explicit ScriptedWorld(FakeScript& script) : play(sim.ctx, FakeFactory(script, sim.ctx.Mod)) {}
  os::EventLoop& Loop() override { return sim.loop; }
  facade::PlayDllClass& Play() override { return play; }

  SimWorld sim;
  facade::PlayDllClass play;
};

struct HandleDeleter {
  void operator()(playdll_handle* handle) const { playdll_destroy(handle); }
};
using HandlePtr = std::unique_ptr<playdll_handle, HandleDeleter>;

// A handle over a new ScriptedWorld; `world` is pointed at it.
inline HandlePtr MakeScriptedHandle(FakeScript& script, ScriptedWorld*& world) {
  auto made = std::make_unique<ScriptedWorld>(script);
  world = made.get();
  return HandlePtr(new playdll_handle(std::move(made)));
}

}  // namespace testing_support
