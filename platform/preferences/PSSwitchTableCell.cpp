#include "PSSwitchTableCell.h"

#include "PSDefaultsDomain.h"
#include "UISwitch.h"

#include <QHBoxLayout>
#include <QSignalBlocker>

PSSwitchTableCell::PSSwitchTableCell(int style, const QString &reuseIdentifier,
                                     PSSpecifier *specifier)
    : PSTableCell(style, reuseIdentifier, specifier), control_(new UISwitch) {
    contentLayout()->addWidget(control_);
    connect(control_, &UISwitch::toggled, this, [this](bool on) {
        PSTableCell::setValue(on);
        emit switchChanged(this, on);
    });
}

void PSSwitchTableCell::setValue(const QVariant &value) {
    PSTableCell::setValue(value);
    const QSignalBlocker quiet(control_);
    control_->setOn(PSDefaultsDomain::boolValueOf(value));
}
