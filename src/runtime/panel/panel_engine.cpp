// The panel half's engine: start with a window, delivery of events to the
// program's callbacks, the filter that turns the operator's input into events,
// and the event loop.
#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>

#include <initializer_list>
#include <vector>

#include "runtime/panel/accessible.h"
#include "runtime/panel/panel_parts.h"

namespace orv_rt {

namespace {

bool EnabledForUser(const Control& c) {
    return c.widget && c.widget->isEnabled();
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
                const QVariant handle = obj->property(PROP_PANEL_WINDOW);
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
                MarkPressDelivered(panel, ctrl, w->isEnabled());
                DeliverCtrl(panel, ctrl, EVT_LEFT_CLICK, pos.y(), pos.x());
                break;
            }
            case QEvent::MouseButtonRelease: {
                // Every press is followed by a release: the next press is new
                // even when a synthetic event repeats time and place.
                lastControl_ = nullptr;
                // A press that did not put the button down (it was dimmed by
                // its own callback, or missed the button's face) leaves no
                // mark for the next press.
                int panel = 0, ctrl = 0;
                QWidget* w = nullptr;
                if (ControlOf(obj, &panel, &ctrl, &w))
                    MarkPressDelivered(panel, ctrl, false);
                break;
            }
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
        MarkPressDelivered(panel, ctrl, true);
        DeliverCtrl(panel, ctrl, EVT_LEFT_CLICK);
        if (guard && guard->isEnabled())
            guard->click();  // emits clicked(): commit (radio: value changed, commit)
        MarkPressDelivered(panel, ctrl, false);
        return true;
    }

    // Notes for a button that its left-click event is delivered by the input
    // event itself, so pressed() must not deliver it again.
    static void MarkPressDelivered(int panel, int ctrl, bool delivered) {
        if (Control* c = FindControl(panel, ctrl))
            c->pressDelivered = delivered && (c->kind == Kind::Button || c->kind == Kind::Radio);
    }
};

// A number typed into a numeric field is taken when the field loses the
// focus or Enter is pressed. A click elsewhere starts its command with the
// press, before the focus moves, and an assistive tool's press does not move
// it at all: take the typed number first, so that the command works on what
// the operator sees (and the field's own events come before the command's).
void TakeTypedNumber(QWidget* clicked) {
    for (QWidget* f = QApplication::focusWidget(); f; f = f->parentWidget()) {
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(f)) {
            if (spin != clicked)
                spin->interpretText();
            return;
        }
    }
}

}  // namespace

State& S() {
    static State s;
    return s;
}

DepthGuard::DepthGuard() {
    ++S().depth;
}

DepthGuard::~DepthGuard() {
    if (--S().depth == 0 && S().quitRequested) {
        if (auto* d = QAbstractEventDispatcher::instance())
            d->wakeUp();
    }
}

void DeliverCtrl(int panel, int ctrl, int event, int d1, int d2, bool needEnabled) {
    Control* c = FindControl(panel, ctrl);
    if (!c || !c->callback)
        return;
    if (needEnabled && !EnabledForUser(*c))
        return;
    if (event == EVT_LEFT_CLICK) {
        TakeTypedNumber(c->widget);
        c = FindControl(panel, ctrl);
        if (!c || !c->callback)
            return;
    }
    CtrlCallbackPtr cb = c->callback;
    DepthGuard g;
    cb(panel, ctrl, event, nullptr, d1, d2);
}

namespace {

// Delivers `events` to a control from the event loop, in order, behind any
// of its events already waiting.
void DeliverQueued(int panel, int ctrl, std::initializer_list<int> events) {
    Control* c = FindControl(panel, ctrl);
    if (!c)
        return;
    const std::vector<int> list(events);
    c->queuedEvents += static_cast<int>(list.size());
    QMetaObject::invokeMethod(
        S().engine,
        [panel, ctrl, list] {
            for (int event : list) {
                Control* now = FindControl(panel, ctrl);
                if (!now)
                    return;  // the panel went meanwhile
                --now->queuedEvents;
                DeliverCtrl(panel, ctrl, event);
            }
        },
        Qt::QueuedConnection);
}

}  // namespace

void ButtonPressed(int panel, int ctrl) {
    Control* c = FindControl(panel, ctrl);
    if (!c)
        return;
    c->down = true;
    if (c->pressDelivered) {
        c->pressDelivered = false;
        return;
    }
    // Down without a mouse or key press: an assistive tool's action.
    DeliverQueued(panel, ctrl, {EVT_LEFT_CLICK});
}

void ButtonReleased(int panel, int ctrl) {
    if (Control* c = FindControl(panel, ctrl))
        c->down = false;
}

void ButtonToggled(int panel, int ctrl) {
    Control* c = FindControl(panel, ctrl);
    if (!c || c->down || S().programmatic)
        return;
    if (c->kind == Kind::Radio)
        DeliverQueued(panel, ctrl, {EVT_LEFT_CLICK, EVT_VALUE_CHANGED, EVT_COMMIT});
    else
        DeliverQueued(panel, ctrl, {EVT_LEFT_CLICK, EVT_COMMIT});
}

void ButtonClicked(int panel, int ctrl) {
    Control* c = FindControl(panel, ctrl);
    if (!c)
        return;
    const bool radio = c->kind == Kind::Radio;
    if (c->queuedEvents > 0) {
        if (radio)
            DeliverQueued(panel, ctrl, {EVT_VALUE_CHANGED, EVT_COMMIT});
        else
            DeliverQueued(panel, ctrl, {EVT_COMMIT});
        return;
    }
    if (radio)
        DeliverCtrl(panel, ctrl, EVT_VALUE_CHANGED);
    DeliverCtrl(panel, ctrl, EVT_COMMIT);
}

void DeliverPanel(int panel, int event) {
    Panel* p = FindPanel(panel);
    if (!p || !p->callback)
        return;
    PanelCallbackPtr cb = p->callback;
    DepthGuard g;
    cb(panel, event, nullptr, 0, 0);
}

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

void ResetEngine() {
    for (int h : PanelHandles())
        DiscardPanel(h);
    S().panels.clear();
    S().quitRequested = false;
    S().quitCode = 0;
}

int CallbackDepth() {
    return S().depth;
}

}  // namespace orv_rt

using namespace orv_rt;

int InitEngine(int argc, char* argv[]) {
    State& s = S();
    if (!QCoreApplication::instance()) {
        int& count = ApplicationArgs(argc, argv);
        new QApplication(count, argv);  // lives as long as the process
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return 0;  // a console-only application cannot show panels
    if (!s.engine) {
        StartCore();
        s.engine = new Engine;
        SetEventHooks({FlushDisplay, ForgetUnpainted});
        WatchTermination(s.engine);
        InstallAccessibleFactory();
    }
    return 1;
}

void SetCallbackTable(const CallbackEntry* table, int count) {
    S().table = table;
    S().tableCount = table ? count : 0;
}

int RunUserInterface() {
    State& s = S();
    if (!s.engine)
        return ERR_NO_ENGINE;
    while (!(s.quitRequested && s.depth == 0)) {
        ForgetUnpainted();  // drawn by the event processing below
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
