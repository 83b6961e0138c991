// Panel loading: the panel file's widgets (with the runtime's own classes),
// the program's callbacks bound by name, the controls wired to their events;
// showing and discarding panels.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QUiLoader>

#include <algorithm>
#include <memory>

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

// Labels a port ring's entries with the ports' devices as they are now,
// adding entries for ports that got a device. Entry i is port i + 1, and no
// entry up to the current one is removed: the selection stays on its port
// and the control's lastRingIndex stays right.
void LabelPortRing(QComboBox* ring) {
    int highest = std::max(8, ring->currentIndex() + 1);
    for (int n = 1; n <= MAX_COM_PORTS; ++n)
        if (*ComPortDevice(n))
            highest = std::max(highest, n);
    for (int n = 1; n <= highest; ++n) {
        const QString dev = QString::fromLocal8Bit(ComPortDevice(n));
        QString label = QStringLiteral("COM%1  ").arg(n);
        if (dev.isEmpty())
            label += QStringLiteral("(not connected)");
        else
            label += ComPortPresent(n) ? dev : dev + QStringLiteral(" (not connected)");
        if (n > ring->count())
            ring->addItem(label, n);
        else if (ring->itemText(n - 1) != label)
            ring->setItemText(n - 1, label);
    }
    while (ring->count() > highest)
        ring->removeItem(ring->count() - 1);
}

void FillPortRing(QComboBox* ring) {
    ring->clear();
    LabelPortRing(ring);
    ring->setCurrentIndex(0);
}

// After the port list changed by itself (a device plugged in or pulled):
// every port ring shows it, except one whose list is open right now, which
// is left alone under the operator's pointer (it is relabelled when opened).
void RelabelPortRings() {
    for (int handle : PanelHandles()) {
        for (auto& [id, c] : FindPanel(handle)->controls) {
            auto* ring = c.kind == Kind::Ring ? qobject_cast<QComboBox*>(c.widget.data()) : nullptr;
            if (ring && ring->property(PROP_PORT_RING).toBool() && !ring->view()->isVisible())
                LabelPortRing(ring);
        }
    }
}

// A ring that, when it carries the port-ring property, reads the ports afresh
// each time its list opens: by mouse, keyboard or an assistive tool, which
// all come through showPopup.
class RingBox : public QComboBox {
  public:
    using QComboBox::QComboBox;
    void showPopup() override {
        if (property(PROP_PORT_RING).toBool()) {
            RefreshComPorts();
            LabelPortRing(this);
        }
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

Kind KindOf(QWidget* w) {
    if (qobject_cast<StripChart*>(w))
        return Kind::Chart;
    if (qobject_cast<Led*>(w))
        return Kind::Led;
    if (qobject_cast<TimerControl*>(w))
        return Kind::Timer;
    if (qobject_cast<QRadioButton*>(w))
        return Kind::Radio;
    if (qobject_cast<QAbstractButton*>(w))
        return Kind::Button;
    if (qobject_cast<QComboBox*>(w))
        return Kind::Ring;
    if (qobject_cast<QSpinBox*>(w))
        return Kind::Numeric;
    if (qobject_cast<QLineEdit*>(w))
        return Kind::Text;
    if (qobject_cast<QLabel*>(w))
        return Kind::TextMsg;
    return Kind::Other;
}

// A bare panel file name is looked for next to the executable (the build
// tree), then in the data directory of the installation the executable belongs
// to (<exe dir>/../share/orvanscope, wherever the installation was unpacked),
// then in the data directory of the configured install prefix.
QString ResolvePanelFile(const char* file) {
    const QString name = QFile::decodeName(file);
    if (name.contains('/') || name.contains('\\'))
        return name;
    const QDir exeDir(QCoreApplication::applicationDirPath());
    const QString beside = exeDir.filePath(name);
    if (QFileInfo(beside).isFile())
        return beside;
#ifdef ORV_DATA_DIR_FROM_BIN
    const QString installed = QDir(exeDir.filePath(QStringLiteral(ORV_DATA_DIR_FROM_BIN))).filePath(name);
    if (QFileInfo(installed).isFile())
        return installed;
#endif
#ifdef ORV_DATA_DIR
    const QString data = QDir(QStringLiteral(ORV_DATA_DIR)).filePath(name);
    if (QFileInfo(data).isFile())
        return data;
#endif
    return beside;
}

// A button's left-click event comes with the button going down, whatever put
// it down, its commit with the click; a toggle button also reports a toggle
// that no click made.
void WireButton(int panel, int id, QAbstractButton* b) {
    QObject::connect(b, &QAbstractButton::pressed, S().engine, [panel, id] { ButtonPressed(panel, id); });
    QObject::connect(b, &QAbstractButton::released, S().engine, [panel, id] { ButtonReleased(panel, id); });
    QObject::connect(b, &QAbstractButton::clicked, S().engine, [panel, id] { ButtonClicked(panel, id); });
    if (b->isCheckable())
        QObject::connect(b, &QAbstractButton::toggled, S().engine, [panel, id] { ButtonToggled(panel, id); });
}

// Connects the signals of one control to its events.
void WireControl(int panel, Control& c) {
    QWidget* w = c.widget;
    const int id = c.id;
    switch (c.kind) {
        case Kind::Button:
            WireButton(panel, id, static_cast<QAbstractButton*>(w));
            break;
        case Kind::Radio:
            static_cast<QRadioButton*>(w)->setAutoExclusive(false);  // the program keeps the group consistent
            WireButton(panel, id, static_cast<QAbstractButton*>(w));
            break;
        case Kind::Ring: {
            auto* ring = static_cast<QComboBox*>(w);
            if (ring->property(PROP_PORT_RING).toBool()) {
                FillPortRing(ring);
                SetPortListHook(RelabelPortRings);
            }
            c.lastRingIndex = ring->currentIndex();
            QObject::connect(ring, &QComboBox::activated, S().engine, [panel, id](int index) {
                Control* ctl = FindControl(panel, id);
                if (!ctl)
                    return;
                const bool changed = index != ctl->lastRingIndex;
                ctl->lastRingIndex = index;
                if (changed)
                    DeliverCtrl(panel, id, EVT_VALUE_CHANGED);
                DeliverCtrl(panel, id, EVT_COMMIT);
            });
            break;
        }
        case Kind::Numeric: {
            auto* spin = static_cast<QSpinBox*>(w);
            spin->setKeyboardTracking(false);  // one event per entry, not per keystroke
            QObject::connect(spin, &QSpinBox::valueChanged, S().engine, [panel, id] {
                if (S().programmatic)
                    return;
                DeliverCtrl(panel, id, EVT_VALUE_CHANGED);
                DeliverCtrl(panel, id, EVT_COMMIT);
            });
            break;
        }
        case Kind::Timer: {
            auto* t = static_cast<TimerControl*>(w);
            auto busy = std::make_shared<bool>(false);
            QObject::connect(t, &TimerControl::tick, S().engine, [panel, id, busy] {
                // A tick callback that processes events must not be re-entered
                // by the next tick of the same timer.
                if (*busy)
                    return;
                *busy = true;
                DeliverCtrl(panel, id, EVT_TIMER_TICK, 0, 0, false);
                *busy = false;
            });
            break;
        }
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

}  // namespace orv_rt

using namespace orv_rt;

int LoadPanel(int parentPanel, const char* file, int panelResource) {
    Q_UNUSED(parentPanel);
    State& s = S();
    if (!s.engine)
        return ERR_NO_ENGINE;
    if (!file || panelResource != 1)
        return ERR_PANEL_FILE;
    QFile f(ResolvePanelFile(file));
    if (!f.open(QIODevice::ReadOnly))
        return ERR_PANEL_FILE;
    PanelLoader loader;
    QWidget* root = loader.load(&f);
    if (!root)
        return ERR_PANEL_FILE;
    if (!loader.errorString().isEmpty())
        qWarning("panel file %s: %s", file, qPrintable(loader.errorString()));

    const int handle = s.nextHandle++;
    Panel& p = s.panels[handle];
    p.handle = handle;
    p.window = root;
    root->setProperty(PROP_PANEL_WINDOW, handle);

    auto lookup = [&](const QString& name, bool panelCallback) -> void* {
        for (int i = 0; i < s.tableCount; ++i) {
            if (name == QLatin1String(s.table[i].name)) {
                if (panelCallback && s.table[i].panel)
                    return reinterpret_cast<void*>(s.table[i].panel);
                if (!panelCallback && s.table[i].control)
                    return reinterpret_cast<void*>(s.table[i].control);
            }
        }
        qWarning("panel file %s: callback %s is not in the program's callback table", file, qPrintable(name));
        return nullptr;
    };

    const QString panelCb = root->property(PROP_CALLBACK).toString();
    if (!panelCb.isEmpty())
        p.callback = reinterpret_cast<PanelCallbackPtr>(lookup(panelCb, true));

    for (QWidget* w : root->findChildren<QWidget*>()) {
        const QVariant id = w->property(PROP_CTRL_ID);
        if (!id.isValid())
            continue;
        Control c;
        c.id = id.toInt();
        c.kind = KindOf(w);
        c.widget = w;
        const QString cb = w->property(PROP_CALLBACK).toString();
        if (!cb.isEmpty())
            c.callback = reinterpret_cast<CtrlCallbackPtr>(lookup(cb, false));
        w->setProperty(PROP_PANEL, handle);
        if (c.kind == Kind::Timer)
            static_cast<TimerControl*>(w)->setRunning(false);
        auto [it, fresh] = p.controls.emplace(c.id, c);
        if (!fresh)
            qWarning("panel file %s: control number %d used twice", file, c.id);
        else
            WireControl(handle, it->second);
    }
    Install(root);
    return handle;
}

int DisplayPanel(int panel) {
    Panel* p = FindPanel(panel);
    if (!p)
        return ERR_BAD_PANEL;
    FitToScreen(p->window);
    p->window->show();
    p->window->raise();
    p->window->activateWindow();
    return 0;
}

int DiscardPanel(int panel) {
    Panel* p = FindPanel(panel);
    if (!p)
        return ERR_BAD_PANEL;
    QWidget* w = p->window;
    S().panels.erase(panel);
    w->hide();
    // Inside a callback the panel's widgets may still be on the stack: delete
    // them once control is back in the event loop.
    if (S().depth > 0)
        w->deleteLater();
    else
        delete w;
    return 0;
}
