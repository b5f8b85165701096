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
  for (const Argument& a : args) out.push_back({{"name", a.Name}, {"type", a.Type}, {"byRef", true}});
  return out;
}

json MemberJson(const Member& m) {
  json out{{"name", m.Name}, {"kind", m.Kind}, {"args", ArgsJson(m.Args)}};
  out["returns"] = m.Returns != nullptr ? json(m.Returns) : json(nullptr);
  return out;
}

}  // namespace

const std::vector<Member>& PlayDllClassMembers() {
  static const std::vector<Member> members{
      {"DxObj", "method", {{"MFrmHwnd", "Long"}}, nullptr},
      {"PlayCurrentPosition", "propget", {}, "Long"},
      {"PlayAgain", "method", {}, nullptr},
      {"PlayAgainRev", "method", {}, nullptr},
      {"PlayRunningDx7State", "propget", {}, "Long"},
      {"PlayUTurn", "method", {}, nullptr},
      {"PlayAtPos", "method", {{"Pos", "Long"}}, nullptr},
      {"PlayAtPosRev", "method", {{"Pos", "Long"}}, nullptr},
      {"ReleaseFiles", "method", {}, nullptr},
      {"StopPlay", "method", {}, nullptr},
      {"PlayContinue", "method", {}, nullptr},
      {"UpdatePlayPosition", "method", {}, nullptr},
      {"PlayPause", "method", {}, nullptr},
      {"WriteWaveMemo",
       "method",
       {{"FmtBits", "Long"},
        {"FmtChannal", "Long"},
        {"FmtFriq", "Long"},
        {"WaveNos", "Long"},
        {"BlkInLstL", "Long()"},
        {"BlkInLstR", "Long()"}},
       nullptr},
      {"MemorySizeToUse", "propput", {{"value", "Long"}}, nullptr},
      {"LoopPlayON", "propput", {{"value", "Boolean"}}, nullptr},
      {"PlayTempoFor", "propput", {{"value", "Single"}}, nullptr},
      {"PlayTempoRev", "propput", {{"value", "Single"}}, nullptr},
      {"AppTmpDir", "propput", {{"value", "String"}}, nullptr},
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
  };
}

}  // namespace server
