#pragma once
// Reading a call's params as the members' typed arguments. Params come by
// name (an object) or by position (an array, in the argument order given);
// both are checked completely before a member runs, so a bad call changes
// nothing. Every problem throws RpcError(kInvalidParams) with a message
// that names the argument: a missing or unknown name, a wrong JSON type, an
// integer outside 32 bits, a number outside the 32-bit float range.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/runtime/VbArray.h"

namespace server {

// Accepts null (no params), {} and [] only.
void ExpectNoParams(const nlohmann::json& params);

class Params final {
 public:
  // `names`: the accepted arguments in positional order. Throws when params
  // carry a name not in the list or more positions than names.
  // REQUIRES: `params` outlives this object (its values are not copied).
  Params(const nlohmann::json& params, std::initializer_list<const char*> names);

  bool Has(const std::string& name) const;
  // An integral JSON number in -2^31 .. 2^31-1 (5.0 counts as 5).
  int32_t Int32(const std::string& name) const;
  bool Bool(const std::string& name) const;
  // Any JSON number that rounds to a finite 32-bit float, stored as float.
  float Float32(const std::string& name) const;
  // A string without NUL characters.
  std::string String(const std::string& name) const;
  // A JSON array of 32-bit integers as the host's array: item 0 of the JSON
  // array becomes element 1 (lower bound 1). An empty JSON array gives an
  // array with no elements. A list the line reader kept packed is read as
  // it is (see JsonLineParser.h).
  runtime::VbArray<int32_t> Int32List(const std::string& name) const;

 private:
  const nlohmann::json& Get(const std::string& name) const;

  std::vector<std::string> names_;
  std::vector<const nlohmann::json*> values_;  // per name; nullptr when absent
};

}  // namespace server
