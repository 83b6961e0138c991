// Test driver of the memory runtime: the operator's actions fed into the
// panel model as the widgets feed them (a click: press, release; keyboard
// activation: a left click, then the button clicked; an assistive tool's
// action: the button clicked, its events from the event processing; a typed
// number: the keys the spin box takes, then Enter), and waits on the virtual
// clock. A dimmed control takes nothing. Focus events are not delivered.
#include "runtime/testing/rt_testing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <deque>
#include <string>

#include "runtime/files/files_qt.h"
#include "runtime/memory/memory_internal.h"
#include "runtime/model/panel_model.h"

namespace rt_test {

namespace {

using namespace orv_rt;

// A control the operator can work: there and not dimmed.
Control* Live(int panel, int control) {
    Control* c = FindControl(panel, control);
    return c && !c->dimmed ? c : nullptr;
}

bool IsButton(const Control* c) {
    return c && (c->kind == Kind::Button || c->kind == Kind::Radio);
}

// A button that is down comes up as a click does it: a toggle changes its
// state first, then the button is released and clicked.
void ComeUp(int panel, int control) {
    if (const Control* c = FindControl(panel, control); c && c->checkable)
        ButtonToggled(panel, control, !c->checked);
    ButtonReleased(panel, control);
    ButtonClicked(panel, control);
}

// A button clicked without the mouse: it goes down and comes up at once.
void ClickButton(int panel, int control) {
    ButtonPressed(panel, control);
    ComeUp(panel, control);
}

// The file dialog's answers, queued by the test, and what it last showed.
struct DialogRecord {
    FileDialogInfo last;
    std::deque<std::string> answers;
};

DialogRecord& Dialogs() {
    static DialogRecord d;
    return d;
}

// How a spin box judges the text typed so far.
enum class Entry { Invalid, Intermediate, Acceptable };

Entry Judge(const std::string& text, int min, int max) {
    if (max != min && (text.empty() || (min < 0 && text == "-") || (max >= 0 && text == "+")))
        return Entry::Intermediate;
    if (text.empty() || text.size() > 12)
        return Entry::Invalid;
    char* end = nullptr;
    const long long n = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || !(std::isdigit(static_cast<unsigned char>(text.back()))))
        return Entry::Invalid;
    if (n >= min && n <= max)
        return Entry::Acceptable;
    if (max == min || (n >= 0 && n > max) || (n < 0 && n < min))
        return Entry::Invalid;
    return Entry::Intermediate;
}

}  // namespace

void Click(int panel, int control) {
    Press(panel, control);
    Release(panel, control);
}

void Press(int panel, int control) {
    if (!Live(panel, control))
        return;
    LeftClick(panel, control);
    if (IsButton(Live(panel, control)))
        ButtonPressed(panel, control);
}

void Release(int panel, int control) {
    PressEnded(panel, control);
    if (const Control* c = FindControl(panel, control); c && c->down)
        ComeUp(panel, control);
}

void KeyActivate(int panel, int control) {
    if (!IsButton(Live(panel, control)))
        return;
    LeftClick(panel, control);
    if (Live(panel, control))
        ClickButton(panel, control);
    PressEnded(panel, control);
}

void PressAction(int panel, int control) {
    // No mouse or key event: the events come from the event processing.
    if (!IsButton(Live(panel, control)))
        return;
    ClickButton(panel, control);
    WaitUntil(
        [&] {
            const Control* c = FindControl(panel, control);
            return !c || c->queuedEvents == 0;
        },
        2000);
}

void ChooseRing(int panel, int control, int index) {
    const Control* c = Live(panel, control);
    if (c && c->kind == Kind::Ring && index >= 0 && index < static_cast<int>(c->items.size()))
        RingPicked(panel, control, index);
}

void OpenRing(int panel, int control) {
    if (Live(panel, control))
        RingOpened(panel, control);
}

void EnterNumber(int panel, int control, int value) {
    const Control* c = Live(panel, control);
    if (!c || c->kind != Kind::Numeric || c->readOnly)
        return;
    // Typed over the selected text, key by key: a key that would make the
    // text invalid (a number out of range) is refused, as the spin box does.
    std::string text;
    for (char ch : std::to_string(value))
        if (Judge(text + ch, c->minimum, c->maximum) != Entry::Invalid)
            text += ch;
    // Enter: an acceptable text is taken, anything else restores the value.
    if (Judge(text, c->minimum, c->maximum) != Entry::Acceptable)
        return;
    const int entered = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
    if (entered != c->value)
        NumberEntered(panel, control, entered);
}

void RequestClose(int panel) {
    DeliverPanel(panel, EVT_CLOSE);
}

void After(int ms, std::function<void()> action) {
    orv_mem::Schedule(orv_mem::NowMs() + std::max(ms, 0), std::move(action));
}

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
    const double deadline = orv_mem::NowMs() + std::max(timeoutMs, 0);
    while (!cond()) {
        if (orv_mem::NowMs() >= deadline)
            return cond();
        orv_mem::Step(deadline);
    }
    return true;
}

void Pump(int ms) {
    const double end = orv_mem::NowMs() + std::max(ms, 0);
    do
        orv_mem::Step(end);
    while (orv_mem::NowMs() < end);
}

std::string Text(int panel, int control) {
    const Control* c = FindControl(panel, control);
    return c ? TextOf(*c) : std::string();
}

bool Dimmed(int panel, int control) {
    const Control* c = FindControl(panel, control);
    return c && c->dimmed;
}

bool Visible(int panel) {
    const Panel* p = FindPanel(panel);
    return p && p->visible;
}

std::vector<std::string> RingLabels(int panel, int control) {
    const Control* c = FindControl(panel, control);
    return c && c->kind == Kind::Ring ? c->items : std::vector<std::string>{};
}

void AnswerNextFileDialog(const std::string& path) {
    Dialogs().answers.push_back(path);
}

FileDialogInfo LastFileDialog() {
    return Dialogs().last;
}

void Reset() {
    Dialogs() = {};
    orv_mem::DropScheduled();
    orv_mem::CloseAllPorts();
    ResetPanels();
    TakeStatusLines();
}

}  // namespace rt_test

// The file dialog, answered at once by the test driver.
int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec, const char* fileTypeList,
                    const char* title, int buttonLabel, int restrictDirectory, int /*restrictExtension*/,
                    int /*allowCancel*/, int /*allowMakeDirectory*/, char* pathName) {
    if (!pathName)
        return orv_rt::ERR_BAD_VALUE;
    if (!orv_rt::face::Ready())
        return orv_rt::ERR_NO_ENGINE;
    auto text = [](const char* t) { return std::string(t ? t : ""); };
    rt_test::DialogRecord& d = rt_test::Dialogs();
    d.last = {text(title), text(defaultDirectory), text(defaultFileSpec), text(fileTypeList), buttonLabel,
              true};
    // The dialog is answered at once from the test's queue; a quit asked for
    // before it opened cancels it, and so does an empty queue.
    std::string answer;
    if (!orv_rt::QuitPending() && !d.answers.empty()) {
        answer = d.answers.front();
        d.answers.pop_front();
    }
    // What the real dialog accepts: a file name (a directory is entered, not
    // chosen) in a directory that exists; for loading, an existing file.
    const QFileInfo info(QFile::decodeName(answer.c_str()));
    const bool taken = !answer.empty() && !info.isDir() && QFileInfo(info.absolutePath()).isDir() &&
                       (buttonLabel != BUTTON_LOAD || info.exists());
    return orv_rt::TakeChosenFile(taken ? info.absoluteFilePath() : QString(),
                                  QFile::decodeName(d.last.directory.c_str()), restrictDirectory != 0,
                                  pathName);
}
