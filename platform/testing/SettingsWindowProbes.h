#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <string>
#include <vector>

// What the Settings app's window shows, read off a screenshot of the display: its table rows,
// an alert's card, the progress overlay. `window` is where the window sits on the screen.
namespace platform::testing {

bool nearColour(const QColor &a, const QColor &b, int tolerance);
// "8daaff" as the screen shows it.
QColor colourFromHex(const std::string &hex);

// Rows of a table screen, top to bottom: the white bands at x = 12, left of where titles and
// separators begin, each 44 pixels a row (a focus ring's edge, in the tint, is part of its row).
std::vector<QRect> tableRowsOn(const QImage &shot, const QRect &window);

// An alert's card: the bounds of its light grey (no other part of the window is that colour
// while the window is dimmed); empty when no alert is up.
QRect alertCardOn(const QImage &shot, const QRect &window);

// The progress overlay: a dark box in the middle of the window (an alert's text is much less).
bool progressOverlayOn(const QImage &shot, const QRect &window);

} // namespace platform::testing
