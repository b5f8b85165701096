#pragma once
// Everything one PlayDllClass object works with, owned in one place so that
// there is no mutable global state: the loop, the message box, the audio
// platform (all three owned by the caller), and the shared playback state,
// the block storage engine, the DirectSound 9 module and the timer form
// (owned here). Engines, buffers and the chunk builder receive references to
// the parts they need. Thread: loop thread only.

#include "blocks/VodoRaraZodorUze.h"
#include "platform/os/EventLoop.h"
#include "platform/os/MessageBox.h"
#include "state/Dx9CallBackMod.h"
#include "state/PlayDllMod.h"
#include "state/TimerFrm.h"

namespace devices {
class AudioPlatform;
}  // namespace devices

namespace state {

struct PlayContext {
  PlayContext(os::EventLoop& loop, os::MessageBox& box, devices::AudioPlatform& audio)
      : Loop(loop), Box(box), Audio(audio), Timers(loop) {}
  // The channel buffers release their records into the block engine, so they
  // go before it.
  ~PlayContext() {
    Mod.ChanBuffL.reset();
    Mod.ChanBuffR.reset();
  }
  PlayContext(const PlayContext&) = delete;
  PlayContext& operator=(const PlayContext&) = delete;

  os::EventLoop& Loop;
  os::MessageBox& Box;
  devices::AudioPlatform& Audio;
  PlayDllMod Mod;
  blocks::VodoRaraZodorUze Blocks{Mod.MemorySizeToUse, Mod.AppTmpDir, Box};
  Dx9CallBackMod Dx9Mod;
  TimerFrm Timers;
};

}  // namespace state
