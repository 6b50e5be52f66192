#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;

// The progress overlay: a dark rounded box with a spinner and a text, over a view.
class UIProgressHUD : public QWidget {
    Q_OBJECT
  public:
    UIProgressHUD();

    void setText(const QString &text);
    QString text() const { return text_; }
    void showInView(QWidget *view);
    void hide();
    bool isShowing() const { return showing_; }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void place();
    QString text_;
    QLabel *label_;
    QPointer<QWidget> host_;
    bool showing_ = false;
    int spinnerStep_ = 0;
    int timer_ = 0;
};
