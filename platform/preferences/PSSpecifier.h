#pragma once

#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <string>

class PSTableCell;

// Cell kinds, numbered as the platform numbers them.
enum PSCellType {
    PSGroupCell = 0,
    PSLinkCell = 1,
    PSLinkListCell = 2,
    PSListItemCell = 3,
    PSTitleValueCell = 4,
    PSSliderCell = 5,
    PSSwitchCell = 6,
    PSStaticTextCell = 7,
    PSEditTextCell = 8,
    PSSegmentCell = 9,
    PSGiantIconCell = 10,
    PSGiantCell = 11,
    PSSecureEditTextCell = 12,
    PSButtonCell = 13,
    PSEditTextViewCell = 14,
};

// The cell kind named in a specifier list ("PSSwitchCell"); -1 for a name it does not know.
int PSCellTypeFromString(const QString &name);

class PSSpecifier;
using PSSpecifierRef = std::shared_ptr<PSSpecifier>;

// One row of a settings page: what it shows, where its value lives, what a tap does. Values
// are the platform's objects as variants (an invalid variant is nil). Selectors are named the
// platform's way and sent to the target, which is not owned.
class PSSpecifier : public std::enable_shared_from_this<PSSpecifier> {
  public:
    static PSSpecifierRef preferenceSpecifierNamed(const QString &name, QObject *target,
                                                   const char *setter, const char *getter,
                                                   const char *detail, PSCellType cell,
                                                   const char *edit);
    static PSSpecifierRef groupSpecifierWithName(const QString &name);
    static PSSpecifierRef emptyGroupSpecifier();

    QString name() const { return name_; }
    void setName(const QString &name) { name_ = name; }
    // The "id" property.
    QString identifier() const;
    void setIdentifier(const QString &identifier);

    PSCellType cellType() const { return cellType_; }
    void setCellType(PSCellType type) { cellType_ = type; }

    QObject *target() const { return target_.data(); }
    void setTarget(QObject *target) { target_ = target; }
    const std::string &setter() const { return setter_; }
    const std::string &getter() const { return getter_; }
    void setSetter(std::string selector) { setter_ = std::move(selector); }
    void setGetter(std::string selector) { getter_ = std::move(selector); }
    const std::string &action() const { return action_; }
    void setButtonAction(std::string selector) { action_ = std::move(selector); }
    // The class of the screen a link pushes ("PSListItemsController" for a choice list).
    const QString &detailControllerClass() const { return detail_; }
    void setDetailControllerClass(const QString &name) { detail_ = name; }

    QVariant propertyForKey(const QString &key) const { return properties_.value(key); }
    void setProperty(const QVariant &value, const QString &key);
    void removePropertyForKey(const QString &key) { properties_.remove(key); }
    const QVariantMap &properties() const { return properties_; }

    // The "cellObject": the row's cell while one exists.
    PSTableCell *cellObject() const;
    void setCellObject(PSTableCell *cell);

    // A choice list's "validValues" and "validTitles".
    QVariantList values() const { return propertyForKey("validValues").toList(); }
    QStringList titles() const { return propertyForKey("validTitles").toStringList(); }
    // The title a choice list shows for `value`, empty when it offers no such value.
    QString titleForValue(const QVariant &value) const;

  private:
    QString name_;
    PSCellType cellType_ = PSGroupCell;
    QPointer<QObject> target_;
    std::string setter_;
    std::string getter_;
    std::string action_;
    QString detail_;
    QVariantMap properties_;
    QPointer<QObject> cell_;
};

Q_DECLARE_METATYPE(PSSpecifier *)
