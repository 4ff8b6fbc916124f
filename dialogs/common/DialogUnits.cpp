#include "dialogs/common/DialogUnits.h"

#include <QFontMetrics>

namespace {

// The resource compiler's MulDiv: value * numerator / denominator, rounded half away from zero.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

} // namespace

QSize DialogBaseUnits(const QFont& font) {
    static const QString kLetters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    const int letters = static_cast<int>(kLetters.size());
    const int width = (metrics.horizontalAdvance(kLetters) + letters / 2) / letters;
    return {width > 0 ? width : 1, metrics.height() > 0 ? metrics.height() : 1};
}

QRect DialogUnitsToPixels(const QRect& units, QSize base) {
    return {MulDiv(units.x(), base.width(), 4), MulDiv(units.y(), base.height(), 8),
            MulDiv(units.width(), base.width(), 4), MulDiv(units.height(), base.height(), 8)};
}
