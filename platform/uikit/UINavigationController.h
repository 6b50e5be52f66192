#pragma once

#include "UIViewController.h"

#include <QList>

class QLabel;
class QPushButton;
class QStackedWidget;

// A stack of screens under a bar with the top screen's title and a back button. Owns the
// screens it holds; a popped screen is deleted once the event loop runs again.
class UINavigationController : public UIViewController {
    Q_OBJECT
  public:
    explicit UINavigationController(UIViewController *root, QObject *parent = nullptr);

    void pushViewController(UIViewController *controller, bool animated);
    UIViewController *popViewControllerAnimated(bool animated);

    QList<UIViewController *> viewControllers() const { return stack_; }
    UIViewController *topViewController() const {
        return stack_.isEmpty() ? nullptr : stack_.last();
    }

    // The whole stack comes and goes with this controller's own view.
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;

  protected:
    void loadView() override;

  private:
    void updateBar();
    // Shows `showing`'s view; the keyboard goes with it, back where it was on that screen.
    void showPage(UIViewController *hiding, UIViewController *showing);
    QList<UIViewController *> stack_;
    QStackedWidget *pages_ = nullptr;
    QLabel *titleLabel_ = nullptr;
    QPushButton *backButton_ = nullptr;
    bool onScreen_ = false;
};
