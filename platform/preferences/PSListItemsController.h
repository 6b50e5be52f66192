#pragma once

#include "PSListController.h"

// The screen of a choice list: one row per title, a check mark on the stored value. Picking a
// row stores its value through the choice list's setter on the page that pushed this screen.
class PSListItemsController : public PSListController {
    Q_OBJECT
  public:
    QList<PSSpecifierRef> specifiers() override;
    void tableCellTapped(PSSpecifier *specifier) override;
    void viewDidLoad() override { updateChecks(); }

  private:
    void updateChecks();
    QVariant currentValue();
};
