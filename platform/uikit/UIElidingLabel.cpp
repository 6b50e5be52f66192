#include "UIElidingLabel.h"

#include <QPainter>
#include <QStyle>
#include <algorithm>

QSize UIElidingLabel::minimumSizeHint() const {
    QSize size = QLabel::minimumSizeHint();
    const QMargins m = contentsMargins();
    const int ellipsis = fontMetrics().horizontalAdvance(QString::fromUtf8("\u2026"));
    size.setWidth(std::min(size.width(), ellipsis + m.left() + m.right()));
    return size;
}

QString UIElidingLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

void UIElidingLabel::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine,
                          palette(), isEnabled(), shownText(), foregroundRole());
}
