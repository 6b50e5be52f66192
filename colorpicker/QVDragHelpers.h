#pragma once

#include "CGGeometry.h"

#include <functional>
#include <optional>

class CALayer;
class UIGestureRecognizer;
class UIView;

// One step of a drag over the map or the slider. Only a move and the end count (nullopt for
// anything else); while a finger is down its location in `view` becomes `lastLocation`, which
// the end of the drag, with the finger lifted, picks once more.
struct QVPanStep {
    bool ended;
    bool touching;
};
std::optional<QVPanStep> qv_panStep(const UIGestureRecognizer &recognizer, const UIView *view,
                                    CGPoint &lastLocation);

// A cursor's ring and disc swell while the user drags it.
void qv_swellCursor(CALayer &ring, CALayer &disc, bool editing);

// Sets a cursor's editing state: from the look of the old state to that of the new one in an
// animation of 0.1 s. Nothing happens when the state does not change.
void qv_animateEditing(bool &editingState, bool editing,
                       const std::function<void(bool)> &applyLook);
