// Start-up work of the main window and the handlers of its own actions.
#include "app/Pictures2VideoFrm.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QUrl>
#include <QWindow>
#include <cmath>
#include <ctime>

#include "app/ImageControl.h"
#include "app/JobBuilder.h"
#include "ffbind/FFLoad.h"

namespace app {

namespace {

constexpr char kPictureFilter[] = "Picture Files|*.BMP;*.JPEG;*.JPG";
constexpr char kAudioFilter[] =
    "Audio Files|*.AAC;*.AC3;*.APE;*.DTS;*.FLAC;*.M4A;*.MKA;*.MP2;*.MP3;*.MPA;*.MPC;*.OFR;*.OGG;*.RA;*.TTA;*."
    "WAV;*.WMA;";
constexpr char kSaveFilter[] = "MP4 format(*.MP4)|*.mp4";
constexpr char kWebSite[] = "https://www.fotoreel.example";

}  // namespace

TfrmPictures2Video::~TfrmPictures2Video() {
  StopForClosing();
  // The encoder, destroyed next, closes its tasks' inputs: the window is
  // no longer there to hear of it.
  FIA.OnReadHeader = nullptr;
  FIA.OnReadClose = nullptr;
  FIA.OnReadFrameCanvas = nullptr;
}

void TfrmPictures2Video::BindHandlers() {
  connect(btnPictures, &QPushButton::clicked, this, &TfrmPictures2Video::btnPicturesClick);
  connect(btnAudio, &QPushButton::clicked, this, &TfrmPictures2Video::btnAudioClick);
  connect(btnOpen, &QPushButton::clicked, this, &TfrmPictures2Video::btnOpenClick);
  connect(btnClear, &QPushButton::clicked, this, &TfrmPictures2Video::btnClear1Click);
  connect(btnClear1, &QPushButton::clicked, this, &TfrmPictures2Video::btnClear1Click);
  connect(btnStop, &QPushButton::clicked, this, &TfrmPictures2Video::btnStopClick);
  connect(btnPause, &QPushButton::clicked, this, &TfrmPictures2Video::btnPauseClick);
  connect(btnResume, &QPushButton::clicked, this, &TfrmPictures2Video::btnResumeClick);
  connect(btnWebSite, &QPushButton::clicked, this, &TfrmPictures2Video::btnWebSiteClick);
  connect(cboLogLevel, &QComboBox::currentIndexChanged, this, &TfrmPictures2Video::cboLogLevelChange);
  connect(chkFrameDelay, &QCheckBox::toggled, this, &TfrmPictures2Video::chkFrameDelayClick);
  connect(SpeedButton2, &QToolButton::clicked, this, &TfrmPictures2Video::SpeedButton2Click);
  connect(Image19, &TImage::Click, this, &TfrmPictures2Video::Image19Click);
  connect(Image1, &TImage::MouseDown, this, &TfrmPictures2Video::Image1MouseDown);
}

void TfrmPictures2Video::FormCreate() {
  // Qt widgets paint double-buffered already; nothing to switch on.
  Label32->clear();

  SHOWVIEW = new QLabel(QString::fromUtf8("请选择添加图片"), lstPictures);
  SHOWVIEW->setObjectName(QStringLiteral("SHOWVIEW"));
  QFont placeholderFont(QString::fromUtf8("微软雅黑"));
  placeholderFont.setPointSize(15);
  SHOWVIEW->setFont(placeholderFont);
  SHOWVIEW->adjustSize();
  SHOWVIEW->move(static_cast<int>(std::lround(lstPictures->width() / 2.0 - 70)),
                 static_cast<int>(std::lround(lstPictures->height() / 2.0 - 10)));
  // Clicks reach the list underneath.
  SHOWVIEW->setAttribute(Qt::WA_TransparentForMouseEvents);
  SHOWVIEW->show();

  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setFileMode(QFileDialog::AnyFile);
  SaveDialog1->setNameFilter(QtNameFilter(QString::fromUtf8(kSaveFilter)));
  SaveDialog1->setDefaultSuffix(QStringLiteral("mp4"));

  // A folder that cannot be created is not reported here: opening the
  // output fails later with the engine's message.
  const std::string folder = DefaultOutputFolder();
  CreateOutputFolder(folder);
  Edit1->setText(QString::fromStdString(folder));
}

void TfrmPictures2Video::CentreOnDesktop() {
  if (const QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());
}

void TfrmPictures2Video::ApplyButtonMoment(TButtonMoment moment) {
  const TButtonRow& row = ButtonRules(moment);
  const int pictureCount = lstPictures->count();
  const std::array<std::initializer_list<QWidget*>, kButtonSlotCount> controls{{
      {btnStart}, {btnOpen}, {btnStop}, {btnPause}, {btnResume},
      {btnPictures}, {btnClear}, {btnAudio}, {chkFrameDelay, edtFrameDelay},
  }};
  for (int slot = 0; slot < kButtonSlotCount; ++slot)
    for (QWidget* control : controls[slot])
      control->setEnabled(ApplyButtonRule(row[slot], control->isEnabled(), pictureCount));
}

bool TfrmPictures2Video::LoadLibrariesOnFirstUse() {
  if (!FFEncoder.AVLibLoaded() && !FFEncoder.LoadAVLib(ffbind::ProgramFolder())) {
    // Without the libraries nothing can be converted: say so, not only in
    // the hidden log.
    const QString text = QString::fromStdString(FFEncoder.LastErrMsg());
    AddLogLine(text);
    FDesktop.ShowMessage(this, QMessageBox::Warning, QString::fromUtf8(kAppTitle), text);
    return false;
  }
  // Registering again changes nothing.
  frameinput::RegisterFrameInputFormat();
  return true;
}

void TfrmPictures2Video::StampOutputName() {
  const TOutputNames names = StampOutputNames(Edit1->text().toStdString(), std::time(nullptr));
  FOutputBaseName = QString::fromStdString(names.OutputBaseName);
  txtOutput->setText(QString::fromStdString(names.Output));
}

void TfrmPictures2Video::btnPicturesClick() {
  OpenDialog1->setFileMode(QFileDialog::ExistingFiles);
  OpenDialog1->setNameFilter(QtNameFilter(QString::fromUtf8(kPictureFilter)));
  OpenDialog1->selectFile(QString());
  lstPictures->addItems(FDesktop.Execute(*OpenDialog1));

  ApplyButtonMoment(bmPictureDialog);
  ProgressBar1->setValue(0);
  SHOWVIEW->setVisible(lstPictures->count() == 0);

  if (!LoadLibrariesOnFirstUse()) return;
  StampOutputName();
}

void TfrmPictures2Video::btnAudioClick() {
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  OpenDialog1->setNameFilter(QtNameFilter(QString::fromUtf8(kAudioFilter)));
  OpenDialog1->selectFile(QString());
  const QStringList chosen = FDesktop.Execute(*OpenDialog1);
  if (!chosen.isEmpty()) txtAudio->setText(chosen.first());

  ApplyButtonMoment(bmAudioDialog);
  Label32->setText(txtAudio->text());
}

void TfrmPictures2Video::btnOpenClick() {
  if (!LoadLibrariesOnFirstUse()) return;
  if (FSaveFileName.isEmpty()) FSaveFileName = QStringLiteral("pictures2video.wmv");
  SaveDialog1->selectFile(FSaveFileName);
  const QStringList chosen = FDesktop.Execute(*SaveDialog1);
  if (chosen.isEmpty()) return;
  FSaveFileName = chosen.first();
  txtOutput->setText(FSaveFileName);
  btnStart->setEnabled(true);
  btnStart->setFocus();
}

void TfrmPictures2Video::btnClear1Click() {
  lstPictures->clear();
  txtAudio->setText(QStringLiteral("-"));
  ApplyButtonMoment(bmClear);
}

void TfrmPictures2Video::btnWebSiteClick() {
  QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  name.remove(QLatin1Char('[')).remove(QLatin1Char(']')).replace(QLatin1Char(' '), QLatin1Char('_'));
  const QString address = QString::fromUtf8(kWebSite) + QStringLiteral("/?from=exe_") + name;
  FDesktop.OpenUrl(QUrl(address.toLower()));
}

void TfrmPictures2Video::cboLogLevelChange() {
  FFLogger.SetLogLevel(static_cast<fflog::TLogLevel>(cboLogLevel->currentIndex()));
}

void TfrmPictures2Video::chkFrameDelayClick() { edtFrameDelay->setEnabled(chkFrameDelay->isChecked()); }

void TfrmPictures2Video::SpeedButton2Click() {
  FDesktop.OpenUrl(QUrl::fromLocalFile(Edit1->text().trimmed()));
}

void TfrmPictures2Video::Image19Click() {
  // Through the closing handler, so a running conversion is stopped first.
  close();
  QCoreApplication::quit();
}

void TfrmPictures2Video::Image1MouseDown(Qt::MouseButton button) {
  if (button == Qt::LeftButton && windowHandle()) windowHandle()->startSystemMove();
}

void TfrmPictures2Video::closeEvent(QCloseEvent* event) {
  StopForClosing();
  event->accept();
}

}  // namespace app
