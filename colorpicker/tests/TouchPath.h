// Touches as the host gives them to every recogniser of a view: press at the first point, moves
// to the next ones, release at the last.
#pragma once

#include "UIGestureRecognizer.h"
#include "UIView.h"

#include <initializer_list>

inline void drag(UIView &view, std::initializer_list<CGPoint> path) {
    const auto &recognizers = view.gestureRecognizers();
    const CGPoint *points = path.begin();
    for (auto &r : recognizers)
        r->touchBegan(points[0]);
    for (std::size_t i = 1; i + 1 < path.size(); ++i)
        for (auto &r : recognizers)
            r->touchMoved(points[i]);
    for (auto &r : recognizers)
        r->touchEnded(points[path.size() - 1]);
}
