#include "dialogs/about/AboutBanner.h"

#include "res/IconPainter.h"
#include "res/Resource.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

QPixmap LoadBannerBitmap(QSize size) {
    if (size.isEmpty()) {
        return {};
    }
    QPixmap banner(size);
    QPainter painter(&banner);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, size.width(), 0);
    sky.setColorAt(0.0, QColor(0x0B, 0x2A, 0x5B));
    sky.setColorAt(1.0, QColor(0x2E, 0x6F, 0xC4));
    painter.fillRect(banner.rect(), sky);
    const qreal side = size.height() * 0.8;
    const qreal margin = (size.height() - side) / 2;
    PaintIconResource(painter, QRectF(margin * 2, margin, side, side), IDR_MAINFRAME);
    QFont font(QStringLiteral("Sans Serif"));
    font.setBold(true);
    font.setPixelSize(qMax(8, static_cast<int>(size.height() * 0.42)));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(margin * 4 + side, 0, size.width() - side - margin * 5, size.height()),
                     Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Velkora"));
    return banner;
}
