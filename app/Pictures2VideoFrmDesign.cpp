// The window's controls as designed: positions, captions, hints, fonts,
// colours, items and initial states.
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include "app/Artwork.h"
#include "app/ImageControl.h"
#include "app/Pictures2VideoFrm.h"

namespace app {

namespace {

constexpr QSize kClientSize(610, 451);
constexpr int kComboHeight = 21;

// Font heights are given in pixels, as the design's negative heights mean.
QFont DesignFont(const char* family, int pixels, bool bold = false) {
  QFont font(QString::fromUtf8(family));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QFont SettingLabelFont() { return DesignFont("微软雅黑", 13); }
QFont SettingFieldFont() { return DesignFont("宋体", 13); }

// The window's own colours. A style sheet on the window wins over the
// application's visual style, so these hold whatever style is applied.
const char kWindowColours[] = R"(
#frmPictures2Video { background-color: #A6CAF0; }
#lblcaption, #Label11, #Label12, #Label2, #Label13, #Label34, #Label35, #Label36,
#lblStatus, #lbjdt { color: white; background: transparent; }
#Label32 { color: #808080; background: transparent; }
#SpeedButton2 { color: white; }
#Edit1, #edtFrameDelay, #ComboBox2, #cboFrameSize, #ComboBox4, #ComboBox5, #ComboBox6 {
  background-color: #F0FFF0; color: #008000; border: 1px solid #7A9CC6; padding-left: 2px;
}
#ComboBox2 QAbstractItemView, #cboFrameSize QAbstractItemView, #ComboBox4 QAbstractItemView,
#ComboBox5 QAbstractItemView, #ComboBox6 QAbstractItemView {
  background-color: #F0FFF0; color: #008000; selection-background-color: #A6CAF0;
}
#lstPictures::item { height: 19px; }
#SHOWVIEW { color: #008000; background: transparent; }
#ProgressBar1 { background-color: #FFFFE1; border: none; }
#ProgressBar1::chunk { background-color: white; }
)";

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromUtf8(name));
  return widget;
}

QLabel* NewLabel(QWidget* parent, const char* name, const char* text, QPoint at, const QFont& font) {
  auto* label = Named(new QLabel(QString::fromUtf8(text), parent), name);
  label->setFont(font);
  label->move(at);
  label->adjustSize();
  return label;
}

QPushButton* NewButton(QWidget* parent, const char* name, const char* caption, const QRect& at,
                       const char* hint = nullptr) {
  auto* button = Named(new QPushButton(QString::fromUtf8(caption), parent), name);
  button->setGeometry(at);
  if (hint) button->setToolTip(QString::fromUtf8(hint));
  return button;
}

QComboBox* NewCombo(QWidget* parent, const char* name, std::initializer_list<const char*> items,
                    int index, bool editable) {
  auto* combo = Named(new QComboBox(parent), name);
  for (const char* item : items) combo->addItem(QString::fromUtf8(item));
  combo->setEditable(editable);
  // Typed text is used as typed; it never becomes an item.
  if (editable) combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setCurrentIndex(index);
  return combo;
}

QComboBox* SettingCombo(QWidget* parent, const char* name, std::initializer_list<const char*> items,
                        int index, bool editable, QPoint at) {
  QComboBox* combo = NewCombo(parent, name, items, index, editable);
  combo->setFont(SettingFieldFont());
  combo->setGeometry(QRect(at, QSize(198, kComboHeight)));
  return combo;
}

QLineEdit* SettingEdit(QWidget* parent, const char* name, const char* text, const QRect& at) {
  auto* edit = Named(new QLineEdit(QString::fromUtf8(text), parent), name);
  edit->setFont(SettingFieldFont());
  edit->setGeometry(at);
  return edit;
}

QCheckBox* HiddenCheck(QWidget* parent, const char* name, const char* caption) {
  auto* check = Named(new QCheckBox(QString::fromUtf8(caption), parent), name);
  check->setChecked(true);
  return check;
}

}  // namespace

void TfrmPictures2Video::CreateHeader() {
  Image1 = Named(new TImage(this), "Image1");
  Image1->setGeometry(0, 0, kClientSize.width(), 73);
  Image1->setPixmap(HeaderPicture(Image1->size()));

  Image2 = Named(new TImage(this), "Image2");
  Image2->setGeometry(0, 15, 47, 34);
  Image2->setPixmap(LogoPicture(Image2->size()));

  lblcaption = NewLabel(this, "lblcaption", kAppTitle, {53, 15}, DesignFont("微软雅黑", 19, true));

  // Logo and caption let the mouse through, so the whole strip drags.
  Image2->setAttribute(Qt::WA_TransparentForMouseEvents);
  lblcaption->setAttribute(Qt::WA_TransparentForMouseEvents);

  Image19 = Named(new TImage(this), "Image19");
  Image19->setGeometry(564, 8, 41, 41);
  Image19->setPixmap(ExitPicture(Image19->size()));
  Image19->setCursor(Qt::PointingHandCursor);
  Image19->setToolTip(QString::fromUtf8("退出程序"));
}

void TfrmPictures2Video::CreatePictureList() {
  btnPictures = NewButton(this, "btnPictures", "+添加图片", {19, 77, 88, 28}, "单击选择想要转成视频的图片");
  btnPictures->setIcon(ButtonImage(biPictures));
  btnAudio = NewButton(this, "btnAudio", ">添加音频", {130, 77, 88, 28}, "单击选择加入视频的音乐文件");
  btnAudio->setIcon(ButtonImage(biAudio));
  btnClear = NewButton(this, "btnClear", "清除列表", {241, 77, 88, 28}, "清除选择");
  btnClear->setIcon(ButtonImage(biClear));
  btnStart = NewButton(this, "btnStart", "开始转换", {435, 77, 88, 28}, "单击进行图片转视频操作");
  btnStart->setIcon(ButtonImage(biStart));

  lstPictures = Named(new QListWidget(this), "lstPictures");
  lstPictures->setGeometry(19, 111, 562, 148);
  lstPictures->setFont(DesignFont("微软雅黑", 13));

  ProgressBar1 = Named(new QProgressBar(this), "ProgressBar1");
  ProgressBar1->setGeometry(583, 111, 5, 148);
  ProgressBar1->setOrientation(Qt::Vertical);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  Label32 = NewLabel(this, "Label32", "Label32", {22, 265}, SettingFieldFont());
  Label32->resize(559, 18);  // room for a long audio path
}

void TfrmPictures2Video::CreateSettings() {
  Label11 = NewLabel(this, "Label11", "视频保存路径", {18, 296}, SettingLabelFont());
  Edit1 = SettingEdit(this, "Edit1", "", {113, 298, 363, 19});
  SpeedButton2 = Named(new QToolButton(this), "SpeedButton2");
  SpeedButton2->setText(QString::fromUtf8("打开视频文件夹"));
  SpeedButton2->setGeometry(482, 298, 99, 19);
  SpeedButton2->setAutoRaise(true);
  SpeedButton2->setFocusPolicy(Qt::NoFocus);
  SpeedButton2->setCursor(Qt::PointingHandCursor);

  Label12 = NewLabel(this, "Label12", "视频输出类型", {19, 336}, SettingLabelFont());
  ComboBox2 = SettingCombo(this, "ComboBox2", {"FLV", "MP4", "MOV", "MKV", "WMV", "AVI", "", "", ""}, 4,
                           true, {113, 331});
  Label2 = NewLabel(this, "Label2", "图片延时", {317, 334}, SettingLabelFont());
  edtFrameDelay = SettingEdit(this, "edtFrameDelay", "2.0", {383, 331, 198, kComboHeight});
  edtFrameDelay->setToolTip(QString::fromUtf8("单位：秒"));

  Label13 = NewLabel(this, "Label13", "视频输出尺寸", {19, 368}, SettingLabelFont());
  cboFrameSize = SettingCombo(
      this, "cboFrameSize",
      {"160x120",   "320x200",   "320x240",   "640x350",   "640x480",   "800x600",   "1024x768",
       "1280x720",  "1280x1024", "1366x768",  "1600x1024", "1600x1200", "1920x1080", "1920x1200",
       "2048x1536", "2560x1600", "3200x2048", "3840x2400", "5120x4096", "6400x4096", "7680x4800",
       "761x1111",  "",          "",          "",          ""},
      2, true, {113, 364});
  cboFrameSize->setToolTip(QString::fromUtf8("没有的尺寸可以自定义输入"));
  Label34 = NewLabel(this, "Label34", "清晰度", {330, 368}, SettingLabelFont());
  ComboBox4 = SettingCombo(this, "ComboBox4", {"普清", "高清"}, 0, false, {383, 364});

  Label35 = NewLabel(this, "Label35", "普屏/宽屏", {38, 401}, SettingLabelFont());
  ComboBox5 = SettingCombo(this, "ComboBox5",
                           {"普屏 4:3", "宽屏 16:9", "宽屏 16:10", "超宽屏 21:9", "手机播放 3:4",
                            "手机播放 9:16", "手机播放 10:16", "手机播放 9:21"},
                           1, false, {113, 398});
  Label36 = NewLabel(this, "Label36", "视频旋转", {317, 401}, SettingLabelFont());
  ComboBox6 = SettingCombo(this, "ComboBox6",
                           {"保持原状", "顺时针旋转90°", "逆时针旋转90°", "顺时针旋转90°然后水平翻转",
                            "逆时针旋转90°然后垂直翻转"},
                           0, false, {383, 398});

  // The status texts get the free strip below the settings.
  lblStatus = NewLabel(this, "lblStatus", "", {19, 428}, SettingLabelFont());
  lblStatus->resize(440, 19);
  lbjdt = NewLabel(this, "lbjdt", "", {481, 428}, SettingLabelFont());
  lbjdt->resize(100, 19);
}

void TfrmPictures2Video::CreateHiddenControls() {
  Label1 = NewLabel(this, "Label1", "Output", {0, 0}, font());
  btnOpen = NewButton(this, "btnOpen", "Output", {0, 0, 75, 25});
  btnStop = NewButton(this, "btnStop", "Stop", {0, 0, 75, 25});
  btnPause = NewButton(this, "btnPause", "Pause", {0, 0, 75, 25});
  btnResume = NewButton(this, "btnResume", "Resume", {0, 0, 75, 25});
  btnWebSite = NewButton(this, "btnWebSite", "Web Site", {0, 0, 75, 25});
  btnClear1 = NewButton(this, "btnClear1", "Clear", {0, 0, 75, 25});
  cboLogLevel = NewCombo(this, "cboLogLevel",
                         {"Quiet", "Panic", "Fatal", "Error", "Warning", "Info", "Verbose", "Debug"}, 5, false);
  cboLogLevel->setToolTip(QStringLiteral("LogLevel"));
  chkPreview = HiddenCheck(this, "chkPreview", "Preview while encoding");
  chkPictures = HiddenCheck(this, "chkPictures", "Break when no pictures");
  chkFrameDelay = HiddenCheck(this, "chkFrameDelay", "Every frame delay for (seconds)");
  cboFrameRate = NewCombo(this, "cboFrameRate", {"30/1", "25/1", "15/1"}, 0, true);
  cboFrameSize1 = NewCombo(this, "cboFrameSize1", {"320x240", "640x480", "1280x960"}, 0, false);
  txtAudio = NewLabel(this, "txtAudio", "-", {0, 0}, font());
  txtOutput = NewLabel(this, "txtOutput", "-", {0, 0}, font());
  mmoLog = Named(new QPlainTextEdit(this), "mmoLog");
  mmoLog->setGeometry(0, 0, 0, 0);

  for (QWidget* hidden : std::initializer_list<QWidget*>{
           Label1, btnOpen, btnStop, btnPause, btnResume, btnWebSite, btnClear1, cboLogLevel, chkPreview,
           chkPictures, chkFrameDelay, cboFrameRate, cboFrameSize1, txtAudio, txtOutput, mmoLog})
    hidden->hide();

  OpenDialog1 = Named(new QFileDialog(this), "OpenDialog1");
  SaveDialog1 = Named(new QFileDialog(this), "SaveDialog1");
}

TfrmPictures2Video::TfrmPictures2Video(TDesktop& desktop, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), FDesktop(desktop) {
  setObjectName(QStringLiteral("frmPictures2Video"));
  setWindowTitle(QString::fromUtf8(kAppTitle));
  setFixedSize(kClientSize);
  setFont(DesignFont("Tahoma", 11));
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(QString::fromUtf8(kWindowColours));

  CreateHeader();
  CreatePictureList();
  CreateSettings();
  CreateHiddenControls();
  ApplyButtonMoment(bmDesign);
  BindHandlers();
  BindComponents();
  FormCreate();
  CentreOnDesktop();
}

}  // namespace app
