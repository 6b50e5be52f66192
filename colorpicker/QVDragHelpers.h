#pragma once

#include "CGGeometry.h"

#include <functional>
#include <optional>

class CALayer;
class UIGestureRecognizer;
class UIView;

// One step of a drag over the map or the slider. Only a move and the end count (nullopt for
// anything else). `location` is in `view`'s space: the finger while it is down, and where it
// lifted at the end, so that a drag always ends on what lies under the finger there, even a
// quick one whose only move came before the recogniser had begun.
struct QVPanStep {
    bool ended;
    bool touching;
    CGPoint location;
};
std::optional<QVPanStep> qv_panStep(const UIGestureRecognizer &recognizer, const UIView *view);

// A cursor's ring and disc swell while the user drags it.
void qv_swellCursor(CALayer &ring, CALayer &disc, bool editing);

// Sets a cursor's editing state: from the look of the old state to that of the new one in an
// animation of 0.1 s. Nothing happens when the state does not change.
void qv_animateEditing(bool &editingState, bool editing,
                       const std::function<void(bool)> &applyLook);
