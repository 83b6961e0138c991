// Test driver: works the real panel widgets with real input events.
#include "runtime/testing/rt_testing.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <deque>

#include "runtime/panel/led.h"
#include "runtime/runtime.h"
#include "runtime/runtime_internal.h"
#include "runtime/testing/recording.h"

namespace rt_test {

namespace {

QWidget* W(int panel, int control) {
    return orv_rt::ControlWidget(panel, control);
}

// Where an operator clicks a control: its middle, or for a radio button or
// check box the indicator at its left, since only indicator and text react.
QPoint Centre(QWidget* w) {
    const QPoint mid = w->rect().center();
    if (w->inherits("QRadioButton") || w->inherits("QCheckBox"))
        return {std::min(8, mid.x()), mid.y()};
    return mid;
}

// Input events are sent straight to the widget, as the window system would
// deliver them after hit-testing; timestamps advance so that no two presses
// look like a double click.
ulong NextStamp() {
    static ulong stamp = 1000;
    stamp += 1000;
    return stamp;
}

void SendMouse(QWidget* w, QEvent::Type type) {
    const QPointF local = Centre(w);
    const QPointF global = w->mapToGlobal(local);
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent ev(type, local, local, global, Qt::LeftButton, held, Qt::NoModifier);
    ev.setTimestamp(NextStamp());
    QCoreApplication::sendEvent(w, &ev);
}

void SendKey(QWidget* w, QEvent::Type type, int key, const QString& text = {}) {
    QKeyEvent ev(type, key, Qt::NoModifier, text);
    ev.setTimestamp(NextStamp());
    QCoreApplication::sendEvent(w, &ev);
}

// Pending answers to file dialogs, and the timer that looks for the dialog.
struct DialogAnswers {
    std::deque<std::string> answers;
    QPointer<QTimer> poll;
    int waitedForFocus = 0;  // polls spent waiting for the name field's focus
};

DialogAnswers& Answers() {
    static DialogAnswers a;
    return a;
}

// Polls (of 10 ms) to wait for the dialog's name field to take the focus
// before typing anyway; the answer is then checked on its own.
constexpr int kFocusPolls = 300;

void AnswerOpenDialog() {
    DialogAnswers& a = Answers();
    if (a.answers.empty()) {
        if (a.poll)
            a.poll->stop();
        return;
    }
    QFileDialog* dlg = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* fd = qobject_cast<QFileDialog*>(w); fd && fd->isVisible())
            dlg = fd;
    if (!dlg)
        return;
    const std::string path = a.answers.front();
    if (path.empty()) {
        a.answers.pop_front();
        dlg->reject();
        return;
    }
    // The dialog proposes its default file by selecting it in its list, and a
    // selection in the list wins over the name field. A name typed into the
    // focused name field replaces that selection; typed while the field has
    // no focus yet (the dialog's window not yet active), it leaves the
    // proposed file selected and the dialog returns that file. So type as an
    // operator does: once the dialog is up with the focus in its name field.
    auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (edit && !edit->hasFocus() && a.waitedForFocus < kFocusPolls) {
        ++a.waitedForFocus;
        dlg->activateWindow();
        edit->setFocus(Qt::OtherFocusReason);
        return;
    }
    a.waitedForFocus = 0;
    a.answers.pop_front();

    const QFileInfo info(QString::fromStdString(path));
    dlg->setDirectory(info.absolutePath());
    if (edit)
        edit->setText(info.fileName());
    else
        dlg->selectFile(info.absoluteFilePath());
    // Only the named file may be chosen: a test must write or read exactly
    // the file it names, or nothing.
    const QStringList chosen = dlg->selectedFiles();
    if (chosen.size() != 1 || QFileInfo(chosen.constFirst()).absoluteFilePath() != info.absoluteFilePath()) {
        dlg->reject();
        return;
    }
    static_cast<QDialog*>(dlg)->accept();  // runs the dialog's own checks
    if (dlg->isVisible())
        dlg->reject();  // the dialog refused the answer: do not hang the test
}

}  // namespace

void Click(int panel, int control) {
    QPointer<QWidget> w = W(panel, control);
    if (!w)
        return;
    SendMouse(w, QEvent::MouseButtonPress);
    if (w)
        SendMouse(w, QEvent::MouseButtonRelease);
}

void Press(int panel, int control) {
    if (QWidget* w = W(panel, control))
        SendMouse(w, QEvent::MouseButtonPress);
}

void Release(int panel, int control) {
    if (QWidget* w = W(panel, control))
        SendMouse(w, QEvent::MouseButtonRelease);
}

void KeyActivate(int panel, int control) {
    QPointer<QWidget> w = W(panel, control);
    if (!w)
        return;
    w->setFocus(Qt::TabFocusReason);
    SendKey(w, QEvent::KeyPress, Qt::Key_Space, QStringLiteral(" "));
    if (w)
        SendKey(w, QEvent::KeyRelease, Qt::Key_Space, QStringLiteral(" "));
}

void PressAction(int panel, int control) {
    // The way the accessibility bridge does it: the control's own accessible
    // interface runs its press (or, for a toggle, its toggle) action.
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(W(panel, control));
    QAccessibleActionInterface* actions = iface ? iface->actionInterface() : nullptr;
    if (!actions)
        return;
    const QStringList names = actions->actionNames();
    for (const QString& name :
         {QAccessibleActionInterface::pressAction(), QAccessibleActionInterface::toggleAction()}) {
        if (names.contains(name)) {
            actions->doAction(name);
            break;
        }
    }
    // A press is shown for a moment before the button clicks, and the events
    // come from the event loop: wait for them.
    QPointer<QAbstractButton> b = qobject_cast<QAbstractButton*>(W(panel, control));
    WaitUntil(
        [&] {
            const orv_rt::Control* c = orv_rt::FindControl(panel, control);
            return !b || !c || (!b->isDown() && c->queuedEvents == 0);
        },
        2000);
}

void ChooseRing(int panel, int control, int index) {
    auto* ring = qobject_cast<QComboBox*>(W(panel, control));
    if (!ring || !ring->isEnabled() || index < 0 || index >= ring->count())
        return;
    ring->setCurrentIndex(index);
    emit ring->activated(index);
}

void OpenRing(int panel, int control) {
    auto* ring = qobject_cast<QComboBox*>(W(panel, control));
    if (!ring || !ring->isEnabled())
        return;
    ring->showPopup();
    ring->hidePopup();
}

void EnterNumber(int panel, int control, int value) {
    QPointer<QSpinBox> spin = qobject_cast<QSpinBox*>(W(panel, control));
    if (!spin || !spin->isEnabled() || spin->isReadOnly())
        return;
    spin->setFocus(Qt::TabFocusReason);
    spin->selectAll();
    for (QChar ch : QString::number(value)) {
        if (!spin)
            return;
        const int key = ch == QLatin1Char('-') ? int(Qt::Key_Minus) : Qt::Key_0 + ch.digitValue();
        SendKey(spin, QEvent::KeyPress, key, QString(ch));
        SendKey(spin, QEvent::KeyRelease, key, QString(ch));
    }
    if (spin) {
        SendKey(spin, QEvent::KeyPress, Qt::Key_Return);
        SendKey(spin, QEvent::KeyRelease, Qt::Key_Return);
    }
}

void RequestClose(int panel) {
    if (QWidget* window = orv_rt::PanelWindow(panel)) {
        QCloseEvent ev;
        QCoreApplication::sendEvent(window, &ev);
    }
}

void After(int ms, std::function<void()> action) {
    QTimer::singleShot(ms, QCoreApplication::instance(), std::move(action));
}

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() >= timeoutMs)
            return cond();
        ProcessSystemEvents();
    }
    return true;
}

void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    do
        ProcessSystemEvents();
    while (t.elapsed() < ms);
}

std::string Text(int panel, int control) {
    QWidget* w = W(panel, control);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text().toStdString();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text().toStdString();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text().toStdString();
    if (auto* c = qobject_cast<QComboBox*>(w))
        return c->currentText().toStdString();
    if (auto* s = qobject_cast<QSpinBox*>(w))
        return s->text().toStdString();
    if (auto* led = qobject_cast<orv_rt::Led*>(w))
        return led->caption().toStdString();
    return {};
}

bool Dimmed(int panel, int control) {
    QWidget* w = W(panel, control);
    return w && !w->isEnabled();
}

bool Visible(int panel) {
    const QWidget* window = orv_rt::PanelWindow(panel);
    return window && window->isVisible();
}

std::vector<std::string> RingLabels(int panel, int control) {
    std::vector<std::string> out;
    if (auto* ring = qobject_cast<QComboBox*>(W(panel, control)))
        for (int i = 0; i < ring->count(); ++i)
            out.push_back(ring->itemText(i).toStdString());
    return out;
}

void AnswerNextFileDialog(const std::string& path) {
    DialogAnswers& a = Answers();
    a.answers.push_back(path);
    if (!a.poll) {
        a.poll = new QTimer(QCoreApplication::instance());
        a.poll->setInterval(10);
        QObject::connect(a.poll, &QTimer::timeout, a.poll, [] { AnswerOpenDialog(); });
    }
    a.poll->start();
}

void Reset() {
    Answers().answers.clear();
    Answers().waitedForFocus = 0;
    if (Answers().poll)
        Answers().poll->stop();
    for (int port = 1; port <= MAX_COM_PORTS; ++port)
        if (GetInQLen(port) >= 0)
            CloseCom(port);
    orv_rt::ResetPanels();
    ForgetRecords();
}

}  // namespace rt_test
