// Decoding pictures and audio, seeking and key-frame steps on real files.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "probe/FFDecode.h"
#include "tests/probe/ProbeFixture.h"

namespace probetest {
namespace {

using probe::TFFDecoder;

constexpr std::int64_t kFrameUs = 40000;  // 25 fps

// 50 flat grey pictures, a key frame every 10.
const TClipSpec kClip{.Format = "matroska", .Codec = AV_CODEC_ID_MPEG4, .Frames = 50, .GopSize = 10};
const TClipSpec kStereo{.Format = "wav", .Codec = AV_CODEC_ID_PCM_S16LE, .SampleRate = 44100, .Channels = 2};
const TClipSpec kMono22k{.Format = "wav", .Codec = AV_CODEC_ID_PCM_S16LE, .SampleRate = 22050, .Channels = 1};

class DecodeFixture : public ProbeFixture {
 protected:
  std::string Clip(const std::string& name, const TClipSpec& spec) {
    const std::string path = Dir.File(name);
    WriteClip(path, spec);
    return path;
  }

  // Decodes forward until the picture of the given time is current.
  void DecodeTo(TFFDecoder& dec, std::int64_t pts) {
    while (dec.FrameInfo().PTS != pts) ASSERT_TRUE(dec.Decode()) << dec.LastErrMsg();
  }
};

// The grey a flat picture of luma y shows on screen.
int ScreenGrey(int y) { return static_cast<int>(std::lround((y - 16) * 255.0 / 219.0)); }

TEST_F(DecodeFixture, DecodesEveryPictureInOrderThenReportsTheEnd) {
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(Clip("clip.mkv", kClip))) << dec.LastErrMsg();
  int count = 0;
  while (dec.Decode()) {
    const probe::TFrameInfo& info = dec.FrameInfo();
    ASSERT_TRUE(info.Ready);
    EXPECT_EQ(info.PTS, count * kFrameUs) << "picture " << count;
    EXPECT_EQ(info.IsKeyFrame, count % 10 == 0) << "picture " << count;
    EXPECT_EQ(info.Width, 64);
    EXPECT_EQ(info.Height, 48);
    EXPECT_EQ(info.PixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(info.StreamIndex, 0);
    EXPECT_GE(info.Size, 64 * 48 * 3 / 2);
    ++count;
  }
  EXPECT_EQ(count, 50);
  EXPECT_TRUE(dec.Eof());
  EXPECT_EQ(dec.LastErrMsg(), "stream eof reached.");
  // Asked again, it still refuses and says why.
  EXPECT_FALSE(dec.Decode());
  EXPECT_EQ(dec.LastErrMsg(), "stream eof reached.");
  EXPECT_TRUE(Logged(&dec, fflog::llInfo, "stream eof reached."));
  EXPECT_GT(dec.Position(), 0);

  // Closing forgets the picture and the end.
  dec.CloseFile();
  EXPECT_FALSE(dec.FrameInfo().Ready);
  EXPECT_FALSE(dec.Eof());
}

TEST_F(DecodeFixture, RefusesWithoutAnOwnInputOrAFittingStream) {
  const std::string clip = Clip("clip.mkv", kClip);
  const std::string tone = Clip("tone.wav", kStereo);

  TFFDecoder owner, borrower;
  ASSERT_TRUE(owner.LoadFile(clip));
  borrower.SetFileHandle(owner.FileHandle());
  const std::string readonly = "file cannot be seeked, handle is readonly.";
  const std::function<void()> calls[] = {
      [&] { borrower.Decode(); },         [&] { borrower.DecodeAudio(); },
      [&] { borrower.Seek(0); },          [&] { borrower.DecodeNextKeyFrame(); },
      [&] { borrower.DecodePreviousFrame(); }, [&] { borrower.ReadAudio(nullptr, 10); },
  };
  for (const auto& call : calls) {
    try {
      call();
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), readonly);
    }
  }
  EXPECT_TRUE(Logged(&borrower, fflog::llWarning, readonly));
  // The owner's reading position was not touched.
  ASSERT_TRUE(owner.Decode());
  EXPECT_EQ(owner.FrameInfo().PTS, 0);

  TFFDecoder dec;
  EXPECT_FALSE(dec.Decode());
  EXPECT_EQ(dec.LastErrMsg(), "file not loaded.");
  EXPECT_EQ(dec.ReadAudio(nullptr, 10), -1);
  EXPECT_EQ(dec.LastErrMsg(), "file not loaded.");
  EXPECT_FALSE(dec.Seek(0));
  EXPECT_EQ(dec.Position(), -1);
  EXPECT_EQ(dec.LastErrMsg(), "cannot get position");

  ASSERT_TRUE(dec.LoadFile(tone));
  const struct {
    bool Video;
    int Index;
    std::string Error;
  } cases[] = {
      {true, -1, "no video stream."},
      {true, 0, "stream #0 is not video stream."},
      {true, 3, "stream index #3 is invalid."},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(dec.Decode(c.Index));
    EXPECT_EQ(dec.LastErrMsg(), c.Error);
    EXPECT_TRUE(Logged(&dec, fflog::llError, c.Error));
  }
  // A rate or channel count no audio can have.
  for (const auto& [channels, rate] : {std::pair{2, 0}, std::pair{-1, 44100}}) {
    TFFDecoder audio;
    audio.SetDesireAudioChannels(channels);
    audio.SetDesireAudioSampleRate(rate);
    ASSERT_TRUE(audio.LoadFile(tone));
    EXPECT_FALSE(audio.DecodeAudio());
    EXPECT_EQ(audio.LastErrMsg(), "Can not resample 2 channels @ 44100 Hz to " + std::to_string(channels) +
                                      " channels @ " + std::to_string(rate) + " Hz");
    EXPECT_EQ(audio.ReadAudio(nullptr, 10), -1);
  }

  ASSERT_TRUE(dec.LoadFile(clip));
  EXPECT_FALSE(dec.DecodeAudio());
  EXPECT_EQ(dec.LastErrMsg(), "no audio stream.");
}

TEST_F(DecodeFixture, StillImageIsDecodedOnceAndCannotBeSeeked) {
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(Clip("still.jpg", {.Format = "image2", .Codec = AV_CODEC_ID_MJPEG, .Frames = 1}), "image2"))
      << dec.LastErrMsg();
  ASSERT_TRUE(dec.Decode()) << dec.LastErrMsg();
  const std::uint8_t first = dec.FrameInfo().Picture.data[0][0];
  const std::int64_t position = dec.Position();
  ASSERT_TRUE(dec.Decode()) << dec.LastErrMsg();
  EXPECT_EQ(dec.Position(), position);
  EXPECT_EQ(dec.FrameInfo().Picture.data[0][0], first);
  EXPECT_NEAR(first, ClipLuma(0), 2);

  EXPECT_FALSE(dec.Seek(0));
  EXPECT_EQ(dec.LastErrMsg(), "\"image2\" format cannot to be seeked.");
  EXPECT_TRUE(dec.FrameInfo().Ready);
}

TEST_F(DecodeFixture, SeekLandsOnTheKeyFrameOfItsDirection) {
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(Clip("clip.mkv", kClip)));
  ASSERT_TRUE(dec.Decode());
  const struct {
    std::int64_t Target;
    probe::TSeekFlags Flags;
    std::int64_t Lands;
  } cases[] = {
      {800000, probe::sfBackward, 800000},  {1000000, probe::sfBackward, 800000},
      {1000000, 0, 1200000},                {0, 0, 0},
      {1900000, probe::sfBackward, 1600000}, {360000, probe::sfBackward, 0},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(dec.Seek(c.Target, c.Flags)) << c.Target << ": " << dec.LastErrMsg();
    EXPECT_FALSE(dec.FrameInfo().Ready);
    ASSERT_TRUE(dec.Decode()) << dec.LastErrMsg();
    EXPECT_EQ(dec.FrameInfo().PTS, c.Lands) << "seek to " << c.Target;
    EXPECT_TRUE(dec.FrameInfo().IsKeyFrame);
  }
  // After the end, a seek makes the pictures come again.
  while (dec.Decode()) {
  }
  ASSERT_TRUE(dec.Eof());
  ASSERT_TRUE(dec.Seek(400000, probe::sfBackward));
  EXPECT_FALSE(dec.Eof());
  ASSERT_TRUE(dec.Decode());
  EXPECT_EQ(dec.FrameInfo().PTS, 400000);
}

TEST_F(DecodeFixture, StepsBetweenKeyFramesAndBackOnePicture) {
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(Clip("clip.mkv", kClip)));
  DecodeTo(dec, 25 * kFrameUs);

  const struct {
    bool (TFFDecoder::*Step)(int);
    std::int64_t Lands;
  } steps[] = {
      {&TFFDecoder::DecodePreviousKeyFrame, 800000}, {&TFFDecoder::DecodePreviousKeyFrame, 400000},
      {&TFFDecoder::DecodeNextKeyFrame, 800000},     {&TFFDecoder::DecodePreviousFrame, 760000},
      {&TFFDecoder::DecodePreviousFrame, 720000},    {&TFFDecoder::DecodeNextKeyFrame, 800000},
      {&TFFDecoder::DecodeNextKeyFrame, 1200000},    {&TFFDecoder::DecodePreviousFrame, 1160000},
  };
  for (const auto& s : steps) {
    ASSERT_TRUE((dec.*s.Step)(-1)) << dec.LastErrMsg();
    EXPECT_EQ(dec.FrameInfo().PTS, s.Lands);
  }
  // The picture held is really that picture, not a neighbour's.
  EXPECT_NEAR(dec.FrameInfo().Picture.data[0][0], ClipLuma(29), 1);

  // Past the last key frame there is no next one, only the end.
  DecodeTo(dec, 45 * kFrameUs);
  EXPECT_FALSE(dec.DecodeNextKeyFrame());
  EXPECT_TRUE(dec.Eof());

  ASSERT_TRUE(dec.Seek(0));
  ASSERT_TRUE(dec.Decode());
  EXPECT_FALSE(dec.DecodePreviousKeyFrame());
  EXPECT_EQ(dec.LastErrMsg().rfind("Could not seek to the previous key-frame. ", 0), 0u) << dec.LastErrMsg();
  EXPECT_FALSE(dec.DecodePreviousFrame());
}

TEST_F(DecodeFixture, BitmapShowsTheDecodedPicture) {
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(Clip("clip.mkv", kClip)));
  platform::TBitmap bitmap;
  EXPECT_FALSE(dec.CopyToBitmap(bitmap));
  EXPECT_EQ(dec.LastErrMsg(), "picture not ready, please decode first");
  EXPECT_EQ(dec.GetBitmapPtr(), nullptr);

  EXPECT_EQ(dec.BitmapBitsPixel(), 24);
  for (int n : {0, 9, 10, 37}) {
    DecodeTo(dec, n * kFrameUs);
    ASSERT_TRUE(dec.CopyToBitmap(bitmap)) << dec.LastErrMsg();
    ASSERT_EQ(bitmap.Width(), 64);
    ASSERT_EQ(bitmap.Height(), 48);
    ASSERT_EQ(bitmap.PixelFormat(), platform::pf24bit);
    const int grey = ScreenGrey(ClipLuma(n));
    for (int row : {0, 47}) {
      const std::uint8_t* line = bitmap.ScanLine(row);
      for (int x : {0, 31, 63})
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(line[x * 3 + c], grey, 3) << "picture " << n << " x " << x;
    }
    const ffutil::TDIB* dib = dec.GetBitmapPtr();
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(dib->Width, 64);
    EXPECT_EQ(dib->BitsPixel, 24);
    EXPECT_NEAR(dib->Bits[0], grey, 3);
  }

  dec.SetBitmapBitsPixel(32);
  ASSERT_TRUE(dec.CopyToBitmap(bitmap));
  EXPECT_EQ(bitmap.PixelFormat(), platform::pf32bit);
  EXPECT_NEAR(bitmap.ScanLine(10)[4 * 5 + 1], ScreenGrey(ClipLuma(37)), 3);
}

TEST_F(DecodeFixture, DeinterlacingIsRefusedOnceAndThePictureKept) {
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(Clip("clip.mkv", kClip)));
  dec.SetDeinterlace(true);
  ASSERT_TRUE(dec.Decode());
  EXPECT_FALSE(dec.Deinterlace());
  EXPECT_EQ(dec.LastErrMsg(), "deinterlacing failed.");
  ASSERT_TRUE(dec.Decode());
  int reports = 0;
  for (const TLogged& l : LogFrom(&dec)) reports += l.Msg == "deinterlacing failed." && l.Level == fflog::llError;
  EXPECT_EQ(reports, 1);
}

// All blocks of the first audio stream, concatenated.
std::vector<std::uint8_t> DecodeAll(TFFDecoder& dec, std::vector<probe::TWaveInfo>* blocks = nullptr) {
  std::vector<std::uint8_t> all;
  while (dec.DecodeAudio()) {
    const probe::TWaveInfo& w = dec.WaveInfo();
    all.insert(all.end(), w.Buffer, w.Buffer + w.Size);
    if (blocks) blocks->push_back(w);
  }
  return all;
}

TEST_F(DecodeFixture, AudioComesInTheWantedFormat) {
  const std::string stereo = Clip("stereo.wav", kStereo);
  const std::string mono = Clip("mono.wav", kMono22k);
  // A codec that decodes to float samples, each channel in its own plane.
  const std::string planar = Clip("tone.mka", {.Format = "matroska", .Codec = AV_CODEC_ID_MP2});
  // 0.4 s, written in whole blocks of 1024 samples.
  const int samples = 18 * 1024;
  const struct {
    std::string File;
    int Channels, Rate;
    bool Resamples;
    double Gain;  // mono spreads over both channels at half the power
    bool Lossless;
  } cases[] = {
      {stereo, 2, 44100, false, 1.0, true},     {mono, 2, 44100, true, M_SQRT1_2, false},
      {stereo, 1, 44100, true, 1.0, false},     {stereo, 2, 22050, true, 1.0, false},
      {planar, 2, 44100, true, 1.0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File + " to " + std::to_string(c.Channels) + "ch " + std::to_string(c.Rate));
    TFFDecoder dec;
    dec.SetDesireAudioChannels(c.Channels);
    dec.SetDesireAudioSampleRate(c.Rate);
    ASSERT_TRUE(dec.LoadFile(c.File));
    std::vector<probe::TWaveInfo> blocks;
    const std::vector<std::uint8_t> all = DecodeAll(dec, &blocks);
    EXPECT_EQ(dec.LastErrMsg(), "stream eof reached.");
    EXPECT_TRUE(dec.Eof());
    ASSERT_FALSE(blocks.empty());

    const int frameBytes = 2 * c.Channels;
    const double expected = static_cast<double>(samples) * c.Rate / 44100 * frameBytes;
    if (c.Resamples)
      EXPECT_NEAR(static_cast<double>(all.size()), expected, expected * 0.02);
    else
      EXPECT_EQ(all.size(), expected);
    std::int64_t elapsed = 0;
    for (const probe::TWaveInfo& w : blocks) {
      EXPECT_EQ(w.Channels, c.Channels);
      EXPECT_EQ(w.SampleRate, c.Rate);
      EXPECT_EQ(w.SampleFormat, AV_SAMPLE_FMT_S16);
      EXPECT_EQ(w.BytesPerSample, 2);
      EXPECT_EQ(w.BytesPerSecond, frameBytes * c.Rate);
      EXPECT_TRUE(w.Ready);
      EXPECT_EQ(w.Size % frameBytes, 0);
      EXPECT_EQ(w.Duration, static_cast<std::int64_t>(w.Size) * 1000000 / (frameBytes * c.Rate));
      EXPECT_NEAR(static_cast<double>(w.PTS), static_cast<double>(elapsed), 25000.0);
      elapsed += w.Duration;
    }
    bool announced = false;
    for (const TLogged& l : LogFrom(&dec)) announced |= l.Msg.rfind("need resample ", 0) == 0;
    EXPECT_EQ(announced, c.Resamples);

    // The tone itself: channels agree and follow the sine.
    const auto* s16 = reinterpret_cast<const std::int16_t*>(all.data());
    const int frames = static_cast<int>(all.size()) / frameBytes;
    double peak = 0;
    for (int i = 0; i < frames; ++i) {
      if (c.Channels == 2) {
        ASSERT_NEAR(s16[2 * i], s16[2 * i + 1], c.Lossless ? 0 : 64) << "sample " << i;
      }
      peak = std::max(peak, std::abs(static_cast<double>(s16[c.Channels * i])));
    }
    EXPECT_NEAR(peak, 0.3 * 32767 * c.Gain, 0.03 * 32767);
    if (c.Lossless) {
      for (int i : {1, 100, 1000})
        EXPECT_NEAR(s16[2 * i], 0.3 * 32767 * std::sin(2 * M_PI * 440.0 * i / 44100), 2) << "sample " << i;
    }
  }
}

TEST_F(DecodeFixture, PicturesAndAudioComeFromTheirOwnStreams) {
  TFFDecoder dec;
  ASSERT_TRUE(dec.LoadFile(Write("film.mkv", kFilm)));
  ASSERT_TRUE(dec.DecodeAudio()) << dec.LastErrMsg();
  EXPECT_EQ(dec.WaveInfo().StreamIndex, 1);
  ASSERT_TRUE(dec.Decode()) << dec.LastErrMsg();
  EXPECT_EQ(dec.FrameInfo().StreamIndex, 0);
  EXPECT_EQ(dec.Decode(1), false);
  EXPECT_EQ(dec.LastErrMsg(), "stream #1 is not video stream.");
  ASSERT_TRUE(dec.DecodeAudio(1)) << dec.LastErrMsg();
  EXPECT_EQ(dec.WaveInfo().StreamIndex, 1);
}

TEST_F(DecodeFixture, ReadAudioHandsOutEachBlockInPieces) {
  TFFDecoder whole, pieces;
  const std::string stereo = Clip("stereo.wav", kStereo);
  ASSERT_TRUE(whole.LoadFile(stereo));
  ASSERT_TRUE(pieces.LoadFile(stereo));
  const std::vector<std::uint8_t> expected = DecodeAll(whole);

  std::vector<std::uint8_t> got;
  std::uint8_t buffer[1000];
  // Asking without a buffer tells the size and hands nothing out.
  ASSERT_EQ(pieces.ReadAudio(nullptr, 1000), 1000);
  const int blockSize = pieces.WaveInfo().Size;
  ASSERT_GT(blockSize, 1000);
  for (int left = blockSize; left > 0; left -= 1000) {
    ASSERT_EQ(pieces.ReadAudio(buffer, 1000), std::min(left, 1000));
    got.insert(got.end(), buffer, buffer + std::min(left, 1000));
  }
  // The block is used up: the next piece comes from the next block.
  const std::int64_t firstPTS = pieces.WaveInfo().PTS;
  int n = pieces.ReadAudio(buffer, 1000);
  ASSERT_EQ(n, 1000);
  EXPECT_GT(pieces.WaveInfo().PTS, firstPTS);
  do got.insert(got.end(), buffer, buffer + n);
  while ((n = pieces.ReadAudio(buffer, 1000)) > 0);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(pieces.LastErrMsg(), "stream eof reached.");
  EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace probetest
