#include "platform/os/SharedLibrary.h"

#include <dlfcn.h>

#include "platform/os/Errors.h"

namespace os {

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    throw PlayError("cannot load the library '" + path + "': " + (why != nullptr ? why : "unknown error"));
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, path));
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::Entry(const char* name) const { return dlsym(handle_, name); }

}  // namespace os
