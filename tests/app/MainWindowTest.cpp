// The window as it comes up: frame, controls, texts, fonts, colours, the
// hidden controls' state, the combo boxes and the default output folder.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include "app/ImageControl.h"
#include "app/VisualStyle.h"
#include "tests/app/WindowFixture.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

QString TextOf(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
  if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
  return {};
}

TEST_F(WindowTest, FrameIsBorderlessFixedCentredAndTitled) {
  EXPECT_TRUE(Window->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(Window->size(), QSize(610, 451));
  EXPECT_EQ(Window->minimumSize(), Window->maximumSize());
  EXPECT_EQ(Window->windowTitle(), U("Fotoreel2022（简版）"));
  const QPoint centre = Window->screen()->availableGeometry().center();
  EXPECT_LE((Window->geometry().center() - centre).manhattanLength(), 2);
  EXPECT_EQ(Window->font().family(), U("Tahoma"));
  EXPECT_EQ(Window->font().pixelSize(), 11);
}

TEST_F(WindowTest, VisibleControlsSitWhereDesignedWithTheirTexts) {
  struct TCase {
    QWidget* Control;
    QRect Geometry;  // width 0: a label sized by its text, only the position counts
    const char* Text;
    const char* Hint;
  };
  app::TfrmPictures2Video& w = *Window;
  const TCase cases[] = {
      {w.Image1, {0, 0, 610, 73}, "", ""},
      {w.Image2, {0, 15, 47, 34}, "", ""},
      {w.lblcaption, {53, 15, 0, 0}, "Fotoreel2022（简版）", ""},
      {w.Image19, {564, 8, 41, 41}, "", "退出程序"},
      {w.btnPictures, {19, 77, 88, 28}, "+添加图片", "单击选择想要转成视频的图片"},
      {w.btnAudio, {130, 77, 88, 28}, ">添加音频", "单击选择加入视频的音乐文件"},
      {w.btnClear, {241, 77, 88, 28}, "清除列表", "清除选择"},
      {w.btnStart, {435, 77, 88, 28}, "开始转换", "单击进行图片转视频操作"},
      {w.lstPictures, {19, 111, 562, 148}, "", ""},
      {w.ProgressBar1, {583, 111, 5, 148}, "", ""},
      {w.Label32, {22, 265, 0, 0}, "", ""},
      {w.Label11, {18, 296, 0, 0}, "视频保存路径", ""},
      {w.Edit1, {113, 298, 363, 19}, nullptr, ""},
      {w.SpeedButton2, {482, 298, 99, 19}, "打开视频文件夹", ""},
      {w.Label12, {19, 336, 0, 0}, "视频输出类型", ""},
      {w.ComboBox2, {113, 331, 198, 0}, "WMV", ""},
      {w.Label2, {317, 334, 0, 0}, "图片延时", ""},
      {w.edtFrameDelay, {383, 331, 198, 0}, "2.0", "单位：秒"},
      {w.Label13, {19, 368, 0, 0}, "视频输出尺寸", ""},
      {w.cboFrameSize, {113, 364, 198, 0}, "320x240", "没有的尺寸可以自定义输入"},
      {w.Label34, {330, 368, 0, 0}, "清晰度", ""},
      {w.ComboBox4, {383, 364, 198, 0}, "普清", ""},
      {w.Label35, {38, 401, 0, 0}, "普屏/宽屏", ""},
      {w.ComboBox5, {113, 398, 198, 0}, "宽屏 16:9", ""},
      {w.Label36, {317, 401, 0, 0}, "视频旋转", ""},
      {w.ComboBox6, {383, 398, 198, 0}, "保持原状", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Control->objectName().toStdString());
    EXPECT_TRUE(c.Control->isVisible());
    EXPECT_EQ(c.Control->pos(), c.Geometry.topLeft());
    if (c.Geometry.width() > 0) {
      EXPECT_EQ(c.Control->width(), c.Geometry.width());
    }
    if (c.Geometry.height() > 0) {
      EXPECT_EQ(c.Control->height(), c.Geometry.height());
    }
    if (c.Text) {
      EXPECT_EQ(TextOf(c.Control), U(c.Text));
    }
    EXPECT_EQ(c.Control->toolTip(), U(c.Hint));
  }
  EXPECT_EQ(w.Image19->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(w.SpeedButton2->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(w.ProgressBar1->orientation(), Qt::Vertical);
  EXPECT_EQ(w.ProgressBar1->value(), 0);
  EXPECT_EQ(w.ProgressBar1->maximum(), 100);
}

TEST_F(WindowTest, FontsFollowTheDesign) {
  struct TCase {
    QWidget* Control;
    const char* Family;
    int PixelSize;
    bool Bold;
  };
  app::TfrmPictures2Video& w = *Window;
  const TCase cases[] = {
      {w.lblcaption, "微软雅黑", 19, true}, {w.Label11, "微软雅黑", 13, false},
      {w.Label36, "微软雅黑", 13, false},   {w.lstPictures, "微软雅黑", 13, false},
      {w.Label32, "宋体", 13, false},       {w.Edit1, "宋体", 13, false},
      {w.ComboBox5, "宋体", 13, false},     {w.btnStart, "Tahoma", 11, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Control->objectName().toStdString());
    EXPECT_EQ(c.Control->font().family(), U(c.Family));
    EXPECT_EQ(c.Control->font().pixelSize(), c.PixelSize);
    EXPECT_EQ(c.Control->font().bold(), c.Bold);
  }
}

TEST_F(WindowTest, PaintsSkyBlueWithLightGreenFields) {
  const QImage shot = Window->grab().toImage();
  struct TCase {
    const char* Where;
    QPoint At;
    QRgb Colour;
  };
  const TCase cases[] = {
      {"window background", {600, 440}, qRgb(0xA6, 0xCA, 0xF0)},
      {"output folder field", {470, 307}, qRgb(0xF0, 0xFF, 0xF0)},
      {"display time field", {570, 341}, qRgb(0xF0, 0xFF, 0xF0)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Where);
    EXPECT_EQ(QColor(shot.pixel(c.At * shot.devicePixelRatio())).rgb(), c.Colour);
  }
}

TEST_F(WindowTest, StartsWithThePlaceholderAndEmptyAudioLabel) {
  QLabel* placeholder = Window->SHOWVIEW;
  ASSERT_NE(placeholder, nullptr);
  EXPECT_EQ(placeholder->parentWidget(), Window->lstPictures);
  EXPECT_TRUE(placeholder->isVisible());
  EXPECT_EQ(placeholder->text(), U("请选择添加图片"));
  EXPECT_EQ(placeholder->pos(), QPoint(211, 64));
  EXPECT_EQ(placeholder->font().family(), U("微软雅黑"));
  EXPECT_EQ(placeholder->font().pointSize(), 15);
  EXPECT_TRUE(Window->Label32->text().isEmpty());
  EXPECT_EQ(Window->lstPictures->count(), 0);
}

TEST_F(WindowTest, HiddenControlsArePresentWithTheirState) {
  struct TCase {
    QWidget* Control;
    const char* Text;
    bool Enabled;
  };
  app::TfrmPictures2Video& w = *Window;
  const TCase cases[] = {
      {w.Label1, "Output", true},      {w.btnOpen, "Output", false},     {w.btnStop, "Stop", false},
      {w.btnPause, "Pause", false},    {w.btnResume, "Resume", false},   {w.btnWebSite, "Web Site", true},
      {w.btnClear1, "Clear", true},    {w.cboLogLevel, "Info", true},
      {w.chkPreview, "Preview while encoding", true},
      {w.chkPictures, "Break when no pictures", true},
      {w.chkFrameDelay, "Every frame delay for (seconds)", true},
      {w.cboFrameRate, "30/1", true},  {w.cboFrameSize1, "320x240", true},
      {w.txtAudio, "-", true},         {w.txtOutput, "-", true},         {w.mmoLog, "", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Control->objectName().toStdString());
    EXPECT_TRUE(c.Control->isHidden());
    EXPECT_EQ(TextOf(c.Control), U(c.Text));
    EXPECT_EQ(c.Control->isEnabled(), c.Enabled);
  }
  for (QCheckBox* check : {w.chkPreview, w.chkPictures, w.chkFrameDelay}) EXPECT_TRUE(check->isChecked());
  EXPECT_EQ(w.cboLogLevel->toolTip(), U("LogLevel"));
  EXPECT_TRUE(w.mmoLog->toPlainText().isEmpty());
  EXPECT_EQ(w.mmoLog->size(), QSize(0, 0));
}

TEST_F(WindowTest, ComboBoxesHoldTheirItemsAndDefaults) {
  struct TCase {
    QComboBox* Combo;
    QStringList Items;
    int Index;
    bool Editable;
  };
  app::TfrmPictures2Video& w = *Window;
  const QStringList sizes{"160x120",   "320x200",   "320x240",   "640x350",   "640x480",   "800x600",   "1024x768",
                          "1280x720",  "1280x1024", "1366x768",  "1600x1024", "1600x1200", "1920x1080", "1920x1200",
                          "2048x1536", "2560x1600", "3200x2048", "3840x2400", "5120x4096", "6400x4096", "7680x4800",
                          "761x1111",  "",          "",          "",          ""};
  const TCase cases[] = {
      {w.ComboBox2, {"FLV", "MP4", "MOV", "MKV", "WMV", "AVI", "", "", ""}, 4, true},
      {w.cboFrameSize, sizes, 2, true},
      {w.cboFrameRate, {"30/1", "25/1", "15/1"}, 0, true},
      {w.ComboBox4, {U("普清"), U("高清")}, 0, false},
      {w.ComboBox5,
       {U("普屏 4:3"), U("宽屏 16:9"), U("宽屏 16:10"), U("超宽屏 21:9"), U("手机播放 3:4"), U("手机播放 9:16"),
        U("手机播放 10:16"), U("手机播放 9:21")},
       1, false},
      {w.ComboBox6,
       {U("保持原状"), U("顺时针旋转90°"), U("逆时针旋转90°"), U("顺时针旋转90°然后水平翻转"),
        U("逆时针旋转90°然后垂直翻转")},
       0, false},
      {w.cboLogLevel, {"Quiet", "Panic", "Fatal", "Error", "Warning", "Info", "Verbose", "Debug"}, 5, false},
      {w.cboFrameSize1, {"320x240", "640x480", "1280x960"}, 0, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Combo->objectName().toStdString());
    QStringList items;
    for (int i = 0; i < c.Combo->count(); ++i) items << c.Combo->itemText(i);
    EXPECT_EQ(items, c.Items);
    EXPECT_EQ(c.Combo->currentIndex(), c.Index);
    EXPECT_EQ(c.Combo->isEditable(), c.Editable);
  }
}

// The output folder is made at start-up under whatever HOME says, with any
// missing parents; when it cannot be made the window still comes up.
TEST_F(WindowTest, CreatesTheDefaultOutputFolder) {
  Window.reset();  // one window (and logger) at a time
  const QString root = Home.path();
  QFile plainFile(root + "/plain-file");
  ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
  plainFile.close();
  QDir(root).mkpath("existing/qv_pictvideo");
  QFile kept(root + "/existing/qv_pictvideo/kept.mp4");
  ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
  kept.close();

  struct TCase {
    const char* Home;
    bool Creatable;
  };
  const TCase cases[] = {
      {"fresh", true},
      {"missing/parents/here", true},
      {"existing", true},
      {"plain-file", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Home);
    const QString home = root + "/" + c.Home;
    qputenv("HOME", home.toUtf8());
    QDir().mkpath(root + "/fresh");
    app::TfrmPictures2Video window(Desktop);
    const QString folder = home + "/qv_pictvideo";
    EXPECT_EQ(window.Edit1->text(), folder);
    EXPECT_EQ(QFileInfo(folder).isDir(), c.Creatable);
  }
  EXPECT_TRUE(kept.exists());
}

TEST(VisualStyle, CarbonAppliesAndAMissingStyleIsNoError) {
  QApplication& application = TestApplication();
  application.setStyleSheet(QString());
  EXPECT_FALSE(app::ApplyVisualStyle(application, "NoSuchStyle"));
  EXPECT_TRUE(application.styleSheet().isEmpty());
  EXPECT_TRUE(app::ApplyVisualStyle(application, "Carbon"));
  EXPECT_FALSE(application.styleSheet().isEmpty());
  application.setStyleSheet(QString());
}

}  // namespace
