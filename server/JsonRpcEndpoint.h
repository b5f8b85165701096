#pragma once
// JSON-RPC 2.0 over a line-oriented channel: one request (or batch) per input
// line, one response (or batch response) per output line, notifications in
// between. The endpoint knows nothing about playback; it parses, validates,
// finds the method, calls it and writes what JSON-RPC 2.0 says:
//
//   - a line that is not JSON: error -32700 (id null);
//   - a value that is not a request object, a bad "jsonrpc", "method", "params"
//     or "id", or arrays and objects nested deeper than 64 levels anywhere in
//     the line: error -32600 (id null unless the id itself was usable);
//   - an unknown method: -32601; an RpcError thrown by the method: its code;
//     any other exception: -32000 with the exception's description;
//   - a request without "id" is a notification: it runs, nothing is answered;
//   - a batch (array) is answered with one array of the answers that are due,
//     or nothing when all its members were notifications; an empty batch is
//     one -32600 error.
//
// Ids are echoed as the text they were sent as (a number keeps its digits,
// even beyond 64 bits). A line is one message whatever bytes it holds: a NUL
// byte is not an end, it makes the line invalid JSON. Handling a batch takes
// time in proportion to its size.
//
// Lines that hold nothing but white space are ignored. Whatever a method
// writes through Notify during its call is written before the call's answer,
// in the order written. No input ends or wedges the endpoint.
//
// Text that is not valid UTF-8 in an outgoing message (a file name, say) is
// written with U+FFFD in place of the bad bytes, never dropped.
// Thread: the one thread that feeds lines.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace server {

class JsonRpcEndpoint final {
 public:
  // params: the request's "params" (an object or an array), or null when the
  // request had none. Returns the call's result (null for "no result").
  using Method = std::function<nlohmann::json(const nlohmann::json& params)>;
  // Receives one complete output message, without the line end.
  using LineWriter = std::function<void(const std::string& line)>;

  explicit JsonRpcEndpoint(LineWriter out) : out_(std::move(out)) {}
  JsonRpcEndpoint(const JsonRpcEndpoint&) = delete;
  JsonRpcEndpoint& operator=(const JsonRpcEndpoint&) = delete;

  // Registers (or replaces) the method `name`.
  void AddMethod(const std::string& name, Method method);

  // Handles one input line (without its line end; a trailing '\r' is ignored).
  void HandleLine(std::string_view line);

  // Writes an answer that belongs to no request, such as the error for a line
  // that was too long to be read: {"jsonrpc":"2.0","id":null,"error":...}.
  void WriteError(int code, const std::string& message);

  // Writes the notification `method` with `params` at once.
  void Notify(const std::string& method, nlohmann::json params);

 private:
  // `idText`: the request's id as it was written in the line.
  std::optional<std::string> HandleOne(const nlohmann::json& request, const std::string& idText);
  std::string Call(const std::string& idText, const std::string& name, const nlohmann::json& params);
  void Write(const nlohmann::json& message);

  LineWriter out_;
  std::map<std::string, Method, std::less<>> methods_;
};

}  // namespace server
