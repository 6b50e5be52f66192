#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

// Points, sizes, rectangles and the two transforms of the device's drawing model, in points.
struct CGPoint {
    double x = 0, y = 0;
    constexpr bool operator==(const CGPoint &) const = default;
};

struct CGSize {
    double width = 0, height = 0;
    constexpr bool operator==(const CGSize &) const = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    constexpr bool operator==(const CGRect &) const = default;

    constexpr double minX() const { return origin.x; }
    constexpr double minY() const { return origin.y; }
    constexpr double maxX() const { return origin.x + size.width; }
    constexpr double maxY() const { return origin.y + size.height; }
    constexpr double midX() const { return origin.x + size.width / 2; }
    constexpr double midY() const { return origin.y + size.height / 2; }
    constexpr double width() const { return size.width; }
    constexpr double height() const { return size.height; }

    bool isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }
    bool isEmpty() const { return isNull() || size.width <= 0 || size.height <= 0; }
    // Right and bottom edges excluded, as on the platform.
    constexpr bool contains(CGPoint p) const {
        return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }
    constexpr CGRect insetBy(double dx, double dy) const {
        return {{origin.x + dx, origin.y + dy}, {size.width - 2 * dx, size.height - 2 * dy}};
    }
};

constexpr CGRect CGRectMake(double x, double y, double w, double h) {
    return {{x, y}, {w, h}};
}
inline constexpr CGRect CGRectZero{};
inline const CGRect CGRectNull{
    {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()}, {0, 0}};

struct UIEdgeInsets {
    double top = 0, left = 0, bottom = 0, right = 0;
};

// Scale and translation, the parts of a layer's 3-D transform that the views use.
struct CATransform3D {
    double m11 = 1, m22 = 1, m33 = 1, m41 = 0, m42 = 0, m43 = 0;
    constexpr bool operator==(const CATransform3D &) const = default;
};
inline constexpr CATransform3D CATransform3DIdentity{};
constexpr CATransform3D CATransform3DMakeScale(double sx, double sy, double sz) {
    return {sx, sy, sz, 0, 0, 0};
}
constexpr CATransform3D CATransform3DMakeTranslation(double tx, double ty, double tz) {
    return {1, 1, 1, tx, ty, tz};
}

struct CGAffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    constexpr bool operator==(const CGAffineTransform &) const = default;
};
inline constexpr CGAffineTransform CGAffineTransformIdentity{};
constexpr CGAffineTransform CGAffineTransformMakeTranslation(double tx, double ty) {
    return {1, 0, 0, 1, tx, ty};
}
constexpr CGAffineTransform CGAffineTransformMakeScale(double sx, double sy) {
    return {sx, 0, 0, sy, 0, 0};
}
