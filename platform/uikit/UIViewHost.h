#pragma once

#include "UIView.h"

#include <QImage>
#include <QWidget>
#include <memory>

class UIGestureRecognizer;

// Shows a root view in a widget, one point per widget pixel, and turns mouse presses, moves and
// releases into touches for the recognisers of the view under the press.
class UIViewHost : public QWidget {
public:
    explicit UIViewHost(std::shared_ptr<UIView> root, QWidget *parent = nullptr);
    ~UIViewHost() override;

    UIView &rootView() const { return *root_; }

    // Lays the root out at `size` and paints it into an image at `scale` pixels per point.
    static QImage snapshot(UIView &root, double scale);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    std::shared_ptr<UIView> root_;
    std::vector<std::shared_ptr<UIGestureRecognizer>> tracking_;
    int displayObserver_;
};
