#pragma once

#include "PSSpecifier.h"
#include "UIKeyboardFocus.h"

#include <QPointer>
#include <QVariant>
#include <QWidget>
#include <memory>

class QHBoxLayout;
class QLabel;

// A row of a settings page: a title, an optional value text or accessory, taps.
class PSTableCell : public QWidget {
    Q_OBJECT
  public:
    PSTableCell(int style, const QString &reuseIdentifier, PSSpecifier *specifier);

    PSSpecifier *specifier() const { return specifier_.lock().get(); }
    int type() const { return type_; }
    QString reuseIdentifier() const { return reuseIdentifier_; }

    // The row's value as its getter gave it; each kind shows it its own way.
    virtual void setValue(const QVariant &value);
    QVariant value() const { return value_; }
    virtual void refreshCellContentsWithSpecifier(PSSpecifier *specifier);

    QLabel *textLabel() const { return textLabel_; }
    QLabel *detailTextLabel() const { return detailTextLabel_; }

    // A widget at the row's right end in place of its mark; the cell owns it. Setting another
    // (or null) deletes the one before, unless it is the same.
    QWidget *accessoryView() const { return accessoryView_; }
    void setAccessoryView(QWidget *view);

    void setUserInteractionEnabled(bool enabled);
    bool isUserInteractionEnabled() const { return interactive_; }
    void setChecked(bool checked);
    bool isChecked() const { return checked_; }

  signals:
    void tapped(PSTableCell *cell);

  protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    QHBoxLayout *contentLayout() const { return layout_; }

  private:
    void applyStyle();
    static void setColor(QLabel *label, const QColor &color);
    std::weak_ptr<PSSpecifier> specifier_;
    int type_;
    QString reuseIdentifier_;
    QVariant value_;
    QLabel *textLabel_;
    QLabel *detailTextLabel_;
    QLabel *accessory_;
    QPointer<QWidget> accessoryView_;
    QHBoxLayout *layout_;
    bool interactive_ = true;
    bool checked_ = false;
    bool pressed_ = false;
    platform::KeyboardActivation keyboard_;
};
