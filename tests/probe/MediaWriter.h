#pragma once
// Writes short media files through the loaded libraries, with metadata and
// chapters. Each track is 10 frames of a moving pattern (mpeg4, 64x48,
// 25 fps), 0.4 s of a stereo 44.1 kHz sine tone (mp2, aac, pcm_s16le), or
// an empty subtitle track (any subtitle codec id). Throws
// std::runtime_error naming the failing step.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ffbind/FFHeaders.h"

namespace probetest {

using TTags = std::vector<std::pair<std::string, std::string>>;

struct TChapterSpec {
  std::int64_t StartMs;
  std::int64_t EndMs;
  std::string Title;
};

struct TTrackSpec {
  AVCodecID Codec;
  TTags Metadata;
};

struct TMediaSpec {
  std::string Format;  // muxer name: "mp4", "matroska", "wav", "mpegts", ...
  std::vector<TTrackSpec> Tracks;
  TTags Metadata;
  std::vector<TChapterSpec> Chapters;
};

void WriteMedia(const std::string& path, const TMediaSpec& spec);

// One track for decoding tests: Frames pictures (64x48, 25 fps, a key frame
// every GopSize), picture n a flat grey of luma ClipLuma(n); or Ms of a
// 440 Hz tone at SampleRate with Channels.
struct TClipSpec {
  std::string Format;
  AVCodecID Codec;
  int Frames = 50;
  int GopSize = 10;
  int SampleRate = 44100;
  int Channels = 2;
  int Ms = 400;
};
void WriteClip(const std::string& path, const TClipSpec& spec);
int ClipLuma(int n);

// A fresh folder for one test's files, removed with everything in it.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  std::string File(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

}  // namespace probetest
