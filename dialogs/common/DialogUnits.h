#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

// Dialog units are a quarter of the dialog font's average character width horizontally and an
// eighth of its character height vertically, so that a layout keeps its proportions whatever
// the font and the screen's scaling.

// The dialog base units of `font`: its average character width (over the Latin letters, as
// the resource compiler measures it) and its character height, in pixels.
QSize DialogBaseUnits(const QFont& font);

// A rectangle in dialog units, in pixels for the base units `base`.
QRect DialogUnitsToPixels(const QRect& units, QSize base);
