#include "app/VisualStyle.h"

#include <QApplication>

namespace app {

namespace {

// Dark buttons, lists, tool tips and dialogs. The main window keeps its
// own colours on top of it (its style sheet wins over this one).
const char kCarbon[] = R"(
QPushButton, QToolButton {
  color: #E6E6E6;
  background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #4A4A4A, stop:1 #303030);
  border: 1px solid #1C1C1C;
  border-radius: 3px;
}
QPushButton { padding: 2px 6px; }
QToolButton { padding: 1px; }
QPushButton:hover, QToolButton:hover {
  background-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #5A5A5A, stop:1 #3C3C3C);
}
QPushButton:pressed, QToolButton:pressed { background-color: #262626; }
QPushButton:disabled, QToolButton:disabled { color: #7A7A7A; background-color: #3A3A3A; }
QPushButton:focus { border-color: #6A8FBF; }
QToolButton[autoRaise="true"] { background-color: transparent; border-color: transparent; }
QToolButton[autoRaise="true"]:hover { background-color: rgba(0, 0, 0, 60); }
QListWidget, QListView, QTreeView, QPlainTextEdit {
  color: #E0E0E0;
  background-color: #2B2B2B;
  border: 1px solid #1C1C1C;
  selection-color: white;
  selection-background-color: #4F6E8F;
}
QHeaderView::section {
  color: #E0E0E0; background-color: #3A3A3A; border: none; border-right: 1px solid #2B2B2B; padding: 2px 4px;
}
QScrollBar:vertical, QScrollBar:horizontal { background: #2B2B2B; border: none; }
QScrollBar::handle { background: #555555; border-radius: 3px; min-height: 16px; min-width: 16px; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }
QToolTip { color: #E6E6E6; background-color: #2D2D2D; border: 1px solid #5A5A5A; }
QDialog, QMessageBox { color: #E0E0E0; background-color: #2D2D2D; }
QDialog QLabel, QMessageBox QLabel { color: #E0E0E0; }
QDialog QLineEdit, QDialog QComboBox {
  color: #E0E0E0; background-color: #1F1F1F; border: 1px solid #555555;
}
QMenu { color: #E0E0E0; background-color: #2D2D2D; }
QMenu::item:selected { background-color: #4F6E8F; }
)";

struct TVisualStyle {
  const char* Name;
  const char* Sheet;
};

constexpr TVisualStyle kStyles[] = {{"Carbon", kCarbon}};

}  // namespace

bool ApplyVisualStyle(QApplication& application, const QString& name) {
  for (const TVisualStyle& style : kStyles) {
    if (name == QLatin1String(style.Name)) {
      application.setStyleSheet(QString::fromUtf8(style.Sheet));
      return true;
    }
  }
  return false;
}

}  // namespace app
