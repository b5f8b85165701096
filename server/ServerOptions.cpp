#include "server/ServerOptions.h"

#include <stdexcept>

namespace server {

devices::AudioOffer ParseEngineList(const std::string& list) {
  devices::AudioOffer offer{false, false, false};
  size_t from = 0;
  while (from <= list.size()) {
    size_t end = list.find(',', from);
    if (end == std::string::npos) end = list.size();
    const std::string name = list.substr(from, end - from);
    if (name == "dx9") {
      offer.Dx9 = true;
    } else if (name == "dx7") {
      offer.Dx7 = true;
    } else if (name == "waveout") {
      offer.WaveOut = true;
    } else if (!(name.empty() && list.empty())) {
      throw std::invalid_argument("unknown engine '" + name + "' in --engines (expected a comma list of dx9, dx7, waveout)");
    }
    from = end + 1;
  }
  return offer;
}

}  // namespace server
