// The panel model: controls built from the panel file, the delivery of
// events to the program's callbacks, and the events of the operator's input.
//
// The panel file's widgets that carry the property `ctrlId` become controls
// of the kind their class gives (push button, check box, radio button, spin
// box, combo box, line edit, label, and the runtime's own strip chart, lamp
// and timer), with the properties the widgets take from the file applied in
// file order; `callback` names the callback in the program's table. A combo
// box marked `portRing` lists the ports: 1..8, more when a higher one is
// mapped, each with its device or "(not connected)", the port number as its
// value.
#include "runtime/model/panel_model.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "runtime/files/panelfile.h"

namespace orv_rt {

namespace {

// A scope running for hours shows a status per reply: only the newest texts
// are kept, between this many and twice as many.
constexpr std::size_t kStatusesKept = 4096;

struct State {
    const CallbackEntry* table = nullptr;
    int tableCount = 0;
    std::map<int, Panel> panels;
    int nextHandle = 1;
    int depth = 0;
    bool quitRequested = false;
    int quitCode = 0;
    bool recordStatus = false;
    std::vector<std::string> statusLines;
};

State& S() {
    static State s;
    return s;
}

Kind KindOf(const std::string& cls) {
    static const std::map<std::string, Kind> kinds = {
        {"OrvStripChart", Kind::Chart}, {"OrvLed", Kind::Led},         {"OrvTimer", Kind::Timer},
        {"QRadioButton", Kind::Radio},  {"QPushButton", Kind::Button}, {"QCheckBox", Kind::Button},
        {"QToolButton", Kind::Button},  {"QComboBox", Kind::Ring},     {"QSpinBox", Kind::Numeric},
        {"QLineEdit", Kind::Text},      {"QLabel", Kind::TextMsg}};
    const auto it = kinds.find(cls);
    return it == kinds.end() ? Kind::Other : it->second;
}

// A number of the panel file: decimal, or hexadecimal after "0x"; 0 when
// it is none.
int ToInt(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    int v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v, base);
    return v;
}

bool IsButton(const Control& c) {
    return c.kind == Kind::Button || c.kind == Kind::Radio;
}

// Applies one property of the panel file as the widget takes it.
void ApplyProperty(Control& c, const PanelProperty& p) {
    const std::string& n = p.name;
    const bool on = p.text == "true";
    const int number = ToInt(p.text);
    if (n == "enabled") {
        c.dimmed = !on;
    } else if (n == "readOnly") {
        c.readOnly = on;
    } else if (n == "text" || n == "caption") {
        c.text = p.text;
    } else if (c.kind == Kind::Numeric && n == "minimum") {
        c.minimum = number;
        c.maximum = std::max(c.maximum, number);
        c.value = std::clamp(c.value, c.minimum, c.maximum);
    } else if (c.kind == Kind::Numeric && n == "maximum") {
        c.maximum = number;
        c.minimum = std::min(c.minimum, number);
        c.value = std::clamp(c.value, c.minimum, c.maximum);
    } else if (c.kind == Kind::Numeric && n == "value") {
        c.value = std::clamp(number, c.minimum, c.maximum);
    } else if (c.kind == Kind::Led && n == "value") {
        c.checked = number != 0;
    } else if (n == "checkable" && c.kind == Kind::Button) {
        c.checkable = on;
    } else if (n == "checked" && c.checkable) {
        c.checked = on;
    } else if (c.kind == Kind::Ring && n == "currentIndex") {
        if (number >= 0 && number < static_cast<int>(c.items.size()))
            c.current = number;
    } else if (c.kind == Kind::Ring && n == "portRing") {
        c.portRing = on;
    } else if (c.kind == Kind::Text && n == "statusLine") {
        c.statusLine = on;
    } else if (c.kind == Kind::Timer && n == "interval") {
        c.intervalMs = number;
    } else if (c.kind == Kind::Chart && n == "traces") {
        if (number >= 1) {
            c.traces.assign(static_cast<std::size_t>(number), {});
            c.colors.resize(static_cast<std::size_t>(number), 0);
        }
    } else if (c.kind == Kind::Chart && n == "pointsPerScreen") {
        if (number >= 2)
            c.pointsPerScreen = number;
    } else if (c.kind == Kind::Chart && n == "traceColors") {
        std::string_view rest = p.text;
        for (std::size_t i = 0; i < c.colors.size() && !rest.empty(); ++i) {
            const std::size_t comma = std::min(rest.find(','), rest.size());
            c.colors[i] = ToInt(rest.substr(0, comma)) & 0xFFFFFF;
            rest.remove_prefix(std::min(comma + 1, rest.size()));
        }
    }
}

// The entry of the program's callback table that binds `name` to a panel
// callback (`panel`) or a control callback, or nullptr.
const CallbackEntry* Bind(const std::string& name, bool panel, const char* file) {
    for (int i = 0; i < S().tableCount; ++i) {
        const CallbackEntry& e = S().table[i];
        if (name == e.name && (panel ? e.panel != nullptr : e.control != nullptr))
            return &e;
    }
    std::fprintf(stderr, "panel file %s: callback %s is not in the program's callback table\n", file,
                 name.c_str());
    return nullptr;
}

// Delivers `events` to a control from the event processing, in order, behind
// any of its events already waiting.
void Queue(int panel, int ctrl, std::initializer_list<int> events) {
    Control* c = FindControl(panel, ctrl);
    if (!c)
        return;
    const std::vector<int> list(events);
    c->queuedEvents += static_cast<int>(list.size());
    face::Post([panel, ctrl, list] {
        for (int event : list) {
            Control* now = FindControl(panel, ctrl);
            if (!now)
                return;  // the panel went meanwhile
            --now->queuedEvents;
            DeliverCtrl(panel, ctrl, event);
        }
    });
}

}  // namespace

// ---------------------------------------------------------------------------
// Panels and controls
// ---------------------------------------------------------------------------

Panel* FindPanel(int handle) {
    auto it = S().panels.find(handle);
    return it == S().panels.end() ? nullptr : &it->second;
}

Control* FindControl(int panel, int control) {
    Panel* p = FindPanel(panel);
    if (!p)
        return nullptr;
    auto it = p->controls.find(control);
    return it == p->controls.end() ? nullptr : &it->second;
}

std::vector<int> PanelHandles() {
    std::vector<int> out;
    for (const auto& [h, p] : S().panels)
        out.push_back(h);
    return out;
}

int StatusOf(int panel, int control, Control** out) {
    if (!FindPanel(panel))
        return ERR_BAD_PANEL;
    Control* c = FindControl(panel, control);
    if (!c)
        return ERR_BAD_CONTROL;
    *out = c;
    return 0;
}

std::string TextOf(const Control& c) {
    switch (c.kind) {
        case Kind::Ring:
            return c.current >= 0 ? c.items[static_cast<std::size_t>(c.current)] : std::string();
        case Kind::Numeric:
            return std::to_string(c.value);
        default:
            return c.text;
    }
}

namespace {

// Builds a panel's controls from the panel file's contents, binding callback
// names through the program's table.
void BuildPanel(Panel& p, const PanelContents& contents, const char* file) {
    if (const PanelProperty* cb = FindProperty(contents.rootProperties, "callback"); cb && !cb->text.empty())
        if (const CallbackEntry* e = Bind(cb->text, true, file))
            p.callback = e->panel;
    for (const PanelWidget& w : contents.widgets) {
        const PanelProperty* id = FindProperty(w.properties, "ctrlId");
        if (!id)
            continue;
        Control c;
        c.id = ToInt(id->text);
        c.kind = KindOf(w.className);
        c.checkable = c.kind == Kind::Radio || w.className == "QCheckBox";
        c.items = w.items;
        c.current = c.items.empty() ? -1 : 0;
        for (const PanelProperty& prop : w.properties)
            ApplyProperty(c, prop);
        if (const PanelProperty* cb = FindProperty(w.properties, "callback"); cb && !cb->text.empty())
            if (const CallbackEntry* e = Bind(cb->text, false, file))
                c.callback = e->control;
        if (c.portRing) {
            c.items.clear();
            c.current = 0;
            LabelPortRing(0, c);
        }
        c.lastRingIndex = c.current;
        c.running = false;  // timers start stopped, whatever the file says
        const int number = c.id;
        if (!p.controls.emplace(number, std::move(c)).second)
            std::fprintf(stderr, "panel file %s: control number %d used twice\n", file, number);
    }
}

}  // namespace

void ResetPanels() {
    for (int h : PanelHandles())
        DiscardPanel(h);
    S().quitRequested = false;
    S().quitCode = 0;
}

void LabelPortRing(int panel, Control& c) {
    int highest = std::max(8, c.current + 1);
    for (int n = 1; n <= MAX_COM_PORTS; ++n)
        if (*ComPortDevice(n))
            highest = std::max(highest, n);
    c.items.resize(static_cast<std::size_t>(highest));
    c.itemData.resize(static_cast<std::size_t>(highest));
    for (int n = 1; n <= highest; ++n) {
        const std::string dev = ComPortDevice(n);
        std::string label = "COM" + std::to_string(n) + "  ";
        if (dev.empty())
            label += "(not connected)";
        else
            label += ComPortPresent(n) ? dev : dev + " (not connected)";
        c.items[static_cast<std::size_t>(n - 1)] = label;
        c.itemData[static_cast<std::size_t>(n - 1)] = n;
    }
    if (Panel* p = FindPanel(panel))
        face::Show(*p, c, SHOW_ITEMS);
}

// ---------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------

DepthGuard::DepthGuard() {
    ++S().depth;
}

DepthGuard::~DepthGuard() {
    if (--S().depth == 0 && S().quitRequested)
        face::QuitAsked();
}

int CallbackDepth() {
    return S().depth;
}

bool QuitPending() {
    return S().quitRequested;
}

void DeliverCtrl(int panel, int ctrl, int event, int d1, int d2, bool needEnabled) {
    Control* c = FindControl(panel, ctrl);
    if (!c || !c->callback || (needEnabled && c->dimmed))
        return;
    if (event == EVT_LEFT_CLICK) {
        face::BeforeLeftClick(panel, ctrl);
        c = FindControl(panel, ctrl);
        if (!c || !c->callback)
            return;
    }
    const CtrlCallbackPtr cb = c->callback;
    DepthGuard g;
    cb(panel, ctrl, event, nullptr, d1, d2);
}

void DeliverPanel(int panel, int event) {
    Panel* p = FindPanel(panel);
    if (!p || !p->callback)
        return;
    const PanelCallbackPtr cb = p->callback;
    DepthGuard g;
    cb(panel, event, nullptr, 0, 0);
}

// ---------------------------------------------------------------------------
// The operator's input
// ---------------------------------------------------------------------------

void LeftClick(int panel, int ctrl, int y, int x) {
    Control* c = FindControl(panel, ctrl);
    if (!c)
        return;
    c->pressDelivered = IsButton(*c) && !c->dimmed;
    DeliverCtrl(panel, ctrl, EVT_LEFT_CLICK, y, x);
}

void PressEnded(int panel, int ctrl) {
    if (Control* c = FindControl(panel, ctrl))
        c->pressDelivered = false;
}

void ButtonPressed(int panel, int ctrl) {
    Control* c = FindControl(panel, ctrl);
    if (!c)
        return;
    c->down = true;
    if (c->pressDelivered)
        c->pressDelivered = false;
    else
        Queue(panel, ctrl, {EVT_LEFT_CLICK});
}

void ButtonReleased(int panel, int ctrl) {
    if (Control* c = FindControl(panel, ctrl))
        c->down = false;
}

void ButtonToggled(int panel, int ctrl, bool on) {
    Control* c = FindControl(panel, ctrl);
    if (!c)
        return;
    c->checked = on;
    if (c->down)
        return;
    if (c->kind == Kind::Radio)
        Queue(panel, ctrl, {EVT_LEFT_CLICK, EVT_VALUE_CHANGED, EVT_COMMIT});
    else
        Queue(panel, ctrl, {EVT_LEFT_CLICK, EVT_COMMIT});
}

void ButtonClicked(int panel, int ctrl) {
    Control* c = FindControl(panel, ctrl);
    if (!c)
        return;
    const bool radio = c->kind == Kind::Radio;
    if (c->queuedEvents > 0) {
        if (radio)
            Queue(panel, ctrl, {EVT_VALUE_CHANGED, EVT_COMMIT});
        else
            Queue(panel, ctrl, {EVT_COMMIT});
        return;
    }
    if (radio)
        DeliverCtrl(panel, ctrl, EVT_VALUE_CHANGED);
    DeliverCtrl(panel, ctrl, EVT_COMMIT);
}

void RingPicked(int panel, int ctrl, int index) {
    Control* c = FindControl(panel, ctrl);
    if (!c)
        return;
    c->current = index;
    const bool changed = index != c->lastRingIndex;
    c->lastRingIndex = index;
    if (changed) {
        DeliverCtrl(panel, ctrl, EVT_VALUE_CHANGED);
        if (!FindControl(panel, ctrl))
            return;
    }
    DeliverCtrl(panel, ctrl, EVT_COMMIT);
}

void RingOpened(int panel, int ctrl) {
    Control* c = FindControl(panel, ctrl);
    if (!c || !c->portRing)
        return;  // only a port ring's list changes when it opens
    RefreshComPorts();
    if ((c = FindControl(panel, ctrl)))
        LabelPortRing(panel, *c);
}

void NumberEntered(int panel, int ctrl, int value) {
    Control* c = FindControl(panel, ctrl);
    if (!c)
        return;
    c->value = value;
    DeliverCtrl(panel, ctrl, EVT_VALUE_CHANGED);
    if (FindControl(panel, ctrl))
        DeliverCtrl(panel, ctrl, EVT_COMMIT);
}

void Tick(int panel, int ctrl) {
    Control* c = FindControl(panel, ctrl);
    // A tick callback that processes events is not entered again by the next
    // tick of the same timer.
    if (!c || c->tickBusy)
        return;
    c->tickBusy = true;
    DeliverCtrl(panel, ctrl, EVT_TIMER_TICK, 0, 0, false);
    if ((c = FindControl(panel, ctrl)))
        c->tickBusy = false;
}

void CloseEveryPanel() {
    for (int h : PanelHandles())
        DeliverPanel(h, EVT_CLOSE);
}

// ---------------------------------------------------------------------------
// Status lines
// ---------------------------------------------------------------------------

void RecordStatusLines(bool on) {
    S().recordStatus = on;
}

std::vector<std::string> TakeStatusLines() {
    std::vector<std::string> out;
    out.swap(S().statusLines);
    return out;
}

void RecordStatus(const std::string& text) {
    std::vector<std::string>& h = S().statusLines;
    if (!S().recordStatus)
        return;
    if (h.size() >= 2 * kStatusesKept)
        h.erase(h.begin(), h.end() - static_cast<long>(kStatusesKept));
    h.push_back(text);
}

}  // namespace orv_rt

// ---------------------------------------------------------------------------
// The engine's functions of the runtime API
// ---------------------------------------------------------------------------

using namespace orv_rt;

void SetCallbackTable(const CallbackEntry* table, int count) {
    S().table = table;
    S().tableCount = table ? count : 0;
}

int LoadPanel(int /*parentPanel*/, const char* file, int panelResource) {
    if (!face::Ready())
        return ERR_NO_ENGINE;
    if (!file || panelResource != 1)
        return ERR_PANEL_FILE;
    const std::string path = ResolvePanelFile(file);
    PanelContents contents;
    if (!ReadPanelFile(path, contents))
        return ERR_PANEL_FILE;
    const int handle = S().nextHandle++;
    Panel& p = S().panels[handle];
    p.handle = handle;
    BuildPanel(p, contents, file);
    if (!face::Build(p, path)) {
        S().panels.erase(handle);
        return ERR_PANEL_FILE;
    }
    return handle;
}

int DisplayPanel(int panel) {
    Panel* p = FindPanel(panel);
    if (!p)
        return ERR_BAD_PANEL;
    p->visible = true;
    face::Display(*p);
    return 0;
}

int DiscardPanel(int panel) {
    Panel* p = FindPanel(panel);
    if (!p)
        return ERR_BAD_PANEL;
    face::Discard(*p);
    S().panels.erase(panel);
    return 0;
}

int RunUserInterface() {
    if (!face::Ready())
        return ERR_NO_ENGINE;
    while (!(S().quitRequested && S().depth == 0))
        face::RunEvents();
    S().quitRequested = false;
    return S().quitCode;
}

int QuitUserInterface(int code) {
    S().quitRequested = true;
    S().quitCode = code;
    face::QuitAsked();
    return 0;
}
