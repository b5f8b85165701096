#pragma once
// The operations every output engine offers the facade, and the engine's own
// event MsgBoxOb. Engines are created and released only by DxObj. Every report
// an engine raises has Msg "S2" and the text in Ttl; the facade forwards it
// unchanged. MsgBoxOb is delivered synchronously: Raise returns after the
// owner's handler has returned. Thread: loop thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace engines {

class EngineContract {
 public:
  using MsgHandler = std::function<void(const std::string& Msg, const std::string& Ttl)>;

  virtual ~EngineContract() = default;

  virtual bool CreateSoundBuffer() = 0;
  virtual bool PlayMe() = 0;
  virtual void PlayContinue() = 0;
  virtual void UpdatePlayPosition() = 0;
  virtual void PlayPause() = 0;
  virtual bool StopPlay() = 0;
  virtual bool UTurn() = 0;
  virtual bool PlayAtCurrentPosition() = 0;

  // The owner connects its handler here (the "events connected" reference).
  void ConnectMsgBoxOb(MsgHandler handler) { msgBoxOb_ = std::move(handler); }

 protected:
  void RaiseMsgBoxOb(const std::string& Msg, const std::string& Ttl) {
    if (msgBoxOb_) msgBoxOb_(Msg, Ttl);
  }

 private:
  MsgHandler msgBoxOb_;
};

// The DirectSound 9 engine's attach operation.
class Dx9EngineContract : public EngineContract {
 public:
  virtual bool PutONDx9Ds(int32_t& MFrmHwnd) = 0;
};

// The DirectSound 7 engine's attach operation.
class Dx7EngineContract : public EngineContract {
 public:
  virtual bool PutONDx7Ds(int32_t& MFrmHwnd) = 0;
};

// How DxObj gets its engines. The server wires the real classes; tests may
// wire fakes. A factory may throw: DxObj treats that as an error inside it.
struct EngineFactory {
  std::function<std::unique_ptr<Dx9EngineContract>()> NewStreamDx9;
  std::function<std::unique_ptr<Dx7EngineContract>()> NewStreamDx7;
  std::function<std::unique_ptr<EngineContract>()> NewPlayApi;
};

}  // namespace engines
