#pragma once

#include "UIView.h"

#include <QString>
#include <vector>

enum class NSTextAlignment { Left, Center, Right };

// One run of attributed text: characters with a system-font size and a colour.
struct NSAttributedRun {
    QString text;
    double fontSize;
    platform::UIColor color;
};

// A line of text in the system font, plain or attributed, drawn inside its bounds.
class UILabel : public UIView {
public:
    UILabel();
    explicit UILabel(CGRect frame);

    QString text() const;
    void setText(const QString &text);
    const std::vector<NSAttributedRun> &attributedText() const { return runs_; }
    void setAttributedText(std::vector<NSAttributedRun> runs);
    double fontSize() const { return fontSize_; }
    void setFontSize(double size) { fontSize_ = size; }
    platform::UIColor textColor() const { return textColor_; }
    void setTextColor(const platform::UIColor &color) { textColor_ = color; }
    NSTextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(NSTextAlignment alignment) { alignment_ = alignment; }

protected:
    void drawRect(CGContext *context, CGRect rect) override;

private:
    std::vector<NSAttributedRun> runs_;
    bool attributed_ = false;
    double fontSize_ = 17;
    platform::UIColor textColor_ = platform::UIColor::blackColor();
    NSTextAlignment alignment_ = NSTextAlignment::Left;
};
