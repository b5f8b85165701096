#pragma once
// Scriptable engines for the facade's tests: each records the operations it
// was asked for, answers as told, and can throw on demand.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engines/EngineContract.h"
#include "platform/runtime/VbMath.h"
#include "state/PlayDllMod.h"

namespace testing_support {

struct FakeScript {
  std::vector<std::string> calls;  // "Dx9:PlayMe", "Dx7:~", ...
  bool dx9Accepts = true, dx7Accepts = true;
  bool throwIn = false;  // every operation throws
  std::string throwOp;   // only this operation throws
};

template <typename Base>
class FakeEngine : public Base {
 public:
  FakeEngine(std::string name, FakeScript& script, state::PlayDllMod& mod)
      : name_(std::move(name)), s_(script), mod_(mod) {}
  // Like the real engines, releasing one stops it and says so.
  ~FakeEngine() override {
    s_.calls.push_back(name_ + ":~");
    this->RaiseMsgBoxOb("S2", "Stopped");
  }

  bool CreateSoundBuffer() override {
    Note("CreateSoundBuffer");
    mod_.ChunkSamples = vb::CLng(mod_.FmtFriq * 4.0);  // the window the hand-over gives both buffers
    return true;
  }
  bool PlayMe() override { return Note("PlayMe"); }
  void PlayContinue() override { Note("PlayContinue"); }
  void UpdatePlayPosition() override { Note("UpdatePlayPosition"); }
  void PlayPause() override { Note("PlayPause"); }
  bool StopPlay() override {
    Note("StopPlay");
    this->RaiseMsgBoxOb("S2", "Stopped");
    return true;
  }
  bool UTurn() override { return Note("UTurn"); }
  bool PlayAtCurrentPosition() override { return Note("PlayAtCurrentPosition"); }

 protected:
  // Records the operation, throws if told to, and answers true.
  bool Note(const std::string& op) {
    s_.calls.push_back(name_ + ":" + op);
    if (s_.throwIn || s_.throwOp == op) throw std::runtime_error(name_ + " failed in " + op);
    return true;
  }
  std::string name_;
  FakeScript& s_;
  state::PlayDllMod& mod_;
};

class FakeDx9 final : public FakeEngine<engines::Dx9EngineContract> {
 public:
  using FakeEngine::FakeEngine;
  bool PutONDx9Ds(int32_t& MFrmHwnd) override {
    return Note("PutONDx9Ds " + std::to_string(MFrmHwnd)) && s_.dx9Accepts;
  }
};

class FakeDx7 final : public FakeEngine<engines::Dx7EngineContract> {
 public:
  using FakeEngine::FakeEngine;
  bool PutONDx7Ds(int32_t& MFrmHwnd) override {
    return Note("PutONDx7Ds " + std::to_string(MFrmHwnd)) && s_.dx7Accepts;
  }
};

inline engines::EngineFactory FakeFactory(FakeScript& script, state::PlayDllMod& mod) {
  engines::EngineFactory f;
  f.NewStreamDx9 = [&] { return std::make_unique<FakeDx9>("Dx9", script, mod); };
  f.NewStreamDx7 = [&] { return std::make_unique<FakeDx7>("Dx7", script, mod); };
  f.NewPlayApi = [&] { return std::make_unique<FakeEngine<engines::EngineContract>>("WaveOut", script, mod); };
  return f;
}

}  // namespace testing_support
