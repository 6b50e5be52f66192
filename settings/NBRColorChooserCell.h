#pragma once

#include "PSTableCell.h"
#include "UIView.h"

#include <memory>

// The "Choose LED Color" row: no value text, only a round swatch of the stored light-bar colour
// (six hexadecimal digits, 004EFD when there is none) as its accessory.
class NBRColorChooserCell : public PSTableCell {
    Q_OBJECT
public:
    NBRColorChooserCell(int style, const QString &reuseIdentifier, PSSpecifier *specifier);

    // Recolours the swatch; the value itself is never shown, so the base is not told.
    void setValue(const QVariant &value) override;

    const std::shared_ptr<UIView> &colorMark() const { return _colorMark; }
    void setColorMark(std::shared_ptr<UIView> colorMark) { _colorMark = std::move(colorMark); }

private:
    void showColorMark();
    void paintColorMark(const QVariant &hex);

    std::shared_ptr<UIView> _colorMark;
};
