#pragma once

#include "PSTableCell.h"

class UISwitch;

// A row with an on/off switch; turning it sends the new value through the specifier's setter.
class PSSwitchTableCell : public PSTableCell {
    Q_OBJECT
  public:
    PSSwitchTableCell(int style, const QString &reuseIdentifier, PSSpecifier *specifier);

    void setValue(const QVariant &value) override;
    UISwitch *control() const { return control_; }

  signals:
    void switchChanged(PSTableCell *cell, bool on);

  private:
    UISwitch *control_;
};
