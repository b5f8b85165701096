#include "facade/RealEngines.h"

#include "engines/PlayApiClass.h"
#include "engines/StreamDx7Class.h"
#include "engines/StreamDx9Class.h"

EngineFactory MakeEngineFactory(PlayContext& ctx) {
  EngineFactory f;
  f.NewStreamDx9 = [&ctx] { return std::make_unique<StreamDx9Class>(ctx); };
  f.NewStreamDx7 = [&ctx] { return std::make_unique<StreamDx7Class>(ctx); };
  f.NewPlayApi = [&ctx] { return std::make_unique<PlayApiClass>(ctx); };
  return f;
}
