// What the window shows of a conversion: progress texts, bar and list
// selection for a progress record; the end of a run; the log lines.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "tests/app/WindowFixture.h"

namespace {

using encoder::TProgressInfo;
using encoder::TTerminateInfo;

QString U(const char* text) { return QString::fromUtf8(text); }

TEST_F(WindowTest, ProgressRecordIsShownAsTextsBarAndSelection) {
  struct TCase {
    const char* Name;
    TProgressInfo Info;
    const char* Status;
    int Bar;
    const char* Percent;
    int SelectedRow;
  };
  const TCase cases[] = {
      {"pictures input", {0, 0, 370, 25, 3.0f, 800.0f, 123456, 12345678, 0},
       "帧数: 370; FPS: 25; 大小: 123456; 耗时: 12345 毫秒", 12, "进度 12 %", 0},
      {"audio input past 100 s", {0, 1, 4500, 30, 2.0f, 900.0f, 5000000000LL, 150000000, 0},
       "帧数: 4500; FPS: 30; 大小: 5000000000; 耗时: 150000 毫秒", 100, "进度 150 %", 1},
      {"last report keeps the selection", {0, -1, 1, 0, 0.0f, 0.0f, 0, 999999, 0},
       "帧数: 1; FPS: 0; 大小: 0; 耗时: 999 毫秒", 0, "进度 0 %", 1},
      {"input beyond the list keeps the selection", {0, 7, 2, 1, 0.0f, 0.0f, 10, 2000000, 0},
       "帧数: 2; FPS: 1; 大小: 10; 耗时: 2000 毫秒", 2, "进度 2 %", 1},
  };
  Window->lstPictures->addItems({"/p/one.jpg", "/p/two.jpg"});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Window->FFEncoderProgress(nullptr, &c.Info);
    EXPECT_EQ(Window->lblStatus->text(), U(c.Status));
    EXPECT_EQ(Window->ProgressBar1->value(), c.Bar);
    EXPECT_EQ(Window->lbjdt->text(), U(c.Percent));
    EXPECT_EQ(Window->lstPictures->currentRow(), c.SelectedRow);
  }
}

// A run ends with task events and then the final event (task index -1).
TEST_F(WindowTest, EndOfRunIsShownOnce) {
  const TTerminateInfo stoppedAtEnd{0, false, false, ""};
  const TTerminateInfo failed{0, false, true, "Conversion failed: broken picture"};
  const TTerminateInfo final{-1, true, false, ""};
  struct TShown {
    QMessageBox::Icon Icon;
    const char* Text;
  };
  struct TCase {
    const char* Name;
    std::vector<TTerminateInfo> Events;
    std::vector<TShown> Messages;
    int PicturesLeft;
    bool FolderOpened;
  };
  const TCase cases[] = {
      {"task event alone", {stoppedAtEnd}, {}, 2, false},
      {"stopped at the last picture", {stoppedAtEnd, final}, {{QMessageBox::Information, " 操作已完成！"}}, 0, true},
      {"task failed", {failed, final}, {{QMessageBox::Warning, "Conversion failed: broken picture"}}, 2, false},
      {"failed run, then a good one",
       {failed, final, stoppedAtEnd, final},
       {{QMessageBox::Warning, "Conversion failed: broken picture"}, {QMessageBox::Information, " 操作已完成！"}},
       0,
       true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ReopenWindow();
    AddPictures({"/p/one.jpg", "/p/two.jpg"});
    Window->ApplyButtonMoment(app::bmStarted);

    for (const TTerminateInfo& event : c.Events) Window->FFEncoderTerminate(nullptr, event);

    ASSERT_EQ(Desktop.Messages.size(), c.Messages.size());
    for (size_t i = 0; i < c.Messages.size(); ++i) {
      EXPECT_EQ(Desktop.Messages[i].Icon, c.Messages[i].Icon);
      EXPECT_EQ(Desktop.Messages[i].Text, U(c.Messages[i].Text));
      EXPECT_EQ(Desktop.Messages[i].Caption, U(app::kAppTitle));
    }
    EXPECT_EQ(Window->lstPictures->count(), c.PicturesLeft);
    EXPECT_EQ(Window->SHOWVIEW->isVisible(), c.PicturesLeft == 0);
    EXPECT_EQ(Desktop.Opened, c.FolderOpened ? std::vector<QUrl>{QUrl::fromLocalFile(Window->Edit1->text())}
                                             : std::vector<QUrl>{});
    if (c.FolderOpened) {
      EXPECT_EQ(Window->ProgressBar1->value(), 100);
      EXPECT_EQ(Window->lbjdt->text(), U("进度 100 %"));
    }
    // Only the final event gives the buttons back.
    EXPECT_EQ(Window->btnPictures->isEnabled(), c.Events.back().TaskIndex < 0);
  }
}

TEST_F(WindowTest, LogLinesGoToTheMemo) {
  Window->FIAReadHeader(nullptr);
  Window->FFLoggerLog(nullptr, 4312, fflog::llInfo, "Stream #0:0: Video: rawvideo");
  Window->FFLoggerLog(nullptr, 77, fflog::llError, "");
  Window->FIAReadClose(nullptr);
  EXPECT_EQ(Window->mmoLog->toPlainText(),
            "FrameInput read header\n#4312.5: Stream #0:0: Video: rawvideo\n#77.3: \nFrameInput read close");
}

}  // namespace
