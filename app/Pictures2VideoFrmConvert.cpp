// The window's conversion: the encoder, the frame input adapter and the
// logger bound to the window, the Start handler that builds and starts one
// task, and the controls that stop, pause and resume it.
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "app/JobBuilder.h"
#include "app/Pictures2VideoFrm.h"

namespace app {

void TfrmPictures2Video::BindComponents() {
  connect(btnStart, &QPushButton::clicked, this, &TfrmPictures2Video::btnStartClick);
  connect(chkPreview, &QCheckBox::toggled, this, &TfrmPictures2Video::chkPreviewClick);

  FFEncoder.OnProgress = [this](void* sender, const encoder::TProgressInfo* info) {
    FFEncoderProgress(sender, info);
  };
  FFEncoder.OnTerminate = [this](void* sender, const encoder::TTerminateInfo& info) {
    FFEncoderTerminate(sender, info);
  };
  FIA.OnReadHeader = [this](frameinput::TFrameInputAdapter* sender) { FIAReadHeader(sender); };
  FIA.OnReadClose = [this](frameinput::TFrameInputAdapter* sender) { FIAReadClose(sender); };
  FIA.OnReadFrameCanvas = [this](frameinput::TFrameInputAdapter* sender, platform::TBitmap& canvas,
                                 frameinput::TInputFrameInfo* info) {
    return FIAReadFrameCanvas(sender, canvas, info);
  };
  FFLogger.OnLog = [this](void* sender, std::uintptr_t threadId, fflog::TLogLevel level, const std::string& msg) {
    FFLoggerLog(sender, threadId, level, msg);
  };
  // Runs inside a frame request the worker waits for: only the stop that
  // does not wait may be used here.
  FFrameSource.OnStopRequest = [this] { FFEncoder.Stop(false); };
}

std::int32_t TfrmPictures2Video::FIAReadFrameCanvas(frameinput::TFrameInputAdapter* Sender,
                                                    platform::TBitmap& ACanvas,
                                                    frameinput::TInputFrameInfo* AFrameInfo) {
  FFrameSource.BreakWhenNoPictures = chkPictures->isChecked();
  return FFrameSource.ReadFrameCanvas(Sender, ACanvas, AFrameInfo);
}

void TfrmPictures2Video::btnStartClick() {
  try {
    StartConversion();
  } catch (const std::exception& e) {
    // A display time that is not a number, or the encoder refusing to build.
    ReportStartFailure("***Cannot do convert, error: ", e.what());
  }
}

void TfrmPictures2Video::StartConversion() {
  FFEncoder.ClearTasks();

  TJobSettings settings;
  settings.ContainerIndex = ComboBox2->currentIndex();
  settings.FrameSizeText = cboFrameSize->currentText().toStdString();
  settings.FrameRateText = cboFrameRate->currentText().toStdString();
  settings.QualityIndex = ComboBox4->currentIndex();
  settings.ScreenShapeIndex = ComboBox5->currentIndex();
  settings.RotationIndex = ComboBox6->currentIndex();
  settings.FrameDelayChecked = chkFrameDelay->isChecked();
  settings.FrameDelayText = edtFrameDelay->text().toStdString();
  settings.OutputBaseName = FOutputBaseName.toStdString();
  settings.CurrentOutput = txtOutput->text().toStdString();
  // Throws before any task exists when the display time is bad.
  const TJob job = BuildJob(settings);
  txtOutput->setText(QString::fromStdString(job.OutputFileName));

  encoder::TInputOptions input;
  encoder::InitInputOptions(&input);
  input.Options = job.InputOptions;
  const int task = FFEncoder.AddTask(FIA.FileName(), &input);
  if (task < 0) {
    ReportStartFailure("***File open error: ", FFEncoder.LastErrMsg());
    return;
  }
  AddLogLine(QString());
  AddLogLine(QString::fromStdString(FFEncoder.Decoders(task, 0)->FileInfoText()));

  const QString audio = txtAudio->text();
  if (QFileInfo(audio).isFile()) {
    const int file = FFEncoder.AddInput(task, audio.toStdString());
    if (file < 0) {
      ReportStartFailure("***File open error: ", FFEncoder.LastErrMsg());
      return;
    }
    AddLogLine(QString());
    AddLogLine(QString::fromStdString(FFEncoder.Decoders(task, file)->FileInfoText()));
  }

  encoder::TOutputOptions output;
  encoder::InitOutputOptions(&output);
  output.Options = job.OutputOptions;
  if (FFEncoder.SetOutput(task, job.OutputFileName, &output) < 0) {
    const std::string text = FFEncoder.LastErrMsg();
    FFEncoder.RemoveTask(task);
    ReportStartFailure("***Cannot do convert, error: ", text);
    return;
  }
  AddLogLine(QString());
  AddLogLine(QStringLiteral("***Can do convert."));
  AddLogLine(QString());

  FFrameDelay = job.FrameDelay;
  FFrameSource.FrameDelay = FFrameDelay;
  FFrameSource.Pictures.clear();
  for (int i = 0; i < lstPictures->count(); ++i)
    FFrameSource.Pictures.push_back(lstPictures->item(i)->text().toStdString());

  ApplyButtonMoment(bmStarted);
  FFEncoder.SetPreview(false);
  FFEncoder.Start(1);
}

void TfrmPictures2Video::ReportStartFailure(const char* logPrefix, const std::string& text) {
  AddLogLine(QString());
  AddLogLine(QString::fromUtf8(logPrefix) + QString::fromStdString(text));
  AddLogLine(QString());
  // The log is hidden: without this box the user would see nothing happen.
  FDesktop.ShowMessage(this, QMessageBox::Warning, QString::fromUtf8(kAppTitle), QString::fromStdString(text));
}

void TfrmPictures2Video::btnStopClick() {
  ApplyButtonMoment(bmStopClicked);
  FFEncoder.Stop(true);
}

void TfrmPictures2Video::btnPauseClick() {
  ApplyButtonMoment(bmPauseClicked);
  FFEncoder.Pause();
}

void TfrmPictures2Video::btnResumeClick() {
  ApplyButtonMoment(bmResumeClicked);
  FFEncoder.Resume();
}

void TfrmPictures2Video::chkPreviewClick() { FFEncoder.SetPreview(chkPreview->isChecked()); }

void TfrmPictures2Video::StopForClosing() {
  FFEncoder.OnProgress = nullptr;
  FFEncoder.OnTerminate = nullptr;
  // Serves the worker's frame requests and log lines until it has stopped.
  FFEncoder.Stop(true);
  FFLogger.OnLog = nullptr;
}

}  // namespace app
