#include "UILabel.h"
#include "UIGraphics.h"

#include <QFont>
#include <QFontMetricsF>

UILabel::UILabel() {
    enableDrawRect();
}

UILabel::UILabel(CGRect frame) : UIView(frame) {
    enableDrawRect();
}

QString UILabel::text() const {
    QString all;
    for (const auto &run : runs_)
        all += run.text;
    return all;
}

void UILabel::setText(const QString &text) {
    runs_ = {{text, 0, textColor_}};
    attributed_ = false;
    setNeedsDisplay();
}

void UILabel::setAttributedText(std::vector<NSAttributedRun> runs) {
    runs_ = std::move(runs);
    attributed_ = true;
    setNeedsDisplay();
}

void UILabel::drawRect(CGContext *context, CGRect rect) {
    if (!context || !context->painter || runs_.empty())
        return;
    QPainter &painter = *context->painter;
    // Sizes are in points, the painter's units, so fonts are sized in painter pixels.
    double width = 0, ascent = 0, descent = 0;
    for (const auto &run : runs_) {
        QFont font;
        font.setPixelSize(std::max(1, int(attributed_ ? run.fontSize : fontSize_)));
        QFontMetricsF metrics(font);
        width += metrics.horizontalAdvance(run.text);
        ascent = std::max(ascent, metrics.ascent());
        descent = std::max(descent, metrics.descent());
    }
    double x = rect.minX();
    if (alignment_ == NSTextAlignment::Center)
        x += (rect.width() - width) / 2;
    else if (alignment_ == NSTextAlignment::Right)
        x += rect.width() - width;
    const double baseline = rect.minY() + (rect.height() - ascent - descent) / 2 + ascent;
    painter.save();
    for (const auto &run : runs_) {
        QFont font;
        font.setPixelSize(std::max(1, int(attributed_ ? run.fontSize : fontSize_)));
        painter.setFont(font);
        painter.setPen(toQColor(attributed_ ? run.color : textColor_));
        painter.drawText(QPointF(x, baseline), run.text);
        x += QFontMetricsF(font).horizontalAdvance(run.text);
    }
    painter.restore();
}
