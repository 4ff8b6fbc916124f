#pragma once

#include <QIcon>

// Loads an icon resource (see IconPainter.h) as a QIcon rendered at the sizes trays and
// panels ask for (16 to 128 pixels), so that each of them is drawn
// crisp rather than scaled. A null icon for an unknown id. Needs a QGuiApplication; the icons
// are made once per process and shared.
QIcon LoadIconResource(unsigned id);

// The sizes at which the icons are rendered.
inline constexpr int kIconResourceSizes[] = {16, 20, 22, 24, 32, 40, 48, 64, 96, 128};
