#pragma once
// What the main window asks of the desktop: modal file dialogs, message
// boxes and the shell. The window owns and configures its dialogs; this
// class only runs them, so a test can answer for the user instead.
#include <QMessageBox>
#include <QStringList>

class QFileDialog;
class QUrl;
class QWidget;

namespace app {

class TDesktop {
 public:
  virtual ~TDesktop() = default;

  // Shows the configured dialog modally. The chosen paths in the dialog's
  // order; empty when the user cancelled.
  virtual QStringList Execute(QFileDialog& dialog);
  // Modal message box; returns when the user has closed it.
  virtual void ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                           const QString& text);
  // Hands a folder or web address to the desktop's default handler.
  virtual void OpenUrl(const QUrl& url);
};

// A filter in the design's form, "Description|*.A;*.B", as Qt writes it:
// "Description (*.A *.B)". Matching ignores case.
QString QtNameFilter(const QString& designFilter);

// The real desktop, shared by every window of the process.
TDesktop& SystemDesktop();

}  // namespace app
