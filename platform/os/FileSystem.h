#pragma once
// The operating system's file calls, behind one interface, so that tests can
// put a file system in their place that fails on demand (a read or write that
// fails, a short read, a full disk). Every file access of the program goes
// through CurrentFileSystem(); the rest of the code uses File.h, not this.
//
// Each member mirrors the POSIX call of the same name: the same result, and
// errno set the same way on failure. Offsets are 0-based bytes.
// Thread: any; Override is meant for tests and is set while nothing else runs.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace os {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual int Open(const std::string& path, int flags, mode_t mode) = 0;
  virtual int Close(int fd) = 0;
  virtual ssize_t Pread(int fd, void* dst, size_t bytes, int64_t offset) = 0;
  virtual ssize_t Pwrite(int fd, const void* src, size_t bytes, int64_t offset) = 0;
  virtual int Fstat(int fd, struct stat& st) = 0;
  virtual int Stat(const std::string& path, struct stat& st) = 0;
  virtual int Ftruncate(int fd, int64_t length) = 0;
  virtual int Unlink(const std::string& path) = 0;
};

// The system's own file calls.
FileSystem& PosixFileSystem();

// The file system in use: PosixFileSystem() unless overridden.
FileSystem& CurrentFileSystem();

// Puts `fs` in place of the current file system for this object's lifetime.
class FileSystemOverride final {
 public:
  explicit FileSystemOverride(FileSystem& fs);
  ~FileSystemOverride();
  FileSystemOverride(const FileSystemOverride&) = delete;
  FileSystemOverride& operator=(const FileSystemOverride&) = delete;

 private:
  FileSystem* previous_;
};

}  // namespace os
