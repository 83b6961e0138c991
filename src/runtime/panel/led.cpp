#include "runtime/panel/led.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QRadialGradient>

#include <algorithm>

namespace orv_rt {

Led::Led(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    setAccessibleDescription(QStringLiteral("off"));
}

void Led::setCaption(const QString& c) {
    caption_ = c;
    setAccessibleName(c);
    updateGeometry();
    update();
}

bool Led::setValue(int v) {
    const bool on = v != 0;
    if (on == on_)
        return false;
    on_ = on;
    setAccessibleDescription(on_ ? QStringLiteral("on") : QStringLiteral("off"));
    return true;
}

QSize Led::sizeHint() const {
    const QFontMetrics fm(font());
    const int d = std::max(18, fm.height() + 2);
    return {d + 8 + fm.horizontalAdvance(caption_) + 4, d + 4};
}

void Led::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QFontMetrics fm(font());
    const int d = std::max(18, fm.height() + 2);
    const QRectF lamp(2, (height() - d) / 2.0, d - 2, d - 2);
    QRadialGradient g(lamp.center() - QPointF(d / 6.0, d / 6.0), d / 1.4);
    if (on_) {
        g.setColorAt(0, QColor(0xB8, 0xFF, 0xB0));
        g.setColorAt(0.5, QColor(0x2E, 0xD0, 0x2E));
        g.setColorAt(1, QColor(0x10, 0x80, 0x10));
    } else {
        g.setColorAt(0, QColor(0x50, 0x60, 0x50));
        g.setColorAt(1, QColor(0x18, 0x22, 0x18));
    }
    p.setBrush(g);
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1.2));
    p.drawEllipse(lamp);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(QRect(d + 8, 0, width() - d - 8, height()), Qt::AlignVCenter | Qt::AlignLeft, caption_);
}

}  // namespace orv_rt
