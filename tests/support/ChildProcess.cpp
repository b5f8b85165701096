#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace testing_support {

namespace {

constexpr int kSafetyLimitMs = 30000;

os::Process::Options WithArgs(std::vector<std::string> args, const std::string& stderrPath) {
  os::Process::Options options;
  options.Args = std::move(args);
  options.OwnGroup = true;
  if (!stderrPath.empty()) {
    options.Errors = os::Process::ErrorOutput::File;
    options.ErrorFile = stderrPath;
  }
  return options;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, std::vector<std::string> args, const std::string& stderrPath)
    : process_(program, WithArgs(std::move(args), stderrPath)) {}

void ChildProcess::SendRaw(const std::string& bytes) {
  if (!process_.Send(bytes)) throw std::runtime_error("the child no longer reads its input");
}

bool ChildProcess::ReadLine(std::string& line) {
  const os::Input got = process_.ReadLine(line, kSafetyLimitMs);
  if (got == os::Input::TimedOut) ADD_FAILURE() << "the child wrote no line for " << kSafetyLimitMs << " ms";
  return got == os::Input::Data;
}

std::vector<std::string> ChildProcess::ReadToEnd() {
  std::vector<std::string> lines;
  for (std::string line; ReadLine(line);) lines.push_back(line);
  return lines;
}

int ChildProcess::Wait() {
  ReadToEnd();
  const std::optional<int> status = process_.Wait(kSafetyLimitMs);
  if (!status) ADD_FAILURE() << "the child did not end within " << kSafetyLimitMs << " ms";
  return status.value_or(-1);
}

Playsrv::Exchange Playsrv::Call(const std::string& method, const nlohmann::json& params) {
  nlohmann::json request{{"jsonrpc", "2.0"}, {"id", nextId_++}, {"method", method}};
  if (!params.is_null()) request["params"] = params;
  SendRaw(request.dump() + "\n");
  Exchange ex;
  for (std::string text; ReadLine(text);) {
    nlohmann::json message = nlohmann::json::parse(text);
    if (!message.contains("method")) {
      EXPECT_EQ(message.value("id", nlohmann::json()), request["id"]) << method;
      ex.Answer = std::move(message);
      return ex;
    }
    ex.Notifications.push_back(std::move(message));
  }
  ADD_FAILURE() << "no answer to " << method;
  return ex;
}

nlohmann::json Playsrv::Result(const std::string& method, const nlohmann::json& params) {
  Exchange ex = Call(method, params);
  EXPECT_TRUE(ex.Answer.contains("result")) << method << ": " << ex.Answer.dump();
  return ex.Answer.value("result", nlohmann::json());
}

std::vector<std::string> Playsrv::Reports(const std::vector<nlohmann::json>& notifications) {
  std::vector<std::string> out;
  for (const auto& n : notifications) {
    if (n.value("method", "") != "MsgBoxOb") continue;
    const std::string msg = n["params"]["Msg"], ttl = n["params"]["Ttl"];
    out.push_back(msg == "S2" ? ttl : msg + "|" + ttl);
  }
  return out;
}

}  // namespace testing_support
