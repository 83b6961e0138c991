// The widgets of a panel: the panel file's widgets (with the runtime's own
// classes) bound to the panel model's controls, their signals fed into the
// model as the operator's input; showing and discarding panels.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QUiLoader>

#include "runtime/panel/led.h"
#include "runtime/panel/panel_parts.h"
#include "runtime/panel/stripchart.h"
#include "runtime/panel/timercontrol.h"

namespace orv_rt {

namespace {

// A panel stored larger than the screen's free area (a small screen, or a
// large scaling) is shrunk to fit it, down to the panel's minimum size, so
// that no part of the window lies off-screen; its layout gives the chart the
// room that is left.
void FitToScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (!screen || window->isVisible())
        return;
    const QSize avail = screen->availableGeometry().size();
    const QSize fitted = window->size().boundedTo(avail).expandedTo(window->minimumSize());
    if (fitted != window->size())
        window->resize(fitted);
}

// After the port list changed by itself (a device plugged in or pulled):
// every port ring shows it, except one whose list is open right now, which
// is left alone under the operator's pointer (it is relabelled when opened).
void RelabelPortRings() {
    for (int handle : PanelHandles()) {
        for (auto& [id, c] : FindPanel(handle)->controls) {
            auto* ring = c.portRing ? static_cast<QComboBox*>(WidgetOf(c)) : nullptr;
            if (ring && !ring->view()->isVisible())
                LabelPortRing(handle, c);
        }
    }
}

// A ring that tells the model each time its list opens (a port ring reads the
// ports afresh): by mouse, keyboard or an assistive tool, which all come
// through showPopup.
class RingBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    void showPopup() override {
        RingOpened(property(PROP_PANEL).toInt(), property(PROP_CTRL_ID).toInt());
        QComboBox::showPopup();
    }
};

// Loader that knows the runtime's own widget classes.
class PanelLoader : public QUiLoader {
  public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        QWidget* w = nullptr;
        if (className == QLatin1String("QComboBox"))
            w = new RingBox(parent);
        else if (className == QLatin1String("OrvStripChart"))
            w = new StripChart(parent);
        else if (className == QLatin1String("OrvLed"))
            w = new Led(parent);
        else if (className == QLatin1String("OrvTimer"))
            w = new TimerControl(parent);
        else
            return QUiLoader::createWidget(className, parent, name);
        w->setObjectName(name);
        return w;
    }
};

// Whether a widget is of the kind of control the panel file says.
bool Fits(Kind kind, QWidget* w) {
    switch (kind) {
        case Kind::Chart:
            return qobject_cast<StripChart*>(w);
        case Kind::Led:
            return qobject_cast<Led*>(w);
        case Kind::Timer:
            return qobject_cast<TimerControl*>(w);
        case Kind::Radio:
            return qobject_cast<QRadioButton*>(w);
        case Kind::Button:
            return qobject_cast<QAbstractButton*>(w);
        case Kind::Ring:
            return qobject_cast<QComboBox*>(w);
        case Kind::Numeric:
            return qobject_cast<QSpinBox*>(w);
        case Kind::Text:
            return qobject_cast<QLineEdit*>(w);
        case Kind::TextMsg:
            return qobject_cast<QLabel*>(w);
        default:
            return true;
    }
}

// A button's left-click event comes with the button going down, whatever put
// it down, its commit with the click; a toggle button also reports a toggle
// that no click made.
void WireButton(int panel, int id, QAbstractButton* b) {
    QObject* e = S().engine;
    QObject::connect(b, &QAbstractButton::pressed, e, [panel, id] { ButtonPressed(panel, id); });
    QObject::connect(b, &QAbstractButton::released, e, [panel, id] { ButtonReleased(panel, id); });
    QObject::connect(b, &QAbstractButton::clicked, e, [panel, id] { ButtonClicked(panel, id); });
    QObject::connect(b, &QAbstractButton::toggled, e, [panel, id](bool on) {
        if (!S().mirroring)
            ButtonToggled(panel, id, on);
    });
}

// Connects the signals of one control's widget to the model's input.
void Wire(int panel, Control& c) {
    QWidget* w = WidgetOf(c);
    QObject* e = S().engine;
    const int id = c.id;
    switch (c.kind) {
        case Kind::Radio:
            static_cast<QRadioButton*>(w)->setAutoExclusive(false);  // the program keeps the group consistent
            WireButton(panel, id, static_cast<QAbstractButton*>(w));
            break;
        case Kind::Button:
            WireButton(panel, id, static_cast<QAbstractButton*>(w));
            break;
        case Kind::Ring:
            if (c.portRing)
                SetPortListHook(RelabelPortRings);
            QObject::connect(static_cast<QComboBox*>(w), &QComboBox::activated, e,
                             [panel, id](int index) { RingPicked(panel, id, index); });
            break;
        case Kind::Numeric: {
            auto* spin = static_cast<QSpinBox*>(w);
            spin->setKeyboardTracking(false);  // one event per entry, not per keystroke
            QObject::connect(spin, &QSpinBox::valueChanged, e, [panel, id](int v) {
                if (!S().mirroring)
                    NumberEntered(panel, id, v);
            });
            break;
        }
        case Kind::Text:
            QObject::connect(static_cast<QLineEdit*>(w), &QLineEdit::textEdited, e,
                             [panel, id](const QString& t) {
                                 if (Control* now = FindControl(panel, id))
                                     now->text = t.toStdString();
                             });
            break;
        case Kind::Timer:
            QObject::connect(static_cast<TimerControl*>(w), &TimerControl::tick, e,
                             [panel, id] { Tick(panel, id); });
            break;
        default:
            break;
    }
}

void Install(QWidget* w) {
    w->installEventFilter(S().engine);
    for (QWidget* child : w->findChildren<QWidget*>())
        child->installEventFilter(S().engine);
}

}  // namespace

namespace face {

bool Build(Panel& p, const std::string& path) {
    QFile f(QFile::decodeName(path.c_str()));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    PanelLoader loader;
    QWidget* root = loader.load(&f);
    if (!root)
        return false;
    if (!loader.errorString().isEmpty())
        qWarning("panel file %s: %s", path.c_str(), qPrintable(loader.errorString()));
    p.view = root;
    root->setProperty(PROP_PANEL_WINDOW, p.handle);
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const QVariant id = w->property(PROP_CTRL_ID);
        auto it = id.isValid() ? p.controls.find(id.toInt()) : p.controls.end();
        if (it == p.controls.end() || it->second.view || !Fits(it->second.kind, w))
            continue;
        Control& c = it->second;
        c.view = w;
        w->setProperty(PROP_PANEL, p.handle);
        Wire(p.handle, c);
        ShowAll(p, c);
    }
    Install(root);
    return true;
}

void Display(Panel& p) {
    auto* window = static_cast<QWidget*>(p.view);
    FitToScreen(window);
    window->show();
    window->raise();
    window->activateWindow();
}

void Discard(Panel& p) {
    auto* window = static_cast<QWidget*>(p.view);
    window->hide();
    // Inside a callback the panel's widgets may still be on the stack: delete
    // them once control is back in the event loop.
    if (CallbackDepth() > 0)
        window->deleteLater();
    else
        delete window;
}

}  // namespace face

}  // namespace orv_rt
