#pragma once

#include <QLabel>

// A one-line label that never asks for more width than it is given: a text too long for its
// place ends in "…", as the platform's value labels do, instead of widening the row around it.
class UIElidingLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    QSize minimumSizeHint() const override;
    // The text as drawn at the label's current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
