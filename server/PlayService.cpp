#include "server/PlayService.h"

#include <string>

#include "server/RpcError.h"
#include "server/RpcParams.h"
#include "server/TypeLibrary.h"

namespace server {

using nlohmann::json;

namespace {

constexpr int32_t kMaxAdvanceMs = 3'600'000;

// A member without arguments: takes no params and answers null.
JsonRpcEndpoint::Method NoArgs(std::function<void()> call) {
  return [call = std::move(call)](const json& params) {
    ExpectNoParams(params);
    call();
    return json(nullptr);
  };
}

}  // namespace

PlayService::PlayService(facade::PlayDllClass& play, JsonRpcEndpoint& endpoint, Hooks hooks)
    : play_(play), endpoint_(endpoint), hooks_(std::move(hooks)) {
  play_.ConnectMsgBoxOb([this](const std::string& Msg, const std::string& Ttl) {
    endpoint_.Notify("MsgBoxOb", json{{"Msg", Msg}, {"Ttl", Ttl}});
  });
  play_.Context().Box.SetSink([this](const std::string& text) { endpoint_.Notify("MessageBox", json{{"text", text}}); });
  AddMembers();
  AddPropertiesAndExtras();
}

PlayService::~PlayService() {
  play_.ConnectMsgBoxOb(nullptr);
  play_.Context().Box.SetSink(nullptr);
}

void PlayService::Add(const char* name, JsonRpcEndpoint::Method method) {
  endpoint_.AddMethod(name, [this, name, method = std::move(method)](const json& params) {
    if (released_) throw RpcError(kServerError, std::string(name) + ": the object has been released");
    return method(params);
  });
}

void PlayService::AddMembers() {
  Add("DxObj", [this](const json& params) {
    int32_t MFrmHwnd = Params(params, {"MFrmHwnd"}).Int32("MFrmHwnd");
    play_.DxObj(MFrmHwnd);
    return json{{"MFrmHwnd", MFrmHwnd}};
  });
  Add("PlayCurrentPosition", [this](const json& params) {
    ExpectNoParams(params);
    return json(play_.PlayCurrentPosition());
  });
  Add("PlayAgain", NoArgs([this] { play_.PlayAgain(); }));
  Add("PlayAgainRev", NoArgs([this] { play_.PlayAgainRev(); }));
  Add("PlayRunningDx7State", [this](const json& params) {
    ExpectNoParams(params);
    return json(play_.PlayRunningDx7State());
  });
  Add("PlayUTurn", NoArgs([this] { play_.PlayUTurn(); }));
  Add("PlayAtPos", [this](const json& params) {
    int32_t Pos = Params(params, {"Pos"}).Int32("Pos");
    play_.PlayAtPos(Pos);
    return json(nullptr);
  });
  Add("PlayAtPosRev", [this](const json& params) {
    int32_t Pos = Params(params, {"Pos"}).Int32("Pos");
    play_.PlayAtPosRev(Pos);
    return json(nullptr);
  });
  Add("ReleaseFiles", NoArgs([this] { play_.ReleaseFiles(); }));
  Add("StopPlay", NoArgs([this] { play_.StopPlay(); }));
  Add("PlayContinue", NoArgs([this] { play_.PlayContinue(); }));
  Add("UpdatePlayPosition", NoArgs([this] { play_.UpdatePlayPosition(); }));
  Add("PlayPause", NoArgs([this] { play_.PlayPause(); }));
  Add("WriteWaveMemo", [this](const json& params) {
    const Params p(params, {"FmtBits", "FmtChannal", "FmtFriq", "WaveNos", "BlkInLstL", "BlkInLstR"});
    int32_t FmtBits = p.Int32("FmtBits");
    int32_t FmtChannal = p.Int32("FmtChannal");
    int32_t FmtFriq = p.Int32("FmtFriq");
    int32_t WaveNos = p.Int32("WaveNos");
    const runtime::VbArray<int32_t> BlkInLstL = p.Int32List("BlkInLstL");
    // The right list is read only for two channels; a mono host may leave it out.
    if (FmtChannal == 2 && !p.Has("BlkInLstR"))
      throw RpcError(kInvalidParams, "Invalid params: missing parameter \"BlkInLstR\" (FmtChannal is 2)");
    const runtime::VbArray<int32_t> BlkInLstR =
        p.Has("BlkInLstR") ? p.Int32List("BlkInLstR") : runtime::VbArray<int32_t>(1, 0);
    play_.WriteWaveMemo(FmtBits, FmtChannal, FmtFriq, WaveNos, BlkInLstL, BlkInLstR);
    return json(nullptr);
  });
}

void PlayService::AddPropertiesAndExtras() {
  Add("MemorySizeToUse", [this](const json& params) {
    play_.SetMemorySizeToUse(Params(params, {"value"}).Int32("value"));
    return json(nullptr);
  });
  Add("LoopPlayON", [this](const json& params) {
    play_.SetLoopPlayON(Params(params, {"value"}).Bool("value"));
    return json(nullptr);
  });
  Add("PlayTempoFor", [this](const json& params) {
    play_.SetPlayTempoFor(Params(params, {"value"}).Float32("value"));
    return json(nullptr);
  });
  Add("PlayTempoRev", [this](const json& params) {
    play_.SetPlayTempoRev(Params(params, {"value"}).Float32("value"));
    return json(nullptr);
  });
  Add("AppTmpDir", [this](const json& params) {
    play_.SetAppTmpDir(Params(params, {"value"}).String("value"));
    return json(nullptr);
  });
  Add("Release", [this](const json& params) {
    ExpectNoParams(params);
    Destroy();
    return json(nullptr);
  });
  endpoint_.AddMethod("Describe", [](const json& params) {
    ExpectNoParams(params);
    return Describe();
  });
  if (!hooks_.AdvanceTime) {
    endpoint_.AddMethod("AdvanceTime", [](const json&) -> json {
      throw RpcError(kMethodNotFound, "Method not found: AdvanceTime (only with --simulate)");
    });
    return;
  }
  Add("AdvanceTime", [this](const json& params) {
    // One call moves at most an hour, so that no single request keeps the
    // server busy for long; a host moves further with more calls.
    const int32_t ms = Params(params, {"ms"}).Int32("ms");
    if (ms < 0 || ms > kMaxAdvanceMs)
      throw RpcError(kInvalidParams,
                          "Invalid params: \"ms\" must lie between 0 and " + std::to_string(kMaxAdvanceMs));
    return json{{"now_ms", hooks_.AdvanceTime(ms)}};
  });
}

void PlayService::EndOfInput() {
  if (!released_) Destroy();
}

void PlayService::Destroy() {
  released_ = true;
  play_.Terminate();
  if (hooks_.Released) hooks_.Released();
}

}  // namespace server
