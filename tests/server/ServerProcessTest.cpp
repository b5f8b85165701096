// The server process in-process: its input and output are pipes that the
// test fills and drains around one RunServer call.

#include "server/ServerProcess.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

// Runs the server over `input` (all of it written, then the end of input)
// and returns its exit status and every line it wrote. The output must fit
// the pipe's buffer, as the server runs on this thread.
int RunOver(const std::string& input, bool simulate, std::vector<json>& out) {
  int in[2];
  int res[2];
  if (pipe(in) != 0 || pipe(res) != 0) return -1;
  if (write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) return -1;
  close(in[1]);
  ServerOptions options;
  options.Simulate = simulate;
  options.Output = "null";
  const int status = RunServer(options, in[0], res[1]);
  close(in[0]);
  close(res[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(res[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(res[0]);
  size_t from = 0;
  for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
    out.push_back(json::parse(text.substr(from, end - from)));
  return status;
}

TEST(ServerProcessTest, RequestsReadAfterReleaseAreStillAnswered) {
  const std::string input =
      R"({"jsonrpc":"2.0","id":1,"method":"Release"})"
      "\n"
      R"({"jsonrpc":"2.0","id":2,"method":"Release"})"
      "\n"
      R"({"jsonrpc":"2.0","id":3,"method":"PlayAgain"})"
      "\n"
      R"({"jsonrpc":"2.0","id":4,"method":"Describe"})"
      "\n";
  for (const bool simulate : {true, false}) {
    std::vector<json> out;
    EXPECT_EQ(RunOver(input, simulate, out), 0);
    ASSERT_EQ(out.size(), 5u) << "simulate " << simulate;
    EXPECT_EQ(out[0]["params"], json({{"Msg", "S2"}, {"Ttl", "Driver is Off"}}));
    EXPECT_EQ(out[1], json::parse(R"({"jsonrpc":"2.0","id":1,"result":null})"));
    EXPECT_EQ(out[2]["id"], 2);
    EXPECT_EQ(out[2]["error"]["code"], -32000);
    EXPECT_EQ(out[2]["error"]["message"], "Release: the object has been released");
    EXPECT_EQ(out[3]["id"], 3);
    EXPECT_EQ(out[3]["error"]["code"], -32000);
    EXPECT_EQ(out[4]["id"], 4);
    EXPECT_EQ(out[4]["result"]["name"], "RivuvaRurarozUvi");
  }
}

}  // namespace
