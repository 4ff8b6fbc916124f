#pragma once

#include <QPixmap>
#include <QSize>

// Bitmap resource 133, the About dialog's banner, drawn for `size` pixels: the program's card
// icon and the maker's name on the maker's blue.
QPixmap LoadBannerBitmap(QSize size);
