#include "platform/os/FileSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>

namespace os {

namespace {

class Posix final : public FileSystem {
 public:
  int Open(const std::string& path, int flags, mode_t mode) override { return open(path.c_str(), flags, mode); }
  int Close(int fd) override { return close(fd); }
  ssize_t Pread(int fd, void* dst, size_t bytes, int64_t offset) override {
    return pread(fd, dst, bytes, static_cast<off_t>(offset));
  }
  ssize_t Pwrite(int fd, const void* src, size_t bytes, int64_t offset) override {
    return pwrite(fd, src, bytes, static_cast<off_t>(offset));
  }
  int Fstat(int fd, struct stat& st) override { return fstat(fd, &st); }
  int Stat(const std::string& path, struct stat& st) override { return stat(path.c_str(), &st); }
  int Ftruncate(int fd, int64_t length) override { return ftruncate(fd, static_cast<off_t>(length)); }
  int Unlink(const std::string& path) override { return unlink(path.c_str()); }
};

std::atomic<FileSystem*> current{nullptr};

}  // namespace

FileSystem& PosixFileSystem() {
  static Posix posix;
  return posix;
}

FileSystem& CurrentFileSystem() {
  FileSystem* fs = current.load(std::memory_order_acquire);
  return fs != nullptr ? *fs : PosixFileSystem();
}

FileSystemOverride::FileSystemOverride(FileSystem& fs) : previous_(current.exchange(&fs)) {}

FileSystemOverride::~FileSystemOverride() { current.store(previous_); }

}  // namespace os
