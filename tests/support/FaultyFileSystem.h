#pragma once
// The file system that fails on demand (the test double of os::FileSystem.h): it
// passes every call to the real one except those its rules pick. Install it
// with os::FileSystemOverride for the span of a test. Thread: one at a time.
//
// Rules apply to files whose path contains `Only` (every file when empty) and
// that were opened while this object was in place:
//   FailNthRead / FailNthWrite      the n-th read or write (1-based, counted
//                                   over the picked files) fails with EIO
//   FailReadsFrom                   that read and every later one fails
//   DiskBytes                       the room left on the disk: a write that
//                                   grows the files by more writes what fits
//                                   and returns that part, the next fails with
//                                   ENOSPC, as a full disk does; overwriting
//                                   takes no room, cutting a file gives it back
//   ShortReads                      every read returns at most half of what
//                                   was asked (at least one byte)
//   OpenErrno                       opening fails with this errno
// OpenCount() is the number of descriptors opened and not yet closed.

#include <cerrno>
#include <cstdint>
#include <map>
#include <string>

#include "platform/os/FileSystem.h"

namespace testing_support {

class FaultyFileSystem final : public os::FileSystem {
 public:
  std::string Only;
  int64_t FailReadsFrom = 0;                  // 0: none
  int64_t FailNthRead = 0, FailNthWrite = 0;  // 0: none
  int64_t DiskBytes = -1;  // -1: no limit
  bool ShortReads = false;
  int OpenErrno = 0;  // 0: opens succeed

  int64_t Reads() const { return reads_; }
  int64_t OpenCount() const { return static_cast<int64_t>(paths_.size()); }

  int Open(const std::string& path, int flags, mode_t mode) override;
  int Close(int fd) override;
  ssize_t Pread(int fd, void* dst, size_t bytes, int64_t offset) override;
  ssize_t Pwrite(int fd, const void* src, size_t bytes, int64_t offset) override;
  int Fstat(int fd, struct stat& st) override { return real_.Fstat(fd, st); }
  int Stat(const std::string& path, struct stat& st) override { return real_.Stat(path, st); }
  int Ftruncate(int fd, int64_t length) override;
  int Unlink(const std::string& path) override { return real_.Unlink(path); }

 private:
  bool Picked(const std::string& path) const;
  bool Picked(int fd) const;
  int64_t Size(int fd);
  ssize_t PwriteOnDisk(int fd, const void* src, size_t bytes, int64_t offset);

  os::FileSystem& real_ = os::PosixFileSystem();
  std::map<int, std::string> paths_;
  int64_t reads_ = 0, writes_ = 0;
};

}  // namespace testing_support
