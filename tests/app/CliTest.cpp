// The command-line companion, run as the real program over pictures written
// here; its videos are opened back with the libraries.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <QString>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/JobBuilder.h"
#include "ffbind/Owned.h"
#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "ffbind/AVUtilStubs.h"
#include "ffbind/FFLoad.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The program running in a child process, its output going to files.
class TChild {
 public:
  TChild(const fs::path& folder, const std::vector<std::string>& args, const std::vector<std::string>& env = {})
      : FOut(folder / "stdout.txt"), FErr(folder / "stderr.txt") {
    std::vector<std::string> words{FOTOREEL_CLI};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<std::string> environment(env);
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);  // the first of a name wins
    std::vector<char*> argv, envp;
    for (std::string& w : words) argv.push_back(w.data());
    for (std::string& e : environment) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    FPid = ::fork();
    if (FPid == 0) {
      if (!std::freopen(FOut.c_str(), "w", stdout) || !std::freopen(FErr.c_str(), "w", stderr)) ::_exit(126);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
  }

  void Signal(int signal) const { ::kill(FPid, signal); }
  std::string Err() const { return ReadAll(FErr); }

  struct TResult {
    int Status = -1;
    std::string Out, Err;
  };
  TResult Wait() const {
    int status = 0;
    ::waitpid(FPid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(FOut), ReadAll(FErr)};
  }

 private:
  fs::path FOut, FErr;
  pid_t FPid;
};

using ffbind::TCodecContext;
using ffbind::TFrame;
using ffbind::TInputContext;
using ffbind::TPacket;

// What a written video holds, as the libraries read it back.
struct TVideoFacts {
  int VideoStreams = 0;
  int AudioStreams = 0;
  int Width = 0, Height = 0;
  int VideoPackets = 0;
  // Chroma at the centre of the first picture (yuv420p: 128 is grey).
  int CentreU = -1, CentreV = -1;
};

TVideoFacts ReadVideo(const std::string& file) {
  TVideoFacts facts;
  AVFormatContext* raw = nullptr;
  if (ff::avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) return facts;
  TInputContext ic(raw);
  if (ff::avformat_find_stream_info(ic.get(), nullptr) < 0) return facts;
  int video = -1;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVCodecParameters* par = ic->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) ++facts.AudioStreams;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    ++facts.VideoStreams;
    video = static_cast<int>(i);
    facts.Width = par->width;
    facts.Height = par->height;
  }
  if (video < 0) return facts;

  const AVCodecParameters* par = ic->streams[video]->codecpar;
  TCodecContext dec(
      ff::avcodec_alloc_context3(ff::avcodec_find_decoder(par->codec_id)));
  if (!dec || ff::avcodec_parameters_to_context(dec.get(), par) < 0 ||
      ff::avcodec_open2(dec.get(), dec->codec, nullptr) < 0)
    return facts;
  TPacket pkt(ff::av_packet_alloc());
  TFrame frame(ff::av_frame_alloc());
  const auto takeFirstPicture = [&] {
    if (facts.CentreU >= 0 || ff::avcodec_receive_frame(dec.get(), frame.get()) < 0) return;
    if (frame->format != AV_PIX_FMT_YUV420P) return;
    facts.CentreU = frame->data[1][frame->height / 4 * frame->linesize[1] + frame->width / 4];
    facts.CentreV = frame->data[2][frame->height / 4 * frame->linesize[2] + frame->width / 4];
  };
  while (ff::av_read_frame(ic.get(), pkt.get()) >= 0) {
    if (pkt->stream_index == video) {
      ++facts.VideoPackets;
      if (ff::avcodec_send_packet(dec.get(), pkt.get()) >= 0) takeFirstPicture();
    }
    ff::av_packet_unref(pkt.get());
  }
  ff::avcodec_send_packet(dec.get(), nullptr);
  takeFirstPicture();
  return facts;
}

// Half a second of a 440 Hz tone, 16-bit mono PCM in a WAV file.
void WriteTone(const fs::path& file) {
  constexpr std::uint32_t kRate = 44100, kSamples = kRate / 2;
  std::ofstream out(file, std::ios::binary);
  const auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  const auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  u32(36 + kSamples * 2);
  out.write("WAVEfmt ", 8);
  u32(16), u16(1), u16(1), u32(kRate), u32(kRate * 2), u16(2), u16(16);
  out.write("data", 4);
  u32(kSamples * 2);
  for (std::uint32_t i = 0; i < kSamples; ++i) u16(static_cast<std::uint16_t>((i / 50 % 2 ? 8000 : -8000)));
}

class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(ffbind::FFLoader.Load(ffbind::kEncoderLibraries)) << ffbind::FFLoader.LastErrMsg();
  }
  void SetUp() override {
    Folder = fs::temp_directory_path() /
             ("fr-cli-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Folder);
    fs::create_directories(Folder / "videos");
    Videos = (Folder / "videos").string();
  }
  void TearDown() override { fs::remove_all(Folder); }

  std::string Picture(const std::string& name, QColor colour, const char* format) {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    const std::string path = (Folder / name).string();
    EXPECT_TRUE(image.save(QString::fromStdString(path), format)) << path;
    return path;
  }
  // Red, green and blue pictures, the middle one a bitmap.
  std::vector<std::string> ThreePictures() {
    return {Picture("red.jpg", Qt::red, "JPEG"), Picture("green.bmp", Qt::green, "BMP"),
            Picture("blue.JPEG", Qt::blue, "JPEG")};
  }

  std::vector<fs::path> FilesIn(const std::string& folder) const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    return files;
  }

  TChild::TResult Run(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    return TChild(Folder, args, env).Wait();
  }

  fs::path Folder;
  std::string Videos;
};

TEST_F(CliTest, ConvertsPicturesWithEverySetting) {
  const struct {
    const char* name;
    std::vector<std::string> options;
    const char* extension;
    int width, height;
    int frames;  // three pictures, and the last again when they are timed
    bool audio;
  } cases[] = {
      {"window defaults", {}, ".WMV", 320, 240, 4, false},
      {"mkv untimed", {"--container", "mkv", "--size", "160x120", "--delay", "0"}, ".MKV", 160, 120, 3, false},
      {"flv high 4:3", {"--container=FLV", "--quality", "high", "--shape", "4:3", "--size", "96x64", "--rate", "15"},
       ".FLV", 96, 64, 4, false},
      {"captions and indexes", {"--container", "1", "--quality", "高清", "--shape", "手机播放 9:16", "--size", "64x48"},
       ".MP4", 64, 48, 4, false},
      {"mov with a sound track", {"--container", "MOV", "--size", "64x48", "--delay", "0.5", "--audio", "tone.wav"},
       ".MOV", 64, 48, 4, true},
      // Scaled to the size, then turned.
      {"turned clockwise", {"--container", "MKV", "--size", "64x48", "--rotation", "cw90"}, ".MKV", 48, 64, 4, false},
      {"avi in real time", {"--container", "avi", "--size", "64x48", "--delay", "0.1", "--realtime"}, ".AVI", 64, 48,
       4, false},
  };
  WriteTone(Folder / "tone.wav");
  const std::vector<std::string> pictures = ThreePictures();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{"--output-dir", Videos};
    for (const std::string& option : c.options)
      args.push_back(option == "tone.wav" ? (Folder / option).string() : option);
    args.insert(args.end(), pictures.begin(), pictures.end());

    const TChild::TResult run = Run(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    ASSERT_FALSE(run.Out.empty());
    EXPECT_EQ(run.Out.back(), '\n');
    const fs::path video = run.Out.substr(0, run.Out.size() - 1);
    EXPECT_EQ(video.parent_path(), fs::path(Videos));
    EXPECT_EQ(video.stem().string().size(), 14u);
    EXPECT_EQ(video.extension(), c.extension);
    // Not a terminal: one plain line per report, the last with every frame.
    EXPECT_NE(run.Err.find("frames " + std::to_string(c.frames) + "  time 00:00:"), std::string::npos) << run.Err;

    const TVideoFacts facts = ReadVideo(video.string());
    EXPECT_EQ(facts.VideoStreams, 1);
    EXPECT_EQ(facts.AudioStreams, c.audio ? 1 : 0);
    EXPECT_EQ(facts.Width, c.width);
    EXPECT_EQ(facts.Height, c.height);
    EXPECT_EQ(facts.VideoPackets, c.frames);
    // The first picture is red: strong red chroma, weak blue.
    EXPECT_GT(facts.CentreV, 200);
    EXPECT_LT(facts.CentreU, 128);
    fs::remove(video);
  }
}

TEST_F(CliTest, WritesToTheHomeFolderByDefault) {
  const std::string home = (Folder / "home").string();
  const TChild::TResult run = Run({"--size", "64x48", "--delay", "0", Picture("one.jpg", Qt::red, "JPEG")},
                                  {"HOME=" + home});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const fs::path video = run.Out.substr(0, run.Out.find('\n'));
  EXPECT_EQ(video.parent_path(), fs::path(home) / "qv_pictvideo");
  EXPECT_EQ(ReadVideo(video.string()).VideoPackets, 1);
}

TEST_F(CliTest, NeverWritesOverAnEarlierVideo) {
  // Videos named after this second and the next few are there already.
  std::vector<fs::path> earlier;
  const std::time_t now = std::time(nullptr);
  for (int second = 0; second < 4; ++second) {
    earlier.push_back(fs::path(Videos) / (app::OutputStamp(now + second) + ".WMV"));
    std::ofstream(earlier.back()) << "earlier video";
  }
  const TChild::TResult run = Run({"--output-dir", Videos, "--size", "64x48", Picture("a.jpg", Qt::red, "JPEG")});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const fs::path video = run.Out.substr(0, run.Out.find('\n'));
  for (const fs::path& file : earlier) {
    EXPECT_NE(video, file);
    EXPECT_EQ(ReadAll(file), "earlier video");
  }
  EXPECT_EQ(ReadVideo(video.string()).VideoPackets, 2);
}

TEST_F(CliTest, DamagedPictureFailsWithTheEnginesMessageAndLeavesNoVideo) {
  std::vector<std::string> pictures = ThreePictures();
  const std::string damaged = (Folder / "damaged.jpg").string();
  std::ofstream(damaged) << "not a picture at all";
  // A bitmap name over JPEG content is refused too.
  const std::string mislabelled = (Folder / "mislabelled.bmp").string();
  fs::copy_file(pictures[0], mislabelled);

  for (const std::string& bad : {damaged, mislabelled}) {
    SCOPED_TRACE(bad);
    const TChild::TResult run =
        Run({"--output-dir", Videos, "--size", "64x48", pictures[0], pictures[1], bad, pictures[2]});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find("fotoreel-cli: Cannot load picture \"" + bad + "\""), std::string::npos) << run.Err;
    EXPECT_TRUE(FilesIn(Videos).empty());
  }
}

TEST_F(CliTest, BadArgumentsAreRefusedWithAClearText) {
  const std::string picture = Picture("a.jpg", Qt::red, "JPEG");
  const std::string blocker = (Folder / "file").string();
  std::ofstream(blocker) << "in the way";
  const struct {
    std::vector<std::string> args;
    int status;
    const char* text;
  } cases[] = {
      {{}, 2, "no pictures given"},
      {{"--size", "64x48"}, 2, "no pictures given"},
      {{"--bogus", picture}, 2, "unknown option --bogus"},
      {{picture, "--size"}, 2, "option --size needs a value"},
      {{"--container", "OGG", picture}, 2, "unknown container \"OGG\" (one of: FLV, MP4, MOV, MKV, WMV, AVI)"},
      {{"--container", "6", picture}, 2, "unknown container \"6\""},
      {{"--size", "640", picture}, 2, "invalid --size \"640\""},
      {{"--size", "64x48 -f null", picture}, 2, "invalid --size \"64x48 -f null\""},
      {{"--size", "0x48", picture}, 2, "invalid --size"},
      {{"--rate", "0", picture}, 2, "invalid --rate \"0\""},
      {{"--rate", "30/0", picture}, 2, "invalid --rate"},
      {{"--quality", "best", picture}, 2, "unknown quality \"best\""},
      {{"--shape", "5:4", picture}, 2, "unknown screen shape \"5:4\""},
      {{"--rotation", "5", picture}, 2, "unknown rotation \"5\""},
      {{"--delay", "soon", picture}, 2, "invalid --delay: \"soon\" is not a valid display time in seconds"},
      {{"--delay", "-1", picture}, 2, "the display time cannot be negative"},
      {{"--output-dir", "", picture}, 2, "option --output-dir needs a folder"},
      {{"--output-dir", Videos, (Folder / "missing.jpg").string()}, 1, "cannot read picture"},
      {{"--output-dir", Videos, Folder.string()}, 1, "is a folder"},
      {{"--output-dir", Videos, "--audio", (Folder / "missing.wav").string(), picture}, 1, "cannot read audio file"},
      {{"--output-dir", blocker + "/videos", picture}, 1, "cannot create the output folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args.front());
    const TChild::TResult run = Run(c.args);
    EXPECT_EQ(run.Status, c.status);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err.rfind("fotoreel-cli: ", 0), 0u) << run.Err;
    EXPECT_NE(run.Err.find(c.text), std::string::npos) << run.Err;
  }
  EXPECT_TRUE(FilesIn(Videos).empty());

  const TChild::TResult help = Run({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_EQ(help.Out.rfind("Usage: fotoreel-cli", 0), 0u);
}

TEST_F(CliTest, InterruptionStopsTheRunAndLeavesNoVideo) {
  // Paced in real time, a second per picture: still running once the
  // output file has been claimed (the program catches the signal by then).
  TChild child(Folder, {"--output-dir", Videos, "--size", "64x48", "--delay", "1", "--realtime",
                        Picture("a.jpg", Qt::red, "JPEG"), Picture("b.jpg", Qt::blue, "JPEG")});
  for (int i = 0; i < 400 && FilesIn(Videos).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  child.Signal(SIGINT);
  const TChild::TResult run = child.Wait();
  EXPECT_EQ(run.Status, 130);
  EXPECT_EQ(run.Out, "");
  EXPECT_NE(run.Err.find("fotoreel-cli: interrupted"), std::string::npos) << run.Err;
  EXPECT_TRUE(FilesIn(Videos).empty());
}

}  // namespace
