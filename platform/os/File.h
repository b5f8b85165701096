#pragma once
// File access for the rest of the server: POSIX descriptors, positioned reads
// and writes, one system call per run (a call is repeated only when the kernel
// returns part of a run or EINTR). Offsets here are 0-based byte offsets; code
// that works with the 1-based positions of the block formats converts once, at
// the call. Every failure throws os::FileError naming the file.
// Only regular files are opened: a FIFO, a device or a folder is refused
// ("not a regular file") without waiting for anything. Every call goes through
// CurrentFileSystem() (FileSystem.h).

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace os {

// A file open for reading. Move-only; closes on destruction.
class ReadOnlyFile final {
 public:
  // Throws FileError when the file cannot be opened.
  static std::unique_ptr<ReadOnlyFile> Open(const std::string& path);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Reads exactly `bytes` bytes at `offset`. A file that ends before the run
  // does is an error ("short read"), as is any failing read.
  void ReadExactAt(void* dst, size_t bytes, int64_t offset) const;
  // Reads at most `bytes` bytes at `offset` and returns how many came: fewer
  // only where the file ends (0 at or past its end). A failing read throws.
  size_t ReadSomeAt(void* dst, size_t bytes, int64_t offset) const;

  const std::string& Path() const { return path_; }
  int Fd() const { return fd_; }

 private:
  ReadOnlyFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

namespace files {

// Opens `path` with `flags` (O_CLOEXEC and O_NONBLOCK added) and returns the
// descriptor, which the caller closes through CurrentFileSystem(). Throws
// FileError "<context> '<path>': <reason>" when it cannot be opened or is not
// a regular file.
int OpenRegular(const std::string& path, int flags, const std::string& context, mode_t mode = 0644);
bool Exists(const std::string& path);
// What a path names, for a message that says what is wrong with it.
enum class PathKind { Missing, Regular, Folder, Other };
struct PathFacts {
  PathKind Kind = PathKind::Missing;
  int64_t Length = 0;  // bytes, for a regular file
  int ReadError = 0;   // errno of opening a regular file for reading; 0 when it opens
};
PathFacts ExaminePath(const std::string& path);
// Length in bytes; throws when the file cannot be examined.
int64_t Length(const std::string& path);
// Opens (creating it when `create`), writes the run at `offset`, closes.
void WriteAt(const std::string& path, const void* data, size_t bytes, int64_t offset, bool create);
// Opens, reads exactly the run at `offset`, closes.
void ReadAt(const std::string& path, void* dst, size_t bytes, int64_t offset);
// Writes the whole run at `offset` of an open descriptor (repeating partial
// writes and EINTR); false, with errno set, when the system refuses.
bool WriteAllAt(int fd, const void* data, size_t bytes, int64_t offset) noexcept;
// Replaces `to` with a copy of `from`.
void Copy(const std::string& from, const std::string& to);
// Deletes the file; false (and no error) when it did not exist or could not go.
bool Remove(const std::string& path) noexcept;
// Cuts or extends an existing file to `length` bytes; false when the file is
// missing or cannot be opened or resized.
bool SetLength(const std::string& path, int64_t length) noexcept;
// The folder for temporary files: `appTmpDir`, or the system's temporary
// folder when it is empty. No trailing slash.
std::string TempFolder(const std::string& appTmpDir);
// Makes a new folder "<parent>/<prefix>XXXXXX" (the X a unique suffix, only
// the owner may enter) and returns its path. Throws FileError naming it when
// it cannot be made.
std::string MakeTempFolder(const std::string& parent, const std::string& prefix);

}  // namespace files
}  // namespace os
