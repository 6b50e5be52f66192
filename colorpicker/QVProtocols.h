#pragma once

#include "UIColor.h"

#include <optional>

// What the picker asks of the parts it composes; a client may put parts of its own in their
// place by deriving from UIView or UIControl and from the matching interface.

class QVColorInfoViewProtocol {
public:
    virtual ~QVColorInfoViewProtocol() = default;
    virtual std::optional<platform::UIColor> color() const = 0;
    virtual void setColor(const platform::UIColor &color) = 0;
};

class QVColorMapViewProtocol {
public:
    virtual ~QVColorMapViewProtocol() = default;
    virtual std::optional<platform::UIColor> color() const = 0;
    virtual void setColor(const platform::UIColor &color) = 0;
    virtual double brightness() const = 0;
    virtual void setBrightness(double brightness) = 0;
};

class QVBrightnessSliderProtocol {
public:
    virtual ~QVBrightnessSliderProtocol() = default;
    virtual std::optional<double> brightness() const = 0;
    virtual std::optional<platform::UIColor> color() = 0;
    virtual void setColor(const platform::UIColor &color) = 0;
};

// The marker on the map; it may show that the user is dragging it.
class QVColorCursorProtocol {
public:
    virtual ~QVColorCursorProtocol() = default;
    virtual bool respondsToSetEditing() const { return false; }
    virtual void setEditing(bool) {}
};
