#pragma once
// The window's pictures, drawn at run time so the program ships no image
// files: header strip, logo, exit picture and the button images.
#include <QIcon>
#include <QPixmap>

namespace app {

QPixmap HeaderPicture(QSize size);
QPixmap LogoPicture(QSize size);
QPixmap ExitPicture(QSize size);

// Indexes into the design's image list.
enum TButtonImage { biStart = 0, biPictures = 1, biAudio = 2, biClear = 4 };
QIcon ButtonImage(TButtonImage image);

}  // namespace app
