#include "res/IconPainter.h"

#include "res/Resource.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>

namespace {

constexpr double kDesign = 64.0;

struct CardColours {
    QColor top;
    QColor bottom;
    QColor outline;
    QColor chip;
    QColor chipLine;
};

const CardColours kActive{QColor(0x3b, 0x82, 0xd6), QColor(0x1d, 0x4f, 0x94),
                          QColor(0x14, 0x3a, 0x6e), QColor(0xf2, 0xc9, 0x4c),
                          QColor(0xa6, 0x80, 0x1f)};
const CardColours kGreyed{QColor(0xc3, 0xc9, 0xd0), QColor(0x8a, 0x93, 0x9e),
                          QColor(0x5d, 0x65, 0x70), QColor(0xe1, 0xe4, 0xe8),
                          QColor(0x8a, 0x93, 0x9e)};

// The card itself, with its chip; the finer lines only where there are pixels for them.
void PaintCard(QPainter& p, const CardColours& c, double pixelsPerUnit) {
    const QRectF body(3, 13, 58, 38);
    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    fill.setColorAt(0, c.top);
    fill.setColorAt(1, c.bottom);
    p.setBrush(fill);
    p.setPen(QPen(c.outline, 2.0));
    p.drawRoundedRect(body, 6, 6);

    const QRectF chip(10, 22, 16, 12);
    p.setBrush(c.chip);
    p.setPen(QPen(c.chipLine, 1.5));
    p.drawRoundedRect(chip, 2.5, 2.5);
    if (pixelsPerUnit >= 0.45) {
        p.setPen(QPen(c.chipLine, 1.2));
        p.drawLine(QPointF(18, 22), QPointF(18, 34));
        p.drawLine(QPointF(10, 28), QPointF(26, 28));
    }
    if (pixelsPerUnit >= 0.35) {
        // The embossed number line of the card.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 150));
        p.drawRoundedRect(QRectF(10, 40, 20, 3.5), 1.5, 1.5);
    }
}

void PaintCertificateRosette(QPainter& p) {
    const QColor ribbon(0xb3, 0x26, 0x1e);
    p.setPen(QPen(ribbon.darker(140), 1.0));
    p.setBrush(ribbon);
    const QPolygonF left({QPointF(39, 45), QPointF(35, 61), QPointF(39.5, 58.5), QPointF(42, 62),
                          QPointF(45.5, 48)});
    const QPolygonF right({QPointF(53, 45), QPointF(57, 61), QPointF(52.5, 58.5), QPointF(50, 62),
                           QPointF(46.5, 48)});
    p.drawPolygon(left);
    p.drawPolygon(right);

    const QPointF centre(46, 39);
    p.setPen(QPen(QColor(0x8f, 0x1d, 0x14), 1.5));
    p.setBrush(QColor(0xe0, 0x4a, 0x3a));
    p.drawEllipse(centre, 12.5, 12.5);
    p.setPen(QPen(Qt::white, 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, 7, 7);
}

void PaintNoCertificateBadge(QPainter& p) {
    const QPointF centre(46, 44);
    p.setPen(QPen(Qt::white, 2.5));
    p.setBrush(QColor(0xd9, 0x30, 0x25));
    p.drawEllipse(centre, 13.5, 13.5);
    QPen cross(Qt::white, 4.5);
    cross.setCapStyle(Qt::RoundCap);
    p.setPen(cross);
    p.drawLine(centre + QPointF(-6, -6), centre + QPointF(6, 6));
    p.drawLine(centre + QPointF(-6, 6), centre + QPointF(6, -6));
}

// A quarter and a half of a turn of amber arc over a light track, turned clockwise by
// `frame` eighths of a turn.
void PaintBusyBadge(QPainter& p, unsigned frame) {
    const QPointF centre(46, 44);
    p.setPen(QPen(kActive.outline, 2.0));
    p.setBrush(Qt::white);
    p.drawEllipse(centre, 14.5, 14.5);

    const QRectF ring(centre.x() - 8.5, centre.y() - 8.5, 17, 17);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xd5, 0xe2, 0xf3), 5.0));
    p.drawEllipse(ring);
    QPen arc(QColor(0xf2, 0x99, 0x00), 5.0);
    arc.setCapStyle(Qt::RoundCap);
    p.setPen(arc);
    const int start = (90 - static_cast<int>(frame) * 45) * 16;
    p.drawArc(ring, start, -135 * 16);
}

} // namespace

bool IsIconResource(unsigned id) {
    return id == IDR_MAINFRAME || id == IDI_NOCERT || (id >= IDI_ANIM_FIRST && id <= IDI_ANIM_LAST);
}

bool PaintIconResource(QPainter& painter, const QRectF& target, unsigned id) {
    if (!IsIconResource(id) || target.width() <= 0 || target.height() <= 0) {
        return false;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(target.topLeft());
    const double scale = std::min(target.width(), target.height()) / kDesign;
    painter.scale(scale, scale);
    if (id == IDI_NOCERT) {
        PaintCard(painter, kGreyed, scale);
        PaintNoCertificateBadge(painter);
    } else if (id == IDR_MAINFRAME) {
        PaintCard(painter, kActive, scale);
        PaintCertificateRosette(painter);
    } else {
        PaintCard(painter, kActive, scale);
        PaintBusyBadge(painter, id - IDI_ANIM_FIRST);
    }
    painter.restore();
    return true;
}

QImage RenderIconResource(unsigned id, int size) {
    if (!IsIconResource(id) || size < 1 || size > 1024) {
        return {};
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    PaintIconResource(painter, QRectF(0, 0, size, size), id);
    painter.end();
    return image;
}
