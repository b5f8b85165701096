#include "server/PlayService.h"

#include <string>
#include <vector>

#include "platform/os/Clock.h"
#include "platform/os/Stdio.h"
#include "server/RpcError.h"
#include "server/RpcParams.h"
#include "server/TypeLibrary.h"

namespace server {

using nlohmann::json;

namespace {

// A member without arguments: takes no params and answers null.
JsonRpcEndpoint::Method NoArgs(playdll_handle* play, int (*member)(playdll_handle*)) {
  return [play, member](const json& params) {
    ExpectNoParams(params);
    if (const int status = member(play); status != PLAYDLL_OK) throw RpcError(kServerError, playdll_last_error());
    return json(nullptr);
  };
}

}  // namespace

PlayService::PlayService(playdll_handle* play, JsonRpcEndpoint& endpoint, bool simulated, int32_t maxAdvanceMs)
    : play_(play), endpoint_(endpoint), simulated_(simulated), maxAdvanceMs_(maxAdvanceMs) {
  AddMembers();
  AddPropertiesAndExtras();
}

void PlayService::Check(int status) {
  if (status != PLAYDLL_OK) throw RpcError(kServerError, playdll_last_error());
}

void PlayService::WriteEvents() {
  playdll_event event{};
  while (playdll_take_event(play_, &event) == 1) {
    if (event.kind == PLAYDLL_EVENT_MESSAGEBOX) {
      endpoint_.Notify("MessageBox", json{{"text", event.Msg}});
    } else {
      endpoint_.Notify("MsgBoxOb", json{{"Msg", event.Msg}, {"Ttl", event.Ttl}});
    }
  }
}

void PlayService::Add(const char* name, JsonRpcEndpoint::Method method) {
  endpoint_.AddMethod(name, [this, method = std::move(method)](const json& params) {
    try {
      json result = method(params);
      WriteEvents();
      return result;
    } catch (...) {
      WriteEvents();
      throw;
    }
  });
}

void PlayService::AddMembers() {
  Add("DxObj", [this](const json& params) {
    int32_t MFrmHwnd = Params(params, {"MFrmHwnd"}).Int32("MFrmHwnd");
    Check(playdll_DxObj(play_, &MFrmHwnd));
    return json{{"MFrmHwnd", MFrmHwnd}};
  });
  Add("PlayCurrentPosition", [this](const json& params) {
    ExpectNoParams(params);
    int32_t position = 0;
    Check(playdll_PlayCurrentPosition(play_, &position));
    return json(position);
  });
  Add("PlayAgain", NoArgs(play_, playdll_PlayAgain));
  Add("PlayAgainRev", NoArgs(play_, playdll_PlayAgainRev));
  Add("PlayRunningDx7State", [this](const json& params) {
    ExpectNoParams(params);
    int32_t state = 0;
    Check(playdll_PlayRunningDx7State(play_, &state));
    return json(state);
  });
  Add("PlayUTurn", NoArgs(play_, playdll_PlayUTurn));
  Add("PlayAtPos", [this](const json& params) {
    Check(playdll_PlayAtPos(play_, Params(params, {"Pos"}).Int32("Pos")));
    return json(nullptr);
  });
  Add("PlayAtPosRev", [this](const json& params) {
    Check(playdll_PlayAtPosRev(play_, Params(params, {"Pos"}).Int32("Pos")));
    return json(nullptr);
  });
  Add("ReleaseFiles", NoArgs(play_, playdll_ReleaseFiles));
  Add("StopPlay", NoArgs(play_, playdll_StopPlay));
  Add("PlayContinue", NoArgs(play_, playdll_PlayContinue));
  Add("UpdatePlayPosition", NoArgs(play_, playdll_UpdatePlayPosition));
  Add("PlayPause", NoArgs(play_, playdll_PlayPause));
  Add("WriteWaveMemo", [this](const json& params) {
    const Params p(params, {"FmtBits", "FmtChannal", "FmtFriq", "WaveNos", "BlkInLstL", "BlkInLstR"});
    const int32_t FmtBits = p.Int32("FmtBits");
    const int32_t FmtChannal = p.Int32("FmtChannal");
    const int32_t FmtFriq = p.Int32("FmtFriq");
    const int32_t WaveNos = p.Int32("WaveNos");
    const runtime::VbArray<int32_t> BlkInLstL = p.Int32List("BlkInLstL");
    // The right list is read only for two channels; a mono host may leave it out.
    if (FmtChannal == 2 && !p.Has("BlkInLstR"))
      throw RpcError(kInvalidParams, "Invalid params: missing parameter \"BlkInLstR\" (FmtChannal is 2)");
    const runtime::VbArray<int32_t> BlkInLstR = p.Has("BlkInLstR") ? p.Int32List("BlkInLstR") : runtime::VbArray<int32_t>();
    auto items = [](const runtime::VbArray<int32_t>& a) { return a.Count() > 0 ? a.Ptr(1) : nullptr; };
    Check(playdll_WriteWaveMemo(play_, FmtBits, FmtChannal, FmtFriq, WaveNos, items(BlkInLstL),
                                static_cast<size_t>(BlkInLstL.Count()), items(BlkInLstR),
                                static_cast<size_t>(BlkInLstR.Count())));
    return json(nullptr);
  });
}

void PlayService::AddPropertiesAndExtras() {
  Add("MemorySizeToUse", [this](const json& params) {
    Check(playdll_MemorySizeToUse(play_, Params(params, {"value"}).Int32("value")));
    return json(nullptr);
  });
  Add("LoopPlayON", [this](const json& params) {
    Check(playdll_LoopPlayON(play_, Params(params, {"value"}).Bool("value") ? 1 : 0));
    return json(nullptr);
  });
  Add("PlayTempoFor", [this](const json& params) {
    Check(playdll_PlayTempoFor(play_, Params(params, {"value"}).Float32("value")));
    return json(nullptr);
  });
  Add("PlayTempoRev", [this](const json& params) {
    Check(playdll_PlayTempoRev(play_, Params(params, {"value"}).Float32("value")));
    return json(nullptr);
  });
  Add("AppTmpDir", [this](const json& params) {
    Check(playdll_AppTmpDir(play_, Params(params, {"value"}).String("value").c_str()));
    return json(nullptr);
  });
  Add("Release", [this](const json& params) {
    ExpectNoParams(params);
    Check(playdll_Release(play_));
    released_ = true;
    return json(nullptr);
  });
  endpoint_.AddMethod("Describe", [](const json& params) {
    ExpectNoParams(params);
    return Describe();
  });
  Add("AdvanceTime", [this](const json& params) {
    // One call moves at most an hour, so that no single request keeps the
    // server busy for long; a host moves further with more calls.
    const int32_t ms = Params(params, {"ms"}).Int32("ms");
    if (ms < 0 || ms > maxAdvanceMs_)
      throw RpcError(kInvalidParams, "Invalid params: \"ms\" must lie between 0 and " + std::to_string(maxAdvanceMs_));
    if (released_) throw RpcError(kServerError, "AdvanceTime: the object has been released");
    return json{{"now_ms", Wait(ms)}};
  });
}

// Under the real clock the events that come while the time passes are
// written as they come; the library's advance then only reads the time.
int64_t PlayService::Wait(int32_t ms) {
  int64_t now = 0;
  if (!simulated_) {
    const int64_t end = os::SteadyMs() + ms;
    for (int64_t left = ms; left > 0; left = end - os::SteadyMs()) {
      os::WaitReadable({playdll_event_fd(play_)}, static_cast<int>(left));
      WriteEvents();
    }
    ms = 0;
  }
  Check(playdll_advance_time(play_, ms, &now));
  return now;
}

void PlayService::EndOfInput() {
  if (released_) return;
  released_ = true;
  playdll_Release(play_);
  WriteEvents();
}

}  // namespace server
