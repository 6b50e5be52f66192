#include "SettingsWindowProbes.h"

#include "XvfbDisplay.h"

#include <algorithm>
#include <cstdlib>

namespace platform::testing {

bool nearColour(const QColor &a, const QColor &b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

QColor colourFromHex(const std::string &hex) {
    return QColor(QString::fromStdString("#" + hex));
}

std::vector<QRect> tableRowsOn(const QImage &shot, const QRect &window) {
    constexpr int kBar = 44, kRow = 44, kProbeX = 12;
    std::vector<QRect> rows;
    int top = -1;
    const int bottom = window.bottom() + 1;
    for (int y = window.top() + kBar + 1; y <= bottom; ++y) {
        const QColor c(y < bottom ? shot.pixel(window.left() + kProbeX, y) : 0);
        const bool white =
            y < bottom && (c == QColor(Qt::white) || (c.blue() > 200 && c.red() < 200));
        if (white && top < 0)
            top = y;
        if (!white && top >= 0) {
            const int height = y - top;
            const int count = std::max(1, (height + kRow / 2) / kRow);
            for (int i = 0; i < count; ++i)
                rows.emplace_back(window.left(), top + i * height / count, window.width(),
                                  height / count);
            top = -1;
        }
    }
    return rows;
}

QRect alertCardOn(const QImage &shot, const QRect &window) {
    QRect card;
    const QColor grey(0xf2, 0xf2, 0xf2);
    for (int y = window.top(); y <= window.bottom(); y += 2)
        for (int x = window.left(); x <= window.right(); x += 2)
            if (QColor(shot.pixel(x, y)) == grey)
                card |= QRect(x, y, 1, 1);
    return card.width() > 100 && card.height() > 60 ? card : QRect();
}

bool progressOverlayOn(const QImage &shot, const QRect &window) {
    const QRect middle(window.center().x() - 100, window.center().y() - 60, 200, 120);
    return countPixels(shot, middle, QColor(40, 40, 40), 40) > 10000;
}

} // namespace platform::testing
