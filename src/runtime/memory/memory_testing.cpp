// Test driver of the memory runtime: the operator's actions on the in-memory
// controls, delivered in the order the real driver delivers them on the real
// widgets, and waits on the virtual clock.
//
//   click on a button      left click, then commit (on the release)
//   click on a radio       left click, then value changed and commit
//   click on anything else left click
//   keyboard activation    a button: left click, then commit (a radio: value
//                          changed and commit)
//   ring choice            value changed when the entry changed, then commit
//   ring opened            a port ring: the ports refreshed and relabelled
//   numeric entry          value changed and commit, when the value changed
//   close request          close, to the panel's callback
//
// A dimmed control delivers nothing and takes nothing. Focus events are not
// delivered.
#include "runtime/testing/rt_testing.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "runtime/memory/memory_internal.h"
#include "runtime/runtime.h"

namespace rt_test {

namespace {

using namespace orv_mem;

bool IsButton(const Control& c) {
    return c.kind == Kind::Button || c.kind == Kind::Radio;
}

// What a button does when it is clicked: a toggle changes its value first.
void Activate(int panel, int control) {
    Control* c = FindControl(panel, control);
    if (!c || c->dimmed)
        return;
    if (c->checkable) {
        c->checked = !c->checked;
        if (c->kind == Kind::Radio) {
            DeliverCtrl(panel, control, EVT_VALUE_CHANGED);
            if (!FindControl(panel, control))
                return;
        }
    }
    DeliverCtrl(panel, control, EVT_COMMIT);
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
    Control* c = FindControl(panel, control);
    if (!c || c->dimmed)
        return;
    DeliverCtrl(panel, control, EVT_LEFT_CLICK);
    c = FindControl(panel, control);
    if (c && !c->dimmed && IsButton(*c))
        c->down = true;
}

void Release(int panel, int control) {
    Control* c = FindControl(panel, control);
    if (!c || !c->down)
        return;
    c->down = false;
    Activate(panel, control);
}

void KeyActivate(int panel, int control) {
    Control* c = FindControl(panel, control);
    if (!c || c->dimmed || !IsButton(*c))
        return;
    DeliverCtrl(panel, control, EVT_LEFT_CLICK);
    Activate(panel, control);
}

void PressAction(int panel, int control) {
    // No mouse or key event: the left-click event comes with the button going down.
    KeyActivate(panel, control);
}

void ChooseRing(int panel, int control, int index) {
    Control* c = FindControl(panel, control);
    if (!c || c->kind != Kind::Ring || c->dimmed || index < 0 || index >= static_cast<int>(c->items.size()))
        return;
    c->current = index;
    const bool changed = index != c->lastRingIndex;
    c->lastRingIndex = index;
    if (changed) {
        DeliverCtrl(panel, control, EVT_VALUE_CHANGED);
        if (!FindControl(panel, control))
            return;
    }
    DeliverCtrl(panel, control, EVT_COMMIT);
}

void OpenRing(int panel, int control) {
    Control* c = FindControl(panel, control);
    if (!c || c->kind != Kind::Ring || c->dimmed || c->itemData.empty())
        return;  // only a port ring's list changes when it opens
    RefreshComPorts();
    LabelPortRing(*c);
}

void EnterNumber(int panel, int control, int value) {
    Control* c = FindControl(panel, control);
    if (!c || c->kind != Kind::Numeric || c->dimmed || c->readOnly)
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
    if (entered == c->value)
        return;
    c->value = entered;
    DeliverCtrl(panel, control, EVT_VALUE_CHANGED);
    if (FindControl(panel, control))
        DeliverCtrl(panel, control, EVT_COMMIT);
}

void RequestClose(int panel) {
    DeliverPanel(panel, EVT_CLOSE);
}

void After(int ms, std::function<void()> action) {
    Schedule(NowMs() + std::max(ms, 0), std::move(action));
}

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs) {
    const double deadline = NowMs() + std::max(timeoutMs, 0);
    while (!cond()) {
        if (NowMs() >= deadline)
            return cond();
        Step(deadline);
    }
    return true;
}

void Pump(int ms) {
    const double end = NowMs() + std::max(ms, 0);
    do
        Step(end);
    while (NowMs() < end);
}

std::string Text(int panel, int control) {
    const Control* c = FindControl(panel, control);
    if (!c)
        return {};
    switch (c->kind) {
        case Kind::Text:
        case Kind::TextMsg:
        case Kind::Button:
        case Kind::Radio:
        case Kind::Led:
            return c->text;
        case Kind::Ring:
            return c->current >= 0 ? c->items[static_cast<std::size_t>(c->current)] : std::string();
        case Kind::Numeric:
            return std::to_string(c->value);
        default:
            return {};
    }
}

bool Dimmed(int panel, int control) {
    const Control* c = FindControl(panel, control);
    return c && c->dimmed;
}

bool TimerEnabled(int panel, int control) {
    const Control* c = FindControl(panel, control);
    return c && c->kind == Kind::Timer && c->running;
}

bool Visible(int panel) {
    const Panel* p = FindPanel(panel);
    return p && p->visible;
}

std::vector<double> TracePoints(int panel, int control, int trace) {
    const Control* c = FindControl(panel, control);
    if (!c || c->kind != Kind::Chart || trace < 1 || trace > static_cast<int>(c->traces.size()))
        return {};
    const auto& t = c->traces[static_cast<std::size_t>(trace - 1)];
    return {t.begin(), t.end()};
}

int TraceColor(int panel, int control, int trace) {
    const Control* c = FindControl(panel, control);
    if (!c || c->kind != Kind::Chart || trace < 1 || trace > static_cast<int>(c->colors.size()))
        return -1;
    return c->colors[static_cast<std::size_t>(trace - 1)];
}

std::vector<std::string> RingLabels(int panel, int control) {
    const Control* c = FindControl(panel, control);
    return c && c->kind == Kind::Ring ? c->items : std::vector<std::string>{};
}

void AnswerNextFileDialog(const std::string& path) {
    DialogAnswers().push_back(path);
}

FileDialogInfo LastFileDialog() {
    const FileDialogRecord& r = orv_mem::LastFileDialog();
    FileDialogInfo info;
    info.title = r.title;
    info.directory = r.directory;
    info.defaultFile = r.defaultFile;
    info.filter = r.filter;
    info.button = r.button;
    info.shown = r.shown;
    return info;
}

std::vector<std::string> TakeStatusHistory() {
    return orv_mem::TakeStatusHistory();
}

void Reset() {
    DialogAnswers().clear();
    DropScheduled();
    CloseAllPorts();
    ResetEngine();
}

}  // namespace rt_test
