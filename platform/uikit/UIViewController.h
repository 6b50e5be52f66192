#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class UINavigationController;

// A screen: owns its view, created on first use, and hears when it comes and goes.
class UIViewController : public QObject {
    Q_OBJECT
  public:
    explicit UIViewController(QObject *parent = nullptr);
    ~UIViewController() override;

    QWidget *view();
    bool isViewLoaded() const { return !view_.isNull(); }

    QString title() const { return title_; }
    void setTitle(const QString &title);

    UINavigationController *navigationController() const { return navigationController_; }

    // Shows `controller` over this one's view, covering it, until it is dismissed; this
    // controller owns it meanwhile. One at a time: a second presentation is ignored.
    void presentViewController(UIViewController *controller, bool animated,
                               std::function<void()> completion = {});
    // Dismisses what this controller presented; asked of a controller that presents nothing,
    // the one that presented it or its navigation controller does it, as on the device.
    void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
    UIViewController *presentedViewController() const { return presented_.data(); }
    UIViewController *presentingViewController() const { return presenting_.data(); }

    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool) {}
    virtual void viewDidAppear(bool) {}
    virtual void viewWillDisappear(bool) {}
    virtual void viewDidDisappear(bool) {}

  signals:
    void titleChanged(const QString &title);

  protected:
    // Makes the view; the default is a plain widget.
    virtual void loadView();
    void setView(QWidget *view);

  private:
    friend class UINavigationController;
    QPointer<QWidget> view_;
    QString title_;
    UINavigationController *navigationController_ = nullptr;
    QPointer<UIViewController> presented_;
    QPointer<UIViewController> presenting_;
    // Where the keyboard was on this screen when another covered it.
    QPointer<QWidget> keyboardFocus_;
};
