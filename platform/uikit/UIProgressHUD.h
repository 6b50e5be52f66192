#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;

// The progress overlay: a dark rounded box with a spinner and a text, over a view. While it is
// up it holds the keyboard; Escape asks whoever runs the work to cancel it.
class UIProgressHUD : public QWidget {
    Q_OBJECT
  public:
    UIProgressHUD();

    void setText(const QString &text);
    QString text() const { return text_; }
    void showInView(QWidget *view);
    void hide();
    bool isShowing() const { return showing_; }

  signals:
    void cancelRequested();

  protected:
    void paintEvent(QPaintEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    void place();
    QString text_;
    QLabel *label_;
    QPointer<QWidget> host_;
    QPointer<QWidget> focusBefore_;
    bool showing_ = false;
    int spinnerStep_ = 0;
    int timer_ = 0;
};
