#pragma once

#include "PSSpecifier.h"
#include "UIViewController.h"

#include <QList>
#include <QPointer>
#include <QVariant>
#include <memory>
#include <optional>

class NSBundle;
class PSTableCell;
class QScrollArea;
class QVBoxLayout;

// A settings page: a list of specifiers shown as a grouped table. Its rows can come from a
// specifier list of the page's bundle and can be inserted and removed while it shows.
class PSListController : public UIViewController {
    Q_OBJECT
  public:
    PSListController();
    ~PSListController() override;

    // The page's specifiers; the base returns what it holds (none until a subclass loads them).
    virtual QList<PSSpecifierRef> specifiers();
    virtual void reloadSpecifiers();
    void reloadSpecifier(const PSSpecifierRef &specifier, bool animated = false);

    // Reads "<name>.plist" of the page's bundle: its "title" titles the page, each of its "items"
    // becomes a specifier whose getter and setter are sent to `target`. Empty when unreadable.
    QList<PSSpecifierRef> loadSpecifiersFromPlistName(const QString &name, QObject *target);

    PSSpecifierRef specifierForID(const QString &identifier) const;
    qsizetype indexOfSpecifier(const PSSpecifier *specifier) const;
    bool containsSpecifier(const PSSpecifierRef &specifier) const;

    void insertSpecifier(const PSSpecifierRef &specifier, const PSSpecifierRef &after,
                         bool animated = false);
    void insertSpecifierAtIndex(const PSSpecifierRef &specifier, qsizetype index,
                                bool animated = false);
    // Inserts `specifiers` as one run right after `after` (at the end when it is not listed).
    void insertContiguousSpecifiers(const QList<PSSpecifierRef> &specifiers,
                                    const PSSpecifierRef &after, bool animated = false);
    void removeSpecifier(const PSSpecifierRef &specifier, bool animated = false);
    void removeSpecifierID(const QString &identifier, bool animated = false);

    // The value for the specifier's "key" in its "defaults" domain, else its "default".
    Q_INVOKABLE virtual QVariant readPreferenceValue(PSSpecifier *specifier);
    // Stores the value there and then posts the specifier's "PostNotification". When the
    // file cannot be written nothing is posted and the row goes back to the stored value.
    Q_INVOKABLE virtual void setPreferenceValue(const QVariant &value, PSSpecifier *specifier);

    std::shared_ptr<NSBundle> bundle() const { return bundle_; }
    void setBundle(std::shared_ptr<NSBundle> bundle) { bundle_ = std::move(bundle); }

    // The page that pushed this one and the specifier it was pushed for (both null for a root).
    PSListController *parentController() const { return parent_.data(); }
    void setParentController(PSListController *parent) { parent_ = parent; }
    PSSpecifierRef specifier() const { return specifier_; }
    void setSpecifier(PSSpecifierRef specifier) { specifier_ = std::move(specifier); }

    // A tap on a row, as the table reports it.
    virtual void tableCellTapped(PSSpecifier *specifier);

  signals:
    void specifiersInserted(qsizetype index, qsizetype count, bool animated);
    void specifiersRemoved(qsizetype index, qsizetype count, bool animated);

  protected:
    void loadView() override;
    // The rows; nullopt until loaded, as the platform's nil list.
    std::optional<QList<PSSpecifierRef>> _specifiers;

  private:
    QWidget *makeRow(const PSSpecifierRef &specifier);
    void rebuildTable();
    void showRow(QWidget *row, bool animated);
    void hideRow(QWidget *row, bool animated);
    QVariant valueFromGetter(PSSpecifier *specifier);
    QList<PSSpecifierRef> &list();

    std::shared_ptr<NSBundle> bundle_;
    QPointer<PSListController> parent_;
    PSSpecifierRef specifier_;
    QScrollArea *scroll_ = nullptr;
    QWidget *content_ = nullptr;
    QVBoxLayout *rows_ = nullptr;
    QHash<const PSSpecifier *, QPointer<QWidget>> rowWidgets_;
};
