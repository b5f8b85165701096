#include "server/Reference.h"

#include <sstream>

namespace server {

using nlohmann::json;

namespace {

constexpr size_t kWidth = 78;

// `text` wrapped at word boundaries, each line after `indent` spaces; the
// first line begins with `label` instead (padded to the indent).
std::string Wrapped(const std::string& text, size_t indent, std::string label = "") {
  std::istringstream words(text);
  std::string out, line, word;
  const auto flush = [&] {
    if (label.size() < indent) label.resize(indent, ' ');
    out += (out.empty() ? label : std::string(indent, ' ')) + line + "\n";
    line.clear();
  };
  while (words >> word) {
    if (!line.empty() && indent + line.size() + 1 + word.size() > kWidth) flush();
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) flush();
  return out;
}

// {"a": A, "b": B} from an object of names and types.
std::string Shape(const json& fields) {
  std::string out = "{";
  for (const auto& [name, type] : fields.items()) {
    out += (out.size() > 1 ? ", \"" : "\"") + name + "\": " + (type.is_string() ? type.get<std::string>() : type.dump());
  }
  return out + "}";
}

std::string Entry(const std::string& name, const std::string& params, const std::string& result,
                  const std::string& doc) {
  std::string out = name + (params.empty() ? "" : " " + params) + "\n";
  out += "    result: " + result + "\n";
  return out + Wrapped(doc, 4);
}

}  // namespace

std::string ParamsText(const json& member) {
  if (member["args"].empty()) return "";
  // In the interface's order, which params by position follow.
  std::string out = "{";
  for (const json& a : member["args"])
    out += (out.size() > 1 ? ", \"" : "\"") + a["name"].get<std::string>() + "\": " + a["type"].get<std::string>();
  return out + "}";
}

std::string ResultText(const json& member) {
  std::string out;
  for (const json& a : member["args"])
    if (a.value("direction", "in") == "inout")
      out += (out.empty() ? "{\"" : ", \"") + a["name"].get<std::string>() + "\": " + a["type"].get<std::string>();
  if (!out.empty()) return out + "}";
  return member["returns"].is_null() ? "null" : member["returns"].get<std::string>();
}

std::string ReferenceText(const json& d) {
  const json& rpc = d["rpc"];
  std::string out = "= METHODS\n";
  out += Wrapped("JSON-RPC 2.0 on standard input and output, one message per line. Params come by name (an "
                 "object) or by position (an array, in the order shown); a method without params takes none, "
                 "{} or []. The members of " + d["interfaces"][0]["name"].get<std::string>() + ", in interface "
                 "order, then the server's own methods:", 0) + "\n";
  for (const json& m : d["interfaces"][0]["members"])
    out += Entry(m["name"], ParamsText(m), ResultText(m), m["doc"]) + "\n";
  for (const json& m : rpc["methods"]) {
    const json& r = m["result"];
    const std::string result = r.is_object() ? Shape(r) : r.is_null() ? "null" : r.get<std::string>();
    out += Entry(m["name"], m["params"].is_null() ? "" : Shape(m["params"]), result, m["doc"]) + "\n";
  }
  out += "= BLOCK LISTS\n" + Wrapped(rpc["blockList"]["doc"], 0) + "\n";
  for (const json& item : rpc["blockList"]["items"]) out += Wrapped(item[1], 12, "  " + item[0].get<std::string>());
  out += "\n= NOTIFICATIONS\n";
  for (const json& n : rpc["notifications"])
    out += n["name"].get<std::string>() + " " + Shape(n["params"]) + "\n" + Wrapped(n["doc"], 4) + "\n";
  out += "= ERRORS\n";
  for (const json& e : rpc["errors"]) out += Wrapped(e[1], 10, "  " + std::to_string(e[0].get<int>()));
  out += "\n= TYPES\n";
  for (const auto& [name, meaning] : d["types"].items()) out += Wrapped(meaning, 10, "  " + name);
  return out;
}

}  // namespace server
