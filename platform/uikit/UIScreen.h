#pragma once

// The main screen; only its scale (device pixels per point) matters to the views. Defaults to 2.
class UIScreen {
public:
    static UIScreen &mainScreen();
    double scale() const;
    void setScale(double scale);
};
