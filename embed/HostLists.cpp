// The list builder of the C API over blocks::HostListBuilder (the one
// encoder of host lists), and a WAV file read in place as a wave to hand
// over. A refused entry is os::ListFormatError naming the list and the entry.

#include <functional>
#include <memory>
#include <string>

#include "blocks/HostListBuilder.h"
#include "embed/Handle.h"
#include "platform/audio/WavFile.h"

struct playdll_list {
  explicit playdll_list(std::string name) : Builder(std::move(name)) {}
  blocks::HostListBuilder Builder;
};

namespace {

using embed::Fail;

int Add(playdll_list* list, const char* path, const char* function,
        const std::function<void(blocks::HostListBuilder&, const std::string&)>& add) {
  if (list == nullptr) return Fail(PLAYDLL_ERROR_ARGUMENT, std::string(function) + ": the list is NULL");
  try {
    add(list->Builder, path != nullptr ? path : "");
    return PLAYDLL_OK;
  } catch (const os::ListFormatError& e) {
    return Fail(PLAYDLL_ERROR_ARGUMENT, e.what());
  } catch (const std::exception& e) {
    return Fail(PLAYDLL_ERROR_RUNTIME, e.what());
  }
}

}  // namespace

extern "C" {

playdll_list* playdll_list_create(const char* name) {
  try {
    return new playdll_list(name != nullptr ? name : "block list");
  } catch (const std::exception& e) {
    Fail(PLAYDLL_ERROR_SETUP, e.what());
    return nullptr;
  }
}

void playdll_list_destroy(playdll_list* list) { delete list; }

int playdll_list_add_block_file(playdll_list* list, const char* path, int32_t length, int32_t file_pos) {
  return Add(list, path, "playdll_list_add_block_file",
             [&](blocks::HostListBuilder& b, const std::string& p) { b.AddBlockFile(p, length, file_pos); });
}

int playdll_list_add_wav_file(playdll_list* list, const char* path, int32_t length, int32_t file_pos,
                              int32_t channels, int32_t bits) {
  return Add(list, path, "playdll_list_add_wav_file", [&](blocks::HostListBuilder& b, const std::string& p) {
    b.AddWavFile(p, length, file_pos, channels, bits);
  });
}

int playdll_list_add_silence(playdll_list* list, int32_t length) {
  return Add(list, nullptr, "playdll_list_add_silence",
             [&](blocks::HostListBuilder& b, const std::string&) { b.AddSilence(length); });
}

const int32_t* playdll_list_data(const playdll_list* list) {
  return list != nullptr ? list->Builder.Elements().data() : nullptr;
}

size_t playdll_list_size(const playdll_list* list) { return list != nullptr ? list->Builder.Elements().size() : 0; }

int32_t playdll_list_samples(const playdll_list* list) { return list != nullptr ? list->Builder.Samples() : 0; }

int playdll_wav_open(const char* path, playdll_wav* wav) {
  if (path == nullptr || wav == nullptr) return Fail(PLAYDLL_ERROR_ARGUMENT, "playdll_wav_open: a NULL argument");
  *wav = playdll_wav{};
  try {
    const audio::WavInfo info = audio::ReadWavHeader(path);
    auto left = std::make_unique<playdll_list>("left channel");
    auto right = std::make_unique<playdll_list>("right channel");
    // 1-based positions: the left (or only) channel's first sample, and the
    // right one's beside it in the first frame.
    const auto first = static_cast<int32_t>(info.DataOffset + 1);
    left->Builder.AddWavFile(path, info.Frames, first, info.Channels, info.Bits);
    if (info.Channels == 2)
      right->Builder.AddWavFile(path, info.Frames, first + info.BytesPerSample(), info.Channels, info.Bits);
    *wav = playdll_wav{info.Bits, info.Channels, info.Rate, info.Frames, left.release(), right.release()};
    return PLAYDLL_OK;
  } catch (const std::exception& e) {
    return Fail(PLAYDLL_ERROR_SETUP, e.what());
  }
}

void playdll_wav_close(playdll_wav* wav) {
  if (wav == nullptr) return;
  delete wav->BlkInLstL;
  delete wav->BlkInLstR;
  *wav = playdll_wav{};
}

}  // extern "C"
