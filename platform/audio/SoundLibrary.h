#pragma once
// A sound system's client library, loaded when its backend is first used and
// kept for the rest of the process (the sound systems' libraries start
// threads and register handlers that must not be unloaded under them). Each
// backend lists the entries it calls and resolves them into a table of
// function pointers typed from the library's own header, so that the build
// needs the headers but the program does not link the libraries: a machine
// without one only lacks that backend.

#include <memory>
#include <string>
#include <vector>

#include "platform/os/Errors.h"
#include "platform/os/SharedLibrary.h"

namespace audio {

// Loads `file` and keeps it to the end of the process; throws os::PlayError
// naming the file when the loader cannot find or load it. Each backend calls
// it once, from the static initialisation of its table. Thread: loop thread.
inline const os::SharedLibrary& LoadSoundLibrary(const char* file) {
  static auto* const kept = new std::vector<std::unique_ptr<os::SharedLibrary>>();  // never unloaded: see above
  kept->push_back(os::SharedLibrary::Open(file));
  return *kept->back();
}

// Points `fn` at the entry `name` of `library`; throws os::PlayError naming
// both when it has none (an older library than the build's headers).
template <typename Fn>
void ResolveEntry(const os::SharedLibrary& library, const char* name, Fn& fn) {
  fn = library.EntryAs<Fn>(name);
  if (fn == nullptr) throw os::PlayError("'" + library.Path() + "' has no entry " + name);
}

}  // namespace audio

// Declares one member per entry, typed as the header declares the function.
#define PLAY_SOUND_ENTRY_MEMBER(name) decltype(&::name) name = nullptr;
// Resolves one entry into the table `api` from the library `lib` (locals).
#define PLAY_SOUND_ENTRY_RESOLVE(name) ::audio::ResolveEntry(lib, #name, api.name);
