#include "PSListItemsController.h"

#include "PSTableCell.h"
#include "Selector.h"

QList<PSSpecifierRef> PSListItemsController::specifiers() {
    if (!_specifiers) {
        _specifiers.emplace();
        PSSpecifierRef choice = specifier();
        if (choice) {
            _specifiers->append(PSSpecifier::emptyGroupSpecifier());
            const QVariantList values = choice->values();
            const QStringList titles = choice->titles();
            for (qsizetype i = 0; i < values.size() && i < titles.size(); ++i) {
                auto item = PSSpecifier::preferenceSpecifierNamed(titles[i], this, nullptr, nullptr,
                                                                  nullptr, PSListItemCell, nullptr);
                item->setProperty(values[i], "value");
                _specifiers->append(item);
            }
        }
    }
    return *_specifiers;
}

QVariant PSListItemsController::currentValue() {
    PSSpecifierRef choice = specifier();
    QObject *target = choice ? choice->target() : nullptr;
    QVariant value;
    if (target != nullptr)
        platform::performSelector(target, choice->getter(), Q_RETURN_ARG(QVariant, value),
                                  Q_ARG(PSSpecifier *, choice.get()));
    return value;
}

void PSListItemsController::updateChecks() {
    const QVariant value = currentValue();
    for (const PSSpecifierRef &item : specifiers())
        if (PSTableCell *cell = item->cellObject())
            cell->setChecked(item->propertyForKey("value").toString() == value.toString() &&
                             value.isValid());
}

void PSListItemsController::tableCellTapped(PSSpecifier *item) {
    PSSpecifierRef choice = specifier();
    if (item == nullptr || !choice || choice->target() == nullptr)
        return;
    platform::performSelector(choice->target(), choice->setter(), QGenericReturnArgument(),
                              Q_ARG(QVariant, item->propertyForKey("value")),
                              Q_ARG(PSSpecifier *, choice.get()));
    updateChecks();
}
