#include "server/JsonRpcEndpoint.h"

#include <new>

#include "server/RpcError.h"

namespace rpc {

using nlohmann::json;

namespace {

json ErrorResponse(const json& id, int code, const std::string& message) {
  return json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// JSON-RPC 2.0 allows a string, a number or null as id.
bool IsUsableId(const json& id) { return id.is_string() || id.is_number() || id.is_null(); }

// Deepest nesting of arrays and objects a line may hold. A request needs four
// levels (batch, request, params, block list); copying, comparing or writing
// a value recurses once per level, so a runaway depth would end the process.
constexpr int kMaxDepth = 64;

// Parses `line`, dropping every array or object nested deeper than kMaxDepth;
// `tooDeep` tells whether anything was dropped. Throws json::exception for
// text that is not JSON.
json ParseBounded(std::string_view line, bool& tooDeep) {
  tooDeep = false;
  const json::parser_callback_t limit = [&tooDeep](int depth, json::parse_event_t event, json&) {
    if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) &&
        depth >= kMaxDepth) {
      tooDeep = true;
      return false;
    }
    return true;
  };
  return json::parse(line, limit);
}

}  // namespace

void JsonRpcEndpoint::AddMethod(const std::string& name, Method method) { methods_[name] = std::move(method); }

void JsonRpcEndpoint::HandleLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (IsBlank(line)) return;
  json doc;
  bool tooDeep = false;
  try {
    doc = ParseBounded(line, tooDeep);
  } catch (const json::exception& e) {
    // parse_error, and out_of_range for numbers beyond a double (1e999).
    Write(ErrorResponse(nullptr, kParseError, std::string("Parse error: ") + e.what()));
    return;
  }
  if (tooDeep) {
    const auto idIt = doc.is_object() ? doc.find("id") : doc.end();
    const json id = idIt != doc.end() && IsUsableId(*idIt) ? *idIt : json(nullptr);
    Write(ErrorResponse(id, kInvalidRequest,
                        "Invalid Request: arrays and objects nested deeper than " + std::to_string(kMaxDepth) +
                            " levels"));
    return;
  }
  if (!doc.is_array()) {
    if (auto answer = HandleOne(doc)) Write(*answer);
    return;
  }
  if (doc.empty()) {
    Write(ErrorResponse(nullptr, kInvalidRequest, "Invalid Request: empty batch"));
    return;
  }
  json answers = json::array();
  for (const json& request : doc)
    if (auto answer = HandleOne(request)) answers.push_back(std::move(*answer));
  if (!answers.empty()) Write(answers);
}

std::optional<json> JsonRpcEndpoint::HandleOne(const json& request) {
  if (!request.is_object()) return ErrorResponse(nullptr, kInvalidRequest, "Invalid Request: not an object");
  const auto idIt = request.find("id");
  const bool isNotification = idIt == request.end();
  if (!isNotification && !IsUsableId(*idIt))
    return ErrorResponse(nullptr, kInvalidRequest, "Invalid Request: id must be a string, a number or null");
  const json id = isNotification ? json(nullptr) : *idIt;

  const auto version = request.find("jsonrpc");
  if (version == request.end() || *version != "2.0")
    return ErrorResponse(id, kInvalidRequest, "Invalid Request: \"jsonrpc\" must be \"2.0\"");
  const auto method = request.find("method");
  if (method == request.end() || !method->is_string())
    return ErrorResponse(id, kInvalidRequest, "Invalid Request: \"method\" must be a string");
  const auto params = request.find("params");
  if (params != request.end() && !params->is_object() && !params->is_array())
    return ErrorResponse(id, kInvalidRequest, "Invalid Request: \"params\" must be an object or an array");

  static const json kNoParams;  // null, for a request without "params"
  json answer = Call(id, method->get<std::string>(), params == request.end() ? kNoParams : *params);
  if (isNotification) return std::nullopt;
  return answer;
}

json JsonRpcEndpoint::Call(const json& id, const std::string& name, const json& params) {
  const auto it = methods_.find(name);
  if (it == methods_.end()) return ErrorResponse(id, kMethodNotFound, "Method not found: " + name);
  try {
    return json{{"jsonrpc", "2.0"}, {"id", id}, {"result", it->second(params)}};
  } catch (const RpcError& e) {
    return ErrorResponse(id, e.Code(), e.what());
  } catch (const std::bad_alloc&) {
    return ErrorResponse(id, kServerError, "Out of memory");
  } catch (const std::exception& e) {
    return ErrorResponse(id, kServerError, e.what());
  }
}

void JsonRpcEndpoint::WriteError(int code, const std::string& message) {
  Write(ErrorResponse(nullptr, code, message));
}

void JsonRpcEndpoint::Notify(const std::string& method, json params) {
  Write(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

void JsonRpcEndpoint::Write(const json& message) {
  out_(message.dump(-1, ' ', false, json::error_handler_t::replace));
}

}  // namespace rpc
