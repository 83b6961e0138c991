// Panel half of the runtime layer: engine start, panel loading, event
// delivery to the program's callbacks, the event loop, control values and
// attributes, the strip chart, the file dialog and the project directory.
#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTimer>
#include <QUiLoader>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>

#include "runtime/diag.h"
#include "runtime/panelwidgets.h"
#include "runtime/runtime.h"
#include "runtime/runtime_internal.h"

namespace orv_rt {

namespace {

// Dynamic properties of the panel file.
constexpr const char* PROP_CTRL_ID = "ctrlId";
constexpr const char* PROP_CALLBACK = "callback";
constexpr const char* PROP_STATUS_LINE = "statusLine";
constexpr const char* PROP_PORT_RING = "portRing";
// Set by the engine on every control widget: the handle of its panel.
constexpr const char* PROP_PANEL = "orvPanel";

class Engine;

struct State {
    const CallbackEntry* table = nullptr;
    int tableCount = 0;
    std::map<int, Panel> panels;
    int nextHandle = 1;
    int depth = 0;
    bool quitRequested = false;
    int quitCode = 0;
    bool programmatic = false;  // a value is being set by the program: no events
    std::vector<std::string> statusHistory;
    FileDialogRecord lastDialog;
    QString projectDir;
    Engine* engine = nullptr;
    QTimer* wake = nullptr;  // bounds the wait of ProcessSystemEvents
    int argc = 1;
    std::vector<QPointer<QWidget>> unpainted;  // changed since events were last processed
    QPointer<QDialog> openDialog;              // the file dialog being shown, if any
};

State& S() {
    static State s;
    return s;
}

char g_argv0[] = "OrvanscopeV10";
char* g_fallbackArgv[] = {g_argv0, nullptr};

// Copies a QString into a caller's path buffer of MAX_PATHNAME_LEN chars.
// A path that does not fit is refused; the buffer then holds an empty string,
// or is left untouched when `clearOnRefusal` is false.
int CopyPath(const QString& path, char* out, bool clearOnRefusal = true) {
    if (!out)
        return ERR_BAD_VALUE;
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() + 1 > MAX_PATHNAME_LEN) {
        if (clearOnRefusal)
            out[0] = '\0';
        return ERR_TOO_LONG;
    }
    std::memcpy(out, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    out[bytes.size()] = '\0';
    return 0;
}

// Runs a callback, keeping count of the nesting so that a quit takes effect
// only once the outermost callback has returned.
class DepthGuard {
  public:
    DepthGuard() { ++S().depth; }
    ~DepthGuard() {
        if (--S().depth == 0 && S().quitRequested) {
            if (auto* d = QAbstractEventDispatcher::instance())
                d->wakeUp();
        }
    }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

bool EnabledForUser(const Control& c) {
    return c.widget && c.widget->isEnabled();
}

void DeliverCtrl(int panel, int ctrl, int event, int d1 = 0, int d2 = 0, bool needEnabled = true) {
    Control* c = FindControl(panel, ctrl);
    if (!c || !c->callback)
        return;
    if (needEnabled && !EnabledForUser(*c))
        return;
    CtrlCallbackPtr cb = c->callback;
    DepthGuard g;
    cb(panel, ctrl, event, nullptr, d1, d2);
}

void DeliverPanel(int panel, int event) {
    Panel* p = FindPanel(panel);
    if (!p || !p->callback)
        return;
    PanelCallbackPtr cb = p->callback;
    DepthGuard g;
    cb(panel, event, nullptr, 0, 0);
}

// The control that a widget (or one of its inner parts) belongs to.
bool ControlOf(QObject* obj, int* panel, int* ctrl, QWidget** controlWidget) {
    for (QObject* o = obj; o; o = o->parent()) {
        if (!o->isWidgetType())
            return false;
        const QVariant id = o->property(PROP_CTRL_ID);
        const QVariant pn = o->property(PROP_PANEL);
        if (id.isValid() && pn.isValid()) {
            *panel = pn.toInt();
            *ctrl = id.toInt();
            *controlWidget = static_cast<QWidget*>(o);
            return true;
        }
    }
    return false;
}

bool IsActivationKey(int key) {
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Watches the panel windows and their controls and turns the operator's
// input into callback events.
class Engine : public QObject {
  public:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        switch (ev->type()) {
            case QEvent::Close: {
                const QVariant handle = obj->property("orvPanelWindow");
                if (!handle.isValid())
                    break;
                // The window never closes by itself: the program decides.
                ev->ignore();
                DeliverPanel(handle.toInt(), EVT_CLOSE);
                return true;
            }
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                auto* me = static_cast<QMouseEvent*>(ev);
                if (me->button() != Qt::LeftButton)
                    break;
                int panel = 0, ctrl = 0;
                QWidget* w = nullptr;
                if (!ControlOf(obj, &panel, &ctrl, &w))
                    break;
                // A press that an inner part leaves unhandled travels on to its
                // parents: deliver it once.
                const auto stamp = me->timestamp();
                const QPointF global = me->globalPosition();
                if (stamp == lastStamp_ && global == lastGlobal_ && w == lastControl_)
                    break;
                lastStamp_ = stamp;
                lastGlobal_ = global;
                lastControl_ = w;
                const QPoint pos = w->mapFromGlobal(global).toPoint();
                DeliverCtrl(panel, ctrl, EVT_LEFT_CLICK, pos.y(), pos.x());
                break;
            }
            case QEvent::MouseButtonRelease:
                // Every press is followed by a release: the next press is new
                // even when a synthetic event repeats time and place.
                lastControl_ = nullptr;
                break;
            case QEvent::KeyPress:
            case QEvent::KeyRelease: {
                auto* ke = static_cast<QKeyEvent*>(ev);
                auto* button = qobject_cast<QAbstractButton*>(obj);
                if (!button || !IsActivationKey(ke->key()) || !obj->property(PROP_CTRL_ID).isValid())
                    break;
                return HandleButtonKey(button, ke);
            }
            case QEvent::FocusIn:
            case QEvent::FocusOut: {
                if (!obj->property(PROP_CTRL_ID).isValid() || !obj->property(PROP_PANEL).isValid())
                    break;
                DeliverCtrl(obj->property(PROP_PANEL).toInt(), obj->property(PROP_CTRL_ID).toInt(),
                            ev->type() == QEvent::FocusIn ? EVT_GOT_FOCUS : EVT_LOST_FOCUS);
                break;
            }
            default:
                break;
        }
        return QObject::eventFilter(obj, ev);
    }

  private:
    quint64 lastStamp_ = 0;
    QPointF lastGlobal_;
    QPointer<QWidget> lastControl_;

    // Keyboard activation of a button: left click then commit (for a radio
    // button the toggle's value change comes in between).
    static bool HandleButtonKey(QAbstractButton* button, QKeyEvent* ke) {
        if (ke->type() == QEvent::KeyRelease)
            return true;  // the press did everything
        if (ke->isAutoRepeat())
            return true;
        const int panel = button->property(PROP_PANEL).toInt();
        const int ctrl = button->property(PROP_CTRL_ID).toInt();
        if (!button->isEnabled())
            return true;
        QPointer<QAbstractButton> guard(button);
        DeliverCtrl(panel, ctrl, EVT_LEFT_CLICK);
        if (guard && guard->isEnabled())
            guard->click();  // emits clicked(): commit (radio: value changed, commit)
        return true;
    }
};

// A termination request of the session (SIGTERM at log-out or from a service
// manager, SIGINT from a terminal) becomes the same close request as the
// window's close button, so that the program shuts down in order and releases
// its port. The handler only writes a byte into a pipe that the event loop
// watches; a second request ends the process at once.
int g_termPipe[2] = {-1, -1};

void OnTermSignal(int sig) {
    const char b = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_termPipe[1], &b, 1);
}

void SetTermHandler(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

void WatchTermination(QObject* owner) {
    if (g_termPipe[0] >= 0 || ::pipe2(g_termPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_termPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char b = 0;
        while (::read(g_termPipe[0], &b, 1) > 0) {
        }
        SetTermHandler(SIG_DFL);
        for (int h : PanelHandles())
            DeliverPanel(h, EVT_CLOSE);
    });
    SetTermHandler(OnTermSignal);
}

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

// Loader that knows the runtime's own widget classes.
class PanelLoader : public QUiLoader {
  public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        QWidget* w = nullptr;
        if (className == QLatin1String("OrvStripChart"))
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

void FillPortRing(QComboBox* ring) {
    int highest = 8;
    for (int n = 1; n <= MAX_COM_PORTS; ++n) {
        const char* dev = ComPortDevice(n);
        if (dev && dev[0])
            highest = std::max(highest, n);
    }
    ring->clear();
    for (int n = 1; n <= highest; ++n) {
        const char* dev = ComPortDevice(n);
        const QString where = dev && dev[0] ? QString::fromLocal8Bit(dev) : QStringLiteral("(not connected)");
        ring->addItem(QStringLiteral("COM%1  %2").arg(n).arg(where), n);
    }
    ring->setCurrentIndex(0);
}

constexpr std::size_t STATUS_HISTORY_KEPT = 4096;

void RecordStatus(const QString& text) {
    qCDebug(lcLine).noquote() << "status:" << text;
    // Kept for the test driver; a scope running for hours shows a status per
    // reply, so only the newest texts are kept.
    std::vector<std::string>& h = S().statusHistory;
    if (h.size() >= 2 * STATUS_HISTORY_KEPT)
        h.erase(h.begin(), h.end() - static_cast<long>(STATUS_HISTORY_KEPT));
    h.push_back(text.toStdString());
}

// Connects the signals of one control to its events.
void WireControl(int panel, Control& c) {
    QWidget* w = c.widget;
    const int id = c.id;
    switch (c.kind) {
        case Kind::Button:
            QObject::connect(static_cast<QAbstractButton*>(w), &QAbstractButton::clicked, S().engine,
                             [panel, id] { DeliverCtrl(panel, id, EVT_COMMIT); });
            break;
        case Kind::Radio: {
            auto* rb = static_cast<QRadioButton*>(w);
            rb->setAutoExclusive(false);  // the program keeps the group consistent
            QObject::connect(rb, &QAbstractButton::clicked, S().engine, [panel, id] {
                DeliverCtrl(panel, id, EVT_VALUE_CHANGED);
                DeliverCtrl(panel, id, EVT_COMMIT);
            });
            break;
        }
        case Kind::Ring: {
            auto* ring = static_cast<QComboBox*>(w);
            if (ring->property(PROP_PORT_RING).toBool())
                FillPortRing(ring);
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

void ShowNow(QWidget* w);

void Refit(Control* c) {
    if (c->kind != Kind::TextMsg || !c->widget)
        return;
    FitTextMessages(c->widget->parentWidget());
    if (TextBackdrop* b = BackdropOf(c->widget->parentWidget())) {
        b->refresh();
        ShowNow(b);
    }
}

// Shows a changed value. The widget is drawn with the next event processing,
// or before the program next blocks (Delay, a serial read or write), whichever
// comes first: a value is never left unseen while the program waits, and a
// caller that goes on working (the scope sending its next request) does not
// wait for the drawing.
void ShowNow(QWidget* w) {
    if (!w || !w->isVisible())
        return;
    w->update();
    auto& unpainted = S().unpainted;
    if (std::find(unpainted.begin(), unpainted.end(), w) == unpainted.end())
        unpainted.emplace_back(w);
}

Control* Ctl(int panel, int control) {
    return FindControl(panel, control);
}

int StatusOf(int panel, int control, Control** out) {
    if (!FindPanel(panel))
        return ERR_BAD_PANEL;
    Control* c = Ctl(panel, control);
    if (!c || !c->widget)
        return ERR_BAD_CONTROL;
    *out = c;
    return 0;
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

// A path in the form the standard library's file system calls take.
std::filesystem::path FsPath(const QString& path) {
#ifdef _WIN32
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

QColor Rgb(int rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb & 0xFFFFFF));
}

}  // namespace

Panel* FindPanel(int handle) {
    auto it = S().panels.find(handle);
    return it == S().panels.end() || !it->second.window ? nullptr : &it->second;
}

Control* FindControl(int panel, int control) {
    Panel* p = FindPanel(panel);
    if (!p)
        return nullptr;
    auto it = p->controls.find(control);
    return it == p->controls.end() ? nullptr : &it->second;
}

QWidget* ControlWidget(int panel, int control) {
    Control* c = FindControl(panel, control);
    return c ? c->widget.data() : nullptr;
}

std::vector<int> PanelHandles() {
    std::vector<int> out;
    for (const auto& [h, p] : S().panels)
        if (p.window)
            out.push_back(h);
    return out;
}

FileDialogRecord& LastFileDialog() {
    return S().lastDialog;
}

std::vector<std::string> TakeStatusHistory() {
    std::vector<std::string> out;
    out.swap(S().statusHistory);
    return out;
}

void ResetEngine() {
    for (int h : PanelHandles())
        DiscardPanel(h);
    S().panels.clear();
    S().quitRequested = false;
    S().quitCode = 0;
    S().statusHistory.clear();
    S().lastDialog = {};
}

int CallbackDepth() {
    return S().depth;
}

void FlushDisplay() {
    std::vector<QPointer<QWidget>> pending;
    pending.swap(S().unpainted);
    for (const QPointer<QWidget>& w : pending)
        if (w && w->isVisible())
            w->repaint();
}

}  // namespace orv_rt

using namespace orv_rt;

// ---------------------------------------------------------------------------
// Engine, panel and events
// ---------------------------------------------------------------------------

int InitEngine(int argc, char* argv[]) {
    State& s = S();
    if (!QCoreApplication::instance()) {
        if (argc < 1 || !argv) {
            s.argc = 1;
            argv = g_fallbackArgv;
        } else {
            s.argc = argc;
        }
        new QApplication(s.argc, argv);
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return 0;  // a console-only application cannot show panels
    if (!s.engine) {
        s.engine = new Engine;
        s.wake = new QTimer(s.engine);
        s.wake->setSingleShot(true);
        s.wake->setTimerType(Qt::PreciseTimer);
        s.wake->setInterval(10);
        s.projectDir = QDir::currentPath();
        WatchTermination(s.engine);
    }
    return 1;
}

void SetCallbackTable(const CallbackEntry* table, int count) {
    S().table = table;
    S().tableCount = table ? count : 0;
}

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
    root->setProperty("orvPanelWindow", handle);

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

int RunUserInterface() {
    State& s = S();
    if (!s.engine)
        return ERR_NO_ENGINE;
    while (!(s.quitRequested && s.depth == 0)) {
        s.unpainted.clear();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    s.quitRequested = false;
    return s.quitCode;
}

int QuitUserInterface(int code) {
    S().quitRequested = true;
    S().quitCode = code;
    // A dialog open inside a callback is cancelled, so the callback can return.
    if (S().openDialog)
        S().openDialog->reject();
    if (S().depth == 0)
        if (auto* d = QAbstractEventDispatcher::instance())
            d->wakeUp();
    return 0;
}

int ProcessSystemEvents() {
    State& s = S();
    if (!s.engine)
        return ERR_NO_ENGINE;
    // Runs what is pending; with nothing pending, sleeps until the next event
    // or the short wake-up timer, so a polling caller does not spin a core.
    s.unpainted.clear();  // drawn by the event processing below
    s.wake->start();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    s.wake->stop();
    return 0;
}

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
    if (!text || size == 0)
        return ERR_BAD_VALUE;
    text[0] = '\0';
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
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
    const QByteArray b = t.toUtf8();
    const std::size_t n = std::min(static_cast<std::size_t>(b.size()), size - 1);
    std::memcpy(text, b.constData(), n);
    text[n] = '\0';
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
            RecordStatus(t);
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
                    w->setProperty("orvFillBackground", true);  // painted by the backdrop
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

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (c->kind != Kind::Chart || attribute != ATR_TRACE_COLOR)
        return ERR_BAD_ATTRIBUTE;
    return static_cast<StripChart*>(c->widget.data())->setTraceColor(trace, value) ? 0 : ERR_BAD_VALUE;
}

int PlotStripChart(int panel, int control, const void* array, int numberOfPoints, int startingIndex,
                   int skipCount, int dataType) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (c->kind != Kind::Chart)
        return ERR_BAD_CONTROL;
    if (!array || numberOfPoints < 0 || startingIndex < 0 || skipCount < 0)
        return ERR_BAD_VALUE;
    constexpr int kChunk = 512;
    double buf[kChunk];
    auto* chart = static_cast<StripChart*>(c->widget.data());
    const long stride = static_cast<long>(skipCount) + 1;
    for (int done = 0; done < numberOfPoints;) {
        const int n = std::min(kChunk, numberOfPoints - done);
        for (int i = 0; i < n; ++i) {
            const long idx = startingIndex + (done + i) * stride;
            switch (dataType) {
                case TYPE_DOUBLE:
                    buf[i] = static_cast<const double*>(array)[idx];
                    break;
                case TYPE_INT:
                    buf[i] = static_cast<const int*>(array)[idx];
                    break;
                case TYPE_UINT:
                    buf[i] = static_cast<const unsigned*>(array)[idx];
                    break;
                default:
                    return ERR_BAD_VALUE;
            }
        }
        chart->plot(buf, n);
        done += n;
    }
    return 0;
}

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec, const char* fileTypeList,
                    const char* title, int buttonLabel, int restrictDirectory, int restrictExtension,
                    int allowCancel, int allowMakeDirectory, char* pathName) {
    if (!pathName)
        return ERR_BAD_VALUE;
    State& s = S();
    if (!s.engine)
        return ERR_NO_ENGINE;
    const QString dir = QFile::decodeName(defaultDirectory ? defaultDirectory : "");
    const QString file = QFile::decodeName(defaultFileSpec ? defaultFileSpec : "");
    const QString filter = QString::fromUtf8(fileTypeList ? fileTypeList : "");
    const QString caption = QString::fromUtf8(title ? title : "");

    FileDialogRecord& rec = s.lastDialog;
    rec = {};
    rec.title = caption.toStdString();
    rec.directory = dir.toStdString();
    rec.defaultFile = file.toStdString();
    rec.filter = filter.toStdString();
    rec.button = buttonLabel;
    rec.shown = true;

    QStringList patterns = filter.split(';', Qt::SkipEmptyParts);
    for (QString& pat : patterns)
        pat = pat.trimmed();
    QStringList nameFilters;
    if (!patterns.isEmpty())
        nameFilters << QStringLiteral("%1 (%2)").arg(patterns.join(' '), patterns.join(' '));
    if (!restrictExtension || nameFilters.isEmpty())
        nameFilters << QStringLiteral("All files (*)");

    QFileDialog dlg(QApplication::activeWindow(), caption, dir);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    dlg.setOption(QFileDialog::ReadOnly, !allowMakeDirectory);
    dlg.setNameFilters(nameFilters);
    if (buttonLabel == BUTTON_LOAD) {
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setLabelText(QFileDialog::Accept, QStringLiteral("Load"));
    } else {
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        dlg.setLabelText(QFileDialog::Accept, QStringLiteral("OK"));
    }
    if (!file.isEmpty())
        dlg.selectFile(file);
    if (!allowCancel)
        for (QAbstractButton* b : dlg.findChildren<QAbstractButton*>())
            if (b->text().contains(QLatin1String("Cancel")))
                b->hide();
    if (restrictDirectory && !dir.isEmpty()) {
        // Keep the operator in the default directory.
        QObject::connect(&dlg, &QFileDialog::directoryEntered, &dlg, [&dlg, dir](const QString& d) {
            if (QDir(d) != QDir(dir))
                dlg.setDirectory(dir);
        });
    }
    dlg.setModal(true);

    int result = 0;
    {
        DepthGuard g;  // a quit asked for inside the dialog waits until it closes
        s.openDialog = &dlg;
        // A quit asked for before the dialog opened cancels it at once.
        result = s.quitRequested ? QDialog::Rejected : dlg.exec();
        s.openDialog = nullptr;
    }
    const QString chosen = result == QDialog::Accepted && !dlg.selectedFiles().isEmpty()
                               ? QFileInfo(dlg.selectedFiles().constFirst()).absoluteFilePath()
                               : QString();
    if (chosen.isEmpty() ||
        (restrictDirectory && !dir.isEmpty() && QFileInfo(chosen).absoluteDir() != QDir(dir))) {
        pathName[0] = '\0';
        return FILESEL_NONE;
    }
    const bool existed = QFileInfo(chosen).isFile();
    if (CopyPath(QDir::toNativeSeparators(chosen), pathName, false) < 0)
        return FILESEL_ERR_TOO_LONG;
    return existed ? FILESEL_EXISTING : FILESEL_NEW;
}

int GetProjectDir(char* directoryPath) {
    if (!directoryPath)
        return ERR_BAD_VALUE;
    const QString dir = S().projectDir.isEmpty() ? QDir::currentPath() : S().projectDir;
    return CopyPath(QDir::toNativeSeparators(dir), directoryPath);
}

int GetFullPathFromProject(const char* fileName, char* fullPathName) {
    if (!fullPathName)
        return ERR_BAD_VALUE;
    if (!fileName) {
        fullPathName[0] = '\0';
        return ERR_BAD_VALUE;
    }
    const QString dir = S().projectDir.isEmpty() ? QDir::currentPath() : S().projectDir;
    const QString full = QDir::cleanPath(QDir(dir).absoluteFilePath(QFile::decodeName(fileName)));
    return CopyPath(QDir::toNativeSeparators(full), fullPathName);
}

int FileInDirectory(const char* filePath, const char* directory) {
    if (!filePath || !directory)
        return ERR_BAD_VALUE;
    const QString fileDir = QFileInfo(QFile::decodeName(filePath)).absolutePath();
    const QString dir = QFile::decodeName(directory);
    if (fileDir.isEmpty() || dir.isEmpty())
        return 0;
    // The file system decides: both paths are opened as what they lead to
    // and compared by identity, so a link and its target, or two spellings
    // of one directory on a case-insensitive file system, are the same.
    std::error_code ec;
    const bool same = std::filesystem::equivalent(FsPath(fileDir), FsPath(dir), ec);
    return !ec && same ? 1 : 0;
}

void Delay(double seconds) {
    orv_rt::FlushDisplay();
    if (!(seconds > 0))
        return;
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, 86400.0)));
}
