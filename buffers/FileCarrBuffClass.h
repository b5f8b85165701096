#pragma once
// A single channel of 16-bit samples kept in one file of raw little-endian
// samples (no header), behind an in-memory window of consecutive samples.
// Every read and write goes through the window; the window is written back
// (one positioned write) whenever it moves, on get FileName1, let BuffLength
// and FileRelease. Destruction deletes the buffer's file without writing the
// window back.
//
// Positions are 1-based and 32-bit signed; position 0 is a scratch sample that
// lives only in memory. Runs passed to BuffGet / BuffPut use elements
// 1..UBound of the array and may not be longer than BuffLength.
//
// Files: the buffer starts on a temporary file of its own, named
// TempFolder(appTmpDir) + "/tm" + digits + ".tmp", the digits counting up from
// the seconds since midnight of `clock`. It can take a file by copy or in
// place (FileName1 with FileNameUseItNotCopy) and hand its file over
// (FileRelease). A file is opened and closed inside each operation; none stays
// open between calls. A buffer position whose bytes the file does not hold
// (a file shorter than WaveINos samples, or not yet written) reads as 0, and
// a write creates the file.
//
// Refusals are shown in the message box as "Out of limit - Error" and change
// nothing; file-system failures throw os::FileError naming the file.
// `appTmpDir`, `box` and `clock` must outlive the buffer; `appTmpDir` is read
// each time a temporary name is made. Thread: loop thread only.
//
// The server never creates one: playback keeps each channel as a list of
// blocks (buffers/BlockCarrBuffClass.h). This is the component's
// self-contained file-carried channel buffer, kept complete and tested on
// its own (tests/buffers).

#include <cstdint>
#include <string>

#include "platform/os/Clock.h"
#include "platform/os/MessageBox.h"
#include "platform/runtime/VbArray.h"

namespace buffers {

class FileCarrBuffClass final {
 public:
  // `memorySizeToUse` (bytes) fixes the initial BuffLength: a twentieth of it,
  // rounded down to a multiple of 4, at least 262144 samples. Creates the
  // temporary file with one sample of value 0.
  FileCarrBuffClass(int32_t memorySizeToUse, const std::string& appTmpDir, os::MessageBox& box,
                    const os::Clock& clock);
  // Deletes the file in use, also one taken in place, unless it was handed
  // over with FileRelease first.
  ~FileCarrBuffClass();
  FileCarrBuffClass(const FileCarrBuffClass&) = delete;
  FileCarrBuffClass& operator=(const FileCarrBuffClass&) = delete;

  // Number of samples in the file. The let changes only the count.
  int32_t WaveINos() const { return WaveINos_; }
  void SetWaveINos(int32_t v) { WaveINos_ = v; }
  // True: a file given to FileName1 is used in place; false: on a copy.
  bool FileNameUseItNotCopy() const { return FileNameUseItNotCopy_; }
  void SetFileNameUseItNotCopy(bool v) { FileNameUseItNotCopy_ = v; }

  // The window length aimed for, and the longest run BuffGet/BuffPut accept.
  int32_t BuffLength() const { return BuffLength_; }
  // Writes the window back, sets the length (below 1 is refused with the
  // message), then moves the window to the start.
  void SetBuffLength(int32_t NewVal);

  // Writes the window back and forgets the file without deleting it: the
  // caller owns it now (learn its name from FileName1 first). The buffer goes
  // on with a fresh temporary name and keeps WaveINos; its samples read as 0
  // until written.
  void FileRelease();
  // Sets the number of samples. Growing with DoInitilize writes zeros in runs
  // of BuffLength samples; without it, one zero sample at NewSz (the gap reads
  // as 0). Cutting or keeping the size sets the file's length to NewSz x 2.
  // A negative NewSz is refused with the message and changes nothing.
  void ReDimSize(int32_t NewSz, bool DoInitilize = false);
  // Writes the window back, then returns the full path of the file in use
  // ("" when a file taken in place did not exist).
  std::string FileName1();
  // Takes `NewName` as the buffer's content, in place or on a copy as
  // FileNameUseItNotCopy says; the previous file is deleted first. A missing
  // `NewName` leaves the buffer empty and reports nothing. Naming the file
  // the buffer already uses keeps it (after writing the window back).
  void SetFileName1(const std::string& NewName);

  // Writes PutData(1..UBound) to positions WavPos onward, growing the file
  // when the run ends past WaveINos.
  void BuffPut(const int32_t& WavPos, const runtime::VbArray<int16_t>& PutData);
  // Fills GetData(1..UBound) with the samples at WavPos onward; the run must
  // lie within 1..WaveINos.
  void BuffGet(const int32_t& WavPos, runtime::VbArray<int16_t>& GetData);
  // One sample; position 0 is the scratch sample. Outside 0..WaveINos the get
  // returns 0 and the let changes nothing, both with the message.
  int16_t WaveLR(int32_t WavPos);
  void SetWaveLR(int32_t WavPos, int16_t NewVal);
  // Writes the window back and reads the window that starts after NewZeroPtr
  // samples; a NewRange other than 0 becomes the new BuffLength. The window
  // never reaches past WaveINos (it may hold no samples). A negative
  // NewZeroPtr or NewRange is refused with the message.
  void MovePointer(int32_t NewZeroPtr, int32_t NewRange = 0);

 private:
  void FlushWindow();
  void CreateTempFile();
  static void DeleteBufferFile(const std::string& name) noexcept;
  void ForgetWindow();
  bool RunInWindow(int32_t WavPos, int32_t n) const;
  void ShowOutOfLimit(const std::string& extra = "");

  const std::string& appTmpDir_;
  os::MessageBox& box_;
  const os::Clock& clock_;

  int32_t WaveINos_ = 0;
  bool FileNameUseItNotCopy_ = false;
  bool WindowDirty_ = false;
  int32_t ZeroPtr_ = 0;
  int32_t WindowRange_ = 0;
  runtime::VbArray<int16_t> Window_;  // 1..WindowRange; Window(k) is position ZeroPtr + k
  std::string FileName_;
  int32_t SampleZero_ = 0;  // only ever holds 16-bit values
  int32_t BuffLength_ = 0;
};

// Cuts or extends an existing file to `NewLength` bytes. Does nothing for a
// missing file, one that cannot be opened for writing, or a length the file
// system refuses (a negative one).
void SetFileLength(const std::string& FileName, int32_t NewLength);

}  // namespace buffers
