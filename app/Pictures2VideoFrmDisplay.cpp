// What the window shows of a running conversion: progress, the end of a
// run and the log lines.
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <algorithm>

#include "app/Pictures2VideoFrm.h"

namespace app {

void TfrmPictures2Video::ShowProgressPercent(std::int64_t seconds) {
  lbjdt->setText(QString::asprintf("进度 %lld ", static_cast<long long>(seconds)) + QLatin1Char('%'));
}

void TfrmPictures2Video::FFEncoderProgress(void*, const encoder::TProgressInfo* AProgressInfo) {
  const encoder::TProgressInfo& info = *AProgressInfo;
  // The record counts microseconds; the text promises milliseconds.
  lblStatus->setText(QString::asprintf("帧数: %d; FPS: %d; 大小: %lld; 耗时: %lld 毫秒", info.FrameNumber, info.FPS,
                                       static_cast<long long>(info.CurrentSize),
                                       static_cast<long long>(info.CurrentDuration / 1000)));
  // Whole seconds of video written; the bar is full from 100 s on.
  const std::int64_t seconds = info.CurrentDuration / 1000000;
  ProgressBar1->setValue(static_cast<int>(std::clamp<std::int64_t>(seconds, 0, ProgressBar1->maximum())));
  if (info.FileIndex >= 0 && info.FileIndex < lstPictures->count()) lstPictures->setCurrentRow(info.FileIndex);
  ShowProgressPercent(seconds);
}

void TfrmPictures2Video::FFEncoderTerminate(void*, const encoder::TTerminateInfo& ATerminateInfo) {
  const bool finalEvent = ATerminateInfo.TaskIndex < 0;
  if (finalEvent) ApplyButtonMoment(bmFinalTermination);

  if (ATerminateInfo.Finished && !(finalEvent && FRunFailed)) {
    ProgressBar1->setValue(100);
    ShowProgressPercent(100);
    FDesktop.ShowMessage(this, QMessageBox::Information, QString::fromUtf8(kAppTitle),
                         QString::fromUtf8(" 操作已完成！"));
    lstPictures->clear();
    SHOWVIEW->show();
    SpeedButton2Click();
  } else if (ATerminateInfo.Exception) {
    // The final event of this run must not claim completion nor throw the
    // user's list away: the pictures stay for another try.
    FRunFailed = true;
    FDesktop.ShowMessage(this, QMessageBox::Warning, QString::fromUtf8(kAppTitle),
                         QString::fromStdString(ATerminateInfo.ExceptionMsg));
  }

  if (finalEvent) FRunFailed = false;
}

void TfrmPictures2Video::FIAReadHeader(void*) { AddLogLine(QStringLiteral("FrameInput read header")); }

void TfrmPictures2Video::FIAReadClose(void*) { AddLogLine(QStringLiteral("FrameInput read close")); }

void TfrmPictures2Video::FFLoggerLog(void*, std::uintptr_t AThreadID, fflog::TLogLevel ALogLevel,
                                     const std::string& ALogMsg) {
  AddLogLine(QLatin1Char('#') + QString::number(AThreadID) + QLatin1Char('.') +
             QString::number(static_cast<int>(ALogLevel)) + QStringLiteral(": ") +
             QString::fromStdString(ALogMsg));
}

void TfrmPictures2Video::AddLogLine(const QString& line) { mmoLog->appendPlainText(line); }

}  // namespace app
