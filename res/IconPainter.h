#pragma once

#include <QImage>

class QPainter;
class QRectF;

// The program's icons are drawn in code, from one design on a 64-unit square that is scaled to
// whatever size the desktop asks for, so that each size is rendered rather than resampled.
//
//   128       the card with a certificate rosette: certificates are registered
//   314       the card greyed out with a red cross: no certificate registered
//   301..308  the card with a busy arc that turns by 45 degrees from frame to frame

bool IsIconResource(unsigned id);

// Paints icon `id` into the square `target`; false (nothing painted) for an unknown id.
bool PaintIconResource(QPainter& painter, const QRectF& target, unsigned id);

// Icon `id` as a size x size image on a transparent background; a null image for an unknown
// id or a size outside 1..1024. Needs no application object.
QImage RenderIconResource(unsigned id, int size);
