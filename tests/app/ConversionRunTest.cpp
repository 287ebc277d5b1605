// Conversions run from the real window: pictures written here are painted
// through the frame input, encoded on the worker thread, and the file the
// window wrote is opened again with the libraries.
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "ffbind/AVCodecStubs.h"
#include "ffbind/AVFormatStubs.h"
#include "platform/MainThread.h"
#include "tests/app/WindowFixture.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

// What a written file holds, per stream: codec name, size and packets.
struct TStreamSummary {
  std::string Codec;
  int Width = 0;
  int Height = 0;
  int Packets = 0;
};

std::vector<TStreamSummary> ReadBack(const QString& path) {
  AVFormatContext* ic = nullptr;
  if (ff::avformat_open_input(&ic, path.toUtf8().constData(), nullptr, nullptr) < 0) return {};
  std::vector<TStreamSummary> streams;
  if (ff::avformat_find_stream_info(ic, nullptr) >= 0) {
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
      const AVCodecParameters* par = ic->streams[i]->codecpar;
      streams.push_back({ff::avcodec_get_name(par->codec_id), par->width, par->height, 0});
    }
    AVPacket* packet = ff::av_packet_alloc();
    while (ff::av_read_frame(ic, packet) >= 0) {
      ++streams.at(packet->stream_index).Packets;
      ff::av_packet_unref(packet);
    }
    ff::av_packet_free(&packet);
  }
  ff::avformat_close_input(&ic);
  return streams;
}

class ConversionRunTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Window->cboFrameSize->setCurrentText("32x24");
    Window->edtFrameDelay->setText("0.1");
  }

  // Three pictures of 32x24, the middle one a bitmap; `damaged` names the
  // one whose file holds no picture.
  QStringList WritePictures(int damaged = -1) {
    const char* names[] = {"one.jpg", "two.bmp", "three.JPEG"};
    const char* formats[] = {"JPEG", "BMP", "JPEG"};
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
    QStringList paths;
    for (int i = 0; i < 3; ++i) {
      const QString path = Home.filePath(names[i]);
      if (i == damaged) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("this is no picture at all");
      } else {
        QImage picture(32, 24, QImage::Format_RGB888);
        picture.fill(colours[i]);
        EXPECT_TRUE(picture.save(path, formats[i]));
      }
      paths << path;
    }
    return paths;
  }

  // 0.3 s of a 440 Hz tone, 8 kHz mono 16-bit PCM.
  QString WriteWave() {
    const int rate = 8000, samples = 2400;
    QByteArray data;
    auto put32 = [&data](quint32 v) { data.append(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&data](quint16 v) { data.append(reinterpret_cast<const char*>(&v), 2); };
    data.append("RIFF");
    put32(36 + samples * 2);
    data.append("WAVEfmt ");
    put32(16);
    put16(1);  // PCM
    put16(1);  // mono
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    data.append("data");
    put32(samples * 2);
    for (int i = 0; i < samples; ++i) put16(static_cast<quint16>(static_cast<qint16>(8000 * std::sin(i * 0.3456))));
    const QString path = Home.filePath("tone.wav");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return path;
  }

  // Keeps the main thread serving Qt's events and the hand-offs of the
  // conversion until done() or the deadline.
  static bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
      if (deadline.hasExpired()) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      platform::ServeMainThreadQueue();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  // The final event restores the picture button, in the same call that
  // shows the end of the run.
  bool WaitForEndOfRun() {
    return WaitUntil([this] { return Window->FFEncoder.Terminated() && Window->btnPictures->isEnabled(); });
  }

  QString Log() const { return Window->mmoLog->toPlainText(); }
};

TEST_F(ConversionRunTest, FullRunWritesTheVideoEmptiesTheListAndOpensTheFolder) {
  struct TCase {
    const char* Name;
    bool WithAudio;
    int Container;  // ComboBox2 index
    const char* Extension;
  };
  const TCase cases[] = {
      {"pictures only", false, 4, ".WMV"},
      {"pictures and sound", true, 3, ".MKV"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Desktop.Messages.clear();
    Desktop.Opened.clear();
    AddPictures(WritePictures());
    if (c.WithAudio) ChooseAudio(WriteWave());
    Window->ComboBox2->setCurrentIndex(c.Container);
    Window->btnStart->click();
    const QString output = Window->txtOutput->text();
    EXPECT_EQ(output, Window->OutputBaseName() + c.Extension);
    EXPECT_TRUE(Log().contains("***Can do convert.")) << Log().toStdString();
    EXPECT_FALSE(Window->btnStart->isEnabled());
    EXPECT_TRUE(Window->btnStop->isEnabled());

    ASSERT_TRUE(WaitForEndOfRun()) << Log().toStdString();
    ASSERT_EQ(Desktop.Messages.size(), 1u);
    EXPECT_EQ(Desktop.Messages[0].Icon, QMessageBox::Information);
    EXPECT_EQ(Desktop.Messages[0].Text, U(" 操作已完成！"));
    EXPECT_EQ(Window->lstPictures->count(), 0);
    EXPECT_TRUE(Window->SHOWVIEW->isVisible());
    EXPECT_EQ(Desktop.Opened, std::vector<QUrl>{QUrl::fromLocalFile(Window->Edit1->text())});
    EXPECT_FALSE(Window->btnStart->isEnabled());
    EXPECT_TRUE(Window->btnPictures->isEnabled());
    EXPECT_TRUE(Log().contains("FrameInput read header"));
    EXPECT_TRUE(Log().contains("FrameInput read close"));

    const std::vector<TStreamSummary> streams = ReadBack(output);
    ASSERT_EQ(streams.size(), c.WithAudio ? 2u : 1u) << output.toStdString();
    EXPECT_EQ(streams[0].Codec, "mpeg4");
    EXPECT_EQ(streams[0].Width, 32);
    EXPECT_EQ(streams[0].Height, 24);
    // One frame per picture and the last one once more.
    EXPECT_EQ(streams[0].Packets, 4);
    if (c.WithAudio) {
      EXPECT_EQ(streams[1].Codec, "mp2");
      EXPECT_GT(streams[1].Packets, 0);
    }
    Window->btnClear->click();
  }
}

TEST_F(ConversionRunTest, DamagedPictureEndsTheRunWithTheEnginesTextAndKeepsTheList) {
  const QStringList pictures = WritePictures(1);
  AddPictures(pictures);
  Window->btnStart->click();
  ASSERT_TRUE(WaitForEndOfRun()) << Log().toStdString();

  ASSERT_EQ(Desktop.Messages.size(), 1u);
  EXPECT_EQ(Desktop.Messages[0].Icon, QMessageBox::Warning);
  EXPECT_EQ(Desktop.Messages[0].Caption, U(app::kAppTitle));
  EXPECT_TRUE(Desktop.Messages[0].Text.contains(pictures[1])) << Desktop.Messages[0].Text.toStdString();
  EXPECT_EQ(ListItems(), pictures);
  EXPECT_TRUE(Desktop.Opened.empty());
  EXPECT_TRUE(Window->btnPictures->isEnabled());
  EXPECT_TRUE(Window->btnClear->isEnabled());
}

// Building the task fails: the user is told why, the log has the line, and
// the window stays ready for another Start.
TEST_F(ConversionRunTest, StartFailureIsShownAndLeavesTheWindowReady) {
  struct TCase {
    const char* Name;
    std::function<void()> Arrange;
    const char* LogLine;
    const char* InText;  // empty: any text
  };
  const TCase cases[] = {
      {"output folder that cannot be written",
       [this] {
         QFile plain(Home.filePath("plain.txt"));
         ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
         Window->Edit1->setText(Home.filePath("plain.txt/videos"));
       },
       "***Cannot do convert, error: ", "plain.txt/videos"},
      {"display time that is not a number", [this] { Window->edtFrameDelay->setText("two"); },
       "***Cannot do convert, error: ", "two"},
      {"frame size the picture input refuses",
       [this] { Window->cboFrameSize->setCurrentText("wide"); }, "***File open error: ", ""},
      {"audio file that cannot be opened",
       [this] {
         QFile audio(Home.filePath("broken.mp3"));
         ASSERT_TRUE(audio.open(QIODevice::WriteOnly));
         audio.write(QByteArray(64, '\x01'));
         audio.close();
         ChooseAudio(audio.fileName());
       },
       "***File open error: ", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ReopenWindow();
    Window->cboFrameSize->setCurrentText("32x24");
    Window->edtFrameDelay->setText("0.1");
    c.Arrange();
    AddPictures(WritePictures());
    Window->btnStart->click();

    ASSERT_EQ(Desktop.Messages.size(), 1u);
    const QString text = Desktop.Messages[0].Text;
    EXPECT_EQ(Desktop.Messages[0].Icon, QMessageBox::Warning);
    EXPECT_FALSE(text.isEmpty());
    EXPECT_TRUE(text.contains(U(c.InText))) << text.toStdString();
    EXPECT_TRUE(Log().contains(U(c.LogLine) + text)) << Log().toStdString();
    EXPECT_FALSE(Window->FFEncoder.Working());
    EXPECT_TRUE(Window->btnStart->isEnabled());
    EXPECT_TRUE(Window->btnPictures->isEnabled());
    EXPECT_EQ(Window->lstPictures->count(), 3);
  }
}

// A run broken off from the window: closing stops it and waits, leaving a
// complete file; the Stop button ends the run like any other end.
TEST_F(ConversionRunTest, ClosingOrStopDuringARunStopsIt) {
  struct TCase {
    const char* Name;
    std::function<void(app::TfrmPictures2Video&)> BreakOff;
    bool Closed;
  };
  const TCase cases[] = {
      {"window closed", [](app::TfrmPictures2Video& w) { w.close(); }, true},
      {"exit picture", [](app::TfrmPictures2Video& w) { w.Image19Click(); }, true},
      {"stop button", [](app::TfrmPictures2Video& w) { w.btnStop->click(); }, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ReopenWindow();
    Window->cboFrameSize->setCurrentText("32x24");
    // Paced input: the run would take 30 s.
    Window->edtFrameDelay->setText("10");
    AddPictures(WritePictures());
    // Frame requests are logged at the verbose level.
    Window->cboLogLevel->setCurrentIndex(fflog::llVerbose);
    Window->btnStart->click();
    const QString output = Window->txtOutput->text();
    // The first picture was painted; the next one is due in 10 s.
    ASSERT_TRUE(WaitUntil([&] { return Log().contains("read frame #1"); })) << Log().toStdString();

    c.BreakOff(*Window);
    if (c.Closed) {
      // Stopped and waited for inside the closing handler; nothing is
      // shown any more.
      EXPECT_TRUE(Window->FFEncoder.Terminated());
      EXPECT_FALSE(Window->isVisible());
      EXPECT_TRUE(Desktop.Messages.empty());
      EXPECT_EQ(Window->lstPictures->count(), 3);
    } else {
      ASSERT_TRUE(WaitForEndOfRun());
      ASSERT_EQ(Desktop.Messages.size(), 1u);
      EXPECT_EQ(Desktop.Messages[0].Text, U(" 操作已完成！"));
    }
    const std::vector<TStreamSummary> streams = ReadBack(output);
    ASSERT_EQ(streams.size(), 1u) << output.toStdString();
    EXPECT_EQ(streams[0].Codec, "mpeg4");
    EXPECT_GE(streams[0].Packets, 1);
    EXPECT_LT(streams[0].Packets, 4);
  }
}

}  // namespace
