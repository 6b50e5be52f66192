#pragma once

#include "UITableViewController.h"
#ifndef Q_MOC_RUN // moc cannot read the standard concepts the value type uses
#include "PlistValue.h"
#endif

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

class UIPhysicalKeyboardEvent;

// The keymap editor: one row per gamepad control with the key that drives it. A tapped row
// waits for a key, and the next hardware-keyboard event binds its key to that control. When the
// editor leaves the screen its keymap goes into the preferences file as it is then, that entry
// alone, and only when the user bound a key or the file holds no keymap.
class NBRKeymapViewController : public UITableViewController {
    Q_OBJECT
public:
    // initWithKeymapPath: reads the file at `path` and its keymap, and becomes the key-event
    // target.
    explicit NBRKeymapViewController(const QString &path);
    ~NBRKeymapViewController() override;

    // The editor that key events go to: the one most recently made, until it is destroyed.
    static NBRKeymapViewController *keyEventTarget();

    // The whole preferences file as read at creation (as written by the last save); nothing
    // when missing or unreadable.
    const std::optional<platform::PlistValue::Dictionary> &rootSettings() const {
        return _rootSettings;
    }
    void setRootSettings(std::optional<platform::PlistValue::Dictionary> rootSettings) {
        _rootSettings = std::move(rootSettings);
    }
    // Key code (a decimal string) to button native.
    const platform::PlistValue::Dictionary &keymap() const { return _keymap; }
    void setKeymap(platform::PlistValue::Dictionary keymap) { _keymap = std::move(keymap); }
    // The row waiting for a key.
    std::optional<NSIndexPath> indexPathOfCellToRemap() const { return _indexPathOfCellToRemap; }
    void setIndexPathOfCellToRemap(std::optional<NSIndexPath> indexPath) {
        _indexPathOfCellToRemap = indexPath;
    }
    QString path() const { return _path; }
    void setPath(const QString &path) { _path = path; }

    std::optional<std::string> stringSelectedKeyCodeForNative(int buttonNative) const;
    // The key code bound to the control, -1 when none.
    std::int64_t selectedKeyCodeForNative(int buttonNative) const;
    static int buttonNativeFromIndexPath(const NSIndexPath &indexPath);

    qsizetype numberOfSectionsInTableView(UITableView *tableView) override;
    qsizetype tableViewNumberOfRowsInSection(UITableView *tableView, qsizetype section) override;
    QString tableViewTitleForHeaderInSection(UITableView *tableView, qsizetype section) override;
    UITableViewCell *tableViewCellForRowAtIndexPath(UITableView *tableView,
                                                    const NSIndexPath &indexPath) override;
    void tableViewDidSelectRowAtIndexPath(UITableView *tableView,
                                          const NSIndexPath &indexPath) override;

    // Every key event, press or release, once the application has handled it.
    void keyPressed(UIPhysicalKeyboardEvent *event);

    void viewDidDisappear(bool animated) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    // The model shared by the rows: the controls' titles, the keymap of a fresh install and
    // the text shown for a key code.
    static QString titleForButtonNative(int buttonNative);
    static platform::PlistValue::Dictionary defaultKeymap();
    static QString keyLabelForKeyCode(std::int64_t keyCode);

private:
    std::optional<platform::PlistValue::Dictionary> _rootSettings;
    platform::PlistValue::Dictionary _keymap;
    std::optional<NSIndexPath> _indexPathOfCellToRemap;
    QString _path;
    bool _keyBound = false;
};
