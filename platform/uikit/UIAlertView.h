#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class UIAlertView;

class UIAlertViewDelegate {
public:
    virtual ~UIAlertViewDelegate() = default;
    virtual void alertViewDidDismissWithButtonIndex(UIAlertView *alertView, int buttonIndex) = 0;
};

// An alert with a title, a message and one button. It lives until it is dismissed; the delegate
// (not owned, may be null) hears of the dismissal. Shown as on the device: centred over the
// application's window, which it dims and keeps from taking touches while it is up (several
// alerts stack, the newest on top); only with no window to cover is it a window of its own.
// An alert goes with the window it covers, undismissed: its delegate hears nothing, and whoever
// keeps hold of it beyond that window holds it through a QPointer.
// Alerts on screen can be listed, which is how tests read and dismiss them without a display.
class UIAlertView : public QWidget {
    Q_OBJECT
public:
    UIAlertView(const QString &title, const QString &message, UIAlertViewDelegate *delegate,
                const QString &cancelButtonTitle);
    ~UIAlertView() override;

    void show();
    void dismissWithClickedButtonIndex(int buttonIndex, bool animated);

    QString title() const { return title_; }
    QString message() const { return message_; }
    QStringList buttonTitles() const { return {cancelButtonTitle_}; }
    bool isVisible() const { return visible_; }
    UIAlertViewDelegate *delegate() const { return delegate_; }
    // A delegate that goes away before the alert does clears itself here.
    void setDelegate(UIAlertViewDelegate *delegate) { delegate_ = delegate; }
    // The window the alert covers; null when it is a window of its own.
    QWidget *coveredWindow() const { return covered_; }

    // Alerts shown and not yet dismissed, oldest first.
    static QList<UIAlertView *> visibleAlerts();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void placeOver(QWidget *window);
    // Dims the covered window while any alert is up over it.
    static void updateDimming(QWidget *window);
    static void holdFocus(QWidget *now);

    QString title_;
    QString message_;
    QString cancelButtonTitle_;
    UIAlertViewDelegate *delegate_;
    bool visible_ = false;
    QPointer<QWidget> covered_;
    QPointer<QWidget> focusBefore_;
};
