#pragma once
// A real main window under the offscreen platform, with a desktop that
// answers the dialogs in the user's place and records what the window
// asked of it. HOME points at a fresh folder, so the default output folder
// is created there.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QListWidget>
#include <QTemporaryDir>
#include <QUrl>
#include <deque>
#include <memory>
#include <vector>

#include "app/Desktop.h"
#include "app/Pictures2VideoFrm.h"

class TScriptedDesktop : public app::TDesktop {
 public:
  struct TDialog {
    QFileDialog::AcceptMode AcceptMode;
    QFileDialog::FileMode FileMode;
    QStringList NameFilters;
    QString DefaultSuffix;
  };
  struct TMessage {
    QMessageBox::Icon Icon;
    QString Caption;
    QString Text;
  };

  // One answer per dialog, in order; none left means the user cancels.
  std::deque<QStringList> Answers;
  std::vector<TDialog> Dialogs;
  std::vector<TMessage> Messages;
  std::vector<QUrl> Opened;

  QStringList Execute(QFileDialog& dialog) override {
    Dialogs.push_back({dialog.acceptMode(), dialog.fileMode(), dialog.nameFilters(), dialog.defaultSuffix()});
    if (Answers.empty()) return {};
    QStringList answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  void ShowMessage(QWidget*, QMessageBox::Icon icon, const QString& caption, const QString& text) override {
    Messages.push_back({icon, caption, text});
  }
  void OpenUrl(const QUrl& url) override { Opened.push_back(url); }
};

inline QApplication& TestApplication() {
  static QApplication* application = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fotoreel-tests";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  return *application;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    ASSERT_TRUE(Home.isValid());
    FSavedHome = qgetenv("HOME");
    qputenv("HOME", Home.path().toUtf8());
    ReopenWindow();
  }
  void TearDown() override {
    Window.reset();
    qputenv("HOME", FSavedHome);
  }

  // A fresh window in place of the current one (one window, and logger, at
  // a time); the desktop forgets what it showed and opened.
  void ReopenWindow() {
    Window.reset();
    Desktop.Messages.clear();
    Desktop.Opened.clear();
    Window = std::make_unique<app::TfrmPictures2Video>(Desktop);
    Window->show();
  }

  // Runs the picture dialog with the given answer (empty: cancelled).
  void AddPictures(const QStringList& paths) {
    if (!paths.isEmpty()) Desktop.Answers.push_back(paths);
    Window->btnPictures->click();
  }
  void ChooseAudio(const QString& path) {
    Desktop.Answers.push_back({path});
    Window->btnAudio->click();
  }
  QStringList ListItems() const {
    QStringList items;
    for (int i = 0; i < Window->lstPictures->count(); ++i) items << Window->lstPictures->item(i)->text();
    return items;
  }

  QTemporaryDir Home;
  TScriptedDesktop Desktop;
  std::unique_ptr<app::TfrmPictures2Video> Window;

 private:
  QByteArray FSavedHome;
};
