#pragma once
// The error a JSON-RPC method reports to the host: a code of the JSON-RPC 2.0
// error space and a message. Methods throw it; the endpoint turns it into the
// error response of the call. Any other exception that leaves a method becomes
// a ServerError whose message is the exception's description.

#include <stdexcept>
#include <string>

namespace server {

constexpr int kParseError = -32700;      // the line is not JSON
constexpr int kInvalidRequest = -32600;  // JSON, but not a request object
constexpr int kMethodNotFound = -32601;  // no member of that name
constexpr int kInvalidParams = -32602;   // missing, unknown or mistyped params
constexpr int kServerError = -32000;     // a run-time error of the member

class RpcError final : public std::runtime_error {
 public:
  RpcError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

}  // namespace server
