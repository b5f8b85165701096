#pragma once
// Edit lists: the pieces that `playctl play` joins into one wave, and the
// wave they make.
//
// A piece is a sound file, whole or a range of it (`take.flac@1.5-3.0`,
// seconds; `take.flac@2-` to its end), or silence (`silence:0.25`, seconds).
// The wave takes the rate of the first file; it is stereo when any piece is.
// Plain 8/16-bit PCM WAV files of that rate are read in place (Orgfile
// blocks); everything else is decoded into raw 16-bit block files (see
// SoundDecoder.h), resampled when its rate differs. A mono piece of a stereo
// wave plays on both channels. The wave is 8-bit only when every file piece
// is an 8-bit WAV read in place.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/HostLists.h"
#include "tools/SoundDecoder.h"
#include "platform/audio/WavFile.h"

namespace playctl {

struct Piece {
  std::string Text;  // as given, for messages
  bool Silence = false;
  double Seconds = 0;  // length of a silence
  std::string Path;    // full path of a file
  double From = 0;     // seconds into the file
  double To = -1;      // below 0: the file's end
};

// Throws audio::WavError naming the piece when it cannot be understood.
// `absolute` turns a file name into a full path.
Piece ParsePiece(const std::string& text, const std::function<std::string(const std::string&)>& absolute);

struct EditWave {
  int32_t Bits = 16;
  int32_t Channels = 1;
  int32_t Rate = 0;
  int32_t Frames = 0;
  HostLists Lists;
  std::vector<WaveRun> Runs;  // where the samples lie, run by run (the lists' source)
  int64_t Clipped = 0;        // samples clipped while decoding
  // One line per damaged file, "<path>: damaged: <what decoded and why the
  // rest did not>"; the part that decoded is in the wave.
  std::vector<std::string> Damaged;
};

// Called while a piece decodes: its text and the share done, 0..1.
using DecodeProgress = std::function<void(const std::string& piece, double share)>;

class EditList final {
 public:
  // Examines every piece (file, format, channels, range) without decoding;
  // throws audio::WavError naming the first piece that cannot be played and
  // what is wrong with it: "<path>: no such file", "is a folder, not a sound
  // file", "is not a regular file", "cannot be read (<reason>)", "is empty",
  // "is not a sound file", "holds no samples", or what ProbeSound says.
  // `pick` are 1-based channels taken from files of more than two (empty:
  // such files are refused).
  EditList(std::vector<Piece> pieces, std::vector<int32_t> pick);

  int32_t Rate() const { return rate_; }
  int32_t Channels() const { return channels_; }
  int32_t Bits() const { return bits_; }
  // Whether the channel pick applies to any piece (a file of more than two
  // channels); false also when no pick was given.
  bool PickUsed() const { return pickUsed_; }
  // One line per piece: how it plays (in place, decoded, silence).
  std::vector<std::string> Describe() const;

  // Decodes what needs decoding into `folder` (files named piece<N>-<c>.raw)
  // and builds the host lists. Throws audio::WavError when decoding fails or the
  // wave outgrows 32-bit positions.
  EditWave Build(const std::string& folder, const DecodeProgress& progress) const;

 private:
  struct Planned {
    Piece Source;
    bool InPlace = false;
    audio::WavInfo Wav;                  // when in place
    SoundInfo Sound;              // when decoded
    int64_t FromFrame = 0;        // in the file's rate
    int64_t Frames = 0;           // in the file's rate (silence: the wave's); -1: to where decoding stops
    std::string Damage;           // a WAV read in place that is cut short: what is there
    std::vector<int32_t> Picked;  // 0-based file channels, 1 or 2
  };
  Planned Plan(const Piece& piece, const std::vector<int32_t>& pick) const;
  // The run of the file that the piece's range takes (of `frames` at `rate`;
  // frames below 0: the file does not say).
  static void PlanRange(Planned& p, int64_t frames, int32_t rate);

  std::vector<Planned> planned_;
  int32_t rate_ = 0;
  int32_t channels_ = 1;
  int32_t bits_ = 16;
  bool pickUsed_ = false;
};

}  // namespace playctl
