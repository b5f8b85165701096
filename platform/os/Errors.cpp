#include "platform/os/Errors.h"

#include <cstring>

namespace os {

FileError ErrnoError(const std::string& context, const std::string& path, int err) {
  return FileError(context + " '" + path + "': " + std::strerror(err));
}

}  // namespace os
