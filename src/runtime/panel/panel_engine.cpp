// The widget runtime's engine: start with a window, the filter that feeds the
// operator's mouse and key input into the panel model, and the event
// processing the model asks for.
#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>

#include "runtime/panel/accessible.h"
#include "runtime/panel/panel_parts.h"

namespace orv_rt {

namespace {

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
                LeftClick(panel, ctrl, pos.y(), pos.x());
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
                    PressEnded(panel, ctrl);
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
        LeftClick(panel, ctrl);
        if (guard && guard->isEnabled())
            guard->click();  // emits clicked(): commit (radio: value changed, commit)
        PressEnded(panel, ctrl);
        return true;
    }
};

}  // namespace

State& S() {
    static State s;
    return s;
}

QWidget* ControlWidget(int panel, int control) {
    Control* c = FindControl(panel, control);
    return c ? WidgetOf(*c) : nullptr;
}

QWidget* PanelWindow(int panel) {
    Panel* p = FindPanel(panel);
    return p ? static_cast<QWidget*>(p->view) : nullptr;
}

namespace face {

bool Ready() {
    return S().engine != nullptr;
}

void RunEvents() {
    ForgetUnpainted();  // drawn by the event processing below
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void Post(std::function<void()> action) {
    QMetaObject::invokeMethod(S().engine, std::move(action), Qt::QueuedConnection);
}

// A number typed into a numeric field is taken when the field loses the
// focus or Enter is pressed. A click elsewhere starts its command with the
// press, before the focus moves, and an assistive tool's press does not move
// it at all: take the typed number first, so that the command works on what
// the operator sees (and the field's own events come before the command's).
void BeforeLeftClick(int panel, int ctrl) {
    const QWidget* clicked = ControlWidget(panel, ctrl);
    for (QWidget* f = QApplication::focusWidget(); f; f = f->parentWidget()) {
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(f)) {
            if (spin != clicked)
                spin->interpretText();
            return;
        }
    }
}

void QuitAsked() {
    // A dialog open inside a callback is cancelled, so the callback can return.
    if (S().openDialog)
        S().openDialog->reject();
    if (CallbackDepth() == 0)
        if (auto* d = QAbstractEventDispatcher::instance())
            d->wakeUp();
}

}  // namespace face

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
