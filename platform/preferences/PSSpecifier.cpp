#include "PSSpecifier.h"

#include "PSTableCell.h"

#include <array>
#include <utility>

namespace {
constexpr std::array<std::pair<const char *, PSCellType>, 15> kCellNames{{
    {"PSGroupCell", PSGroupCell},
    {"PSLinkCell", PSLinkCell},
    {"PSLinkListCell", PSLinkListCell},
    {"PSListItemCell", PSListItemCell},
    {"PSTitleValueCell", PSTitleValueCell},
    {"PSSliderCell", PSSliderCell},
    {"PSSwitchCell", PSSwitchCell},
    {"PSStaticTextCell", PSStaticTextCell},
    {"PSEditTextCell", PSEditTextCell},
    {"PSSegmentCell", PSSegmentCell},
    {"PSGiantIconCell", PSGiantIconCell},
    {"PSGiantCell", PSGiantCell},
    {"PSSecureEditTextCell", PSSecureEditTextCell},
    {"PSButtonCell", PSButtonCell},
    {"PSEditTextViewCell", PSEditTextViewCell},
}};
} // namespace

int PSCellTypeFromString(const QString &name) {
    for (const auto &[text, type] : kCellNames)
        if (name == QLatin1String(text))
            return type;
    return -1;
}

PSSpecifierRef PSSpecifier::preferenceSpecifierNamed(const QString &name, QObject *target,
                                                     const char *setter, const char *getter,
                                                     const char *detail, PSCellType cell,
                                                     const char *) {
    auto specifier = std::make_shared<PSSpecifier>();
    specifier->name_ = name;
    specifier->target_ = target;
    specifier->setter_ = setter != nullptr ? setter : "";
    specifier->getter_ = getter != nullptr ? getter : "";
    specifier->detail_ = detail != nullptr ? QString::fromUtf8(detail) : QString();
    specifier->cellType_ = cell;
    return specifier;
}

PSSpecifierRef PSSpecifier::groupSpecifierWithName(const QString &name) {
    return preferenceSpecifierNamed(name, nullptr, nullptr, nullptr, nullptr, PSGroupCell, nullptr);
}

PSSpecifierRef PSSpecifier::emptyGroupSpecifier() {
    return groupSpecifierWithName(QString());
}

QString PSSpecifier::identifier() const {
    const QVariant id = properties_.value("id");
    return id.isValid() ? id.toString() : name_;
}

void PSSpecifier::setIdentifier(const QString &identifier) {
    properties_.insert("id", identifier);
}

void PSSpecifier::setProperty(const QVariant &value, const QString &key) {
    if (value.isValid())
        properties_.insert(key, value);
    else
        properties_.remove(key);
}

void PSSpecifier::setCellObject(PSTableCell *cell) {
    cell_ = cell;
}

PSTableCell *PSSpecifier::cellObject() const {
    return qobject_cast<PSTableCell *>(cell_.data());
}

QString PSSpecifier::titleForValue(const QVariant &value) const {
    const QVariantList all = values();
    const QStringList names = titles();
    for (qsizetype i = 0; i < all.size() && i < names.size(); ++i)
        if (all[i] == value || (value.isValid() && all[i].toString() == value.toString()))
            return names[i];
    return {};
}
