// What the decoder says about an input: counts, records, programs and the
// information text.
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "probe/FFDecode.h"
#include "probe/InfoTexts.h"
#include "tests/probe/ProbeFixture.h"

namespace probetest {
namespace {

using probe::TFFDecoder;

// Video, audio, video, audio, subtitle: the kinds interleave.
const TMediaSpec kMixed{"matroska",
                        {{AV_CODEC_ID_MPEG4, {{"language", "ger"}}},
                         {AV_CODEC_ID_MP2, {{"language", "eng"}}},
                         {AV_CODEC_ID_MPEG4, {}},
                         {AV_CODEC_ID_AAC, {}},
                         {AV_CODEC_ID_SUBRIP, {{"language", "fre"}}}},
                        {{"title", "Mixed"},
                         {"comment", "interleaved kinds"},
                         {"year", "2021"},
                         {"creation_time", "2021-05-04T03:02:01Z"}},
                        {}};

const TMediaSpec kTaggedWav{"wav",
                            {{AV_CODEC_ID_PCM_S16LE, {}}},
                            {{"title", "Tone"}, {"artist", "Someone"}, {"genre", "Test"}, {"track", "7"},
                             {"copyright", "none"}, {"comment", "hi"}, {"album", "Probes"}},
                            {}};

const TMediaSpec kShortMp4{"mp4", {{AV_CODEC_ID_MPEG4, {}}, {AV_CODEC_ID_AAC, {}}}, {}, {}};

const TMediaSpec kTransport{"mpegts", {{AV_CODEC_ID_MPEG4, {}}, {AV_CODEC_ID_MP2, {}}}, {}, {}};

// The film's stream lines as the information text writes them.
const std::string kFilmVideoLine =
    "  Stream #0(ger), 1/1000: Video: mpeg4 (Simple Profile), yuv420p, 64x48 [SAR 1:1 DAR 4:3], 25 tbr, 1k tbn, "
    "start: 0.011000";
const std::string kFilmAudioLine =
    "  Stream #1(eng), 1/1000: Audio: mp2, 44100 Hz, stereo, s16p, 128 kb/s, start: 0.000000";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no CR LF>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Printf(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

TEST_F(ProbeFixture, FreshDecoderHasNoInput) {
  TFFDecoder d;
  for (std::int32_t value : {d.StreamCount(), d.ProgramCount(), d.AudioStreamCount(), d.VideoStreamCount(),
                             d.SubtitleStreamCount(), d.FirstAudioStreamIndex(), d.FirstVideoStreamIndex(),
                             d.FirstSubtitleStreamIndex()})
    EXPECT_EQ(value, -1);
  EXPECT_EQ(d.FileSize(), -1);
  EXPECT_EQ(d.FileHandle(), nullptr);

  const probe::TFileStreamInfo info = d.FileStreamInfo();
  EXPECT_EQ(info.Duration, -1);
  EXPECT_EQ(info.StartTime, probe::kNoTime);
  EXPECT_EQ(d.LastErrMsg(), "file not loaded.");
  EXPECT_TRUE(Logged(&d, fflog::llWarning, "file not loaded."));

  EXPECT_EQ(d.FileInfoText(), "");
  EXPECT_EQ(d.FileName(), "");
  EXPECT_FALSE(d.IsAudioStream(0));
  EXPECT_EQ(d.FirstVideoStreamInfo().Width, -1);
  EXPECT_EQ(d.GetProgrames(0).id, -1);
  EXPECT_EQ(d.LastErrMsg(), "file not loaded.");
}

TEST_F(ProbeFixture, CountsAndFirstIndexes) {
  const struct {
    const char* Name;
    const TMediaSpec& Spec;
    const char* FormatName;
    int Streams, Programs, Video, Audio, Subtitle, FirstVideo, FirstAudio, FirstSubtitle;
  } cases[] = {
      {"mixed.mkv", kMixed, "matroska,webm", 5, 0, 2, 2, 1, 0, 1, 4},
      {"short.mp4", kShortMp4, "mov,mp4,m4a,3gp,3g2,mj2", 2, 0, 1, 1, 0, 0, 1, -1},
      {"tagged.wav", kTaggedWav, "wav", 1, 0, 0, 1, 0, -1, 0, -1},
      {"transport.ts", kTransport, "mpegts", 2, 1, 1, 1, 0, 0, 1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Write(c.Name, c.Spec);
    TFFDecoder d;
    ASSERT_TRUE(d.LoadFile(path)) << d.LastErrMsg();
    EXPECT_EQ(d.FileName(), path);
    EXPECT_EQ(d.FormatName(), c.FormatName);
    EXPECT_EQ(d.FileSize(), static_cast<std::int64_t>(std::filesystem::file_size(path)));
    EXPECT_EQ(d.StreamCount(), c.Streams);
    EXPECT_EQ(d.ProgramCount(), c.Programs);
    EXPECT_EQ(d.VideoStreamCount(), c.Video);
    EXPECT_EQ(d.AudioStreamCount(), c.Audio);
    EXPECT_EQ(d.SubtitleStreamCount(), c.Subtitle);
    EXPECT_EQ(d.FirstVideoStreamIndex(), c.FirstVideo);
    EXPECT_EQ(d.FirstAudioStreamIndex(), c.FirstAudio);
    EXPECT_EQ(d.FirstSubtitleStreamIndex(), c.FirstSubtitle);
    d.CloseFile();
    EXPECT_EQ(d.StreamCount(), -1);
    EXPECT_EQ(d.FileSize(), -1);
  }
}

TEST_F(ProbeFixture, StreamRecords) {
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(Write("mixed.mkv", kMixed)));

  const probe::TVideoStreamInfo v = d.FirstVideoStreamInfo();
  EXPECT_EQ(v.Language, "ger");
  EXPECT_EQ(v.CodecName, "mpeg4(MPEG-4 part 2)");
  EXPECT_EQ(v.Width, 64);
  EXPECT_EQ(v.Height, 48);
  EXPECT_NEAR(v.AspectRatio, 4.0 / 3.0, 1e-5);
  EXPECT_EQ(v.PixFmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(v.FrameRate.num, 25);
  EXPECT_EQ(v.FrameRate.den, 1);
  ASSERT_NE(v.StartTime, probe::kNoTime);
  EXPECT_EQ(v.StartTimeScaled, v.StartTime * 1000);  // the track's time base is 1/1000
  EXPECT_EQ(v.Duration, probe::kNoTime);  // this container keeps durations in tags
  EXPECT_EQ(v.DurationScaled, -1);

  const probe::TAudioStreamInfo mp2 = d.FirstAudioStreamInfo();
  EXPECT_EQ(mp2.Language, "eng");
  EXPECT_EQ(mp2.CodecName, "mp2(MP2 (MPEG audio layer 2))");
  EXPECT_EQ(mp2.Channels, 2);
  EXPECT_EQ(mp2.SampleRate, 44100);
  EXPECT_EQ(mp2.SampleFormat, AV_SAMPLE_FMT_S16P);
  EXPECT_EQ(mp2.BitRate, 128000);

  const probe::TAudioStreamInfo aac = d.GetAudioStreamInfos(3);
  EXPECT_EQ(aac.CodecName, "aac(AAC (Advanced Audio Coding))");
  EXPECT_EQ(aac.Language, "");

  const probe::TSubtitleStreamInfo sub = d.FirstSubtitleStreamInfo();
  EXPECT_EQ(sub.Language, "fre");
  EXPECT_EQ(sub.CodecName, "srt(SubRip subtitle)");

  const probe::TFileStreamInfo f = d.FileStreamInfo();
  EXPECT_EQ(f.Title, "Mixed");
  EXPECT_EQ(f.Comment, "interleaved kinds");  // stored as "COMMENT"
  EXPECT_EQ(f.Year, 2021);
  EXPECT_EQ(f.Track, 0);
  EXPECT_EQ(f.TimeStamp, INT64_C(1620097321000000));
  EXPECT_EQ(f.StartTime, 0);
  EXPECT_EQ(f.Duration, d.FileHandle()->duration);
  EXPECT_GT(f.Duration, 300000);
  EXPECT_GT(f.BitRate, 0);
}

TEST_F(ProbeFixture, RecordsOfTaggedWave) {
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(Write("tagged.wav", kTaggedWav)));
  const probe::TFileStreamInfo f = d.FileStreamInfo();
  EXPECT_EQ(f.Title, "Tone");
  EXPECT_EQ(f.Genre, "Test");
  EXPECT_EQ(f.Copyright, "none");
  EXPECT_EQ(f.Comment, "hi");
  EXPECT_EQ(f.Album, "Probes");
  EXPECT_EQ(f.Track, 7);
  EXPECT_EQ(f.Year, 0);
  EXPECT_EQ(f.Author, "");
  EXPECT_EQ(f.StartTime, probe::kNoTime);
  EXPECT_NEAR(static_cast<double>(f.Duration), 400000, 20000);

  // No start time: the marker stays, its scaled value is -1.
  const probe::TAudioStreamInfo a = d.FirstAudioStreamInfo();
  EXPECT_EQ(a.StartTime, probe::kNoTime);
  EXPECT_EQ(a.StartTimeScaled, -1);
  EXPECT_EQ(a.DurationScaled, ff::av_rescale_q(a.Duration, AVRational{1, 44100}, AVRational{1, 1000000}));
  EXPECT_EQ(a.CodecName, "pcm_s16le(PCM signed 16-bit little-endian)");
  EXPECT_EQ(a.BitRate, 1411200);
}

TEST_F(ProbeFixture, IndexRules) {
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(Write("mixed.mkv", kMixed)));

  const probe::TVideoStreamInfo notVideo = d.GetVideoStreamInfos(1);
  EXPECT_EQ(d.LastErrMsg(), "stream #1 is not video stream.");
  EXPECT_TRUE(Logged(&d, fflog::llError, "stream #1 is not video stream."));
  EXPECT_EQ(notVideo.Width, -1);
  EXPECT_EQ(notVideo.AspectRatio, -1.0f);
  EXPECT_EQ(notVideo.FrameRate.num, -1);
  EXPECT_EQ(notVideo.FrameRate.den, -1);
  EXPECT_EQ(notVideo.CodecName, "");

  EXPECT_EQ(d.GetAudioStreamInfos(-5).CodecName, d.FirstAudioStreamInfo().CodecName);
  EXPECT_EQ(d.GetAudioStreamInfos(-5).Language, "eng");

  const struct {
    const char* Query;
    std::function<bool()> Run;
    const char* Error;
  } cases[] = {
      {"audio #9", [&] { return d.GetAudioStreamInfos(9).SampleRate == -1; }, "stream index #9 is invalid."},
      {"audio #0", [&] { return d.GetAudioStreamInfos(0).Channels == -1; }, "stream #0 is not audio stream."},
      {"subtitle #2", [&] { return d.GetSubtitleStreamInfos(2).CodecName.empty(); }, "stream #2 is not subtitle stream."},
      {"program #0", [&] { return d.GetProgrames(0).discard == AVDISCARD_NONE; }, "no program found."},
      {"is audio #5", [&] { return !d.IsAudioStream(5); }, "stream index #5 is invalid."},
      {"is video #-1", [&] { return !d.IsVideoStream(-1); }, "stream index #-1 is invalid."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Query);
    EXPECT_TRUE(c.Run());
    EXPECT_EQ(d.LastErrMsg(), c.Error);
    EXPECT_TRUE(Logged(&d, fflog::llError, c.Error));
  }

  EXPECT_TRUE(d.IsVideoStream(2));
  EXPECT_FALSE(d.IsAudioStream(2));
  EXPECT_TRUE(d.IsAudioStream(3));
  EXPECT_TRUE(d.IsSubtitleStream(4));

  TFFDecoder wav;
  ASSERT_TRUE(wav.LoadFile(Write("tagged.wav", kTaggedWav)));
  EXPECT_EQ(wav.FirstVideoStreamInfo().Height, -1);
  EXPECT_EQ(wav.LastErrMsg(), "no video stream.");
  EXPECT_EQ(wav.FirstSubtitleStreamInfo().Language, "");
  EXPECT_EQ(wav.LastErrMsg(), "no subtitle stream.");
}

TEST_F(ProbeFixture, FileInfoTextOfFilm) {
  const std::string path = Write("film.mkv", kFilm);
  TFFDecoder d;
  ASSERT_TRUE(d.LoadFile(path));
  const std::int64_t size = static_cast<std::int64_t>(std::filesystem::file_size(path));
  ASSERT_GT(size, 1024);
  ASSERT_LE(size, 1048576);
  const std::vector<std::string> expected = {
      "File Name: " + path,
      "Format Name: matroska,webm",
      "Format Long Name: Matroska / WebM",
      "File Size: " + Printf("%.2f KB", size / 1024.0),
      "Metadata:",
      "  title           : Probe Film",
      "  encoder         : Lavf",
      "  COMMENT         : two lines",
      "  YEAR            : 2021",
      "Duration: 00:00:00.418, start: 0.000000, bitrate: " + std::to_string(d.FileHandle()->bit_rate / 1000) +
          " kb/s",
      "Chapter #0: start 0.000000, end 0.200000",
      "  Metadata:",
      "    title           : Opening",
      kFilmVideoLine,
      "  Metadata:",
      "    title           : Picture",
      "    DURATION        : 00:00:00.371000000",
      kFilmAudioLine,
      "  Metadata:",
      "    DURATION        : 00:00:00.418000000",
  };
  const std::vector<std::string> actual = Lines(d.FileInfoText());
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(actual[i], expected[i]) << "line " << i;
}

struct TInputCloser {
  void operator()(AVFormatContext* ic) const { ff::avformat_close_input(&ic); }
};
using TInputPtr = std::unique_ptr<AVFormatContext, TInputCloser>;

TEST_F(ProbeFixture, ProgramsComeFirstThenStreamsOfNoProgram) {
  const std::string path = Write("film.mkv", kFilm);
  AVFormatContext* ic = nullptr;
  ASSERT_GE(ff::avformat_open_input(&ic, path.c_str(), nullptr, nullptr), 0);
  TInputPtr input(ic);
  ASSERT_GE(ff::avformat_find_stream_info(ic, nullptr), 0);
  // One program holding only the audio stream, whose only tag is its language.
  AVProgram* program = ff::av_new_program(ic, 7);
  ASSERT_NE(program, nullptr);
  ff::av_dict_set(&program->metadata, "name", "Main", 0);
  ff::av_program_add_stream_index(ic, 7, 1);
  ff::av_dict_free(&ic->streams[1]->metadata);
  ff::av_dict_set(&ic->streams[1]->metadata, "language", "eng", 0);

  TFFDecoder d;
  d.SetFileHandle(ic);
  EXPECT_EQ(d.ProgramCount(), 1);
  const probe::TAVProgram p = d.GetProgrames(0);
  EXPECT_EQ(p.id, 7);
  ASSERT_EQ(p.nb_stream_indexes, 1u);
  EXPECT_EQ(p.stream_index[0], 1u);
  EXPECT_EQ(d.GetProgrames(1).id, -1);
  EXPECT_EQ(d.LastErrMsg(), "program index #1 is invalid.");

  const std::vector<std::string> lines = Lines(d.FileInfoText());
  const std::vector<std::string> tail = {
      "Program 7 Main",   "  Metadata:", "    name            : Main",     kFilmAudioLine, "No Program",
      kFilmVideoLine,     "  Metadata:", "    title           : Picture", "    DURATION        : 00:00:00.371000000"};
  ASSERT_GE(lines.size(), tail.size());
  const std::vector<std::string> actualTail(lines.end() - tail.size(), lines.end());
  EXPECT_EQ(actualTail, tail);
}

// Reads a file through the application's own I/O context, which cannot
// seek and so cannot tell the size.
int ReadFromFile(void* opaque, uint8_t* buf, int size) {
  const std::size_t n = std::fread(buf, 1, size, static_cast<std::FILE*>(opaque));
  return n > 0 ? static_cast<int>(n) : AVERROR_EOF;
}

TEST_F(ProbeFixture, SizeOfAnInputThatCannotTellIt) {
  const std::string path = Write("film.mkv", kFilm);
  const std::int64_t onDisk = static_cast<std::int64_t>(std::filesystem::file_size(path));
  const struct {
    std::string Url;
    std::int64_t Size;
  } cases[] = {{path, onDisk}, {"from the application", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Url);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    ASSERT_TRUE(file);
    auto* buffer = static_cast<unsigned char*>(ff::av_malloc(4096));
    AVIOContext* pb = ff::avio_alloc_context(buffer, 4096, 0, file.get(), ReadFromFile, nullptr, nullptr);
    ASSERT_NE(pb, nullptr);
    AVFormatContext* ic = ff::avformat_alloc_context();
    ic->pb = pb;
    ASSERT_GE(ff::avformat_open_input(&ic, c.Url.c_str(), nullptr, nullptr), 0);
    {
      TFFDecoder d;
      d.SetFileHandle(ic);
      EXPECT_EQ(d.FileSize(), c.Size);
      EXPECT_NE(d.FileInfoText().find("\r\nFile Size: " + probe::ByteSizeText(c.Size) + "\r\n"), std::string::npos);
    }
    ff::avformat_close_input(&ic);
    ff::av_freep(&pb->buffer);
    ff::avio_context_free(&pb);
  }
}

TEST(InfoTexts, NumberTexts) {
  const struct {
    std::int64_t Size;
    const char* Text;
  } sizes[] = {{1024, "1024 Byte"},         {1025, "1.00 KB"}, {1048576, "1024.00 KB"}, {1048577, "1.00 MB"},
               {1073741825, "1.00 GB"},     {0, "0 Byte"},     {-38, "-38 Byte"}};
  for (const auto& c : sizes) EXPECT_EQ(probe::ByteSizeText(c.Size), c.Text) << c.Size;

  const struct {
    double Rate;
    const char* Unit;
    const char* Text;
  } rates[] = {{25, "fps", ", 25 fps"},       {30000.0 / 1001, "fps", ", 29.97 fps"}, {90000, "tbn", ", 90k tbn"},
               {50, "tbc", ", 50 tbc"},       {1000, "tbn", ", 1k tbn"},              {12800, "tbn", ", 12800 tbn"},
               {27.777, "fps", ", 27.78 fps"}};
  for (const auto& c : rates) EXPECT_EQ(probe::RateText(c.Rate, c.Unit), c.Text) << c.Rate;

  const struct {
    std::int64_t Us;
    const char* Text;
  } starts[] = {{1500000, "1.500000"}, {0, "0.000000"}, {probe::kNoTime, ""}, {-2500000, "-2.500000"}};
  for (const auto& c : starts) EXPECT_EQ(probe::StartText(c.Us), c.Text) << c.Us;
}

}  // namespace
}  // namespace probetest
