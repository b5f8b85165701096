#pragma once
// Everything one PlayDllClass object works with, owned in one place so that
// there is no mutable global state: the loop, the message box, the audio
// platform (all three owned by the caller), and the shared playback state,
// the block storage engine, the DirectSound 9 module and the timer form
// (owned here). Engines, buffers and the chunk builder receive references to
// the parts they need. Thread: loop thread only.

#include "blocks/VodoRaraZodorUze.h"
#include "state/Dx9CallBackMod.h"
#include "state/TimerFrm.h"
#include "state/PlayDllMod.h"
#include "platform/devices/AudioPlatform.h"
#include "platform/os/EventLoop.h"
#include "platform/os/MessageBox.h"

namespace state {

struct PlayContext {
  PlayContext(platform::EventLoop& loop, platform::MessageBox& box, platform::AudioPlatform& audio)
      : Loop(loop), Box(box), Audio(audio), Timers(loop) {}
  // The channel buffers release their records into the block engine, so they
  // go before it.
  ~PlayContext() {
    Mod.ChanBuffL.reset();
    Mod.ChanBuffR.reset();
  }
  PlayContext(const PlayContext&) = delete;
  PlayContext& operator=(const PlayContext&) = delete;

  platform::EventLoop& Loop;
  platform::MessageBox& Box;
  platform::AudioPlatform& Audio;
  PlayDllMod Mod;
  blocks::VodoRaraZodorUze Blocks{Mod.MemorySizeToUse, Mod.AppTmpDir, Box};
  Dx9CallBackMod Dx9Mod;
  TimerFrm Timers;
};

}  // namespace state
