#include "runtime/panel/timercontrol.h"

namespace orv_rt {

TimerControl::TimerControl(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(50);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &TimerControl::tick);
    setFixedSize(0, 0);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void TimerControl::setRunning(bool on) {
    if (on == timer_.isActive())
        return;
    if (on)
        timer_.start();
    else
        timer_.stop();
}

}  // namespace orv_rt
