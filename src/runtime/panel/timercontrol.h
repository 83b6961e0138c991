// The invisible timer control of the panel file (class OrvTimer there).
#pragma once

#include <QTimer>
#include <QWidget>

namespace orv_rt {

// Invisible timer control: ticks every `interval` ms while enabled.
class TimerControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int interval READ interval WRITE setInterval)

  public:
    explicit TimerControl(QWidget* parent = nullptr);
    int interval() const { return timer_.interval(); }
    void setInterval(int ms) { timer_.setInterval(ms); }
    bool running() const { return timer_.isActive(); }
    void setRunning(bool on);

  signals:
    void tick();

  private:
    QTimer timer_;
};

}  // namespace orv_rt
