#include "platform/os/File.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/os/Errors.h"
#include "platform/os/FileSystem.h"
#include "platform/os/Log.h"
#include "platform/os/Stdio.h"

namespace os {

namespace {

class Fd final {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) CurrentFileSystem().Close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

void PreadExact(int fd, const std::string& path, void* dst, size_t bytes, int64_t offset) {
  auto* p = static_cast<char*>(dst);
  size_t done = 0;
  while (done < bytes) {
    const ssize_t n = CurrentFileSystem().Pread(fd, p + done, bytes - done, offset + static_cast<int64_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ErrnoError("cannot read", path, errno);
    }
    if (n == 0) {
      throw FileError("short read of '" + path + "': " + std::to_string(bytes) + " bytes wanted at byte " +
                      std::to_string(offset) + ", the file ends after " + std::to_string(offset + static_cast<int64_t>(done)));
    }
    done += static_cast<size_t>(n);
  }
}

void PwriteAll(int fd, const std::string& path, const void* src, size_t bytes, int64_t offset) {
  if (!files::WriteAllAt(fd, src, bytes, offset)) throw ErrnoError("cannot write", path, errno);
}

}  // namespace

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::Open(const std::string& path) {
  const int fd = files::OpenRegular(path, O_RDONLY, "cannot open");
  return std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(fd, path));
}

ReadOnlyFile::~ReadOnlyFile() { CurrentFileSystem().Close(fd_); }

void ReadOnlyFile::ReadExactAt(void* dst, size_t bytes, int64_t offset) const {
  PreadExact(fd_, path_, dst, bytes, offset);
}

size_t ReadOnlyFile::ReadSomeAt(void* dst, size_t bytes, int64_t offset) const {
  while (true) {
    const ssize_t n = CurrentFileSystem().Pread(fd_, dst, bytes, offset);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) throw ErrnoError("cannot read", path_, errno);
  }
}

namespace files {

int OpenRegular(const std::string& path, int flags, const std::string& context, mode_t mode) {
  FileSystem& fs = CurrentFileSystem();
  // Without blocking: opening a FIFO would otherwise wait for its other end.
  const int fd = fs.Open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode);
  if (fd < 0) {
    // A FIFO without a reader refuses a non-blocking writer with ENXIO.
    if (errno == ENXIO) throw FileError(context + " '" + path + "': not a regular file");
    throw ErrnoError(context, path, errno);
  }
  struct stat st {};
  if (fs.Fstat(fd, st) != 0) {
    const int err = errno;
    fs.Close(fd);
    throw ErrnoError(context, path, err);
  }
  if (!S_ISREG(st.st_mode)) {
    fs.Close(fd);
    throw FileError(context + " '" + path + "': not a regular file");
  }
  return fd;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return !path.empty() && CurrentFileSystem().Stat(path, st) == 0;
}

PathFacts ExaminePath(const std::string& path) {
  FileSystem& fs = CurrentFileSystem();
  struct stat st {};
  if (path.empty() || fs.Stat(path, st) != 0) return {};
  if (S_ISDIR(st.st_mode)) return {PathKind::Folder, 0, 0};
  if (!S_ISREG(st.st_mode)) return {PathKind::Other, 0, 0};
  PathFacts facts{PathKind::Regular, static_cast<int64_t>(st.st_size), 0};
  const int fd = fs.Open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0);
  if (fd < 0) facts.ReadError = errno;
  else fs.Close(fd);
  return facts;
}

int64_t Length(const std::string& path) {
  struct stat st {};
  if (CurrentFileSystem().Stat(path, st) != 0) throw ErrnoError("cannot examine", path, errno);
  return static_cast<int64_t>(st.st_size);
}

void WriteAt(const std::string& path, const void* data, size_t bytes, int64_t offset, bool create) {
  Fd fd(OpenRegular(path, O_WRONLY | (create ? O_CREAT : 0), "cannot open for writing"));
  PwriteAll(fd.get(), path, data, bytes, offset);
}

void ReadAt(const std::string& path, void* dst, size_t bytes, int64_t offset) {
  Fd fd(OpenRegular(path, O_RDONLY, "cannot open"));
  PreadExact(fd.get(), path, dst, bytes, offset);
}

void Copy(const std::string& from, const std::string& to) {
  Fd in(OpenRegular(from, O_RDONLY, "cannot open"));
  Fd out(OpenRegular(to, O_WRONLY | O_CREAT | O_TRUNC, "cannot create"));
  std::vector<char> buf(1 << 20);
  int64_t offset = 0;
  while (true) {
    const ssize_t n = CurrentFileSystem().Pread(in.get(), buf.data(), buf.size(), offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ErrnoError("cannot read", from, errno);
    }
    if (n == 0) break;
    PwriteAll(out.get(), to, buf.data(), static_cast<size_t>(n), offset);
    offset += n;
  }
}

bool WriteAllAt(int fd, const void* data, size_t bytes, int64_t offset) noexcept {
  const auto* p = static_cast<const char*>(data);
  FileSystem& fs = CurrentFileSystem();
  return WriteLoop(bytes, [&](size_t done) {
    return fs.Pwrite(fd, p + done, bytes - done, offset + static_cast<int64_t>(done));
  });
}

bool Remove(const std::string& path) noexcept { return !path.empty() && CurrentFileSystem().Unlink(path) == 0; }

bool SetLength(const std::string& path, int64_t length) noexcept {
  if (!Exists(path)) return false;
  try {
    Fd fd(OpenRegular(path, O_WRONLY, "cannot open for writing"));
    return CurrentFileSystem().Ftruncate(fd.get(), length) == 0;
  } catch (const FileError& e) {
    LogCaught("the file keeps its length", e);
    return false;
  }
}

std::string TempFolder(const std::string& appTmpDir) {
  std::string dir = appTmpDir.empty() ? std::string(P_tmpdir) : appTmpDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string MakeTempFolder(const std::string& parent, const std::string& prefix) {
  std::string path = parent + "/" + prefix + "XXXXXX";
  if (mkdtemp(path.data()) == nullptr) throw ErrnoError("cannot create a temporary folder", path, errno);
  return path;
}

}  // namespace files
}  // namespace os
