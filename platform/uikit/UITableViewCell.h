#pragma once

#include "UIKeyboardFocus.h"

#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;

enum UITableViewCellStyle {
    UITableViewCellStyleDefault = 0,
};

// A row of a table view: a text label and an optional accessory view at the trailing edge.
class UITableViewCell : public QWidget {
    Q_OBJECT
public:
    explicit UITableViewCell(UITableViewCellStyle style = UITableViewCellStyleDefault,
                             const QString &reuseIdentifier = {});

    QString reuseIdentifier() const { return reuseIdentifier_; }
    QLabel *textLabel() const { return textLabel_; }

    // The cell owns its accessory view; setting another deletes the previous one.
    QWidget *accessoryView() const { return accessoryView_; }
    void setAccessoryView(QWidget *view);

    bool isSelected() const { return selected_; }
    void setSelected(bool selected, bool animated);

signals:
    void tapped();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    QString reuseIdentifier_;
    QLabel *textLabel_;
    QWidget *accessoryView_ = nullptr;
    QHBoxLayout *layout_;
    bool selected_ = false;
    bool pressed_ = false;
    platform::KeyboardActivation keyboard_;
};
