#include "server/RpcParams.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "server/JsonLineParser.h"
#include "server/RpcError.h"

namespace server {

using nlohmann::json;

namespace {

[[noreturn]] void Invalid(const std::string& what) { throw RpcError(kInvalidParams, "Invalid params: " + what); }

// An integral value of a JSON number that fits 32 bits, or false.
bool ToInt32(const json& v, int32_t& out) {
  if (v.is_number_unsigned()) {
    const uint64_t u = v.get<uint64_t>();
    if (u > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return false;
    out = static_cast<int32_t>(u);
    return true;
  }
  if (v.is_number_integer()) {
    const int64_t i = v.get<int64_t>();
    if (i < std::numeric_limits<int32_t>::min() || i > std::numeric_limits<int32_t>::max()) return false;
    out = static_cast<int32_t>(i);
    return true;
  }
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (!std::isfinite(d) || std::trunc(d) != d || d < -2147483648.0 || d > 2147483647.0) return false;
    out = static_cast<int32_t>(d);
    return true;
  }
  return false;
}

}  // namespace

void ExpectNoParams(const json& params) {
  if (params.is_null() || params.empty()) return;
  Invalid("this member takes no params");
}

Params::Params(const json& params, std::initializer_list<const char*> names)
    : names_(names.begin(), names.end()), values_(names.size(), nullptr) {
  if (params.is_array()) {
    if (params.size() > names_.size())
      Invalid("expected at most " + std::to_string(names_.size()) + " positional params, got " +
              std::to_string(params.size()));
    for (size_t i = 0; i < params.size(); ++i) values_[i] = &params[i];
    return;
  }
  if (!params.is_object()) return;  // null: no params at all
  for (const auto& [key, value] : params.items()) {
    size_t i = 0;
    while (i < names_.size() && names_[i] != key) ++i;
    if (i == names_.size()) Invalid("unknown parameter \"" + key + "\"");
    values_[i] = &value;
  }
}

bool Params::Has(const std::string& name) const {
  for (size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == name) return values_[i] != nullptr;
  return false;
}

const json& Params::Get(const std::string& name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (names_[i] != name) continue;
    if (values_[i] == nullptr) Invalid("missing parameter \"" + name + "\"");
    return *values_[i];
  }
  Invalid("unknown parameter \"" + name + "\"");
}

int32_t Params::Int32(const std::string& name) const {
  const json& v = Get(name);
  int32_t out = 0;
  if (!v.is_number()) Invalid("\"" + name + "\" must be an integer");
  if (!ToInt32(v, out)) Invalid("\"" + name + "\" must be an integer of 32 bits (-2147483648 to 2147483647)");
  return out;
}

bool Params::Bool(const std::string& name) const {
  const json& v = Get(name);
  if (!v.is_boolean()) Invalid("\"" + name + "\" must be true or false");
  return v.get<bool>();
}

float Params::Float32(const std::string& name) const {
  const json& v = Get(name);
  if (!v.is_number()) Invalid("\"" + name + "\" must be a number");
  const double d = v.get<double>();
  // Everything below the midpoint between the largest float and 2^128 rounds
  // to a finite float, so the shortest text of the largest float
  // (3.4028235e38, a little above it) is taken as that float.
  const double limit = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
  if (!std::isfinite(d) || std::fabs(d) >= limit) Invalid("\"" + name + "\" is outside the range of a 32-bit float");
  return static_cast<float>(d);
}

std::string Params::String(const std::string& name) const {
  const json& v = Get(name);
  if (!v.is_string()) Invalid("\"" + name + "\" must be a string");
  std::string s = v.get<std::string>();
  if (s.find('\0') != std::string::npos) Invalid("\"" + name + "\" must not contain NUL characters");
  return s;
}

runtime::VbArray<int32_t> Params::Int32List(const std::string& name) const {
  const json& v = Get(name);
  if (v.is_binary() && v.get_binary().has_subtype() && v.get_binary().subtype() == kPackedInt32Subtype) {
    // Read packed: every value is known to be a 32-bit integer.
    const auto& bytes = v.get_binary();
    const size_t count = bytes.size() / sizeof(int32_t);
    if (count > static_cast<size_t>(std::numeric_limits<int32_t>::max() - 1))
      Invalid("\"" + name + "\" has too many elements");
    runtime::VbArray<int32_t> list(1, static_cast<int32_t>(count));
    std::memcpy(list.Ptr(1), bytes.data(), count * sizeof(int32_t));
    return list;
  }
  if (!v.is_array()) Invalid("\"" + name + "\" must be an array of integers");
  if (v.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() - 1))
    Invalid("\"" + name + "\" has too many elements");
  runtime::VbArray<int32_t> list(1, static_cast<int32_t>(v.size()));
  int32_t index = 1;
  for (const json& item : v) {
    int32_t value = 0;
    if (!item.is_number() || !ToInt32(item, value))
      Invalid("element " + std::to_string(index) + " of \"" + name + "\" must be an integer of 32 bits");
    list(index++) = value;
  }
  return list;
}

}  // namespace server
