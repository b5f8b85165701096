#include "platform/os/SharedLibrary.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

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

std::string FolderOfCode(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') return "";
  char real[PATH_MAX];
  if (realpath(info.dli_fname, real) == nullptr) return "";
  const std::string path(real);
  return path.substr(0, path.rfind('/'));
}

}  // namespace os
