#pragma once
// The main window: a borderless sky-blue window of fixed size with its own
// header strip, the picture list, the conversion settings and the display
// of a conversion's progress and end. Controls carry the design's names and
// are public, as the conversion code and the tests read them directly.
//
// Main thread only. The window keeps no settings between runs.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>

#include "app/ButtonStates.h"
#include "app/Desktop.h"
#include "app/PictureFrameSource.h"
#include "encoder/FFEncode.h"
#include "frameinput/FrameInput.h"
#include "log/FFLog.h"

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace app {

class TImage;

inline constexpr char kAppTitle[] = "Fotoreel2022（简版）";

class TfrmPictures2Video : public QWidget {
  Q_OBJECT

 public:
  // The desktop runs the dialogs and message boxes; it must outlive the
  // window.
  explicit TfrmPictures2Video(TDesktop& desktop = SystemDesktop(), QWidget* parent = nullptr);
  ~TfrmPictures2Video() override;

  // Header.
  TImage* Image1;
  TImage* Image2;
  QLabel* lblcaption;
  TImage* Image19;
  // Picture list and its buttons.
  QPushButton* btnPictures;
  QPushButton* btnAudio;
  QPushButton* btnClear;
  QPushButton* btnStart;
  QListWidget* lstPictures;
  QProgressBar* ProgressBar1;
  QLabel* Label32;
  QLabel* SHOWVIEW;  // placeholder shown over the empty list
  // Settings.
  QLabel* Label11;
  QLineEdit* Edit1;
  QToolButton* SpeedButton2;
  QLabel* Label12;
  QComboBox* ComboBox2;
  QLabel* Label2;
  QLineEdit* edtFrameDelay;
  QLabel* Label13;
  QComboBox* cboFrameSize;
  QLabel* Label34;
  QComboBox* ComboBox4;
  QLabel* Label35;
  QComboBox* ComboBox5;
  QLabel* Label36;
  QComboBox* ComboBox6;
  // Status texts, shown along the bottom edge.
  QLabel* lblStatus;
  QLabel* lbjdt;
  // Present but never shown; their state is kept all the same.
  QLabel* Label1;
  QPushButton* btnOpen;
  QPushButton* btnStop;
  QPushButton* btnPause;
  QPushButton* btnResume;
  QPushButton* btnWebSite;
  QPushButton* btnClear1;
  QComboBox* cboLogLevel;
  QCheckBox* chkPreview;
  QCheckBox* chkPictures;
  QCheckBox* chkFrameDelay;
  QComboBox* cboFrameRate;
  QComboBox* cboFrameSize1;
  QLabel* txtAudio;   // chosen audio file, "-" for none
  QLabel* txtOutput;  // output file, "-" until stamped or chosen
  QPlainTextEdit* mmoLog;
  // Dialogs, configured at start-up and run through the desktop.
  QFileDialog* OpenDialog1;
  QFileDialog* SaveDialog1;

  // Destroyed in reverse order: the encoder first, so that no task still
  // reads from the adapter, paints through the frame source or logs.
 private:
  TPictureFrameSource FFrameSource;

 public:
  fflog::TFFLogger FFLogger;
  frameinput::TFrameInputAdapter FIA;
  encoder::TFFEncoder FFEncoder;

  // Output folder + "/" + the 14-digit stamp of the latest picture action;
  // empty until then.
  const QString& OutputBaseName() const { return FOutputBaseName; }

  // Enables the buttons as the given moment's row of the table says.
  void ApplyButtonMoment(TButtonMoment moment);

  // Handlers bound to the controls.
  void btnPicturesClick();
  void btnAudioClick();
  void btnOpenClick();
  void btnClear1Click();
  void btnStartClick();
  void btnStopClick();
  void btnPauseClick();
  void btnResumeClick();
  void btnWebSiteClick();
  void cboLogLevelChange();
  void chkFrameDelayClick();
  void chkPreviewClick();
  void SpeedButton2Click();
  void Image19Click();
  void Image1MouseDown(Qt::MouseButton button);

  // Handlers for the conversion's events, called on the main thread.
  void FFEncoderProgress(void* Sender, const encoder::TProgressInfo* AProgressInfo);
  void FFEncoderTerminate(void* Sender, const encoder::TTerminateInfo& ATerminateInfo);
  void FIAReadHeader(void* Sender);
  void FIAReadClose(void* Sender);
  std::int32_t FIAReadFrameCanvas(frameinput::TFrameInputAdapter* Sender, platform::TBitmap& ACanvas,
                                  frameinput::TInputFrameInfo* AFrameInfo);
  void FFLoggerLog(void* Sender, std::uintptr_t AThreadID, fflog::TLogLevel ALogLevel,
                   const std::string& ALogMsg);

  // Appends one line to the log memo.
  void AddLogLine(const QString& line);

 protected:
  // FormCloseQuery: closing is always allowed.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateHeader();
  void CreatePictureList();
  void CreateSettings();
  void CreateHiddenControls();
  void BindHandlers();
  void BindComponents();
  void FormCreate();
  void CentreOnDesktop();

  // Loads the FFmpeg libraries from the program folder unless loaded; on
  // failure the loader's text goes to the log and to a warning box.
  bool LoadLibrariesOnFirstUse();
  void StampOutputName();
  // The Start handler's work; failures of the building calls are reported
  // here, other failures thrown.
  void StartConversion();
  // A building call failed: its line in the log, its text in a warning.
  void ReportStartFailure(const char* logPrefix, const std::string& text);
  // Closing: the events let go, a running conversion stopped and waited for.
  void StopForClosing();
  void ShowProgressPercent(std::int64_t seconds);

  TDesktop& FDesktop;
  QString FOutputBaseName;
  QString FSaveFileName;  // the save dialog's file name, kept between uses
  std::int64_t FFrameDelay = 0;
  bool FRunFailed = false;  // a task of the current run ended with an error
};

}  // namespace app
