#include "server/JsonRpcEndpoint.h"

#include <new>

#include "server/JsonLineParser.h"
#include "server/RpcError.h"

namespace server {

using nlohmann::json;

namespace {

std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// Answers are written member by member so that the id goes out as the text
// it came in; the members keep the order of a sorted object.
std::string ErrorResponse(const std::string& idText, int code, const std::string& message) {
  return "{\"error\":" + Dump(json{{"code", code}, {"message", message}}) + ",\"id\":" + idText +
         ",\"jsonrpc\":\"2.0\"}";
}

std::string ResultResponse(const std::string& idText, const json& result) {
  return "{\"id\":" + idText + ",\"jsonrpc\":\"2.0\",\"result\":" + Dump(result) + "}";
}

const std::string kNullId = "null";

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// JSON-RPC 2.0 allows a string, a number or null as id.
bool IsUsableId(const json& id) { return id.is_string() || id.is_number() || id.is_null(); }

// Deepest nesting of arrays and objects a line may hold. A request needs four
// levels (batch, request, params, block list); copying, comparing or writing
// a value recurses once per level, so a runaway depth would end the process.
constexpr int kMaxDepth = 64;

}  // namespace

void JsonRpcEndpoint::AddMethod(const std::string& name, Method method) { methods_[name] = std::move(method); }

void JsonRpcEndpoint::HandleLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (IsBlank(line)) return;
  ParsedLine parsed;
  try {
    parsed = ParseJsonLine(line, kMaxDepth);
  } catch (const JsonSyntaxError& e) {
    out_(ErrorResponse(kNullId, kParseError, std::string("Parse error: ") + e.what()));
    return;
  }
  const json& doc = parsed.Doc;
  if (parsed.TooDeep) {
    const auto idIt = doc.is_object() ? doc.find("id") : doc.end();
    const bool usable = idIt != doc.end() && IsUsableId(*idIt);
    out_(ErrorResponse(usable ? parsed.IdTexts[0] : kNullId, kInvalidRequest,
                       "Invalid Request: arrays and objects nested deeper than " + std::to_string(kMaxDepth) +
                           " levels"));
    return;
  }
  if (!doc.is_array()) {
    if (auto answer = HandleOne(doc, parsed.IdTexts[0])) out_(*answer);
    return;
  }
  if (doc.empty()) {
    out_(ErrorResponse(kNullId, kInvalidRequest, "Invalid Request: empty batch"));
    return;
  }
  std::string answers;
  for (size_t i = 0; i < doc.size(); ++i) {
    if (auto answer = HandleOne(doc[i], parsed.IdTexts[i])) {
      answers += answers.empty() ? '[' : ',';
      answers += *answer;
    }
  }
  if (!answers.empty()) out_(answers + "]");
}

std::optional<std::string> JsonRpcEndpoint::HandleOne(const json& request, const std::string& idText) {
  if (!request.is_object()) return ErrorResponse(kNullId, kInvalidRequest, "Invalid Request: not an object");
  const auto idIt = request.find("id");
  const bool isNotification = idIt == request.end();
  if (!isNotification && !IsUsableId(*idIt))
    return ErrorResponse(kNullId, kInvalidRequest, "Invalid Request: id must be a string, a number or null");
  const std::string& id = isNotification ? kNullId : idText;

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
  std::string answer = Call(id, method->get_ref<const std::string&>(), params == request.end() ? kNoParams : *params);
  if (isNotification) return std::nullopt;
  return answer;
}

std::string JsonRpcEndpoint::Call(const std::string& idText, const std::string& name, const json& params) {
  const auto it = methods_.find(name);
  if (it == methods_.end()) return ErrorResponse(idText, kMethodNotFound, "Method not found: " + name);
  try {
    return ResultResponse(idText, it->second(params));
  } catch (const RpcError& e) {
    return ErrorResponse(idText, e.Code(), e.what());
  } catch (const std::bad_alloc&) {
    return ErrorResponse(idText, kServerError, "Out of memory");
  } catch (const std::exception& e) {
    return ErrorResponse(idText, kServerError, e.what());
  }
}

void JsonRpcEndpoint::WriteError(int code, const std::string& message) { out_(ErrorResponse(kNullId, code, message)); }

void JsonRpcEndpoint::Notify(const std::string& method, json params) {
  Write(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

void JsonRpcEndpoint::Write(const json& message) { out_(Dump(message)); }

}  // namespace server
