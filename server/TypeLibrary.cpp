#include "server/TypeLibrary.h"

namespace server {

using nlohmann::json;

namespace {

constexpr const char* kLibraryGuid = "{D6D9E8C7-7EDC-4576-9008-B288B51A185D}";
constexpr const char* kClassGuid = "{C34377A9-D3EA-4476-892A-D7E7D1B065C9}";
constexpr const char* kInterfaceGuid = "{3749A008-0963-402F-9B58-43B2C2D9184F}";
constexpr const char* kEventGuid = "{16163C61-0E61-4DAC-B8DD-F5F83BD3EEB1}";

json ArgsJson(const std::vector<Argument>& args) {
  json out = json::array();
  for (const Argument& a : args)
    out.push_back({{"name", a.Name}, {"type", a.Type}, {"byRef", true}, {"direction", a.Out ? "inout" : "in"}});
  return out;
}

json MemberJson(const Member& m) {
  json out{{"name", m.Name}, {"kind", m.Kind}, {"args", ArgsJson(m.Args)}};
  out["returns"] = m.Returns != nullptr ? json(m.Returns) : json(nullptr);
  out["doc"] = m.Doc;
  return out;
}

// What the JSON-RPC server adds to the interface: its own methods (params
// and result as JSON shapes of the types above), the notifications, the
// block-list format and the error codes.
json RpcJson() {
  const json methods = json::array({
      {{"name", "Describe"}, {"params", nullptr}, {"result", "the interface description"},
       {"doc", "This description."}},
      {{"name", "Release"}, {"params", nullptr}, {"result", nullptr},
       {"doc", "Destroys the object: the engine and the wave are released (their reports follow). Every member "
               "then answers -32000, and the process ends 300 ms later."}},
      {{"name", "AdvanceTime"}, {"params", {{"ms", "Long"}}}, {"result", {{"now_ms", "Long"}}},
       {"doc", "Lets ms (0 to 3600000) of play time pass and answers the loop's time: with --simulate the "
               "virtual clock moves on at once, running what falls due; otherwise the server waits, writing "
               "notifications as they come."}}});
  const json notifications = json::array({
      {{"name", "MsgBoxOb"}, {"params", {{"Msg", "String"}, {"Ttl", "String"}}},
       {"doc", "Every report of the object: a status report has Msg \"S2\" and the text in Ttl, an error box "
               "its text in Msg and its title in Ttl. Those a call raises come before its answer, in order."}},
      {{"name", "MessageBox"}, {"params", {{"text", "String"}}},
       {"doc", "The server's own message boxes (errors of the block storage), which never wait for an answer."}}});
  const json blockList{
      {"doc", "WriteWaveMemo takes one block list per channel: an array of 32-bit integers whose item 0 holds "
              "the entry count N, followed by N entries of 7 + K items each, in this order. Positions count "
              "from 1; a first entry whose StartPos is 0 is not refused and plays a frame early (its first "
              "sample lies at position 0, which never sounds)."},
      {"items", json::array({{"K", "items of the name part, at least 1"},
                             {"n", "the name's length in bytes (0 or less: no name)"},
                             {"name", "K - 1 items: the name's bytes, four per item, the first byte in the least "
                                      "significant byte"},
                             {"Length", "samples in the entry"},
                             {"type", "3 a raw 16-bit block file, 4 a WAV file's data read in place, 5 silence"},
                             {"StartPos", "position of the entry's first sample in its channel"},
                             {"FilePos", "byte of the entry's first sample in its file (the first byte is 1)"},
                             {"Channels", "channels of the file's data, 1 or 2 (type 4)"},
                             {"Bits", "bits of the file's data, 8 or 16 (type 4)"}})}};
  const json errors = json::array({{-32700, "the line is not JSON"},
                                   {-32600, "not a request (also a line nested deeper than 64 levels)"},
                                   {-32601, "no method of that name"},
                                   {-32602, "bad params (integers must fit 32 bits)"},
                                   {-32000, "a run-time error of the member, or the object has been released"}});
  return {{"methods", methods}, {"notifications", notifications}, {"blockList", blockList}, {"errors", errors}};
}

}  // namespace

const std::vector<Member>& PlayDllClassMembers() {
  static const std::vector<Member> members{
      {"DxObj", "method", {{"MFrmHwnd", "Long", true}}, nullptr,
       "Attaches the output engine for the host window MFrmHwnd (any positive number) and writes back 1 for a "
       "DirectSound engine, 2 for waveOut, -1 for a failure; a window not above 0 leaves no engine in use and "
       "MFrmHwnd as it was."},
      {"PlayCurrentPosition", "propget", {}, "Long", "The 1-based position of the sample being heard; 0 with no engine."},
      {"PlayAgain", "method", {}, nullptr, "Plays the wave forward from its first sample."},
      {"PlayAgainRev", "method", {}, nullptr, "Plays the wave backward from its last sample."},
      {"PlayRunningDx7State", "propget", {}, "Long", "0 idle or stopped, 1 playing, 2 playing with loop, 3 paused."},
      {"PlayUTurn", "method", {}, nullptr, "Turns round where the sound is and plays on the other way."},
      {"PlayAtPos", "method", {{"Pos", "Long"}}, nullptr,
       "Plays forward from the 1-based position Pos (the engine clamps it to the wave)."},
      {"PlayAtPosRev", "method", {{"Pos", "Long"}}, nullptr,
       "Plays backward from the 1-based position Pos (the engine clamps it to the wave)."},
      {"ReleaseFiles", "method", {}, nullptr, "Stops and drops the wave, letting go of every file it named."},
      {"StopPlay", "method", {}, nullptr, "Stops playback and closes the files held open."},
      {"PlayContinue", "method", {}, nullptr, "Plays on after PlayPause."},
      {"UpdatePlayPosition", "method", {}, nullptr, "Brings the position up to date from the device."},
      {"PlayPause", "method", {}, nullptr, "Pauses, keeping the position."},
      {"WriteWaveMemo",
       "method",
       {{"FmtBits", "Long"},
        {"FmtChannal", "Long"},
        {"FmtFriq", "Long"},
        {"WaveNos", "Long"},
        {"BlkInLstL", "Long()"},
        {"BlkInLstR", "Long()"}},
       nullptr,
       "Hands a wave over: FmtBits 8 or 16 bits, FmtChannal 1 or 2 channels, FmtFriq samples per second, WaveNos "
       "samples per channel, and one block list per channel (see BLOCK LISTS; BlkInLstR is read for two channels "
       "only). The outcome comes as reports."},
      {"MemorySizeToUse", "propput", {{"value", "Long"}}, nullptr, "Bytes of sample data kept in memory."},
      {"LoopPlayON", "propput", {{"value", "Boolean"}}, nullptr, "A run that ends starts again from the beginning."},
      {"PlayTempoFor", "propput", {{"value", "Single"}}, nullptr,
       "Tempo factor of forward play; once the wave's rate is known the rate it gives is kept between 100 and "
       "100000 samples per second."},
      {"PlayTempoRev", "propput", {{"value", "Single"}}, nullptr, "Tempo factor of backward play, as PlayTempoFor."},
      {"AppTmpDir", "propput", {{"value", "String"}}, nullptr, "Folder for temporary files; \"\" for the system's."},
  };
  return members;
}

json Describe() {
  json members = json::array();
  for (const Member& m : PlayDllClassMembers()) members.push_back(MemberJson(m));
  const json event{{"name", "MsgBoxOb"},
                   {"kind", "event"},
                   {"args", ArgsJson({{"Msg", "String"}, {"Ttl", "String"}})},
                   {"returns", nullptr}};
  return json{
      {"name", kLibraryName},
      {"guid", kLibraryGuid},
      {"version", "1.0"},
      {"lcid", kLcid},
      {"types",
       {{"Long", "32-bit signed integer"},
        {"Single", "32-bit float"},
        {"Boolean", "true or false"},
        {"String", "text"},
        {"Long()", "array of 32-bit signed integers; JSON item 0 is element 1"}}},
      {"classes",
       json::array({{{"name", "PlayDllClass"},
                     {"guid", kClassGuid},
                     {"progid", kProgId},
                     {"defaultInterface", "_PlayDllClass"},
                     {"eventInterface", "__PlayDllClass"}}})},
      {"interfaces",
       json::array({{{"name", "_PlayDllClass"}, {"guid", kInterfaceGuid}, {"kind", "dispatch"}, {"members", members}},
                    {{"name", "__PlayDllClass"},
                     {"guid", kEventGuid},
                     {"kind", "dispatch"},
                     {"source", true},
                     {"members", json::array({event})}}})},
      {"rpc", RpcJson()},
  };
}

}  // namespace server
