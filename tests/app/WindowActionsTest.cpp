// The user's actions on the idle window: picture, audio, clear, output and
// folder actions, the library loading they trigger, and which buttons are
// enabled after each moment.
#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <functional>

#include "ffbind/FFLoad.h"
#include "tests/app/WindowFixture.h"

namespace {

using app::TfrmPictures2Video;

// Columns: Start Open Stop Pause Resume Pictures Clear Audio chkFrameDelay edtFrameDelay.
std::string EnabledStates(const TfrmPictures2Video& w) {
  std::string states;
  for (const QWidget* control : std::initializer_list<const QWidget*>{
           w.btnStart, w.btnOpen, w.btnStop, w.btnPause, w.btnResume, w.btnPictures, w.btnClear, w.btnAudio,
           w.chkFrameDelay, w.edtFrameDelay})
    states += control->isEnabled() ? '1' : '0';
  return states;
}

void Started(TfrmPictures2Video& w) { w.ApplyButtonMoment(app::bmStarted); }

TEST_F(WindowTest, EnablesButtonsAsTheTableSays) {
  struct TCase {
    const char* Name;
    std::function<void(TfrmPictures2Video&)> Act;
    const char* Enabled;
  };
  auto pictures = [this](TfrmPictures2Video&) { AddPictures({"/p/a.jpg", "/p/b.bmp"}); };
  auto audio = [this](TfrmPictures2Video&) { ChooseAudio("/m/a.mp3"); };
  auto run = [=](TfrmPictures2Video& w) {
    pictures(w);
    Started(w);
  };
  const TCase cases[] = {
      {"start-up", [](TfrmPictures2Video&) {}, "0000010111"},
      {"pictures chosen", pictures, "1110011111"},
      {"picture dialog cancelled", [this](TfrmPictures2Video&) { AddPictures({}); }, "0000010111"},
      {"audio chosen with pictures", [=](TfrmPictures2Video& w) { pictures(w); audio(w); }, "1110011111"},
      {"audio chosen without pictures", audio, "0000010111"},
      {"list cleared", [=](TfrmPictures2Video& w) { pictures(w); w.btnClear->click(); }, "1010011111"},
      {"conversion started", run, "0011000000"},
      {"stop clicked", [=](TfrmPictures2Video& w) { run(w); w.btnStop->click(); }, "0001000000"},
      {"pause clicked", [=](TfrmPictures2Video& w) { run(w); w.btnPause->click(); }, "0010100000"},
      {"resume clicked", [=](TfrmPictures2Video& w) { run(w); w.btnPause->click(); w.btnResume->click(); },
       "0011000000"},
      {"final termination event",
       [=](TfrmPictures2Video& w) { run(w); w.FFEncoderTerminate(nullptr, {-1, true, false, ""}); }, "0100011111"},
      {"frame delay unchecked", [](TfrmPictures2Video& w) { w.chkFrameDelay->setChecked(false); }, "0000010110"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ReopenWindow();
    c.Act(*Window);
    EXPECT_EQ(EnabledStates(*Window), c.Enabled);
  }
}

TEST_F(WindowTest, AddingPicturesTwiceAppendsAndStampsTheOutput) {
  const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
  AddPictures({"/p/one.jpg", "/p/two.BMP"});
  AddPictures({"/p/three.jpeg", "/p/one.jpg"});
  const QDateTime after = QDateTime::currentDateTime().addSecs(1);

  EXPECT_EQ(ListItems(), QStringList({"/p/one.jpg", "/p/two.BMP", "/p/three.jpeg", "/p/one.jpg"}));
  EXPECT_TRUE(Window->SHOWVIEW->isHidden());
  ASSERT_EQ(Desktop.Dialogs.size(), 2u);
  EXPECT_EQ(Desktop.Dialogs[0].FileMode, QFileDialog::ExistingFiles);
  EXPECT_EQ(Desktop.Dialogs[0].NameFilters, QStringList{"Picture Files (*.BMP *.JPEG *.JPG)"});
  EXPECT_TRUE(ffbind::FFLoader.Loaded(ffbind::kEncoderLibraries));
  EXPECT_TRUE(Desktop.Messages.empty());

  const QString base = Window->OutputBaseName();
  const QString folder = Window->Edit1->text();
  ASSERT_TRUE(base.startsWith(folder + "/")) << base.toStdString();
  const QString stamp = base.mid(folder.size() + 1);
  EXPECT_TRUE(QRegularExpression("^\\d{14}$").match(stamp).hasMatch()) << stamp.toStdString();
  const QDateTime stamped = QDateTime::fromString(stamp, "yyyyMMddHHmmss");
  EXPECT_TRUE(stamped >= before.addMSecs(-before.time().msec()) && stamped <= after) << stamp.toStdString();
  EXPECT_EQ(Window->txtOutput->text(), base + ".mp4");
}

TEST_F(WindowTest, CancelledPictureDialogStillLoadsAndStamps) {
  Window->ProgressBar1->setValue(40);
  AddPictures({});
  EXPECT_FALSE(Window->btnStart->isEnabled());
  EXPECT_TRUE(Window->SHOWVIEW->isVisible());
  EXPECT_EQ(Window->ProgressBar1->value(), 0);
  EXPECT_TRUE(ffbind::FFLoader.Loaded(ffbind::kEncoderLibraries));
  EXPECT_TRUE(Window->txtOutput->text().endsWith(".mp4"));
}

// Without the libraries the user is told so; the pictures stay, no output
// name is stamped, and the next picture action tries again.
TEST_F(WindowTest, LibraryFailureIsShownAndRetried) {
  ffbind::FFLoader.SetLibraryName(ffbind::avFilter, "libfotoreel-missing.so.8");
  AddPictures({"/p/one.jpg"});
  ffbind::FFLoader.SetLibraryName(ffbind::avFilter, "");

  ASSERT_EQ(Desktop.Messages.size(), 1u);
  EXPECT_EQ(Desktop.Messages[0].Icon, QMessageBox::Warning);
  EXPECT_EQ(Desktop.Messages[0].Caption, QString::fromUtf8(app::kAppTitle));
  EXPECT_TRUE(Desktop.Messages[0].Text.contains("libfotoreel-missing.so.8")) << Desktop.Messages[0].Text.toStdString();
  EXPECT_TRUE(Window->mmoLog->toPlainText().contains(Desktop.Messages[0].Text));
  EXPECT_EQ(ListItems(), QStringList{"/p/one.jpg"});
  EXPECT_TRUE(Window->btnStart->isEnabled());
  EXPECT_EQ(Window->txtOutput->text(), "-");
  EXPECT_TRUE(Window->OutputBaseName().isEmpty());

  AddPictures({});
  EXPECT_EQ(Desktop.Messages.size(), 1u);
  EXPECT_TRUE(ffbind::FFLoader.Loaded(ffbind::kEncoderLibraries));
  EXPECT_FALSE(Window->OutputBaseName().isEmpty());
}

TEST_F(WindowTest, AudioIsReplacedAndClearForgetsItButNotItsLabel) {
  AddPictures({"/p/one.jpg"});
  ChooseAudio("/m/first.mp3");
  ChooseAudio("/m/second.flac");
  EXPECT_EQ(Window->txtAudio->text(), "/m/second.flac");
  EXPECT_EQ(Window->Label32->text(), "/m/second.flac");
  const TScriptedDesktop::TDialog& dialog = Desktop.Dialogs.back();
  EXPECT_EQ(dialog.FileMode, QFileDialog::ExistingFile);
  EXPECT_EQ(dialog.NameFilters,
            QStringList{"Audio Files (*.AAC *.AC3 *.APE *.DTS *.FLAC *.M4A *.MKA *.MP2 *.MP3 *.MPA *.MPC *.OFR "
                        "*.OGG *.RA *.TTA *.WAV *.WMA)"});

  Window->btnAudio->click();  // cancelled: the choice stays
  EXPECT_EQ(Window->txtAudio->text(), "/m/second.flac");

  Window->btnClear->click();
  EXPECT_EQ(Window->lstPictures->count(), 0);
  EXPECT_EQ(Window->txtAudio->text(), "-");
  EXPECT_EQ(Window->Label32->text(), "/m/second.flac");
  EXPECT_TRUE(Window->SHOWVIEW->isHidden());
}

TEST_F(WindowTest, OutputDialogChoosesTheOutputFile) {
  Window->btnOpenClick();  // cancelled
  EXPECT_EQ(Window->txtOutput->text(), "-");
  EXPECT_FALSE(Window->btnStart->isEnabled());

  Desktop.Answers.push_back({"/v/holiday.mp4"});
  Window->btnOpenClick();
  EXPECT_EQ(Window->txtOutput->text(), "/v/holiday.mp4");
  EXPECT_TRUE(Window->btnStart->isEnabled());
  const TScriptedDesktop::TDialog& dialog = Desktop.Dialogs.back();
  EXPECT_EQ(dialog.AcceptMode, QFileDialog::AcceptSave);
  EXPECT_EQ(dialog.NameFilters, QStringList{"MP4 format(*.MP4) (*.mp4)"});
  EXPECT_EQ(dialog.DefaultSuffix, "mp4");
}

TEST_F(WindowTest, FolderButtonOpensTheTrimmedFolder) {
  Window->Edit1->setText("  /v/my videos  ");
  Window->SpeedButton2->click();
  ASSERT_EQ(Desktop.Opened.size(), 1u);
  EXPECT_EQ(Desktop.Opened[0], QUrl::fromLocalFile("/v/my videos"));
}

TEST_F(WindowTest, ExitPictureClosesTheWindowAndDropsTheLogHandler) {
  Window->FFLogger.OnLog = [](void*, std::uintptr_t, fflog::TLogLevel, const std::string&) {};
  Window->Image19Click();
  EXPECT_FALSE(Window->isVisible());
  EXPECT_FALSE(Window->FFLogger.OnLog);
}

}  // namespace
