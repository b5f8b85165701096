#pragma once
// A file system that fails on demand, for tests: it passes every call to the
// real one except those its rules pick. Install it with
// platform::FileSystemOverride for the span of a test.
//
// Rules apply to files whose path contains `Only` (every file when empty):
//   FailNthRead / FailNthWrite   the n-th read or write (1-based, counted over
//                                the picked files) fails with the given errno
//   FailReadsFrom / FailWritesFrom  that one and every later one fails
//   DiskBytes                    the room left on the disk: a write that grows
//                                the files by more writes what fits and
//                                returns that part, the next fails with
//                                ENOSPC, as a full disk does; overwriting
//                                takes no room, cutting a file gives it back
//   ShortReads                   every read returns at most half of what was
//                                asked (at least one byte)
//   FailOpen                     opening fails with the given errno
// OpenCount() is the number of descriptors opened and not yet closed.

#include <cerrno>
#include <cstdint>
#include <map>
#include <string>

#include "platform/FileSystem.h"

namespace testing_support {

class FaultyFileSystem final : public platform::FileSystem {
 public:
  std::string Only;
  int64_t FailReadsFrom = 0, FailWritesFrom = 0;  // 0: none
  int64_t FailNthRead = 0, FailNthWrite = 0;      // 0: none
  int ReadErrno = EIO, WriteErrno = EIO;
  int64_t DiskBytes = -1;                         // -1: no limit
  bool ShortReads = false;
  int OpenErrno = 0;                              // 0: opens succeed

  int64_t Reads() const { return reads_; }
  int64_t Writes() const { return writes_; }
  int64_t OpenCount() const { return static_cast<int64_t>(paths_.size()); }

  int Open(const std::string& path, int flags, mode_t mode) override {
    if (OpenErrno != 0 && Picked(path)) return Fail(OpenErrno);
    const int fd = real_.Open(path, flags, mode);
    if (fd >= 0) paths_[fd] = path;
    return fd;
  }
  int Close(int fd) override {
    paths_.erase(fd);
    return real_.Close(fd);
  }
  ssize_t Pread(int fd, void* dst, size_t bytes, int64_t offset) override {
    if (Picked(fd)) {
      ++reads_;
      if (reads_ == FailNthRead || (FailReadsFrom != 0 && reads_ >= FailReadsFrom)) return Fail(ReadErrno);
      if (ShortReads && bytes > 1) bytes /= 2;
    }
    return real_.Pread(fd, dst, bytes, offset);
  }
  ssize_t Pwrite(int fd, const void* src, size_t bytes, int64_t offset) override {
    if (Picked(fd)) {
      ++writes_;
      if (writes_ == FailNthWrite || (FailWritesFrom != 0 && writes_ >= FailWritesFrom)) return Fail(WriteErrno);
      if (DiskBytes >= 0) return PwriteOnDisk(fd, src, bytes, offset);
    }
    return real_.Pwrite(fd, src, bytes, offset);
  }
  int Fstat(int fd, struct stat& st) override { return real_.Fstat(fd, st); }
  int Stat(const std::string& path, struct stat& st) override { return real_.Stat(path, st); }
  int Ftruncate(int fd, int64_t length) override {
    const int64_t before = Size(fd);
    const int r = real_.Ftruncate(fd, length);
    if (r == 0 && DiskBytes >= 0 && Picked(fd)) DiskBytes += before - Size(fd);  // freed or taken
    return r;
  }
  int Unlink(const std::string& path) override { return real_.Unlink(path); }

 private:
  bool Picked(const std::string& path) const { return Only.empty() || path.find(Only) != std::string::npos; }
  bool Picked(int fd) const {
    auto it = paths_.find(fd);
    return it != paths_.end() && Picked(it->second);
  }
  int64_t Size(int fd) {
    struct stat st {};
    return real_.Fstat(fd, st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
  }
  // Overwriting takes no room; growing the file takes what is left.
  ssize_t PwriteOnDisk(int fd, const void* src, size_t bytes, int64_t offset) {
    const int64_t size = Size(fd);
    const int64_t room = size + DiskBytes - offset;
    if (room <= 0) return Fail(ENOSPC);
    if (static_cast<int64_t>(bytes) > room) bytes = static_cast<size_t>(room);
    const ssize_t n = real_.Pwrite(fd, src, bytes, offset);
    DiskBytes -= Size(fd) - size;
    return n;
  }
  static int Fail(int err) {
    errno = err;
    return -1;
  }

  platform::FileSystem& real_ = platform::PosixFileSystem();
  std::map<int, std::string> paths_;
  int64_t reads_ = 0, writes_ = 0;
};

}  // namespace testing_support
