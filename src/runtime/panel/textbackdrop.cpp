#include "runtime/panel/textbackdrop.h"

#include <QPainter>

#include "runtime/panel/panel_parts.h"

namespace orv_rt {

TextBackdrop::TextBackdrop(QWidget* panelWindow) : QWidget(panelWindow) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QStringLiteral("textBackdrop"));
}

void TextBackdrop::addMessage(QWidget* label) {
    labels_.emplace_back(label);
    refresh();
}

void TextBackdrop::refresh() {
    QRect area;
    for (const auto& l : labels_)
        if (l && l->isVisible())
            area = area.united(l->geometry());
    setGeometry(area);
    show();
    raise();
    for (const auto& l : labels_)
        if (l)
            l->raise();
    update();
}

void TextBackdrop::paintEvent(QPaintEvent*) {
    QPainter p(this);
    for (const auto& l : labels_) {
        if (!l || !l->isVisible() || !l->property(PROP_FILL_BACKGROUND).toBool())
            continue;
        p.fillRect(l->geometry().translated(-pos()), l->palette().color(QPalette::Window));
    }
}

}  // namespace orv_rt
