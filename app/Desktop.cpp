#include "app/Desktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace app {

QStringList TDesktop::Execute(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

void TDesktop::ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                           const QString& text) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

void TDesktop::OpenUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

QString QtNameFilter(const QString& designFilter) {
  const QString description = designFilter.section(QLatin1Char('|'), 0, 0);
  const QStringList patterns =
      designFilter.section(QLatin1Char('|'), 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
  return description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

TDesktop& SystemDesktop() {
  static TDesktop desktop;
  return desktop;
}

}  // namespace app
