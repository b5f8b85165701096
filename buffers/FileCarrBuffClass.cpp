#include "buffers/FileCarrBuffClass.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "platform/os/File.h"
#include "platform/runtime/VbMath.h"

namespace buffers {

static_assert(std::endian::native == std::endian::little,
              "the buffer file holds little-endian samples and is read straight into memory");

namespace files = os::files;

namespace {

constexpr int32_t kMinBuffLength = 262144;  // 0x40000 samples
const char* const kOutOfLimit = "Out of limit - Error";

// A twentieth of the memory budget, rounded half to even, down to a multiple
// of 4, and never below kMinBuffLength.
int32_t BuffLengthFor(int32_t memorySizeToUse) {
  int32_t v = vb::CLng(memorySizeToUse / 20.0);
  v &= ~int32_t{3};
  return v < kMinBuffLength ? kMinBuffLength : v;
}

// 0-based byte offset of 1-based sample position p.
int64_t OffsetOf(int64_t p) { return (p - 1) * 2; }

// Reads `count` samples at byte `offset` of `path` into dst with one
// positioned read. Bytes the file does not hold (a missing file, a file that
// ends early) read as 0.
void ReadSamplesOrZero(const std::string& path, int64_t offset, int16_t* dst, int32_t count) {
  const size_t want = static_cast<size_t>(count) * 2;
  size_t have = 0;
  if (files::Exists(path)) {
    const int64_t length = files::Length(path);
    if (length > offset) have = static_cast<size_t>(std::min<int64_t>(length - offset, static_cast<int64_t>(want)));
  }
  if (have > 0) files::ReadAt(path, dst, have, offset);
  std::memset(reinterpret_cast<char*>(dst) + have, 0, want - have);
}

}  // namespace

FileCarrBuffClass::FileCarrBuffClass(int32_t memorySizeToUse, const std::string& appTmpDir,
                                     os::MessageBox& box, const os::Clock& clock)
    : appTmpDir_(appTmpDir), box_(box), clock_(clock), BuffLength_(BuffLengthFor(memorySizeToUse)) {
  ZeroPtr_ = 0;
  CreateTempFile();
}

FileCarrBuffClass::~FileCarrBuffClass() {
  if (!FileName_.empty()) DeleteBufferFile(FileName_);
}

// ---- private helpers

void FileCarrBuffClass::ShowOutOfLimit(const std::string& extra) {
  std::string text(kOutOfLimit);
  text.append(extra);
  box_.Show(text);
}

// The first free name tm<c+1>.tmp, tm<c+2>.tmp, ... with c the seconds since
// midnight. A buffer without samples gets a real one-sample file; otherwise
// the name is only reserved.
void FileCarrBuffClass::CreateTempFile() {
  int64_t c = vb::CLng(clock_.SecondsSinceMidnight());
  const std::string folder = files::TempFolder(appTmpDir_);
  do {
    ++c;
    FileName_ = folder;
    FileName_.append("/tm").append(std::to_string(c)).append(".tmp");
  } while (files::Exists(FileName_));
  if (WaveINos_ == 0) {
    const int16_t zero = 0;
    files::WriteAt(FileName_, &zero, sizeof zero, 0, true);
    WaveINos_ = 1;
  }
}

void FileCarrBuffClass::FlushWindow() {
  if (!WindowDirty_) return;
  if (WindowRange_ > 0)
    files::WriteAt(FileName_, Window_.Ptr(1), static_cast<size_t>(WindowRange_) * 2, OffsetOf(ZeroPtr_ + int64_t{1}),
                   true);
  WindowDirty_ = false;
}

void FileCarrBuffClass::DeleteBufferFile(const std::string& name) noexcept { (void)files::Remove(name); }

// The window of a file that is going away: its changes go with the file.
void FileCarrBuffClass::ForgetWindow() {
  WindowDirty_ = false;
  ZeroPtr_ = 0;
  WindowRange_ = 0;
  Window_.Erase();
}

bool FileCarrBuffClass::RunInWindow(int32_t WavPos, int32_t n) const {
  return WavPos > ZeroPtr_ && int64_t{WavPos} + n - 1 <= int64_t{ZeroPtr_} + WindowRange_;
}

// ---- the window

void FileCarrBuffClass::MovePointer(int32_t NewZeroPtr, int32_t NewRange) {
  if (NewZeroPtr < 0 || NewRange < 0) {
    ShowOutOfLimit();
    return;
  }
  if (FileName_.empty()) CreateTempFile();
  FlushWindow();
  ZeroPtr_ = NewZeroPtr;
  if (NewRange != 0) BuffLength_ = NewRange;
  int64_t r = BuffLength_;
  if (ZeroPtr_ + r > WaveINos_) r = int64_t{WaveINos_} - ZeroPtr_;
  r = std::max<int64_t>(r, 0);  // a window at or past the end holds nothing
  if (r != WindowRange_ || !Window_.Dimensioned()) {
    WindowRange_ = static_cast<int32_t>(r);
    Window_.ReDim(1, WindowRange_);
  }
  if (WindowRange_ > 0) ReadSamplesOrZero(FileName_, OffsetOf(ZeroPtr_ + int64_t{1}), Window_.Ptr(1), WindowRange_);
  WindowDirty_ = false;
}

void FileCarrBuffClass::SetBuffLength(int32_t NewVal) {
  if (NewVal < 1) {
    ShowOutOfLimit();
    return;
  }
  FlushWindow();
  BuffLength_ = NewVal;
  MovePointer(0, 0);
}

void FileCarrBuffClass::BuffGet(const int32_t& WavPos, runtime::VbArray<int16_t>& GetData) {
  // A run of no samples (GetData 0 To 0) is checked like any other and moves nothing.
  const int32_t n = std::max(GetData.UBound(), 0);
  if (n > 0) (void)GetData.Ptr(1);  // an array without element 1 is refused before anything moves
  const int32_t L = vb::Sub(vb::Add(WavPos, n), 1);
  if (WavPos >= 1 && n <= BuffLength_ && L <= WaveINos_) {
    if (!RunInWindow(WavPos, n)) MovePointer(WavPos - 1, 0);
    if (n <= WindowRange_) {
      runtime::MoveRun(GetData, 1, Window_, WavPos - ZeroPtr_, n);
      return;
    }
  }
  ShowOutOfLimit();
}

void FileCarrBuffClass::BuffPut(const int32_t& WavPos, const runtime::VbArray<int16_t>& PutData) {
  const int32_t n = PutData.UBound();
  if (n < 1) return;
  (void)PutData.Ptr(1);
  if (WavPos >= 1 && n <= BuffLength_) {
    const int32_t L = vb::Sub(vb::Add(WavPos, n), 1);
    if (L > WaveINos_) ReDimSize(L, false);
    if (!RunInWindow(WavPos, n)) MovePointer(WavPos - 1, 0);
    if (n > WindowRange_) {
      ShowOutOfLimit();
      return;
    }
    runtime::MoveRun(Window_, WavPos - ZeroPtr_, PutData, 1, n);
    WindowDirty_ = true;
    return;
  }
  std::string numbers("\r\n");
  numbers.append(vb::Str(n)).append(vb::Str(BuffLength_)).append(vb::Str(WavPos));
  ShowOutOfLimit(numbers);
}

int16_t FileCarrBuffClass::WaveLR(int32_t WavPos) {
  if (RunInWindow(WavPos, 1)) return Window_(WavPos - ZeroPtr_);
  if (WavPos >= 1 && WavPos <= WaveINos_) {
    MovePointer(WavPos - 1, 0);
    return Window_(WavPos - ZeroPtr_);
  }
  if (WavPos == 0) return static_cast<int16_t>(SampleZero_);
  ShowOutOfLimit();
  return 0;
}

void FileCarrBuffClass::SetWaveLR(int32_t WavPos, int16_t NewVal) {
  if (!RunInWindow(WavPos, 1)) {
    if (WavPos == 0) {
      SampleZero_ = NewVal;
      return;
    }
    if (WavPos < 1 || WavPos > WaveINos_) {
      ShowOutOfLimit();
      return;
    }
    MovePointer(WavPos - 1, 0);
  }
  Window_(WavPos - ZeroPtr_) = NewVal;
  WindowDirty_ = true;
}

// ---- size and files

void FileCarrBuffClass::ReDimSize(int32_t NewSz, bool DoInitilize) {
  if (NewSz < 0) {
    ShowOutOfLimit();
    return;
  }
  if (WaveINos_ < NewSz) {
    if (FileName_.empty()) CreateTempFile();
    if (DoInitilize) {
      const std::vector<int16_t> zeros(static_cast<size_t>(std::min(BuffLength_, NewSz - WaveINos_)), 0);
      for (int64_t p = int64_t{WaveINos_} + 1; p <= NewSz; p += BuffLength_) {
        const int64_t run = std::min<int64_t>(BuffLength_, NewSz - p + 1);
        files::WriteAt(FileName_, zeros.data(), static_cast<size_t>(run) * 2, OffsetOf(p), true);
      }
    } else {
      const int16_t zero = 0;
      files::WriteAt(FileName_, &zero, sizeof zero, OffsetOf(NewSz), true);
    }
  } else {
    if (int64_t{ZeroPtr_} + WindowRange_ > NewSz) MovePointer(0, 0);
    SetFileLength(FileName_, vb::Mul(NewSz, 2));
  }
  WaveINos_ = NewSz;
  // A window read before a cut may still hold positions past the new end;
  // clip it so that they cannot come back with the next write-back.
  if (int64_t{ZeroPtr_} + WindowRange_ > WaveINos_) {
    WindowRange_ = std::max(0, WaveINos_ - ZeroPtr_);
    if (Window_.Dimensioned())
      Window_.ReDimPreserve(WindowRange_);
    else
      Window_.ReDim(1, WindowRange_);
  }
}

std::string FileCarrBuffClass::FileName1() {
  FlushWindow();
  return FileName_;
}

void FileCarrBuffClass::SetFileName1(const std::string& NewName) {
  if (!FileName_.empty() && NewName == FileName_ && files::Exists(NewName)) {
    // Taking the buffer's own file again must not delete it first.
    FlushWindow();
    WaveINos_ = vb::Narrow(files::Length(FileName_) / 2);
    MovePointer(0, 0);
    return;
  }
  if (!FileName_.empty()) DeleteBufferFile(FileName_);
  FileName_.clear();
  WaveINos_ = 0;
  ForgetWindow();
  if (FileNameUseItNotCopy_) {
    if (!files::Exists(NewName)) return;
    FileName_ = NewName;
  } else {
    CreateTempFile();
    if (!files::Exists(NewName)) return;
    files::Copy(NewName, FileName_);
  }
  WaveINos_ = vb::Narrow(files::Length(FileName_) / 2);
  WindowDirty_ = false;
  MovePointer(0, 0);
}

void FileCarrBuffClass::FileRelease() {
  FlushWindow();
  FileName_.clear();  // the caller owns the file now
  ForgetWindow();
  CreateTempFile();
}

void SetFileLength(const std::string& FileName, int32_t NewLength) {
  if (!files::Exists(FileName)) return;
  (void)files::SetLength(FileName, NewLength);
}

}  // namespace buffers
