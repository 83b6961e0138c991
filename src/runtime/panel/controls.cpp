// The panel model on the widgets: values, texts, attributes and marks as the
// controls show them, new text messages and the fitting of their texts, and
// the drawing of changed values before the program blocks.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QSpinBox>
#include <QStyle>
#ifdef ORV_HAVE_QT_SVG
#include <QSvgGenerator>
#endif

#include <algorithm>
#include <limits>

#include "runtime/core/diag.h"
#include "runtime/panel/led.h"
#include "runtime/panel/panel_parts.h"
#include "runtime/panel/statushistory.h"
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

void Refit(const Control& c) {
    if (c.kind != Kind::TextMsg)
        return;
    FitTextMessages(WidgetOf(c)->parentWidget());
    if (TextBackdrop* b = BackdropOf(WidgetOf(c)->parentWidget())) {
        b->refresh();
        ShowNow(b);
    }
}

QColor Rgb(int rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb & 0xFFFFFF));
}

// How each kind of mark is drawn: an amber face in bold (not done yet), a
// blue face in italics (not confirmed), red on a pale red face with an error
// sign (a failure); so the kinds differ also on a monochrome screen.
struct MarkLook {
    QRgb face;
    QRgb text;  // 0: the widget's own
    bool bold, italic;
};
constexpr MarkLook MARK_LOOKS[] = {
    {0xFFE08A, 0, true, false},
    {0xCFE0FF, 0, false, true},
    {0xFFE4E4, 0xB00000, true, false},
};
// On a marked widget: its face, tooltip and description without the mark.
constexpr const char* PROP_UNMARKED = "orvUnmarked";
// On a line edit marked as an error: the action that shows the error sign.
constexpr const char* PROP_MARK_SIGN = "orvMarkSign";

void ShowSign(QWidget* w, bool on) {
    auto* edit = qobject_cast<QLineEdit*>(w);
    if (!edit)
        return;
    auto* sign = qobject_cast<QAction*>(w->property(PROP_MARK_SIGN).value<QObject*>());
    if (on && !sign) {
        sign = edit->addAction(w->style()->standardIcon(QStyle::SP_MessageBoxCritical),
                               QLineEdit::LeadingPosition);
        sign->setToolTip(QStringLiteral("error"));
        w->setProperty(PROP_MARK_SIGN, QVariant::fromValue<QObject*>(sign));
    } else if (!on && sign) {
        edit->removeAction(sign);
        delete sign;
        w->setProperty(PROP_MARK_SIGN, QVariant());
    }
}

// Puts a control's mark on, changes it or takes it off. What the mark covers
// (face, tooltip, accessible description) is kept on the widget while the
// mark is on, and given back with the mark taken off. False when nothing
// changed.
bool ShowMark(const Control& c, QWidget* w) {
    const QString note = QString::fromStdString(c.mark);
    const bool wasMarked = w->property(PROP_UNMARKED).isValid();
    if (!wasMarked && note.isEmpty())
        return false;
    if (!wasMarked)
        w->setProperty(PROP_UNMARKED,
                       QVariantList{QVariant::fromValue(w->palette()), w->toolTip(),
                                    w->accessibleDescription(), QVariant::fromValue(w->font())});
    const QVariantList unmarked = w->property(PROP_UNMARKED).toList();
    const QString tip = unmarked[1].toString(), desc = unmarked[2].toString();
    if (note.isEmpty()) {
        w->setPalette(unmarked[0].value<QPalette>());
        w->setFont(unmarked[3].value<QFont>());
        w->setToolTip(tip);
        w->setAccessibleDescription(desc);
        w->setProperty(PROP_UNMARKED, QVariant());
        ShowSign(w, false);
        return true;
    }
    const MarkLook& look = MARK_LOOKS[std::clamp(c.markKind, MARK_PENDING, MARK_ERROR)];
    QFont f = unmarked[3].value<QFont>();
    f.setBold(look.bold);
    f.setItalic(look.italic);
    w->setFont(f);
    QPalette pal = unmarked[0].value<QPalette>();
    pal.setColor(QPalette::Base, QColor(look.face));
    pal.setColor(QPalette::Button, QColor(look.face));
    if (look.text) {
        pal.setColor(QPalette::Text, QColor(look.text));
        pal.setColor(QPalette::ButtonText, QColor(look.text));
    }
    w->setPalette(pal);
    w->setToolTip(tip.isEmpty() ? note : note + QLatin1Char('\n') + tip);
    w->setAccessibleDescription(desc.isEmpty() ? note : note + QStringLiteral(" - ") + desc);
    ShowSign(w, c.markKind == MARK_ERROR);
    return true;
}

// Shows a new value; false when the widget showed it already.
bool ShowValue(const Control& c, QWidget* w) {
    switch (c.kind) {
        case Kind::Numeric: {
            auto* spin = static_cast<QSpinBox*>(w);
            if (spin->value() == c.value)
                return false;
            spin->setValue(c.value);
            return true;
        }
        case Kind::Led:
            return static_cast<Led*>(w)->setValue(c.checked ? 1 : 0);
        case Kind::Radio:
        case Kind::Button: {
            auto* b = static_cast<QAbstractButton*>(w);
            if (!b->isCheckable() || b->isChecked() == c.checked)
                return false;
            b->setChecked(c.checked);
            return true;
        }
        case Kind::Ring:
            static_cast<QComboBox*>(w)->setCurrentIndex(c.current);
            return true;
        default:
            return false;
    }
}

// Shows a new text; false when the widget showed it already.
bool ShowText(const Control& c, QWidget* w) {
    const QString t = QString::fromStdString(c.text);
    if (c.kind == Kind::Text) {
        auto* e = static_cast<QLineEdit*>(w);
        // A status line's mark belongs to its text: a new text comes unmarked.
        const bool unmarked = c.statusLine && ShowMark(c, w);
        if (c.statusLine)
            LogStatus(t);
        if (e->text() == t && !unmarked)
            return false;  // already shown: nothing to redraw
        e->setText(t);
        e->setCursorPosition(0);
        e->setToolTip(t);
    } else if (c.kind == Kind::TextMsg) {
        static_cast<QLabel*>(w)->setText(t);
        Refit(c);
    } else if (c.kind == Kind::Led) {
        static_cast<Led*>(w)->setCaption(t);
    } else if (c.kind == Kind::Button || c.kind == Kind::Radio) {
        static_cast<QAbstractButton*>(w)->setText(t);
    }
    return true;
}

// A ring's entries, their values and its current entry.
void ShowItems(const Control& c, QComboBox* ring) {
    const int count = static_cast<int>(c.items.size());
    for (int i = 0; i < count; ++i) {
        const QString label = QString::fromStdString(c.items[static_cast<std::size_t>(i)]);
        const QVariant data = i < static_cast<int>(c.itemData.size())
                                  ? QVariant(c.itemData[static_cast<std::size_t>(i)])
                                  : QVariant();
        if (i >= ring->count())
            ring->addItem(label, data);
        else if (ring->itemText(i) != label)
            ring->setItemText(i, label);
    }
    while (ring->count() > count)
        ring->removeItem(ring->count() - 1);
    if (ring->currentIndex() != c.current)
        ring->setCurrentIndex(c.current);
}

// A text attribute: colours, font and its size.
void ShowStyle(const Control& c, QWidget* w, int attribute) {
    if (attribute == ATR_TEXT_COLOR || attribute == ATR_TEXT_BGCOLOR) {
        QPalette pal = w->palette();
        if (attribute == ATR_TEXT_COLOR) {
            pal.setColor(QPalette::WindowText, Rgb(c.textColor));
            pal.setColor(QPalette::Text, Rgb(c.textColor));
        } else {
            pal.setColor(QPalette::Window, Rgb(c.bgColor));
            pal.setColor(QPalette::Base, Rgb(c.bgColor));
            if (c.kind == Kind::TextMsg)
                w->setProperty(PROP_FILL_BACKGROUND, true);  // painted by the backdrop
            else
                w->setAutoFillBackground(true);
        }
        w->setPalette(pal);
    } else {
        QFont f = w->font();
        if (attribute == ATR_TEXT_FONT) {
            f = QApplication::font();
            if (c.font != FONT_APP)
                f.setFamily(QString::fromStdString(c.font));
        }
        f.setPixelSize(c.pixelSize);
        w->setFont(f);
    }
    Refit(c);
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

void ShowAll(Panel& p, Control& c) {
    QWidget* w = WidgetOf(c);
    const Mirroring m;
    if (c.kind == Kind::Numeric)
        static_cast<QSpinBox*>(w)->setRange(c.minimum, c.maximum);
    else if (c.kind == Kind::Ring)
        ShowItems(c, static_cast<QComboBox*>(w));
    else if (c.kind == Kind::Chart)
        static_cast<StripChart*>(w)->bind(p.handle, c.id);
    else if (c.kind == Kind::Timer)
        static_cast<TimerControl*>(w)->setInterval(c.intervalMs);
    ShowValue(c, w);
    face::Show(p, c, ATR_TIMER_ENABLED);
    c.textColor = static_cast<int>(w->palette().color(QPalette::WindowText).rgb() & 0xFFFFFF);
    c.bgColor = static_cast<int>(w->palette().color(QPalette::Window).rgb() & 0xFFFFFF);
    c.pixelSize = w->font().pixelSize() > 0 ? w->font().pixelSize() : QFontInfo(w->font()).pixelSize();
}

namespace face {

void Show(Panel& p, Control& c, int what) {
    QWidget* w = WidgetOf(c);
    if (!w)
        return;
    const Mirroring m;
    switch (what) {
        case SHOW_VALUE:
            if (!ShowValue(c, w))
                return;
            break;
        case SHOW_TEXT:
            if (c.statusLine)
                StatusHistoryChanged(p.handle, c);
            if (!ShowText(c, w))
                return;
            break;
        case SHOW_ITEMS:
            ShowItems(c, static_cast<QComboBox*>(w));
            break;
        case SHOW_PLOT:
            static_cast<StripChart*>(w)->plotted();  // drawn at the chart's own pace
            return;
        case ATR_NUM_TRACES:
        case ATR_POINTS_PER_SCREEN:
        case ATR_TRACE_COLOR:
            static_cast<StripChart*>(w)->showLayout();
            return;
        case ATR_TIMER_ENABLED:
            if (c.kind == Kind::Timer)
                static_cast<TimerControl*>(w)->setRunning(c.running);
            return;
        case ATR_DIMMED:
            w->setEnabled(!c.dimmed);
            break;
        case ATR_MARK_TEXT:
        case ATR_MARK_KIND:
            if (c.statusLine)
                StatusHistoryChanged(p.handle, c);
            if (!ShowMark(c, w))
                return;
            break;
        case ATR_TEXT_COLOR:
        case ATR_TEXT_BGCOLOR:
        case ATR_TEXT_FONT:
        case ATR_TEXT_POINT_SIZE:
            ShowStyle(c, w, what);
            break;
        default:
            return;
    }
    ShowNow(w);
}

void Add(Panel& p, Control& c, int top, int left) {
    auto* window = static_cast<QWidget*>(p.view);
    auto* l = new QLabel(window);
    l->setObjectName(QStringLiteral("TextMsg%1").arg(c.id));
    l->setTextFormat(Qt::PlainText);
    l->setText(QString::fromStdString(c.text));
    l->setProperty(PROP_CTRL_ID, c.id);
    l->setProperty(PROP_PANEL, p.handle);
    l->move(left, top);
    l->adjustSize();
    l->show();
    l->installEventFilter(S().engine);
    TextBackdrop* backdrop = BackdropOf(window);
    if (!backdrop)
        backdrop = new TextBackdrop(window);
    backdrop->addMessage(l);
    c.view = l;
    ShowAll(p, c);
}

bool ChartPicture(Panel& /*p*/, Control& c, int format, std::string* bytes) {
    QWidget* chart = WidgetOf(c);
    QByteArray out;
    QBuffer buffer(&out);
    if (!buffer.open(QIODevice::WriteOnly))
        return false;
    if (format == CHART_SVG) {
#ifdef ORV_HAVE_QT_SVG
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(chart->size());
        svg.setViewBox(chart->rect());
        svg.setTitle(chart->accessibleName());
        QPainter painter(&svg);
        chart->render(&painter);
        painter.end();
#else
        return false;
#endif
    } else {
        const char* name = format == CHART_JPEG ? "JPEG" : format == CHART_BMP ? "BMP" : "PNG";
        const QPixmap picture = chart->grab();
        if (picture.isNull() || !picture.save(&buffer, name))
            return false;
    }
    bytes->assign(out.constData(), static_cast<std::size_t>(out.size()));
    return true;
}

bool DrawsSvg() {
#ifdef ORV_HAVE_QT_SVG
    return true;
#else
    return false;
#endif
}

}  // namespace face

}  // namespace orv_rt
