#pragma once
// The interface description of the server (its type library): identities,
// the members of _PlayDllClass in interface order with kind, arguments and
// what each does, and the event interface __PlayDllClass; under "rpc", what
// the JSON-RPC server adds: its own methods, the notifications, the block-list
// format and the error codes. The server answers Describe with it, hosts
// generate their bindings from it, and `playsrv --reference` (the man page's
// reference sections) is written from it.

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
  bool Out = false;  // the member writes it back (by reference), so it is part of the result
};

struct Member {
  const char* Name;
  const char* Kind;  // "method", "propget" (read-only property) or "propput" (write-only)
  std::vector<Argument> Args;
  const char* Returns;  // result type of a propget, nullptr otherwise
  const char* Doc;      // what it does, one sentence or two
};

// The members of _PlayDllClass, in interface order.
const std::vector<Member>& PlayDllClassMembers();

// The whole description as JSON (the result of Describe).
nlohmann::json Describe();

}  // namespace server
