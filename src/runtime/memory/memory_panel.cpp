// Panels of the memory runtime: the real panel file read without widgets,
// and in-memory controls that keep values, attributes and events the way the
// real panel's widgets do.
//
// The panel file is Qt Designer XML. Every widget that carries the dynamic
// property `ctrlId` becomes a control of the kind its class gives (push
// button, radio button, spin box, combo box, line edit, label, and the
// runtime's own strip chart, lamp and timer), with the properties the real
// widgets take from the file applied in file order; `callback` names its
// callback in the program's table. A combo box marked `portRing` lists the
// ports like the real one: ports 1..8, more when a higher one is mapped, each
// with its device or "(not connected)", and the port number as its value.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "runtime/memory/memory_internal.h"
#include "runtime/runtime.h"

namespace orv_mem {

namespace {

struct Property {
    QString name;
    QString type;  // element of the value: number, string, bool, ...
    QString text;
};

struct WidgetEntry {
    QString className;
    std::vector<Property> properties;
    std::vector<QString> items;  // combo box entries
};

struct PanelContents {
    std::vector<Property> rootProperties;
    std::vector<WidgetEntry> widgets;  // every widget below the root, in file order
};

struct State {
    const CallbackEntry* table = nullptr;
    int tableCount = 0;
    std::map<int, Panel> panels;
    int nextHandle = 1;
    std::vector<std::string> statusHistory;
    FileDialogRecord lastDialog;
    std::deque<std::string> answers;
};

State& S() {
    static State s;
    return s;
}

// ---------------------------------------------------------------------------
// Reading the panel file
// ---------------------------------------------------------------------------

Property ReadProperty(QXmlStreamReader& x) {
    Property p;
    p.name = x.attributes().value(QLatin1String("name")).toString();
    while (x.readNextStartElement()) {
        if (p.type.isEmpty()) {
            p.type = x.name().toString();
            static const QLatin1String kSimple[] = {QLatin1String("number"), QLatin1String("string"),
                                                    QLatin1String("bool"),   QLatin1String("cstring"),
                                                    QLatin1String("enum"),   QLatin1String("set"),
                                                    QLatin1String("double")};
            if (std::find(std::begin(kSimple), std::end(kSimple), p.type) != std::end(kSimple)) {
                p.text = x.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                continue;
            }
        }
        x.skipCurrentElement();
    }
    return p;
}

void ReadWidget(QXmlStreamReader& x, PanelContents& contents, bool root);

void ReadLayout(QXmlStreamReader& x, PanelContents& contents) {
    while (x.readNextStartElement()) {
        if (x.name() != QLatin1String("item")) {
            x.skipCurrentElement();
            continue;
        }
        while (x.readNextStartElement()) {
            if (x.name() == QLatin1String("widget"))
                ReadWidget(x, contents, false);
            else if (x.name() == QLatin1String("layout"))
                ReadLayout(x, contents);
            else
                x.skipCurrentElement();
        }
    }
}

void ReadWidget(QXmlStreamReader& x, PanelContents& contents, bool root) {
    std::size_t index = 0;
    if (!root) {
        index = contents.widgets.size();
        contents.widgets.push_back({x.attributes().value(QLatin1String("class")).toString(), {}, {}});
    }
    while (x.readNextStartElement()) {
        if (x.name() == QLatin1String("property")) {
            Property p = ReadProperty(x);
            (root ? contents.rootProperties : contents.widgets[index].properties).push_back(std::move(p));
        } else if (x.name() == QLatin1String("widget")) {
            ReadWidget(x, contents, false);
        } else if (x.name() == QLatin1String("layout")) {
            ReadLayout(x, contents);
        } else if (x.name() == QLatin1String("item") && !root) {
            QString text;
            while (x.readNextStartElement()) {
                if (x.name() == QLatin1String("property")) {
                    const Property p = ReadProperty(x);
                    if (p.name == QLatin1String("text"))
                        text = p.text;
                } else {
                    x.skipCurrentElement();
                }
            }
            contents.widgets[index].items.push_back(text);
        } else {
            x.skipCurrentElement();
        }
    }
}

bool ReadPanelFile(const QString& path, PanelContents& contents) {
    if (!QFileInfo(path).isFile())
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader x(&f);
    if (!x.readNextStartElement() || x.name() != QLatin1String("ui"))
        return false;
    bool haveRoot = false;
    while (x.readNextStartElement()) {
        if (x.name() == QLatin1String("widget") && !haveRoot) {
            ReadWidget(x, contents, true);
            haveRoot = true;
        } else {
            x.skipCurrentElement();
        }
    }
    return haveRoot && !x.hasError();
}

// A bare panel file name is looked for next to the executable.
QString ResolvePanelFile(const char* file) {
    const QString name = QFile::decodeName(file);
    if (name.contains('/') || name.contains('\\'))
        return name;
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

Kind KindOf(const QString& cls) {
    if (cls == QLatin1String("OrvStripChart"))
        return Kind::Chart;
    if (cls == QLatin1String("OrvLed"))
        return Kind::Led;
    if (cls == QLatin1String("OrvTimer"))
        return Kind::Timer;
    if (cls == QLatin1String("QRadioButton"))
        return Kind::Radio;
    if (cls == QLatin1String("QPushButton") || cls == QLatin1String("QCheckBox") ||
        cls == QLatin1String("QToolButton"))
        return Kind::Button;
    if (cls == QLatin1String("QComboBox"))
        return Kind::Ring;
    if (cls == QLatin1String("QSpinBox"))
        return Kind::Numeric;
    if (cls == QLatin1String("QLineEdit"))
        return Kind::Text;
    if (cls == QLatin1String("QLabel"))
        return Kind::TextMsg;
    return Kind::Other;
}

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------

void SetNumTraces(Control& c, int n) {
    if (n < 1 || n == static_cast<int>(c.traces.size()))
        return;  // an unchanged count keeps the chart
    c.traces.assign(static_cast<std::size_t>(n), {});
    c.colors.resize(static_cast<std::size_t>(n), 0);
    c.phase = 0;
}

void TrimTraces(Control& c) {
    for (auto& t : c.traces)
        while (static_cast<int>(t.size()) > c.pointsPerScreen)
            t.pop_front();
}

void SetPointsPerScreen(Control& c, int n) {
    if (n < 2 || n == c.pointsPerScreen)
        return;
    c.pointsPerScreen = n;
    TrimTraces(c);
}

bool SetTraceColor(Control& c, int trace, int rgb) {
    if (trace < 1 || trace > static_cast<int>(c.traces.size()))
        return false;
    c.colors[static_cast<std::size_t>(trace - 1)] = rgb & 0xFFFFFF;
    return true;
}

void Plot(Control& c, const double* values, int count) {
    const int n = static_cast<int>(c.traces.size());
    for (int i = 0; i < count; ++i) {
        c.traces[static_cast<std::size_t>(c.phase)].push_back(values[i]);
        c.phase = (c.phase + 1) % n;
    }
    TrimTraces(c);
}

void FillPortRing(Control& c) {
    c.items.clear();
    c.itemData.clear();
    c.current = 0;
    LabelPortRing(c);
}

// Applies one property of the panel file as the real widget takes it.
void ApplyProperty(Control& c, const Property& p) {
    const QString& n = p.name;
    const bool on = p.text == QLatin1String("true");
    const int number = p.text.toInt();
    if (n == QLatin1String("enabled")) {
        c.dimmed = !on;
    } else if (n == QLatin1String("readOnly")) {
        c.readOnly = on;
    } else if (n == QLatin1String("text") || n == QLatin1String("caption")) {
        c.text = p.text.toStdString();
    } else if (c.kind == Kind::Numeric && n == QLatin1String("minimum")) {
        c.minimum = number;
        c.maximum = std::max(c.maximum, number);
        c.value = std::clamp(c.value, c.minimum, c.maximum);
    } else if (c.kind == Kind::Numeric && n == QLatin1String("maximum")) {
        c.maximum = number;
        c.minimum = std::min(c.minimum, number);
        c.value = std::clamp(c.value, c.minimum, c.maximum);
    } else if (c.kind == Kind::Numeric && n == QLatin1String("value")) {
        c.value = std::clamp(number, c.minimum, c.maximum);
    } else if (c.kind == Kind::Led && n == QLatin1String("value")) {
        c.checked = number != 0;
    } else if (n == QLatin1String("checkable") && c.kind == Kind::Button) {
        c.checkable = on;
    } else if (n == QLatin1String("checked") && c.checkable) {
        c.checked = on;
    } else if (c.kind == Kind::Ring && n == QLatin1String("currentIndex")) {
        if (number >= 0 && number < static_cast<int>(c.items.size()))
            c.current = number;
    } else if (c.kind == Kind::Text && n == QLatin1String("statusLine")) {
        c.statusLine = on;
    } else if (c.kind == Kind::Timer && n == QLatin1String("interval")) {
        c.intervalMs = number;
    } else if (c.kind == Kind::Chart && n == QLatin1String("traces")) {
        SetNumTraces(c, number);
    } else if (c.kind == Kind::Chart && n == QLatin1String("pointsPerScreen")) {
        SetPointsPerScreen(c, number);
    } else if (c.kind == Kind::Chart && n == QLatin1String("traceColors")) {
        const QStringList parts = p.text.split(',', Qt::SkipEmptyParts);
        for (int i = 0; i < parts.size(); ++i) {
            bool ok = false;
            const int rgb = parts[i].trimmed().toInt(&ok, 0);
            if (ok)
                SetTraceColor(c, i + 1, rgb);
        }
    }
}

const Property* FindProperty(const std::vector<Property>& props, const char* name) {
    for (const Property& p : props)
        if (p.name == QLatin1String(name))
            return &p;
    return nullptr;
}

void* LookUp(const QString& name, bool panelCallback, const char* file) {
    const State& s = S();
    for (int i = 0; i < s.tableCount; ++i) {
        if (name != QLatin1String(s.table[i].name))
            continue;
        if (panelCallback && s.table[i].panel)
            return reinterpret_cast<void*>(s.table[i].panel);
        if (!panelCallback && s.table[i].control)
            return reinterpret_cast<void*>(s.table[i].control);
    }
    std::fprintf(stderr, "panel file %s: callback %s is not in the program's callback table\n", file,
                 name.toUtf8().constData());
    return nullptr;
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

constexpr std::size_t STATUS_HISTORY_KEPT = 4096;

void RecordStatus(const std::string& text) {
    // A scope running for hours shows a status per reply: keep the newest.
    std::vector<std::string>& h = S().statusHistory;
    if (h.size() >= 2 * STATUS_HISTORY_KEPT)
        h.erase(h.begin(), h.end() - static_cast<long>(STATUS_HISTORY_KEPT));
    h.push_back(text);
}

int SetNumber(int panel, int control, double v) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    switch (c->kind) {
        case Kind::Numeric:
            if (std::isnan(v))
                return ERR_BAD_VALUE;
            c->value = static_cast<int>(std::clamp(std::round(v), double(c->minimum), double(c->maximum)));
            return 0;
        case Kind::Led:
            c->checked = v != 0;
            return 0;
        case Kind::Radio:
        case Kind::Button:
            if (c->checkable)
                c->checked = v != 0;
            return 0;
        case Kind::Ring: {
            const long wanted = std::lround(v);
            const auto it = std::find(c->itemData.begin(), c->itemData.end(), wanted);
            if (it == c->itemData.end())
                return ERR_BAD_VALUE;
            c->current = static_cast<int>(it - c->itemData.begin());
            c->lastRingIndex = c->current;
            return 0;
        }
        case Kind::Text:
        case Kind::TextMsg:
            return SetCtrlVal(panel, control, QString::number(v).toUtf8().constData());
        default:
            return ERR_BAD_CONTROL;
    }
}

int GetNumber(int panel, int control, double* v) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    switch (c->kind) {
        case Kind::Numeric:
            *v = c->value;
            return 0;
        case Kind::Led:
        case Kind::Radio:
        case Kind::Button:
            *v = c->checked ? 1 : 0;
            return 0;
        case Kind::Ring: {
            const auto at = static_cast<std::size_t>(c->current);
            *v = c->current >= 0 && at < c->itemData.size() ? c->itemData[at] : c->current;
            return 0;
        }
        case Kind::Text:
        case Kind::TextMsg:
            *v = QString::fromStdString(c->text).toDouble();
            return 0;
        default:
            return ERR_BAD_CONTROL;
    }
}

// Copies a path into a caller's buffer of MAX_PATHNAME_LEN chars; a path that
// does not fit is refused and the buffer left as it was.
int CopyPath(const QString& path, char* out) {
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.size() + 1 > MAX_PATHNAME_LEN)
        return ERR_TOO_LONG;
    std::memcpy(out, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    out[bytes.size()] = '\0';
    return 0;
}

// Checks a caller's text buffer and empties it, and finds the control
// whose text goes there: 0, or a negative code.
int TextOutFor(int panel, int control, char* text, std::size_t size, Control** c) {
    if (!text || size == 0)
        return ERR_BAD_VALUE;
    text[0] = '\0';
    return StatusOf(panel, control, c);
}

// Copies a text into a caller's buffer of `size` (> 0) characters, cut to fit.
void CopyOut(const std::string& t, char* text, std::size_t size) {
    const std::size_t n = std::min(t.size(), size - 1);
    std::memcpy(text, t.data(), n);
    text[n] = '\0';
}

}  // namespace

void LabelPortRing(Control& c) {
    int highest = std::max(8, c.current + 1);
    for (int n = 1; n <= MAX_COM_PORTS; ++n)
        if (*ComPortDevice(n))
            highest = std::max(highest, n);
    for (int n = 1; n <= highest; ++n) {
        const std::string dev = ComPortDevice(n);
        std::string label = "COM" + std::to_string(n) + "  ";
        if (dev.empty())
            label += "(not connected)";
        else
            label += ComPortPresent(n) ? dev : dev + " (not connected)";
        const auto i = static_cast<std::size_t>(n - 1);
        if (i < c.items.size()) {
            c.items[i] = label;
        } else {
            c.items.push_back(label);
            c.itemData.push_back(n);
        }
    }
    c.items.resize(static_cast<std::size_t>(highest));
    c.itemData.resize(static_cast<std::size_t>(highest));
}

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

void DeliverCtrl(int panel, int control, int event, bool needEnabled) {
    Control* c = FindControl(panel, control);
    if (!c || !c->callback || (needEnabled && c->dimmed))
        return;
    const CtrlCallbackPtr cb = c->callback;
    DepthGuard g;
    cb(panel, control, event, nullptr, 0, 0);
}

void DeliverPanel(int panel, int event) {
    Panel* p = FindPanel(panel);
    if (!p || !p->callback)
        return;
    const PanelCallbackPtr cb = p->callback;
    DepthGuard g;
    cb(panel, event, nullptr, 0, 0);
}

bool NextTick(double limitMs, int* panel, int* control, double* dueMs) {
    bool found = false;
    for (auto& [h, p] : S().panels) {
        for (auto& [id, c] : p.controls) {
            if (c.kind != Kind::Timer || !c.running || c.dueMs > limitMs || (found && c.dueMs >= *dueMs))
                continue;
            found = true;
            *panel = h;
            *control = id;
            *dueMs = c.dueMs;
        }
    }
    return found;
}

double TimersNextMs() {
    int panel = 0, control = 0;
    double due = kNever;
    return NextTick(kNever, &panel, &control, &due) ? due : kNever;
}

bool AnyTimerRunning() {
    return TimersNextMs() < kNever;
}

void SetTimerRunning(Control& c, bool on) {
    if (on == c.running)
        return;
    c.running = on;
    if (on)
        c.dueMs = NowMs() + std::max(1, c.intervalMs);
}

FileDialogRecord& LastFileDialog() {
    return S().lastDialog;
}

std::deque<std::string>& DialogAnswers() {
    return S().answers;
}

std::vector<std::string> TakeStatusHistory() {
    std::vector<std::string> out;
    out.swap(S().statusHistory);
    return out;
}

void ResetEngine() {
    S().panels.clear();
    QuitRequested() = false;
    QuitCode() = 0;
    S().statusHistory.clear();
    S().lastDialog = {};
}

}  // namespace orv_mem

using namespace orv_mem;

void SetCallbackTable(const CallbackEntry* table, int count) {
    S().table = table;
    S().tableCount = table ? count : 0;
}

int LoadPanel(int /*parentPanel*/, const char* file, int panelResource) {
    if (EngineKind() != Engine::Panels)
        return ERR_NO_ENGINE;
    if (!file || panelResource != 1)
        return ERR_PANEL_FILE;
    PanelContents contents;
    if (!ReadPanelFile(ResolvePanelFile(file), contents))
        return ERR_PANEL_FILE;

    const int handle = S().nextHandle++;
    Panel& p = S().panels[handle];
    p.handle = handle;
    if (const Property* cb = FindProperty(contents.rootProperties, "callback"); cb && !cb->text.isEmpty())
        p.callback = reinterpret_cast<PanelCallbackPtr>(LookUp(cb->text, true, file));

    for (const WidgetEntry& w : contents.widgets) {
        const Property* id = FindProperty(w.properties, "ctrlId");
        if (!id)
            continue;
        Control c;
        c.id = id->text.toInt();
        c.kind = KindOf(w.className);
        c.checkable = c.kind == Kind::Radio || w.className == QLatin1String("QCheckBox");
        for (const QString& item : w.items)
            c.items.push_back(item.toStdString());
        c.current = c.items.empty() ? -1 : 0;
        for (const Property& prop : w.properties)
            ApplyProperty(c, prop);
        if (const Property* cb = FindProperty(w.properties, "callback"); cb && !cb->text.isEmpty())
            c.callback = reinterpret_cast<CtrlCallbackPtr>(LookUp(cb->text, false, file));
        if (const Property* ring = FindProperty(w.properties, "portRing");
            c.kind == Kind::Ring && ring && ring->text == QLatin1String("true"))
            FillPortRing(c);
        c.lastRingIndex = c.current;
        c.running = false;  // timers start stopped, whatever the file says
        if (!p.controls.emplace(c.id, std::move(c)).second)
            std::fprintf(stderr, "panel file %s: control number %d used twice\n", file, id->text.toInt());
    }
    return handle;
}

int DisplayPanel(int panel) {
    Panel* p = FindPanel(panel);
    if (!p)
        return ERR_BAD_PANEL;
    p->visible = true;
    return 0;
}

int DiscardPanel(int panel) {
    if (!FindPanel(panel))
        return ERR_BAD_PANEL;
    S().panels.erase(panel);
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
    Control* c = nullptr;
    if (int rc = TextOutFor(panel, control, text, size, &c); rc < 0)
        return rc;
    std::string t;
    switch (c->kind) {
        case Kind::Text:
        case Kind::TextMsg:
        case Kind::Button:
        case Kind::Radio:
            t = c->text;
            break;
        case Kind::Ring:
            if (c->current >= 0)
                t = c->items[static_cast<std::size_t>(c->current)];
            break;
        case Kind::Numeric:
            t = std::to_string(c->value);
            break;
        default:
            return ERR_BAD_CONTROL;
    }
    CopyOut(t, text, size);
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
    const std::string t = text ? text : "";
    if (c->kind == Kind::Text) {
        if (c->statusLine)
            RecordStatus(t);
    } else if (c->kind != Kind::TextMsg) {
        return ERR_BAD_CONTROL;
    }
    c->text = t;
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    switch (attribute) {
        case ATR_DIMMED:
            c->dimmed = value != 0;
            if (c->dimmed)
                c->down = false;  // a button dimmed while pressed is let go
            return 0;
        case ATR_TIMER_ENABLED:
            if (c->kind != Kind::Timer)
                return ERR_BAD_ATTRIBUTE;
            SetTimerRunning(*c, value != 0);
            return 0;
        case ATR_NUM_TRACES:
        case ATR_POINTS_PER_SCREEN:
        case ATR_CHART_MODE:
            if (c->kind != Kind::Chart)
                return ERR_BAD_ATTRIBUTE;
            if (attribute == ATR_NUM_TRACES) {
                if (value < 1 || value > 64)
                    return ERR_BAD_VALUE;
                SetNumTraces(*c, value);
            } else if (attribute == ATR_POINTS_PER_SCREEN) {
                if (value < 2 || value > 100000)
                    return ERR_BAD_VALUE;
                SetPointsPerScreen(*c, value);
            } else {
                c->chartMode = value;
            }
            return 0;
        case ATR_TEXT_COLOR:
            c->textColor = value & 0xFFFFFF;
            return 0;
        case ATR_TEXT_BGCOLOR:
            c->bgColor = value & 0xFFFFFF;
            return 0;
        case ATR_TEXT_POINT_SIZE:
            if (value < 1 || value > 200)
                return ERR_BAD_VALUE;
            c->pixelSize = value;
            return 0;
        default:
            return ERR_BAD_ATTRIBUTE;
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, const char* value) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (attribute == ATR_MARK_TEXT) {
        if (c->kind != Kind::Numeric && c->kind != Kind::Text && c->kind != Kind::Button &&
            c->kind != Kind::Radio && c->kind != Kind::Ring)
            return ERR_BAD_ATTRIBUTE;
        c->mark = value ? value : "";
        return 0;
    }
    if (attribute != ATR_TEXT_FONT || !value)
        return ERR_BAD_ATTRIBUTE;
    c->font = value;
    return 0;
}

int GetCtrlAttributeText(int panel, int control, int attribute, char* text, std::size_t size) {
    Control* c = nullptr;
    if (int rc = TextOutFor(panel, control, text, size, &c); rc < 0)
        return rc;
    if (attribute != ATR_MARK_TEXT)
        return ERR_BAD_ATTRIBUTE;
    CopyOut(c->mark, text, size);
    return 0;
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    if (!value)
        return ERR_BAD_VALUE;
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    switch (attribute) {
        case ATR_DIMMED:
            *value = c->dimmed ? 1 : 0;
            return 0;
        case ATR_TIMER_ENABLED:
            if (c->kind != Kind::Timer)
                return ERR_BAD_ATTRIBUTE;
            *value = c->running ? 1 : 0;
            return 0;
        case ATR_NUM_TRACES:
        case ATR_POINTS_PER_SCREEN:
        case ATR_CHART_MODE:
            if (c->kind != Kind::Chart)
                return ERR_BAD_ATTRIBUTE;
            *value = attribute == ATR_NUM_TRACES          ? static_cast<int>(c->traces.size())
                     : attribute == ATR_POINTS_PER_SCREEN ? c->pointsPerScreen
                                                          : c->chartMode;
            return 0;
        case ATR_TEXT_COLOR:
            *value = c->textColor;
            return 0;
        case ATR_TEXT_BGCOLOR:
            *value = c->bgColor;
            return 0;
        case ATR_TEXT_POINT_SIZE:
            *value = c->pixelSize;
            return 0;
        default:
            return ERR_BAD_ATTRIBUTE;
    }
}

int NewCtrl(int panel, int style, const char* label, int /*top*/, int /*left*/) {
    Panel* p = FindPanel(panel);
    if (!p)
        return ERR_BAD_PANEL;
    if (style != CTRL_TEXT_MSG)
        return ERR_BAD_VALUE;
    Control c;
    c.id = p->nextNewCtrl++;
    c.kind = Kind::TextMsg;
    c.text = label ? label : "";
    const int id = c.id;
    p->controls.emplace(id, std::move(c));
    return id;
}

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (c->kind != Kind::Chart || attribute != ATR_TRACE_COLOR)
        return ERR_BAD_ATTRIBUTE;
    return SetTraceColor(*c, trace, value) ? 0 : ERR_BAD_VALUE;
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
    if (dataType != TYPE_DOUBLE && dataType != TYPE_INT && dataType != TYPE_UINT)
        return ERR_BAD_VALUE;
    const long stride = static_cast<long>(skipCount) + 1;
    std::vector<double> values(static_cast<std::size_t>(numberOfPoints));
    for (int i = 0; i < numberOfPoints; ++i) {
        const long idx = startingIndex + i * stride;
        values[static_cast<std::size_t>(i)] = dataType == TYPE_DOUBLE ? static_cast<const double*>(array)[idx]
                                              : dataType == TYPE_INT
                                                  ? static_cast<const int*>(array)[idx]
                                                  : static_cast<const unsigned*>(array)[idx];
    }
    Plot(*c, values.data(), numberOfPoints);
    return 0;
}

// Without a screen there is no picture to take: the chart is saved as a
// one-pixel white PNG, so the file, its name and the failures are those of
// the real runtime.
int SaveChartImage(int panel, int control, const char* path) {
    static constexpr unsigned char kPixel[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
        0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9C, 0x63, 0xF8, 0xFF, 0xFF, 0x3F, 0x00, 0x05, 0xFE, 0x02, 0xFE, 0x0D, 0xEF, 0x46,
        0xB8, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (c->kind != Kind::Chart)
        return ERR_BAD_CONTROL;
    if (!path || !path[0])
        return ERR_BAD_VALUE;
    const QString name = QFile::decodeName(path);
    const QFileInfo info(name);
    if (info.exists() && !info.isFile())
        return FILE_ERR_NOT_FILE;
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char*>(kPixel),
                                                       sizeof kPixel) != static_cast<qint64>(sizeof kPixel))
        return FILE_ERR_WRITE;
    return file.commit() ? 0 : FILE_ERR_WRITE;
}

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec, const char* fileTypeList,
                    const char* title, int buttonLabel, int restrictDirectory, int /*restrictExtension*/,
                    int /*allowCancel*/, int /*allowMakeDirectory*/, char* pathName) {
    if (!pathName)
        return ERR_BAD_VALUE;
    if (EngineKind() != Engine::Panels)
        return ERR_NO_ENGINE;
    const QString dir = QFile::decodeName(defaultDirectory ? defaultDirectory : "");
    FileDialogRecord& rec = S().lastDialog;
    rec = {};
    rec.title = title ? title : "";
    rec.directory = defaultDirectory ? defaultDirectory : "";
    rec.defaultFile = defaultFileSpec ? defaultFileSpec : "";
    rec.filter = fileTypeList ? fileTypeList : "";
    rec.button = buttonLabel;
    rec.shown = true;

    auto cancelled = [pathName] {
        pathName[0] = '\0';
        return FILESEL_NONE;
    };
    // The dialog is answered at once from the test's queue; a quit asked for
    // before it opened cancels it, and so does an empty queue.
    if (QuitRequested() || S().answers.empty())
        return cancelled();
    const std::string answer = S().answers.front();
    S().answers.pop_front();
    if (answer.empty())
        return cancelled();
    // What the real dialog accepts: a file name (a directory is entered, not
    // chosen) in a directory that exists; for loading, an existing file.
    const QFileInfo info(QFile::decodeName(answer.c_str()));
    if (info.isDir() || !QFileInfo(info.absolutePath()).isDir() ||
        (buttonLabel == BUTTON_LOAD && !info.exists()))
        return cancelled();
    const QString chosen = info.absoluteFilePath();
    if (restrictDirectory && !dir.isEmpty() && QFileInfo(chosen).absoluteDir() != QDir(dir))
        return cancelled();
    const bool existed = QFileInfo(chosen).isFile();
    if (CopyPath(QDir::toNativeSeparators(chosen), pathName) < 0)
        return FILESEL_ERR_TOO_LONG;
    return existed ? FILESEL_EXISTING : FILESEL_NEW;
}
