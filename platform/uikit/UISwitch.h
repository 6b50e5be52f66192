#pragma once

#include <QAbstractButton>

// The on/off control: a rounded track, green when on, with a round knob.
class UISwitch : public QAbstractButton {
    Q_OBJECT
  public:
    explicit UISwitch(QWidget *parent = nullptr);

    bool isOn() const { return isChecked(); }
    void setOn(bool on) { setChecked(on); }

    QSize sizeHint() const override { return {51, 31}; }

  protected:
    void paintEvent(QPaintEvent *event) override;
};
