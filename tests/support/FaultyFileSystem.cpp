#include "tests/support/FaultyFileSystem.h"

namespace testing_support {

namespace {

int Fail(int err) {
  errno = err;
  return -1;
}

}  // namespace

int FaultyFileSystem::Open(const std::string& path, int flags, mode_t mode) {
  if (OpenErrno != 0 && Picked(path)) return Fail(OpenErrno);
  const int fd = real_.Open(path, flags, mode);
  if (fd >= 0) paths_[fd] = path;
  return fd;
}

int FaultyFileSystem::Close(int fd) {
  paths_.erase(fd);
  return real_.Close(fd);
}

ssize_t FaultyFileSystem::Pread(int fd, void* dst, size_t bytes, int64_t offset) {
  if (Picked(fd)) {
    ++reads_;
    if (reads_ == FailNthRead || (FailReadsFrom != 0 && reads_ >= FailReadsFrom)) return Fail(EIO);
    if (ShortReads && bytes > 1) bytes /= 2;
  }
  return real_.Pread(fd, dst, bytes, offset);
}

ssize_t FaultyFileSystem::Pwrite(int fd, const void* src, size_t bytes, int64_t offset) {
  if (Picked(fd)) {
    ++writes_;
    if (writes_ == FailNthWrite) return Fail(EIO);
    if (DiskBytes >= 0) return PwriteOnDisk(fd, src, bytes, offset);
  }
  return real_.Pwrite(fd, src, bytes, offset);
}

int FaultyFileSystem::Ftruncate(int fd, int64_t length) {
  const int64_t before = Size(fd);
  const int r = real_.Ftruncate(fd, length);
  if (r == 0 && DiskBytes >= 0 && Picked(fd)) DiskBytes += before - Size(fd);  // freed or taken
  return r;
}

bool FaultyFileSystem::Picked(const std::string& path) const {
  return Only.empty() || path.find(Only) != std::string::npos;
}

bool FaultyFileSystem::Picked(int fd) const {
  auto it = paths_.find(fd);
  return it != paths_.end() && Picked(it->second);
}

int64_t FaultyFileSystem::Size(int fd) {
  struct stat st {};
  return real_.Fstat(fd, st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

// Overwriting takes no room; growing the file takes what is left.
ssize_t FaultyFileSystem::PwriteOnDisk(int fd, const void* src, size_t bytes, int64_t offset) {
  const int64_t size = Size(fd);
  const int64_t room = size + DiskBytes - offset;
  if (room <= 0) return Fail(ENOSPC);
  if (static_cast<int64_t>(bytes) > room) bytes = static_cast<size_t>(room);
  const ssize_t n = real_.Pwrite(fd, src, bytes, offset);
  DiskBytes -= Size(fd) - size;
  return n;
}

}  // namespace testing_support
