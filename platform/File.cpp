#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/Errors.h"

namespace platform {

namespace {

class Fd final {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

void PreadExact(int fd, const std::string& path, void* dst, size_t bytes, int64_t offset) {
  auto* p = static_cast<char*>(dst);
  size_t done = 0;
  while (done < bytes) {
    const ssize_t n = pread(fd, p + done, bytes - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
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
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ErrnoError("cannot open", path, errno);
  return std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(fd, path));
}

ReadOnlyFile::~ReadOnlyFile() { close(fd_); }

void ReadOnlyFile::ReadExactAt(void* dst, size_t bytes, int64_t offset) const {
  PreadExact(fd_, path_, dst, bytes, offset);
}

namespace files {

bool Exists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

int64_t Length(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw ErrnoError("cannot examine", path, errno);
  return static_cast<int64_t>(st.st_size);
}

void WriteAt(const std::string& path, const void* data, size_t bytes, int64_t offset, bool create) {
  Fd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC | (create ? O_CREAT : 0), 0644));
  if (fd.get() < 0) throw ErrnoError("cannot open for writing", path, errno);
  PwriteAll(fd.get(), path, data, bytes, offset);
}

void ReadAt(const std::string& path, void* dst, size_t bytes, int64_t offset) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw ErrnoError("cannot open", path, errno);
  PreadExact(fd.get(), path, dst, bytes, offset);
}

void Copy(const std::string& from, const std::string& to) {
  Fd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) throw ErrnoError("cannot open", from, errno);
  Fd out(open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (out.get() < 0) throw ErrnoError("cannot create", to, errno);
  std::vector<char> buf(1 << 20);
  int64_t offset = 0;
  while (true) {
    const ssize_t n = pread(in.get(), buf.data(), buf.size(), static_cast<off_t>(offset));
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
  size_t done = 0;
  while (done < bytes) {
    const ssize_t n = pwrite(fd, p + done, bytes - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool Remove(const std::string& path) noexcept { return !path.empty() && unlink(path.c_str()) == 0; }

bool SetLength(const std::string& path, int64_t length) noexcept {
  if (!Exists(path)) return false;
  Fd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  return ftruncate(fd.get(), static_cast<off_t>(length)) == 0;
}

std::string TempFolder(const std::string& appTmpDir) {
  std::string dir = appTmpDir.empty() ? std::string(P_tmpdir) : appTmpDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace files
}  // namespace platform
