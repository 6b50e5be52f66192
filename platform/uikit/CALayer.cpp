#include "CALayer.h"
#include "UIGraphics.h"

#include <QCoreApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <atomic>
#include <map>

QColor toQColor(const platform::UIColor &color) {
    auto unit = [](double v) { return std::clamp(v, 0.0, 1.0); };
    return QColor::fromRgbF(unit(color.red()), unit(color.green()), unit(color.blue()),
                            unit(color.alpha()));
}

namespace {
std::atomic<bool> displayPending{false};
// Touched on the main thread only.
std::map<int, std::function<void()>> &displayObservers() {
    static std::map<int, std::function<void()>> observers;
    return observers;
}
int nextObserverId = 0;

void tellDisplayObservers() {
    displayPending = false;
    const auto observers = displayObservers(); // an observer may remove itself
    for (const auto &[id, observer] : observers)
        if (displayObservers().count(id))
            observer();
}
} // namespace

int CALayer::addDisplayObserver(std::function<void()> observer) {
    const int id = ++nextObserverId;
    displayObservers()[id] = std::move(observer);
    return id;
}

void CALayer::removeDisplayObserver(int id) {
    displayObservers().erase(id);
}

void CALayer::changed() {
    QCoreApplication *app = QCoreApplication::instance();
    if (app == nullptr || displayPending.exchange(true))
        return;
    QMetaObject::invokeMethod(app, &tellDisplayObservers, Qt::QueuedConnection);
}

CALayer::~CALayer() {
    for (auto &sublayer : sublayers_)
        sublayer->superlayer_ = nullptr;
}

void CALayer::addSublayer(const std::shared_ptr<CALayer> &layer) {
    insertSublayer(layer, sublayers_.size());
}

void CALayer::insertSublayer(const std::shared_ptr<CALayer> &layer, std::size_t index) {
    if (!layer || layer.get() == this)
        return;
    auto keep = layer;
    keep->removeFromSuperlayer();
    index = std::min(index, sublayers_.size());
    sublayers_.insert(sublayers_.begin() + static_cast<std::ptrdiff_t>(index), keep);
    keep->superlayer_ = this;
    changed();
}

void CALayer::removeFromSuperlayer() {
    if (!superlayer_)
        return;
    auto &siblings = superlayer_->sublayers_;
    auto found = std::find_if(siblings.begin(), siblings.end(),
                              [this](const auto &l) { return l.get() == this; });
    superlayer_ = nullptr;
    changed();
    if (found != siblings.end())
        siblings.erase(found); // may release this layer; nothing follows
}

namespace {
QPainterPath roundedBounds(const CGRect &bounds, double radius) {
    QPainterPath path;
    const QRectF r(0, 0, bounds.width(), bounds.height());
    const double clamped = std::min({radius, r.width() / 2, r.height() / 2});
    if (clamped > 0)
        path.addRoundedRect(r, clamped, clamped);
    else
        path.addRect(r);
    return path;
}
} // namespace

void CALayer::paintBackground(QPainter &painter) const {
    if (backgroundColor_ && backgroundColor_->alpha() > 0)
        painter.fillPath(roundedBounds(bounds(), cornerRadius_), toQColor(*backgroundColor_));
}

void CAGradientLayer::paintBackground(QPainter &painter) const {
    CALayer::paintBackground(painter);
    if (colors().empty())
        return;
    const CGRect b = bounds();
    QLinearGradient gradient(startPoint().x * b.width(), startPoint().y * b.height(),
                             endPoint().x * b.width(), endPoint().y * b.height());
    const std::size_t n = colors().size();
    for (std::size_t i = 0; i < n; ++i)
        gradient.setColorAt(n == 1 ? 0.0 : double(i) / double(n - 1), toQColor(colors()[i]));
    painter.fillPath(roundedBounds(b, cornerRadius()), gradient);
}

void CALayer::render(QPainter &painter) const {
    if (opacity_ <= 0)
        return;
    painter.save();
    // Position, then the transform about the centre (the default anchor point).
    const double cx = frame_.midX(), cy = frame_.midY();
    painter.translate(cx + transform_.m41, cy + transform_.m42);
    painter.scale(transform_.m11, transform_.m22);
    painter.translate(-frame_.width() / 2, -frame_.height() / 2);
    painter.setOpacity(painter.opacity() * opacity_);

    paintBackground(painter);
    if (contents_ && !contents_->isNull())
        painter.drawImage(QRectF(0, 0, frame_.width(), frame_.height()), *contents_);
    if (draw_) {
        CGContext context{&painter, platform::UIColor::blackColor()};
        draw_(&context, bounds());
    }
    for (const auto &sublayer : sublayers_)
        sublayer->render(painter);
    if (borderWidth_ > 0 && borderColor_) {
        QPen pen(toQColor(*borderColor_), borderWidth_);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const double inset = borderWidth_ / 2;
        const CGRect b = bounds().insetBy(inset, inset);
        const double radius = std::max(0.0, cornerRadius_ - inset);
        painter.drawRoundedRect(QRectF(b.minX(), b.minY(), b.width(), b.height()), radius, radius);
    }
    painter.restore();
}
