#include "facade/RealEngines.h"

#include "engines/PlayApiClass.h"
#include "engines/StreamDx7Class.h"
#include "engines/StreamDx9Class.h"

namespace facade {

engines::EngineFactory MakeEngineFactory(state::PlayContext& ctx) {
  engines::EngineFactory f;
  f.NewStreamDx9 = [&ctx] { return std::make_unique<engines::StreamDx9Class>(ctx); };
  f.NewStreamDx7 = [&ctx] { return std::make_unique<engines::StreamDx7Class>(ctx); };
  f.NewPlayApi = [&ctx] { return std::make_unique<engines::PlayApiClass>(ctx); };
  return f;
}

}  // namespace facade
