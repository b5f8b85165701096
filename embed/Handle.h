#pragma once
// What a playdll handle of the C API is: one PlayInstance. Tests make
// handles over worlds of their own (scripted engines) with `new playdll_handle`;
// playdll_destroy deletes them either way.

#include <memory>
#include <utility>

#include "embed/PlayInstance.h"
#include "embed/playdll.h"

struct playdll_handle {
  explicit playdll_handle(std::unique_ptr<embed::PlayWorld> world) : Instance(std::move(world)) {}
  embed::PlayInstance Instance;
};

namespace embed {

// The calling thread's last failure: records `text` for playdll_last_error
// and returns `status`.
int Fail(int status, const std::string& text);

}  // namespace embed
