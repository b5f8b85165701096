#pragma once
// The interface description of the server (its type library): identities,
// the members of _PlayDllClass in interface order with kind and arguments,
// and the event interface __PlayDllClass. The server answers Describe with
// it; hosts generate their bindings from it.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace server {

inline constexpr const char* kLibraryName = "RivuvaRurarozUvi";
inline constexpr const char* kProgId = "RivuvaRurarozUvi.PlayDllClass";
inline constexpr int kLcid = 0x409;

struct Argument {
  const char* Name;
  const char* Type;  // automation type: Long, Single, Boolean, String, Long()
};

struct Member {
  const char* Name;
  const char* Kind;  // "method", "propget" (read-only property) or "propput" (write-only)
  std::vector<Argument> Args;
  const char* Returns;  // result type of a propget, nullptr otherwise
};

// The members of _PlayDllClass, in interface order.
const std::vector<Member>& PlayDllClassMembers();

// The whole description as JSON (the result of Describe).
nlohmann::json Describe();

}  // namespace server
