#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class UIAlertView;

class UIAlertViewDelegate {
  public:
    virtual ~UIAlertViewDelegate() = default;
    virtual void alertViewDidDismissWithButtonIndex(UIAlertView *alertView, int buttonIndex) = 0;
};

// An alert with a title, a message and one button. It lives until it is dismissed; the delegate
// (not owned, may be null) hears of the dismissal. Alerts on screen can be listed, which is how
// tests read and dismiss them without a display.
class UIAlertView : public QDialog {
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

    // Alerts shown and not yet dismissed, oldest first.
    static QList<UIAlertView *> visibleAlerts();

  private:
    QString title_;
    QString message_;
    QString cancelButtonTitle_;
    UIAlertViewDelegate *delegate_;
    bool visible_ = false;
};
