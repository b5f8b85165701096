#include "tools/EditList.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/os/File.h"

namespace playctl {

namespace {

constexpr char kSilence[] = "silence:";

// A number that fills the whole text; NaN when it does not.
double Number(const std::string& text) {
  if (text.empty()) return std::nan("");
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  return *end == '\0' && errno == 0 && std::isfinite(v) ? v : std::nan("");
}

// What is wrong with a file to be played, before its content is looked at:
// "" when it is a readable regular file that holds something.
std::string PathProblem(const std::string& path) {
  const os::files::PathFacts facts = os::files::ExaminePath(path);
  switch (facts.Kind) {
    case os::files::PathKind::Missing:
      return path + ": no such file";
    case os::files::PathKind::Folder:
      return path + ": is a folder, not a sound file";
    case os::files::PathKind::Other:
      return path + ": is not a regular file";
    case os::files::PathKind::Regular:
      break;
  }
  if (facts.ReadError != 0) return path + ": cannot be read (" + std::strerror(facts.ReadError) + ")";
  if (facts.Length == 0) return path + ": is empty";
  return "";
}

// What libsndfile finds in a file that is not read in place (`wav`: what the
// WAV probe found). A RIFF/WAVE file that neither reader takes is refused
// with the WAV probe's reason, which says what is wrong with it.
SoundInfo ProbeDecoded(const std::string& path, const audio::WavProbe& wav) {
  try {
    return ProbeSound(path);
  } catch (const audio::WavError&) {
    if (!wav.Info && wav.Refusal.find(": not a RIFF/WAVE file") == std::string::npos) throw audio::WavError(wav.Refusal);
    throw;
  }
}

// Refuses a file that PathProblem finds wrong.
void CheckPath(const std::string& path) {
  const std::string problem = PathProblem(path);
  if (!problem.empty()) throw audio::WavError(problem);
}

// A WAV read in place whose data chunk claims more than the file holds.
std::string CutWavDamage(const audio::WavInfo& wav, int64_t fileBytes) {
  if (wav.CutFrames <= 0) return "";
  const int64_t claimed = wav.Frames + wav.CutFrames;
  return SecondsText(static_cast<double>(wav.Frames) / wav.Rate) + " of " +
         SecondsText(static_cast<double>(claimed) / wav.Rate) + " present (" + std::to_string(wav.Frames) + " of " +
         std::to_string(claimed) + " samples); the file ends there, cut short after " + std::to_string(fileBytes) +
         " bytes";
}

}  // namespace

Piece ParsePiece(const std::string& text, const std::function<std::string(const std::string&)>& absolute) {
  Piece piece;
  piece.Text = text;
  if (text.rfind(kSilence, 0) == 0) {
    piece.Silence = true;
    piece.Seconds = Number(text.substr(sizeof kSilence - 1));
    if (!(piece.Seconds > 0)) throw audio::WavError(text + ": a silence needs a length in seconds above 0");
    return piece;
  }
  const size_t at = text.rfind('@');
  // A name that holds '@' and exists as it is stays whole.
  if (at == std::string::npos || os::files::Exists(text)) {
    piece.Path = absolute(text);
    return piece;
  }
  const std::string range = text.substr(at + 1);
  const size_t dash = range.find('-', 1);
  const std::string from = range.substr(0, dash);
  const std::string to = dash == std::string::npos ? "" : range.substr(dash + 1);
  piece.From = Number(from);
  piece.To = to.empty() ? -1 : Number(to);
  if (!(piece.From >= 0) || std::isnan(piece.To) || (piece.To >= 0 && piece.To <= piece.From))
    throw audio::WavError(text + ": the range must read FROM-TO or FROM- in seconds, FROM below TO");
  piece.Path = absolute(text.substr(0, at));
  return piece;
}

EditList::EditList(std::vector<Piece> pieces, std::vector<int32_t> pick) {
  if (pieces.empty()) throw audio::WavError("nothing to play");
  // The first file fixes the rate: probe it before planning the others.
  for (const Piece& p : pieces) {
    if (p.Silence) continue;
    CheckPath(p.Path);
    const audio::WavProbe wav = audio::ProbeWav(p.Path);
    rate_ = wav.Info ? wav.Info->Rate : ProbeDecoded(p.Path, wav).Rate;  // in place, or through libsndfile
    break;
  }
  if (rate_ == 0) throw audio::WavError("an edit list needs at least one sound file");
  bool allEightBitInPlace = true;
  for (const Piece& p : pieces) {
    planned_.push_back(Plan(p, pick));
    const Planned& made = planned_.back();
    if (made.Picked.size() == 2) channels_ = 2;
    if (!pick.empty() && !p.Silence && (made.InPlace ? made.Wav.Channels : made.Sound.Channels) > 2) pickUsed_ = true;
    if (!p.Silence && !(made.InPlace && made.Wav.Bits == 8)) allEightBitInPlace = false;
  }
  bits_ = allEightBitInPlace ? 8 : 16;
  if (bits_ == 16) {
    // 8-bit data read in place would sound 256 times too soft among 16-bit pieces.
    for (Planned& p : planned_) {
      if (p.InPlace && p.Wav.Bits == 8) {
        p.InPlace = false;
        p.Sound = ProbeSound(p.Source.Path);
      }
    }
  }
}

EditList::Planned EditList::Plan(const Piece& piece, const std::vector<int32_t>& pick) const {
  Planned p;
  p.Source = piece;
  if (piece.Silence) {
    p.Frames = std::llround(piece.Seconds * rate_);
    if (p.Frames < 1) throw audio::WavError(piece.Text + ": shorter than one sample at " + std::to_string(rate_) + " Hz");
    p.Picked = {0};
    return p;
  }
  CheckPath(piece.Path);
  int32_t channels = 0;
  int32_t rate = 0;
  int64_t frames = 0;
  // Not a plain PCM WAV (the probe's refusal says why): libsndfile reads it.
  const audio::WavProbe wav = audio::ProbeWav(piece.Path);
  if (wav.Info) {
    p.Wav = *wav.Info;
    p.InPlace = p.Wav.Rate == rate_;
    channels = p.Wav.Channels;
    rate = p.Wav.Rate;
    frames = p.Wav.Frames;
  }
  if (!p.InPlace) {
    p.Sound = ProbeDecoded(piece.Path, wav);
    channels = p.Sound.Channels;
    rate = p.Sound.Rate;
    frames = p.Sound.Frames;
  }
  if (channels <= 2) {
    p.Picked = channels == 2 ? std::vector<int32_t>{0, 1} : std::vector<int32_t>{0};
  } else if (pick.empty()) {
    throw audio::WavError(piece.Path + ": " + std::to_string(channels) +
                   " channels; only mono or stereo plays (pick one or two with --channels, e.g. --channels 1,2)");
  } else {
    for (int32_t c : pick) {
      if (c < 1 || c > channels)
        throw audio::WavError(piece.Path + ": --channels names channel " + std::to_string(c) + " of a file of " +
                       std::to_string(channels) + " channels");
      p.Picked.push_back(c - 1);
    }
  }
  if (frames == 0) throw audio::WavError(piece.Path + ": holds no samples");
  if (p.InPlace && p.Wav.CutFrames > 0) p.Damage = CutWavDamage(p.Wav, os::files::Length(piece.Path));
  PlanRange(p, frames, rate);
  return p;
}

void EditList::PlanRange(Planned& p, int64_t frames, int32_t rate) {
  const Piece& piece = p.Source;
  p.FromFrame = std::llround(piece.From * rate);
  if (frames < 0) {  // the file does not say how long it is: up to where decoding stops
    p.Frames = piece.To < 0 ? -1 : std::llround(piece.To * rate) - p.FromFrame;
    return;
  }
  const int64_t to = piece.To < 0 ? frames : std::llround(piece.To * rate);
  const double length = static_cast<double>(frames) / rate;
  if (to > frames || p.FromFrame >= frames)
    throw audio::WavError(piece.Text + ": the range lies beyond the end of the file (" + SecondsText(length) + ")");
  p.Frames = to - p.FromFrame;
  if (p.Frames < 1) throw audio::WavError(piece.Text + ": the range holds no sample");
}

std::vector<std::string> EditList::Describe() const {
  std::vector<std::string> lines;
  for (const Planned& p : planned_) {
    std::string line = p.Source.Text + ": ";
    if (p.Source.Silence) {
      line += "silence, " + std::to_string(p.Frames) + " samples";
    } else if (p.InPlace) {
      line += std::to_string(p.Wav.Channels) + " channel(s), " + std::to_string(p.Wav.Bits) + " bit, " +
              std::to_string(p.Wav.Rate) + " Hz, " + std::to_string(p.Frames) + " samples, read in place";
    } else {
      line += p.Sound.Format + ", " + std::to_string(p.Sound.Channels) + " channel(s), " +
              std::to_string(p.Sound.Rate) + " Hz, " +
              (p.Frames >= 0 ? std::to_string(p.Frames) + " samples" : std::string("length not stated")) +
              ", decoded to 16 bit";
      if (p.Sound.Rate != rate_) line += " at " + std::to_string(rate_) + " Hz";
    }
    lines.push_back(line);
  }
  return lines;
}

EditWave EditList::Build(const std::string& folder, const DecodeProgress& progress) const {
  EditWave wave;
  wave.Bits = bits_;
  wave.Channels = channels_;
  wave.Rate = rate_;
  WaveLists lists(channels_ == 2);
  int64_t start = 1;
  const auto fits = [&start](int64_t frames) {
    if (start + frames - 1 > std::numeric_limits<int32_t>::max())
      throw audio::WavError("the edit list outgrows the 2^31 samples that positions can count");
  };
  for (size_t i = 0; i < planned_.size(); ++i) {
    const Planned& p = planned_[i];
    int64_t frames = p.Frames;
    if (p.Source.Silence) {
      fits(frames);
      lists.AddSilence(static_cast<int32_t>(frames));
    } else if (p.InPlace) {
      fits(frames);
      lists.AddWav(p.Source.Path, p.Wav, p.FromFrame, static_cast<int32_t>(frames));
      if (!p.Damage.empty()) wave.Damaged.push_back(p.Source.Path + ": damaged: " + p.Damage);
    } else {
      DecodeJob job{p.Source.Path, p.FromFrame, p.Frames, p.Picked, rate_, {}};
      for (size_t c = 0; c < p.Picked.size(); ++c)
        job.OutPaths.push_back(folder + "/piece" + std::to_string(i + 1) + "-" + std::to_string(c + 1) + ".raw");
      const DecodeResult made = DecodeToBlockFiles(job, [&](double share) {
        if (progress) progress(p.Source.Text, share);
      });
      wave.Clipped += made.Clipped;
      if (!made.Damage.empty()) wave.Damaged.push_back(p.Source.Path + ": damaged: " + made.Damage);
      frames = made.Frames;
      if (frames < 1) throw audio::WavError(p.Source.Text + ": decoding gave no sample");
      fits(frames);
      lists.AddBlockFiles(job.OutPaths.front(), job.OutPaths.back(), static_cast<int32_t>(frames));
    }
    start += frames;
  }
  wave.Frames = static_cast<int32_t>(start - 1);
  wave.Lists = lists.Lists();
  wave.Runs = lists.Runs();
  return wave;
}

}  // namespace playctl
