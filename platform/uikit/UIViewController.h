#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

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
};
