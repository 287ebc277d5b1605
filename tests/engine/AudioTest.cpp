// The sound track road: songs written by the test through the libraries
// (a tone in the formats the window offers), converted together with
// painted pictures as the window does, and the result read back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "engine/FFmpeg.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"
#include "ffbind/SwResampleStubs.h"
#include "frameinput/FrameInput.h"

namespace {

namespace fs = std::filesystem;

// What a song file holds: a 440 Hz tone, louder on the first channel
// (channel c has amplitude 0.4 / (1 + 3c)).
struct TSong {
  const char* format;   // muxer
  const char* encoder;
  int rate = 44100;
  int channels = 2;
  double seconds = 1.0;
  double gapAt = -1, gapLength = 0;  // a hole in the stamps, seconds
  double stretch = 1.0;              // stamps run this much faster than the samples
};

double Amplitude(int channel) { return 0.4 / (1 + 3 * channel); }

// Writes the song with the libraries' own encoder and muxer; "" or what failed.
std::string WriteSong(const std::string& file, const TSong& song) {
  AVFormatContext* oc = nullptr;
  if (ff::avformat_alloc_output_context2(&oc, nullptr, song.format, file.c_str()) < 0) return "muxer";
  const AVCodec* codec = ff::avcodec_find_encoder_by_name(song.encoder);
  AVCodecContext* c = codec ? ff::avcodec_alloc_context3(codec) : nullptr;
  AVPacket* pkt = ff::av_packet_alloc();
  AVFrame* frame = ff::av_frame_alloc();
  SwrContext* swr = nullptr;
  std::string error;
  auto fail = [&](const char* what) {
    if (error.empty()) error = what;
  };
  auto drain = [&](AVFrame* f) {
    if (ff::avcodec_send_frame(c, f) < 0) return fail("send");
    while (ff::avcodec_receive_packet(c, pkt) >= 0) {
      ff::av_packet_rescale_ts(pkt, c->time_base, oc->streams[0]->time_base);
      pkt->stream_index = 0;
      if (ff::av_interleaved_write_frame(oc, pkt) < 0) fail("write");
    }
  };
  if (!c) {
    fail("encoder");
  } else {
    c->sample_rate = song.rate;
    ff::av_channel_layout_default(&c->ch_layout, song.channels);
    c->sample_fmt = codec->sample_fmts[0];
    c->time_base = AVRational{1, song.rate};
    // The DTS encoder takes high rates only; the RealAudio one a fixed low one.
    c->bit_rate = song.rate < 16000 ? 8000 : std::string(song.encoder) == "dca" ? 768000 : 128000;
    c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVStream* st = ff::avformat_new_stream(oc, nullptr);
    if (ff::avcodec_open2(c, codec, nullptr) < 0 || ff::avcodec_parameters_from_context(st->codecpar, c) < 0) {
      fail("open encoder");
    } else {
      st->time_base = c->time_base;
      AVDictionary* opts = nullptr;
      ff::av_dict_set(&opts, "write_xing", "0", 0);  // songs are joined byte-wise by one test
      ff::av_dict_set(&opts, "id3v2_version", "0", 0);
      if (ff::avio_open(&oc->pb, file.c_str(), AVIO_FLAG_WRITE) < 0 || ff::avformat_write_header(oc, &opts) < 0)
        fail("header");
      ff::av_dict_free(&opts);
      AVChannelLayout in_layout;
      ff::av_channel_layout_default(&in_layout, song.channels);
      if (ff::swr_alloc_set_opts2(&swr, &c->ch_layout, c->sample_fmt, song.rate, &in_layout, AV_SAMPLE_FMT_DBL,
                                  song.rate, 0, nullptr) < 0 ||
          ff::swr_init(swr) < 0)
        fail("resampler");
      const int step = c->frame_size > 0 ? c->frame_size : 1024;
      const bool whole = !(codec->capabilities & (AV_CODEC_CAP_VARIABLE_FRAME_SIZE | AV_CODEC_CAP_SMALL_LAST_FRAME));
      const int total = static_cast<int>(song.rate * song.seconds);
      std::vector<double> tone(static_cast<std::size_t>(step) * song.channels);
      for (int at = 0; error.empty() && at < total; at += step) {
        const int n = std::min(step, total - at);
        ff::av_frame_unref(frame);
        frame->format = c->sample_fmt;
        frame->sample_rate = song.rate;
        ff::av_channel_layout_copy(&frame->ch_layout, &c->ch_layout);
        frame->nb_samples = whole ? step : n;
        if (ff::av_frame_get_buffer(frame, 0) < 0) return "frame";
        std::fill(tone.begin(), tone.end(), 0.0);
        for (int i = 0; i < n; ++i)
          for (int ch = 0; ch < song.channels; ++ch)
            tone[static_cast<std::size_t>(i) * song.channels + ch] =
                Amplitude(ch) * std::sin(2 * M_PI * 440.0 * (at + i) / song.rate);
        const std::uint8_t* in[] = {reinterpret_cast<const std::uint8_t*>(tone.data())};
        if (ff::swr_convert(swr, frame->extended_data, frame->nb_samples, in, frame->nb_samples) < 0) fail("convert");
        double t = static_cast<double>(at) / song.rate;
        if (song.gapAt >= 0 && t >= song.gapAt) t += song.gapLength;
        frame->pts = std::llround(t * song.stretch * song.rate);
        drain(frame);
      }
      drain(nullptr);
      if (ff::av_write_trailer(oc) < 0) fail("trailer");
    }
  }
  ff::swr_free(&swr);
  ff::av_frame_free(&frame);
  ff::av_packet_free(&pkt);
  ff::avcodec_free_context(&c);
  if (oc) ff::avio_closep(&oc->pb);
  ff::avformat_free_context(oc);
  return error;
}

// An MP4 whose sound no decoder of these libraries reads (MPEG-H 3D audio
// packets of filler bytes).
void WriteUndecodable(const std::string& file) {
  AVFormatContext* oc = nullptr;
  ASSERT_GE(ff::avformat_alloc_output_context2(&oc, nullptr, "mp4", file.c_str()), 0);
  AVStream* st = ff::avformat_new_stream(oc, nullptr);
  st->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  st->codecpar->codec_id = AV_CODEC_ID_MPEGH_3D_AUDIO;
  st->codecpar->sample_rate = 48000;
  ff::av_channel_layout_default(&st->codecpar->ch_layout, 2);
  st->time_base = AVRational{1, 48000};
  EXPECT_GE(ff::avio_open(&oc->pb, file.c_str(), AVIO_FLAG_WRITE), 0);
  EXPECT_GE(ff::avformat_write_header(oc, nullptr), 0);
  AVPacket* pkt = ff::av_packet_alloc();
  for (int i = 0; i < 10; ++i) {
    ff::av_new_packet(pkt, 100);
    std::fill_n(pkt->data, 100, static_cast<std::uint8_t>(i));
    pkt->pts = pkt->dts = i * 1024;
    pkt->duration = 1024;
    EXPECT_GE(ff::av_interleaved_write_frame(oc, pkt), 0);
  }
  ff::av_packet_free(&pkt);
  EXPECT_GE(ff::av_write_trailer(oc), 0);
  ff::avio_closep(&oc->pb);
  ff::avformat_free_context(oc);
}

// What the written file holds, read back with libavformat.
struct TTrack {
  AVCodecID codec = AV_CODEC_ID_NONE;
  int rate = 0, channels = 0;
  AVSampleFormat format = AV_SAMPLE_FMT_NONE;
  double end = 0;      // of the last packet, seconds
  double samples = 0;  // sum of packet durations, seconds
  std::vector<double> rms;  // per channel, for 16-bit PCM tracks
};
struct TWritten {
  int videoStreams = 0, audioStreams = 0;
  std::vector<AVCodecID> audioCodecs;  // every audio stream in order
  std::vector<int> audioChannels;
  double videoEnd = 0;
  TTrack audio;
};

TWritten ReadBack(const std::string& file) {
  TWritten w;
  AVFormatContext* ic = nullptr;
  if (ff::avformat_open_input(&ic, file.c_str(), nullptr, nullptr) < 0) {
    ADD_FAILURE() << "cannot open " << file;
    return w;
  }
  ff::avformat_find_stream_info(ic, nullptr);
  int audio = -1;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVCodecParameters* par = ic->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) ++w.videoStreams;
    if (par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    ++w.audioStreams;
    w.audioCodecs.push_back(par->codec_id);
    w.audioChannels.push_back(par->ch_layout.nb_channels);
    audio = static_cast<int>(i);
    w.audio.codec = par->codec_id;
    w.audio.rate = par->sample_rate;
    w.audio.channels = par->ch_layout.nb_channels;
    w.audio.format = static_cast<AVSampleFormat>(par->format);
  }
  const bool pcm = w.audio.codec == AV_CODEC_ID_PCM_S16LE;
  std::vector<double> sums(static_cast<std::size_t>(w.audio.channels), 0.0);
  std::int64_t count = 0;
  AVPacket* pkt = ff::av_packet_alloc();
  while (ff::av_read_frame(ic, pkt) >= 0) {
    const AVStream* st = ic->streams[pkt->stream_index];
    const double tb = av_q2d(st->time_base);
    const std::int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (pkt->stream_index == audio) {
      // PCM packets in Matroska carry no duration: their size tells it.
      const double duration = pcm ? pkt->size / (2.0 * w.audio.channels * w.audio.rate) : pkt->duration * tb;
      w.audio.end = std::max(w.audio.end, t * tb + duration);
      w.audio.samples += duration;
      const auto* s = reinterpret_cast<const std::int16_t*>(pkt->data);
      for (int i = 0; pcm && i < pkt->size / 2; ++i, ++count) sums[i % w.audio.channels] += double(s[i]) * s[i];
    } else if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      w.videoEnd = std::max(w.videoEnd, (t + pkt->duration) * tb);
    }
    ff::av_packet_unref(pkt);
  }
  ff::av_packet_free(&pkt);
  ff::avformat_close_input(&ic);
  for (double s : sums)
    if (pcm && count) w.audio.rms.push_back(std::sqrt(s / (count / w.audio.channels)) / 32768.0);
  return w;
}

// The job builder's strings without "-re" (pacing would only slow the
// tests down); FLV gets its own codecs as the window chooses them.
const char* const kInput = "-f frameinput -input_type canvas -pix_fmt bgr24 -r 30/1 -s 64x48";
std::string OutputOptions(const std::string& extra) {
  return "-c:v mpeg4 -c:a mp2 -r 30/1 -s 64x48 -qscale:v 10 -aspect 16:9" + extra + " -vsync 0";
}
const char* const kFlvCodecs = " -c:v flv -c:a libmp3lame -ar 44100";

class AudioTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
    frameinput::RegisterFrameInputFormat();
  }
  void SetUp() override {
    dir = fs::temp_directory_path() / ("fr_audio_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Song(const std::string& name, const TSong& song) {
    const std::string file = (dir / name).string();
    const std::string error = WriteSong(file, song);
    EXPECT_EQ(error, "") << name;
    return file;
  }

  // The window's task: `pictures` pictures shown `delay` microseconds each
  // (one frame more holds the last one), the song as second input; the
  // source stops the engine when the pictures run out, as the window's
  // does. The engine's error text, or "" on success.
  std::string Convert(const std::string& song, const std::string& extra, const std::string& file,
                      const std::function<void(engine::TCustomFFmpeg&)>& prepare = nullptr) {
    frameinput::TFrameInputAdapter adapter;
    engine::TCustomFFmpeg e;
    adapter.OnReadFrameCanvas = [&](frameinput::TFrameInputAdapter*, platform::TBitmap& canvas,
                                    frameinput::TInputFrameInfo* info) -> std::int32_t {
      const int n = info->FrameNumber;
      if (n > pictures + 1) {
        e.Stop(false);
        return -1;
      }
      for (int y = 0; y < canvas.Height(); ++y) std::fill_n(canvas.ScanLine(y), canvas.Width() * 3, 60 * n);
      info->TimeStamp = delay * (n - 1);
      return 0;
    };
    if (prepare) prepare(e);
    try {
      e.ParseOptions(kInput);
      if (e.OpenInput(nullptr, adapter.FileName()) < 0) return e.LastErrMsg();
      if (e.OpenInput(nullptr, song) < 0) return e.LastErrMsg();
      e.ParseOptions(OutputOptions(extra));
      if (e.OpenOutput(file) < 0) return e.LastErrMsg();
      e.transcode_loop();
    } catch (const engine::FFmpegException& ex) {
      return ex.what();
    }
    return "";
  }

  fs::path dir;
  int pictures = 2;
  std::int64_t delay = 400000;  // the video lasts pictures * delay + 1/30 s
};

TEST_F(AudioTest, EverySongFormatTheLibrariesReadBecomesTheSoundTrack) {
  struct TCase {
    const char* name;
    TSong song;
    double slack = 0.1;  // how far the sound may pass the pictures: about one frame of the song
  } cases[] = {
      {"tone.WAV", {"wav", "pcm_s16le"}},          {"tone.MP3", {"mp3", "libmp3lame"}},
      {"tone.FLAC", {"flac", "flac"}},             {"tone.AAC", {"adts", "aac"}},
      {"tone.M4A", {"ipod", "aac"}},               {"tone.AC3", {"ac3", "ac3", 48000}},
      {"tone.DTS", {"dts", "dca", 48000}},         {"tone.MP2", {"mp2", "mp2"}},
      {"tone.MPA", {"mp2", "mp2", 32000, 1}},      {"tone.OGG", {"ogg", "libvorbis"}},
      {"tone.TTA", {"tta", "tta"}, 1.05},                {"tone.WMA", {"asf", "wmav2"}},
      {"tone.RA", {"rm", "real_144", 8000, 1}},    {"tone.MKA", {"matroska", "flac", 48000, 1}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string song = Song(c.name, c.song);
    const std::string file = (dir / "out.MP4").string();
    ASSERT_EQ(Convert(song, "", file), "");
    const TWritten w = ReadBack(file);
    EXPECT_EQ(w.videoStreams, 1);
    ASSERT_EQ(w.audioStreams, 1);
    EXPECT_EQ(w.audio.codec, AV_CODEC_ID_MP3);  // MP4 writes every MPEG audio layer under one id
    EXPECT_EQ(w.audio.rate, c.song.rate == 8000 ? 16000 : c.song.rate);  // the nearest rate MP2 takes
    EXPECT_EQ(w.audio.channels, c.song.channels);
    // The song outlasts the pictures: the sound stops with them.
    EXPECT_NEAR(w.audio.end, w.videoEnd, c.slack);
  }
}

TEST_F(AudioTest, EveryContainerCarriesTheSound) {
  struct TCase {
    const char* ext;
    const char* extra;
    int rate, channels;  // of the song
    AVCodecID codec;
    int outRate;
  } cases[] = {
      {".FLV", kFlvCodecs, 48000, 2, AV_CODEC_ID_MP3, 44100}, {".FLV", kFlvCodecs, 8000, 1, AV_CODEC_ID_MP3, 44100},
      {".MP4", "", 8000, 1, AV_CODEC_ID_MP3, 16000},          {".MOV", "", 48000, 2, AV_CODEC_ID_MP2, 48000},
      {".MKV", "", 48000, 2, AV_CODEC_ID_MP2, 48000},         {".WMV", "", 8000, 1, AV_CODEC_ID_MP2, 16000},
      {".AVI", "", 48000, 2, AV_CODEC_ID_MP2, 48000},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.ext) + " " + std::to_string(c.rate));
    const std::string song = Song("song.wav", {"wav", "pcm_s16le", c.rate, c.channels, 2.0});
    const std::string file = (dir / (std::string("20220305140709") + c.ext)).string();
    ASSERT_EQ(Convert(song, c.extra, file), "");
    const TWritten w = ReadBack(file);
    EXPECT_EQ(w.videoStreams, 1);
    ASSERT_EQ(w.audioStreams, 1);
    EXPECT_EQ(w.audio.codec, c.codec);
    EXPECT_EQ(w.audio.rate, c.outRate);
    EXPECT_EQ(w.audio.channels, c.channels);
    EXPECT_NEAR(w.videoEnd, 0.8 + 1 / 30.0, 0.05);
    // The song is read 4 KiB at a time: the sound may pass the pictures by
    // one such block (written before they ended) and one encoder frame.
    const double block = 4096.0 / (2 * c.channels * c.rate);
    EXPECT_NEAR(w.audio.end, w.videoEnd, block + 1152.0 / c.outRate + 0.01);
  }
}

TEST_F(AudioTest, SoundEndsWithThePicturesOrBeforeThem) {
  struct TCase {
    double song;   // seconds
    const char* extra;
    double end;    // of the sound, seconds
  } cases[] = {
      {2.0, "", 1.2},             // a long song is cut with the pictures (3 shown 0.4 s each)
      {0.5, "", 0.5},             // a short one just ends
      {0.5, " -async 1", 0.5},    // with the input, whatever the mode
  };
  pictures = 3;
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.song) + c.extra);
    const std::string song = Song("song.mp3", {"mp3", "libmp3lame", 44100, 2, c.song});
    const std::string file = (dir / "out.MKV").string();
    ASSERT_EQ(Convert(song, c.extra, file), "");
    const TWritten w = ReadBack(file);
    EXPECT_NEAR(w.videoEnd, 1.2 + 1 / 30.0, 0.05);
    // Within one MP2 frame (1152 samples).
    EXPECT_NEAR(w.audio.end, c.end, 1152.0 / 44100 + 0.03);
  }
}

TEST_F(AudioTest, SyncModesOverStampsThatDoNotMatchTheSamples) {
  struct TCase {
    const char* name;
    TSong song;
    const char* extra;
    double samples, end;  // seconds of sound written, end of the sound
    const char* logged;   // "" when nothing is said
    double within = 0.02;
  } cases[] = {
      // 0.4 s of tone, a hole of 0.3 s, 0.4 s more.
      {"the hole stays a hole", {"matroska", "pcm_s16le", 8000, 1, 0.8, 0.4, 0.3}, "", 0.8, 1.1, ""},
      {"the hole is filled", {"matroska", "pcm_s16le", 8000, 1, 0.8, 0.4, 0.3}, " -async 1", 1.1, 1.1,
       "adding 2400 audio samples of silence"},
      // Stamps running 4% fast: below the drift threshold the resampler
      // stretches the sound a little.
      {"drift compensated", {"matroska", "pcm_s16le", 8000, 1, 1.0, -1, 0, 1.04}, " -async 100", 1.01, 1.01,
       "compensating audio timestamp drift:"},
      // Stamps running 15% slow: samples go whenever the sound gets ahead
      // of its stamps by more than the drift threshold (0.1 s).
      {"samples ahead of their stamps dropped", {"matroska", "pcm_s16le", 8000, 1, 1.0, -1, 0, 0.85}, " -async 1",
       0.85, 0.85, "discarding ", 0.1},
  };
  pictures = 3;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string song = Song("song.mka", c.song);
    const std::string file = (dir / "out.MKV").string();
    enginetest::TLogCapture log;
    fflog::GetLogger()->SetLogLevel(fflog::llVerbose);
    ASSERT_EQ(Convert(song, " -c:a pcm_s16le" + std::string(c.extra), file), "");
    const std::string text = log.Text();
    const TWritten w = ReadBack(file);
    ASSERT_EQ(w.audioStreams, 1);
    EXPECT_NEAR(w.audio.samples, c.samples, c.within);
    EXPECT_NEAR(w.audio.end, c.end, c.within);
    if (*c.logged) {
      EXPECT_NE(text.find(c.logged), std::string::npos) << text;
    } else {
      EXPECT_EQ(text.find("audio samples"), std::string::npos) << text;
    }
  }
}

TEST_F(AudioTest, OptionsShapeTheSound) {
  // Stereo tone: first channel 0.4, second 0.1 (RMS 0.283, 0.071).
  struct TCase {
    const char* extra;
    int rate, channels;
    std::vector<double> rms;
    AVSampleFormat format = AV_SAMPLE_FMT_S16;
  } cases[] = {
      {"", 44100, 2, {0.283, 0.071}},
      {" -ar 22050 -ac 1", 22050, 1, {0.177}},  // the two channels mixed
      {" -ac 1 -rmvol 0.5", 44100, 1, {0.088}},
      {" -vol 512", 44100, 2, {0.566, 0.141}},
      {" -map_channel 1.0.1 -map_channel 1.0.0", 44100, 2, {0.071, 0.283}},  // swapped
      {" -map_channel 1.0.1", 44100, 1, {0.071}},
      {" -map_channel -1 -map_channel 1.0.0", 44100, 2, {0.0, 0.283}},      // first channel muted
      {" -c:a flac -sample_fmt s32", 44100, 2, {}, AV_SAMPLE_FMT_S32},
      {" -bsf:a null", 44100, 2, {0.283, 0.071}},
  };
  const std::string song = Song("song.wav", {"wav", "pcm_s16le", 44100, 2, 1.0});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.extra);
    const std::string file = (dir / "out.MKV").string();
    ASSERT_EQ(Convert(song, std::string(" -c:a pcm_s16le") + c.extra, file), "");
    const TWritten w = ReadBack(file);
    ASSERT_EQ(w.audioStreams, 1);
    EXPECT_EQ(w.audio.rate, c.rate);
    EXPECT_EQ(w.audio.channels, c.channels);
    EXPECT_EQ(w.audio.format, c.format);
    ASSERT_EQ(w.audio.rms.size(), c.rms.size());
    for (std::size_t i = 0; i < c.rms.size(); ++i) EXPECT_NEAR(w.audio.rms[i], c.rms[i], 0.01) << i;
  }
}

TEST_F(AudioTest, BitstreamFiltersThatRegroupPacketsLoseNoSound) {
  // pcm_rechunk holds small packets back, gives several for a large one and
  // pads what it still holds at the end into a last packet of 1024 samples.
  // The mono song is read in packets of 2048 samples; resampling makes
  // packets of uneven sizes.
  const std::string song = Song("song.wav", {"wav", "pcm_s16le", 44100, 1, 1.0});
  const std::string file = (dir / "out.MKV").string();
  for (const char* rate : {"", " -ar 32000"}) {
    SCOPED_TRACE(rate);
    ASSERT_EQ(Convert(song, std::string(" -c:a pcm_s16le") + rate, file), "");
    const TWritten plain = ReadBack(file);
    for (const char* bsf : {" -bsf:a pcm_rechunk", " -bsf:a pcm_rechunk,pcm_rechunk"}) {
      SCOPED_TRACE(bsf);
      enginetest::TLogCapture log;
      ASSERT_EQ(Convert(song, std::string(" -c:a pcm_s16le") + rate + bsf, file), "");
      const TWritten w = ReadBack(file);
      EXPECT_GE(w.audio.samples, plain.audio.samples - 1e-6);
      EXPECT_LT(w.audio.samples, plain.audio.samples + 1024.0 / plain.audio.rate);
      EXPECT_EQ(log.Text().find("failed for stream"), std::string::npos) << log.Text();
    }
  }
}

TEST_F(AudioTest, CopiedSoundKeepsItsPacketsInOrder) {
  // The second song stamps every packet 0 (Matroska takes that); MP4 takes
  // only rising decoding times. Its stamps carry no time, so the copy
  // lasts only as long as its packet count in ticks and the last packet.
  struct TCase {
    const char* name;
    TSong song;
    double least;  // seconds of sound in the copy
  } cases[] = {
      {"song.MP3", {"mp3", "libmp3lame"}, 0.5},
      {"flat.MKA", {"matroska", "libmp3lame", 44100, 2, 1.0, -1, 0, 0.0}, 0.02},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string song = Song(c.name, c.song);
    const std::string file = (dir / "out.MP4").string();
    ASSERT_EQ(Convert(song, " -c:a copy", file), "");
    const TWritten w = ReadBack(file);
    ASSERT_EQ(w.audioStreams, 1);
    EXPECT_EQ(w.audio.codec, AV_CODEC_ID_MP3);
    EXPECT_EQ(w.audio.rate, 44100);
    EXPECT_GT(w.audio.samples, c.least);
  }
}

TEST_F(AudioTest, CopyingSoundThatMustBeDecodedIsRefused) {
  const std::string song = Song("song.MP3", {"mp3", "libmp3lame"});
  const std::string file = (dir / "out.MKV").string();
  EXPECT_EQ(Convert(song, " -c:a copy -vol 512", file), "-acodec copy and -vol are incompatible (frames are not decoded)");
  EXPECT_EQ(Convert(song, " -c:a copy", file,
                    [](engine::TCustomFFmpeg& e) { e.FOnAudioHook = [](auto...) {}; }),
            "-acodec copy and AudioHook are incompatible (frames are not decoded)");
}

TEST_F(AudioTest, SubtitleFileBecomesASubtitleTrack) {
  // The second input may be a subtitle file as well: its lines come out at
  // their times and last as long as they should.
  const std::string srt = (dir / "lines.srt").string();
  std::ofstream(srt) << "1\n00:00:00,100 --> 00:00:00,300\nHello\n\n2\n00:00:00,400 --> 00:00:00,700\nWorld\n";
  const struct {
    const char* ext;
    const char* extra;
    AVCodecID codec;
  } kCases[] = {{".MKV", "", AV_CODEC_ID_ASS}, {".MP4", " -scodec mov_text", AV_CODEC_ID_MOV_TEXT}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.ext);
    const std::string file = (dir / (std::string("out") + c.ext)).string();
    enginetest::TLogCapture log;
    ASSERT_EQ(Convert(srt, c.extra, file), "") << log.Text();
    AVFormatContext* ic = nullptr;
    ASSERT_GE(ff::avformat_open_input(&ic, file.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(ff::avformat_find_stream_info(ic, nullptr), 0);
    int subtitles = -1;
    for (unsigned i = 0; i < ic->nb_streams; ++i)
      if (ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) subtitles = static_cast<int>(i);
    ASSERT_GE(subtitles, 0);
    EXPECT_EQ(ic->streams[subtitles]->codecpar->codec_id, c.codec);
    std::vector<std::pair<double, double>> lines;  // start, length in seconds
    AVPacket* pkt = ff::av_packet_alloc();
    while (ff::av_read_frame(ic, pkt) >= 0) {
      const double tb = av_q2d(ic->streams[pkt->stream_index]->time_base);
      if (pkt->stream_index == subtitles && pkt->size > 2) lines.emplace_back(pkt->pts * tb, pkt->duration * tb);
      ff::av_packet_unref(pkt);
    }
    ff::av_packet_free(&pkt);
    ff::avformat_close_input(&ic);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NEAR(lines[0].first, 0.1, 0.002);
    EXPECT_NEAR(lines[0].second, 0.2, 0.002);
    EXPECT_NEAR(lines[1].first, 0.4, 0.002);
    EXPECT_NEAR(lines[1].second, 0.3, 0.002);
  }
}

TEST_F(AudioTest, TwoSoundTracksOfOneSong) {
  // Packed mono first, planar stereo second: the shared work buffer is
  // laid out anew for each.
  const std::string song = Song("song.wav", {"wav", "pcm_s16le", 48000, 2, 1.0});
  const std::string file = (dir / "out.MKV").string();
  ASSERT_EQ(Convert(song, " -map 0:0 -map 1:0 -map 1:0 -c:a:0 mp2 -ac:a:0 1 -c:a:1 aac -ar:a:1 44100", file), "");
  const TWritten w = ReadBack(file);
  EXPECT_EQ(w.audioCodecs, (std::vector<AVCodecID>{AV_CODEC_ID_MP2, AV_CODEC_ID_AAC}));
  EXPECT_EQ(w.audioChannels, (std::vector<int>{1, 2}));
}

TEST_F(AudioTest, AudioHookSeesAndChangesEverySample) {
  // MP3 decodes to planar floats: the hook still gets them interleaved.
  const std::string song = Song("song.mp3", {"mp3", "libmp3lame", 44100, 2, 0.5});
  std::vector<std::int64_t> stamps;
  int bytes = 0;
  const std::string file = (dir / "out.MKV").string();
  ASSERT_EQ(Convert(song, " -c:a pcm_s16le", file,
                    [&](engine::TCustomFFmpeg& e) {
                      e.FOnAudioHook = [&](engine::TCustomFFmpeg*, std::int64_t pts, std::uint8_t* samples, int size,
                                           int rate, int channels, AVSampleFormat format) {
                        EXPECT_EQ(rate, 44100);
                        EXPECT_EQ(channels, 2);
                        EXPECT_EQ(format, AV_SAMPLE_FMT_FLT);
                        std::fill_n(reinterpret_cast<float*>(samples), size / 4, 0.25f);
                        stamps.push_back(pts);
                        bytes += size;
                      };
                    }),
            "");
  ASSERT_FALSE(stamps.empty());
  EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()));
  EXPECT_NEAR(bytes / 8.0 / 44100, 0.5, 0.05);
  const TWritten w = ReadBack(file);
  ASSERT_EQ(w.audio.rms.size(), 2u);
  EXPECT_NEAR(w.audio.rms[0], 0.25, 0.01);
  EXPECT_NEAR(w.audio.rms[1], 0.25, 0.01);
}

TEST_F(AudioTest, SongThatChangesItsRateOnTheWay) {
  // Two MP3 songs joined byte by byte: 44.1 kHz, then 48 kHz.
  const std::string first = Song("a.mp3", {"mp3", "libmp3lame", 44100, 2, 0.5});
  const std::string second = Song("b.mp3", {"mp3", "libmp3lame", 48000, 2, 0.5});
  const std::string song = (dir / "joined.mp3").string();
  {
    std::ofstream out(song, std::ios::binary);
    out << std::ifstream(first, std::ios::binary).rdbuf() << std::ifstream(second, std::ios::binary).rdbuf();
  }
  enginetest::TLogCapture log;
  const std::string file = (dir / "out.MKV").string();
  pictures = 3;
  ASSERT_EQ(Convert(song, "", file), "");
  // Opening saw the last part's rate; the first frames differ from it.
  const std::string text = log.Text();
  EXPECT_NE(text.find("Input stream #1:0 frame changed from rate:48000 fmt:fltp ch:2 to rate:44100 fmt:fltp ch:2"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Input stream #1:0 frame changed from rate:44100 fmt:fltp ch:2 to rate:48000 fmt:fltp ch:2"),
            std::string::npos)
      << text;
  const TWritten w = ReadBack(file);
  EXPECT_EQ(w.audio.rate, 48000);
  EXPECT_NEAR(w.audio.samples, 1.0, 0.1);
}

TEST_F(AudioTest, FilesThatAreNoSongFailWithAClearText) {
  struct TCase {
    const char* name;
    std::string content;
  } cases[] = {
      {"letter.mp3", "Dear Anna,\nthe pictures of the wedding are attached.\n"},
      // No decoder reads this format.
      {"song.OFR", std::string("OFR ") + std::string("\x0f\0\0\0\x01\x02\x44\xac\0\0", 10) + std::string(4000, '\x5a')},
      {"empty.WAV", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string song = (dir / c.name).string();
    std::ofstream(song, std::ios::binary) << c.content;
    const std::string file = (dir / "out.MP4").string();
    const std::string text = Convert(song, "", file);
    EXPECT_EQ(text.rfind(song + ": ", 0), 0u) << text;
    EXPECT_NE(text.find("Invalid data found when processing input"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(file));
  }
  // A file that opens, but whose sound nothing decodes.
  const std::string song = (dir / "surround.M4A").string();
  WriteUndecodable(song);
  const std::string file = (dir / "out.MP4").string();
  EXPECT_EQ(Convert(song, "", file), "Decoder (codec mpegh_3d_audio) not found for input stream #1:0");
  EXPECT_FALSE(fs::exists(file));
}

}  // namespace
