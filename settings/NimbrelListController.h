#pragma once

#include "NBRColorPickerControllerDelegate.h"
#include "PSListController.h"

#include <QPointer>
#include <atomic>

#include "UIProgressHUD.h"

// The main settings page: the page description's cells plus the cells this page inserts and
// removes as the controller type, the connection mode and the ambient switch change.
class NimbrelListController : public PSListController, public NBRColorPickerControllerDelegate {
    Q_OBJECT
  public:
    NimbrelListController();
    ~NimbrelListController() override;

    QList<PSSpecifierRef> specifiers() override;
    void reloadSpecifiers() override;
    void setPreferenceValue(const QVariant &value, PSSpecifier *specifier) override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    int currentControllerType();
    int connectionType();
    PSSpecifierRef pairSpecifier() const;

    void fixPairLabel(int type);
    void setHasDS4Specifiers(bool has);
    void setHasConnectCell(bool has);
    void setHasForceExtendedCell(bool has);
    void setHasColorChooserSpecifier(bool has, bool addIfMissing);

    // "Choose LED Color": opens the colour screen on the stored colour; each colour it reports
    // is stored, shown on the row and sent to a connected DualShock 4.
    Q_INVOKABLE void presentColorChooser(PSSpecifier *specifier);
    void colorPickerDidPickColor(NBRColorPickerController *picker,
                                 const platform::UIColor &color) override;

    UIProgressHUD *hud() const { return hud_.data(); }
    PSSpecifierRef ds4Group() const { return ds4Group_; }
    PSSpecifierRef ds4AmbientColor() const { return ds4AmbientColor_; }
    PSSpecifierRef ds4ColorChooser() const { return ds4ColorChooser_; }
    PSSpecifierRef connectSpecifier() const { return connectSpecifier_; }

    // Written by the control-socket work on a background queue, read on the main thread.
    bool controllerConnected() const { return controllerConnected_.load(); }
    void setControllerConnected(bool connected) { controllerConnected_.store(connected); }

  private:
    PSSpecifierRef storedSpecifier(const QString &name, PSCellType cell, const char *identifier,
                                   const char *key, const QVariant &defaultValue);
    void showStoredColor();
    int integerValue(const char *identifier);

    QPointer<UIProgressHUD> hud_;
    PSSpecifierRef ds4Group_;
    PSSpecifierRef ds4AmbientColor_;
    PSSpecifierRef ds4ColorChooser_;
    PSSpecifierRef connectSpecifier_;
    std::atomic<bool> controllerConnected_{false};
};
