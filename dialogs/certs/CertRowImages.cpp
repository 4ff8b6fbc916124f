#include "dialogs/certs/CertRowImages.h"

#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kSize = 16;

QColor SealColour(CertRowImage image) {
    switch (image) {
    case kImageAuthority:
        return {0x1d, 0x4f, 0x94};
    case kImageQualified:
        return {0x2e, 0x8b, 0x3a};
    case kImageUser:
        break;
    }
    return {0x7a, 0x82, 0x8c};
}

void PaintSheet(QPainter& p) {
    p.setPen(QPen(QColor(0x5d, 0x65, 0x70), 1));
    p.setBrush(QColor(0xfb, 0xfb, 0xf7));
    p.drawRect(QRectF(1.5, 1.5, 12, 11));
    p.setPen(QPen(QColor(0x9a, 0xa2, 0xac), 1));
    p.drawLine(QPointF(3.5, 4.5), QPointF(11.5, 4.5));
    p.drawLine(QPointF(3.5, 6.5), QPointF(9.5, 6.5));
}

void PaintSeal(QPainter& p, CertRowImage image) {
    const QColor colour = SealColour(image);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    // Ribbons below the seal.
    p.drawPolygon(QPolygonF({QPointF(9, 12), QPointF(10.5, 16), QPointF(11.5, 13.5),
                             QPointF(12.5, 16), QPointF(14, 12)}));
    p.setPen(QPen(colour.darker(140), 1));
    p.drawEllipse(QPointF(11.5, 10.5), 3.5, 3.5);
    if (image == kImageQualified) {
        p.setPen(QPen(Qt::white, 1.3));
        p.drawPolyline(QPolygonF({QPointF(9.8, 10.5), QPointF(11.2, 12), QPointF(13.3, 9)}));
    } else if (image == kImageAuthority) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xf2, 0xc9, 0x4c));
        p.drawEllipse(QPointF(11.5, 10.5), 1.5, 1.5);
    }
}

void PaintValidityMark(QPainter& p, CertValidityState validity) {
    QColor colour;
    if (validity == CertValidityState::Expired) {
        colour = QColor(0xd0, 0x21, 0x21);
    } else if (validity == CertValidityState::ExpiresSoon) {
        colour = QColor(0xe8, 0x9a, 0x0c);
    } else {
        return;
    }
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(colour);
    p.drawEllipse(QRectF(0.5, 8.5, 7, 7));
    p.setPen(QPen(Qt::white, 1.4));
    p.drawLine(QPointF(4, 10), QPointF(4, 12.3));
    p.drawPoint(QPointF(4, 14));
}

} // namespace

QIcon CertRowIcon(CertRowImage image, CertValidityState validity) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintSheet(painter);
    PaintSeal(painter, image);
    PaintValidityMark(painter, validity);
    painter.end();
    return QIcon(pixmap);
}

QString CertRowImageName(CertRowImage image, int language) {
    static constexpr const char* kNames[3][3] = {
        {"Authority certificate", "Zertifikat einer Zertifizierungsstelle",
         "Certifikat för certifikatutfärdare"},
        {"User certificate", "Benutzerzertifikat", "Användarcertifikat"},
        {"Qualified certificate", "Qualifiziertes Zertifikat", "Kvalificerat certifikat"},
    };
    const int column = language == 0 ? 0 : language == 2 ? 2 : 1;
    return QString::fromUtf8(kNames[static_cast<int>(image)][column]);
}
