#pragma once
// The engine factory of the running server: DxObj gets the DirectSound 9,
// DirectSound 7 and waveOut engines built on the given context.

#include "engines/EngineContract.h"
#include "state/PlayContext.h"

namespace facade {

engines::EngineFactory MakeEngineFactory(state::PlayContext& ctx);

}  // namespace facade
