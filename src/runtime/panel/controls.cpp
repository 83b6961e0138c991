// Control values and attributes: reading and setting what the controls show,
// new text messages and the fitting of their texts, and the drawing of changed
// values before the program blocks.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/core/diag.h"
#include "runtime/panel/led.h"
#include "runtime/panel/panel_parts.h"
#include "runtime/panel/stripchart.h"
#include "runtime/panel/textbackdrop.h"
#include "runtime/panel/timercontrol.h"

namespace orv_rt {

namespace {

// Every text put on a status line goes to the line log. Written without
// QDebug's spacing, so that the text after "status: " is exactly the text
// shown (a trailing blank included).
void LogStatus(const QString& text) {
    qCDebug(lcLine).noquote().nospace() << "status: " << text;
}

TextBackdrop* BackdropOf(QWidget* window) {
    return window
               ? window->findChild<TextBackdrop*>(QStringLiteral("textBackdrop"), Qt::FindDirectChildrenOnly)
               : nullptr;
}

// Sizes a text message to its text (nothing clipped) and repaints the
// backgrounds beneath the panel's text messages.
// Text messages placed side by side keep clear of each other: a text that
// would run into the next text to its right is drawn condensed until it fits.
void FitTextMessages(QWidget* parent) {
    QList<QLabel*> texts;
    for (QObject* o : parent->children())
        if (auto* l = qobject_cast<QLabel*>(o); l && l->objectName().startsWith(QLatin1String("TextMsg")))
            texts << l;
    for (QLabel* l : texts) {
        QFont f = l->font();
        f.setStretch(QFont::Unstretched);
        l->setFont(f);
        l->adjustSize();
        int room = std::numeric_limits<int>::max();
        for (QLabel* o : texts)
            if (o != l && o->x() > l->x() && o->y() < l->y() + l->height() && l->y() < o->y() + o->height())
                room = std::min(room, o->x() - l->x() - 4);
        if (room > 0 && room < l->width()) {
            f.setStretch(std::max(50, 100 * room / l->width()));
            l->setFont(f);
            l->adjustSize();
        }
    }
}

void Refit(Control* c) {
    if (c->kind != Kind::TextMsg || !c->widget)
        return;
    FitTextMessages(c->widget->parentWidget());
    if (TextBackdrop* b = BackdropOf(c->widget->parentWidget())) {
        b->refresh();
        ShowNow(b);
    }
}

int SetNumber(int panel, int control, double v) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    QWidget* w = c->widget;
    const bool saved = S().programmatic;
    S().programmatic = true;
    int rc = 0;
    switch (c->kind) {
        case Kind::Numeric: {
            auto* spin = static_cast<QSpinBox*>(w);
            const double clamped =
                std::clamp(std::round(v), double(spin->minimum()), double(spin->maximum()));
            if (spin->value() != static_cast<int>(clamped)) {
                spin->setValue(static_cast<int>(clamped));
                ShowNow(w);
            }
            break;
        }
        case Kind::Led:
            if (static_cast<Led*>(w)->setValue(v != 0 ? 1 : 0))
                ShowNow(w);
            break;
        case Kind::Radio:
        case Kind::Button: {
            auto* b = static_cast<QAbstractButton*>(w);
            if (b->isCheckable() && b->isChecked() != (v != 0)) {
                b->setChecked(v != 0);
                ShowNow(w);
            }
            break;
        }
        case Kind::Ring: {
            auto* ring = static_cast<QComboBox*>(w);
            const int index = ring->findData(static_cast<int>(std::lround(v)));
            if (index < 0) {
                rc = ERR_BAD_VALUE;
                break;
            }
            ring->setCurrentIndex(index);
            c->lastRingIndex = index;
            ShowNow(w);
            break;
        }
        case Kind::Text:
        case Kind::TextMsg:
            S().programmatic = saved;
            return SetCtrlVal(panel, control, QString::number(v).toUtf8().constData());
        default:
            rc = ERR_BAD_CONTROL;
    }
    S().programmatic = saved;
    return rc;
}

int GetNumber(int panel, int control, double* v) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    QWidget* w = c->widget;
    switch (c->kind) {
        case Kind::Numeric:
            *v = static_cast<QSpinBox*>(w)->value();
            return 0;
        case Kind::Led:
            *v = static_cast<Led*>(w)->value();
            return 0;
        case Kind::Radio:
        case Kind::Button:
            *v = static_cast<QAbstractButton*>(w)->isChecked() ? 1 : 0;
            return 0;
        case Kind::Ring: {
            auto* ring = static_cast<QComboBox*>(w);
            const QVariant d = ring->currentData();
            *v = d.isValid() ? d.toInt() : ring->currentIndex();
            return 0;
        }
        case Kind::Text:
            *v = static_cast<QLineEdit*>(w)->text().toDouble();
            return 0;
        case Kind::TextMsg:
            *v = static_cast<QLabel*>(w)->text().toDouble();
            return 0;
        default:
            return ERR_BAD_CONTROL;
    }
}

QColor Rgb(int rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb & 0xFFFFFF));
}

// Checks a caller's text buffer and empties it, and finds the control
// whose text goes there: 0, or a negative code.
int TextOutFor(int panel, int control, char* text, std::size_t size, Control** c) {
    if (!text || size == 0)
        return ERR_BAD_VALUE;
    text[0] = '\0';
    return StatusOf(panel, control, c);
}

// Copies a text into a caller's buffer of `size` (> 0) characters, cut to fit.
void CopyOut(const QString& t, char* text, std::size_t size) {
    const QByteArray b = t.toUtf8();
    const std::size_t n = std::min(static_cast<std::size_t>(b.size()), size - 1);
    std::memcpy(text, b.constData(), n);
    text[n] = '\0';
}

// A marked control is drawn on an amber face in bold, so it stands out from
// its neighbours also on a monochrome screen.
constexpr QRgb MARK_TINT = 0xFFE08A;

bool Markable(Kind k) {
    return k == Kind::Numeric || k == Kind::Text || k == Kind::Button || k == Kind::Radio || k == Kind::Ring;
}

// Puts a control's mark on, changes it or takes it off. What the mark covers
// (face, tooltip, accessible description) is kept and given back with the
// mark taken off.
void ApplyMark(Control* c, const QString& note) {
    QWidget* w = c->widget;
    if (note == c->mark)
        return;
    if (c->mark.isEmpty()) {
        c->unmarkedPalette = w->palette();
        c->unmarkedToolTip = w->toolTip();
        c->unmarkedDescription = w->accessibleDescription();
    }
    c->mark = note;
    QFont f = w->font();
    f.setBold(!note.isEmpty());
    w->setFont(f);
    if (note.isEmpty()) {
        w->setPalette(c->unmarkedPalette);
        w->setToolTip(c->unmarkedToolTip);
        w->setAccessibleDescription(c->unmarkedDescription);
    } else {
        QPalette pal = c->unmarkedPalette;
        pal.setColor(QPalette::Base, QColor(MARK_TINT));
        pal.setColor(QPalette::Button, QColor(MARK_TINT));
        w->setPalette(pal);
        const QString& tip = c->unmarkedToolTip;
        w->setToolTip(tip.isEmpty() ? note : note + QLatin1Char('\n') + tip);
        const QString& desc = c->unmarkedDescription;
        w->setAccessibleDescription(desc.isEmpty() ? note : note + QStringLiteral(" - ") + desc);
    }
    ShowNow(w);
}

}  // namespace

// A widget is drawn with the next event processing, or before the program
// next blocks (Delay, a serial read), whichever comes first: a value is never
// left unseen while the program waits, and a caller that goes on working (the
// scope sending its next request) does not wait for the drawing.
void ShowNow(QWidget* w) {
    if (!w || !w->isVisible())
        return;
    w->update();
    auto& unpainted = S().unpainted;
    if (std::find(unpainted.begin(), unpainted.end(), w) == unpainted.end())
        unpainted.emplace_back(w);
}

void FlushDisplay() {
    std::vector<QPointer<QWidget>> pending;
    pending.swap(S().unpainted);
    for (const QPointer<QWidget>& w : pending)
        if (w && w->isVisible())
            w->repaint();
}

void ForgetUnpainted() {
    S().unpainted.clear();
}

int StatusOf(int panel, int control, Control** out) {
    if (!FindPanel(panel))
        return ERR_BAD_PANEL;
    Control* c = FindControl(panel, control);
    if (!c || !c->widget)
        return ERR_BAD_CONTROL;
    *out = c;
    return 0;
}

}  // namespace orv_rt

using namespace orv_rt;

int GetCtrlVal(int panel, int control, int* value) {
    if (!value)
        return ERR_BAD_VALUE;
    double v = 0;
    const int rc = GetNumber(panel, control, &v);
    if (rc == 0)
        *value = static_cast<int>(std::lround(v));
    return rc;
}

int GetCtrlVal(int panel, int control, double* value) {
    if (!value)
        return ERR_BAD_VALUE;
    return GetNumber(panel, control, value);
}

int GetCtrlValText(int panel, int control, char* text, std::size_t size) {
    Control* c = nullptr;
    if (int rc = TextOutFor(panel, control, text, size, &c); rc < 0)
        return rc;
    QString t;
    QWidget* w = c->widget;
    if (c->kind == Kind::Text)
        t = static_cast<QLineEdit*>(w)->text();
    else if (c->kind == Kind::TextMsg)
        t = static_cast<QLabel*>(w)->text();
    else if (c->kind == Kind::Ring)
        t = static_cast<QComboBox*>(w)->currentText();
    else if (c->kind == Kind::Button || c->kind == Kind::Radio)
        t = static_cast<QAbstractButton*>(w)->text();
    else if (c->kind == Kind::Numeric)
        t = QString::number(static_cast<QSpinBox*>(w)->value());
    else
        return ERR_BAD_CONTROL;
    CopyOut(t, text, size);
    return 0;
}

int SetCtrlVal(int panel, int control, int value) {
    return SetNumber(panel, control, value);
}

int SetCtrlVal(int panel, int control, unsigned value) {
    return SetNumber(panel, control, value);
}

int SetCtrlVal(int panel, int control, double value) {
    return SetNumber(panel, control, value);
}

int SetCtrlVal(int panel, int control, const char* text) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    const QString t = QString::fromUtf8(text ? text : "");
    QWidget* w = c->widget;
    if (c->kind == Kind::Text) {
        auto* e = static_cast<QLineEdit*>(w);
        if (w->property(PROP_STATUS_LINE).toBool())
            LogStatus(t);
        if (e->text() == t)
            return 0;  // already shown: nothing to redraw
        e->setText(t);
        e->setCursorPosition(0);
        e->setToolTip(t);
    } else if (c->kind == Kind::TextMsg) {
        static_cast<QLabel*>(w)->setText(t);
        Refit(c);
    } else {
        return ERR_BAD_CONTROL;
    }
    ShowNow(w);
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    QWidget* w = c->widget;
    switch (attribute) {
        case ATR_DIMMED:
            if (w->isEnabled() == (value != 0)) {
                w->setEnabled(value == 0);
                ShowNow(w);
            }
            return 0;
        case ATR_TIMER_ENABLED:
            if (c->kind != Kind::Timer)
                return ERR_BAD_ATTRIBUTE;
            static_cast<TimerControl*>(w)->setRunning(value != 0);
            return 0;
        case ATR_NUM_TRACES:
        case ATR_POINTS_PER_SCREEN:
        case ATR_CHART_MODE: {
            if (c->kind != Kind::Chart)
                return ERR_BAD_ATTRIBUTE;
            auto* chart = static_cast<StripChart*>(w);
            if (attribute == ATR_NUM_TRACES) {
                if (value < 1 || value > 64)
                    return ERR_BAD_VALUE;
                chart->setNumTraces(value);
            } else if (attribute == ATR_POINTS_PER_SCREEN) {
                if (value < 2 || value > 100000)
                    return ERR_BAD_VALUE;
                chart->setPointsPerScreen(value);
            } else {
                chart->setChartMode(value);
            }
            return 0;
        }
        case ATR_TEXT_COLOR:
        case ATR_TEXT_BGCOLOR: {
            QPalette pal = w->palette();
            if (attribute == ATR_TEXT_COLOR) {
                pal.setColor(QPalette::WindowText, Rgb(value));
                pal.setColor(QPalette::Text, Rgb(value));
            } else {
                pal.setColor(QPalette::Window, Rgb(value));
                pal.setColor(QPalette::Base, Rgb(value));
                if (c->kind == Kind::TextMsg)
                    w->setProperty(PROP_FILL_BACKGROUND, true);  // painted by the backdrop
                else
                    w->setAutoFillBackground(true);
            }
            w->setPalette(pal);
            Refit(c);
            ShowNow(w);
            return 0;
        }
        case ATR_TEXT_POINT_SIZE: {
            // Panel coordinates are pixels, and so are text sizes: a size is
            // the font's pixel height, so that texts placed a size apart on the
            // panel stack without overlapping whatever the screen resolution.
            if (value < 1 || value > 200)
                return ERR_BAD_VALUE;
            QFont f = w->font();
            f.setPixelSize(value);
            w->setFont(f);
            Refit(c);
            ShowNow(w);
            return 0;
        }
        default:
            return ERR_BAD_ATTRIBUTE;
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, const char* value) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (attribute == ATR_MARK_TEXT) {
        if (!Markable(c->kind))
            return ERR_BAD_ATTRIBUTE;
        ApplyMark(c, QString::fromUtf8(value ? value : ""));
        return 0;
    }
    if (attribute != ATR_TEXT_FONT || !value)
        return ERR_BAD_ATTRIBUTE;
    QWidget* w = c->widget;
    QFont f = QApplication::font();
    if (std::strcmp(value, FONT_APP) != 0)
        f.setFamily(QString::fromUtf8(value));
    if (w->font().pixelSize() > 0)
        f.setPixelSize(w->font().pixelSize());
    else
        f.setPointSizeF(w->font().pointSizeF());
    w->setFont(f);
    Refit(c);
    ShowNow(w);
    return 0;
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    if (!value)
        return ERR_BAD_VALUE;
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    QWidget* w = c->widget;
    switch (attribute) {
        case ATR_DIMMED:
            *value = w->isEnabled() ? 0 : 1;
            return 0;
        case ATR_TIMER_ENABLED:
            if (c->kind != Kind::Timer)
                return ERR_BAD_ATTRIBUTE;
            *value = static_cast<TimerControl*>(w)->running() ? 1 : 0;
            return 0;
        case ATR_NUM_TRACES:
        case ATR_POINTS_PER_SCREEN:
        case ATR_CHART_MODE: {
            if (c->kind != Kind::Chart)
                return ERR_BAD_ATTRIBUTE;
            auto* chart = static_cast<StripChart*>(w);
            *value = attribute == ATR_NUM_TRACES          ? chart->numTraces()
                     : attribute == ATR_POINTS_PER_SCREEN ? chart->pointsPerScreen()
                                                          : chart->chartMode();
            return 0;
        }
        case ATR_TEXT_COLOR:
            *value = static_cast<int>(w->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF);
            return 0;
        case ATR_TEXT_BGCOLOR:
            *value = static_cast<int>(w->palette().color(QPalette::Window).rgb() & 0xFFFFFF);
            return 0;
        case ATR_TEXT_POINT_SIZE:
            *value = w->font().pixelSize() > 0 ? w->font().pixelSize() : QFontInfo(w->font()).pixelSize();
            return 0;
        default:
            return ERR_BAD_ATTRIBUTE;
    }
}

int GetCtrlAttributeText(int panel, int control, int attribute, char* text, std::size_t size) {
    Control* c = nullptr;
    if (int rc = TextOutFor(panel, control, text, size, &c); rc < 0)
        return rc;
    if (attribute != ATR_MARK_TEXT)
        return ERR_BAD_ATTRIBUTE;
    CopyOut(c->mark, text, size);
    return 0;
}

int NewCtrl(int panel, int style, const char* label, int top, int left) {
    Panel* p = FindPanel(panel);
    if (!p)
        return ERR_BAD_PANEL;
    if (style != CTRL_TEXT_MSG)
        return ERR_BAD_VALUE;
    const int id = p->nextNewCtrl++;
    auto* l = new QLabel(p->window);
    l->setObjectName(QStringLiteral("TextMsg%1").arg(id));
    l->setTextFormat(Qt::PlainText);
    l->setText(QString::fromUtf8(label ? label : ""));
    l->setProperty(PROP_CTRL_ID, id);
    l->setProperty(PROP_PANEL, panel);
    l->move(left, top);
    l->adjustSize();
    l->show();
    l->installEventFilter(S().engine);
    TextBackdrop* backdrop = BackdropOf(p->window);
    if (!backdrop)
        backdrop = new TextBackdrop(p->window);
    backdrop->addMessage(l);
    Control c;
    c.id = id;
    c.kind = Kind::TextMsg;
    c.widget = l;
    p->controls.emplace(id, c);
    return id;
}
