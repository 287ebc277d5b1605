#pragma once
// The application's visual styles: style sheets shipped inside the program
// and applied to the whole application by name.
#include <QString>

class QApplication;

namespace app {

// Applies the named style. False, and nothing changed, when the program
// has no style of that name; that is not an error.
bool ApplyVisualStyle(QApplication& application, const QString& name);

}  // namespace app
