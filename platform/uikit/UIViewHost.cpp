#include "UIViewHost.h"
#include "UIGestureRecognizer.h"

#include <QMouseEvent>
#include <QPainter>

UIViewHost::UIViewHost(std::shared_ptr<UIView> root, QWidget *parent)
    : QWidget(parent), root_(std::move(root)),
      // A repaint for every change of the layers, wherever it came from: a render finishing
      // on another thread reaches the screen without any input.
      displayObserver_(CALayer::addDisplayObserver([this] { update(); })) {
    resize(int(root_->frame().width()), int(root_->frame().height()));
}

UIViewHost::~UIViewHost() {
    CALayer::removeDisplayObserver(displayObserver_);
}

QImage UIViewHost::snapshot(UIView &root, double scale) {
    root.layoutIfNeeded();
    const CGRect f = root.frame();
    QImage image(int(f.width() * scale), int(f.height() * scale),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    painter.translate(-f.minX(), -f.minY());
    root.layer().render(painter);
    return image;
}

void UIViewHost::paintEvent(QPaintEvent *) {
    root_->layoutIfNeeded();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(-root_->frame().minX(), -root_->frame().minY());
    root_->layer().render(painter);
}

void UIViewHost::resizeEvent(QResizeEvent *) {
    root_->setFrame({{0, 0}, {double(width()), double(height())}});
}

void UIViewHost::mousePressEvent(QMouseEvent *event) {
    const CGPoint p{event->position().x(), event->position().y()};
    tracking_.clear();
    for (UIView *v = root_->hitTest(p); v; v = v->superview()) {
        if (!v->gestureRecognizers().empty()) {
            tracking_ = v->gestureRecognizers();
            break;
        }
    }
    for (auto &r : tracking_)
        r->touchBegan(p);
    update();
}

void UIViewHost::mouseMoveEvent(QMouseEvent *event) {
    const CGPoint p{event->position().x(), event->position().y()};
    for (auto &r : tracking_)
        r->touchMoved(p);
    update();
}

void UIViewHost::mouseReleaseEvent(QMouseEvent *event) {
    const CGPoint p{event->position().x(), event->position().y()};
    const auto recognizers = std::move(tracking_);
    for (auto &r : recognizers)
        r->touchEnded(p);
    update();
}
