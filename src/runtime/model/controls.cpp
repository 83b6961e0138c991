// The control functions of the runtime API on the panel model: values,
// attributes, marks, new text messages and the strip chart. Each change is
// shown by the face that is linked.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/files/panelfile.h"
#include "runtime/line/linelog.h"
#include "runtime/model/panel_model.h"

namespace orv_rt {

namespace {

void Show(int panel, Control& c, int what) {
    face::Show(*FindPanel(panel), c, what);
}

// Parses a whole text (blanks around it allowed) as a number; 0 when it is none.
double ParseNumber(std::string_view t) {
    while (!t.empty() && t.front() == ' ')
        t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ')
        t.remove_suffix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    return ec == std::errc() && end == t.data() + t.size() ? v : 0;
}

// A number as text, six significant digits, whatever the locale.
std::string FormatNumber(double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return ec == std::errc() ? std::string(buf, end) : std::string();
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
            break;
        case Kind::Led:
        case Kind::Radio:
        case Kind::Button:
            if (c->kind == Kind::Led || c->checkable)
                c->checked = v != 0;
            break;
        case Kind::Ring: {
            const auto it = std::find(c->itemData.begin(), c->itemData.end(), std::lround(v));
            if (it == c->itemData.end())
                return ERR_BAD_VALUE;
            c->current = c->lastRingIndex = static_cast<int>(it - c->itemData.begin());
            break;
        }
        case Kind::Text:
        case Kind::TextMsg:
            return SetCtrlVal(panel, control, FormatNumber(v).c_str());
        default:
            return ERR_BAD_CONTROL;
    }
    Show(panel, *c, SHOW_VALUE);
    return 0;
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
            *v = ParseNumber(c->text);
            return 0;
        default:
            return ERR_BAD_CONTROL;
    }
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

bool Markable(Kind k) {
    return k == Kind::Numeric || k == Kind::Text || k == Kind::Button || k == Kind::Radio || k == Kind::Ring;
}

// The chart's attributes: 0 when changed, 1 when unchanged, or a negative code.
int SetChartAttribute(Control& c, int attribute, int value) {
    if (attribute == ATR_NUM_TRACES) {
        if (value < 1 || value > 64)
            return ERR_BAD_VALUE;
        if (value == static_cast<int>(c.traces.size()))
            return 1;  // an unchanged count keeps the chart
        c.traces.assign(static_cast<std::size_t>(value), {});
        c.colors.resize(static_cast<std::size_t>(value), 0);
        c.phase = 0;
    } else if (attribute == ATR_POINTS_PER_SCREEN) {
        if (value < 2 || value > 100000)
            return ERR_BAD_VALUE;
        if (value == c.pointsPerScreen)
            return 1;
        c.pointsPerScreen = value;
        for (auto& t : c.traces)
            while (static_cast<int>(t.size()) > value)
                t.pop_front();
    } else {
        c.chartMode = value;
    }
    return 0;
}

// A text put on a status line: kept in its history, a repeat of the newest
// entry counted in it (unless that entry was an error). A new text comes
// unmarked: the mark was the old text's.
void AddToHistory(Control& c) {
    c.mark.clear();
    if (c.text.empty())
        return;
    const std::int64_t now = orv_line::WallMs();
    if (!c.history.empty() && c.history.back().text == c.text && !c.history.back().error) {
        ++c.history.back().count;
        c.history.back().lastMs = now;
        return;
    }
    c.history.push_back({++c.historyAdded, now, now, c.text, 1, false});
    while (c.history.size() > kStatusHistoryKept)
        c.history.pop_front();
}

std::string Lower(std::string t) {
    for (char& ch : t)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return t;
}

}  // namespace

std::string StatusEntryLine(const StatusEntry& e) {
    std::string line = orv_line::ClockText(e.firstMs) + '\t' + (e.error ? "error" : "") + '\t' + e.text;
    if (e.count > 1)
        line += "\t" + std::to_string(e.count) + " times, last " + orv_line::ClockText(e.lastMs);
    return line;
}

std::string StatusHistoryHeader() {
    return "time\t\tmessage\trepeated";
}

}  // namespace orv_rt

using namespace orv_rt;

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
    if (c->kind == Kind::Led || c->kind == Kind::Chart || c->kind == Kind::Timer || c->kind == Kind::Other)
        return ERR_BAD_CONTROL;
    CopyOut(TextOf(*c), text, size);
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
    if (c->kind != Kind::Text && c->kind != Kind::TextMsg)
        return ERR_BAD_CONTROL;
    c->text = text ? text : "";
    if (c->statusLine) {
        RecordStatus(c->text);
        AddToHistory(*c);
    }
    Show(panel, *c, SHOW_TEXT);
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    switch (attribute) {
        case ATR_DIMMED:
            if (c->dimmed == (value != 0))
                return 0;
            c->dimmed = value != 0;
            if (c->dimmed)
                c->down = false;  // a button dimmed while pressed is let go
            break;
        case ATR_TIMER_ENABLED:
            if (c->kind != Kind::Timer)
                return ERR_BAD_ATTRIBUTE;
            if (c->running == (value != 0))
                return 0;
            c->running = value != 0;
            break;
        case ATR_NUM_TRACES:
        case ATR_POINTS_PER_SCREEN:
        case ATR_CHART_MODE:
            if (c->kind != Kind::Chart)
                return ERR_BAD_ATTRIBUTE;
            if (int rc = SetChartAttribute(*c, attribute, value); rc != 0)
                return std::min(rc, 0);
            break;
        case ATR_TEXT_COLOR:
            c->textColor = value & 0xFFFFFF;
            break;
        case ATR_TEXT_BGCOLOR:
            c->bgColor = value & 0xFFFFFF;
            break;
        case ATR_MARK_KIND:
            if (!Markable(c->kind))
                return ERR_BAD_ATTRIBUTE;
            if (value < MARK_PENDING || value > MARK_ERROR)
                return ERR_BAD_VALUE;
            if (c->markKind == value)
                return 0;
            c->markKind = value;
            break;
        case ATR_TEXT_POINT_SIZE:
            // Panel coordinates are pixels, and so are text sizes: a size is
            // the font's pixel height, so that texts placed a size apart on
            // the panel stack without overlapping whatever the screen.
            if (value < 1 || value > 200)
                return ERR_BAD_VALUE;
            c->pixelSize = value;
            break;
        default:
            return ERR_BAD_ATTRIBUTE;
    }
    Show(panel, *c, attribute);
    return 0;
}

int SetCtrlAttribute(int panel, int control, int attribute, const char* value) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (attribute == ATR_MARK_TEXT) {
        if (!Markable(c->kind))
            return ERR_BAD_ATTRIBUTE;
        const std::string note = value ? value : "";
        // The history keeps a status text marked as an error as such, also
        // once the mark is taken off.
        if (c->statusLine && !note.empty() && !c->history.empty() && c->history.back().text == c->text)
            c->history.back().error = true;
        if (note == c->mark)
            return 0;
        c->mark = note;
    } else if (attribute == ATR_TEXT_FONT && value) {
        c->font = value;
    } else {
        return ERR_BAD_ATTRIBUTE;
    }
    Show(panel, *c, attribute);
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
    const bool chart = c->kind == Kind::Chart;
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
            *value = static_cast<int>(c->traces.size());
            return chart ? 0 : ERR_BAD_ATTRIBUTE;
        case ATR_POINTS_PER_SCREEN:
            *value = c->pointsPerScreen;
            return chart ? 0 : ERR_BAD_ATTRIBUTE;
        case ATR_CHART_MODE:
            *value = c->chartMode;
            return chart ? 0 : ERR_BAD_ATTRIBUTE;
        case ATR_TEXT_COLOR:
            *value = c->textColor;
            return 0;
        case ATR_TEXT_BGCOLOR:
            *value = c->bgColor;
            return 0;
        case ATR_TEXT_POINT_SIZE:
            *value = c->pixelSize;
            return 0;
        case ATR_MARK_KIND:
            *value = c->markKind;
            return Markable(c->kind) ? 0 : ERR_BAD_ATTRIBUTE;
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
    Control& c = p->controls[id];
    c.id = id;
    c.kind = Kind::TextMsg;
    c.text = label ? label : "";
    face::Add(*p, c, top, left);
    return id;
}

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (c->kind != Kind::Chart || attribute != ATR_TRACE_COLOR)
        return ERR_BAD_ATTRIBUTE;
    if (trace < 1 || trace > static_cast<int>(c->colors.size()))
        return ERR_BAD_VALUE;
    int& color = c->colors[static_cast<std::size_t>(trace - 1)];
    if (color != (value & 0xFFFFFF)) {
        color = value & 0xFFFFFF;
        Show(panel, *c, ATR_TRACE_COLOR);
    }
    return 0;
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
    const int n = static_cast<int>(c->traces.size());
    for (int i = 0; i < numberOfPoints; ++i) {
        const long idx = startingIndex + i * stride;
        const double v = dataType == TYPE_DOUBLE ? static_cast<const double*>(array)[idx]
                         : dataType == TYPE_INT  ? static_cast<const int*>(array)[idx]
                                                 : static_cast<const unsigned*>(array)[idx];
        auto& trace = c->traces[static_cast<std::size_t>(c->phase)];
        trace.push_back(v);
        if (static_cast<int>(trace.size()) > c->pointsPerScreen)
            trace.pop_front();
        c->phase = (c->phase + 1) % n;
    }
    Show(panel, *c, SHOW_PLOT);
    return 0;
}

int ChartImageFormat(const char* path) {
    if (!path)
        return 0;
    const std::string name = path;
    const std::size_t dot = name.find_last_of("./\\");
    if (dot == std::string::npos || name[dot] != '.')
        return 0;
    const std::string suffix = Lower(name.substr(dot + 1));
    if (suffix == "png")
        return CHART_PNG;
    if (suffix == "jpg" || suffix == "jpeg")
        return CHART_JPEG;
    if (suffix == "bmp")
        return CHART_BMP;
    if (suffix == "svg" && face::DrawsSvg())
        return CHART_SVG;
    return 0;
}

int SaveChartImage(int panel, int control, const char* path) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (c->kind != Kind::Chart)
        return ERR_BAD_CONTROL;
    if (!path || !path[0])
        return ERR_BAD_VALUE;
    const int format = ChartImageFormat(path);
    std::string picture;
    if (!face::ChartPicture(*FindPanel(panel), *c, format ? format : CHART_PNG, &picture))
        return FILE_ERR_WRITE;
    return ReplaceFile(path, picture);
}

int DisplayStatusHistory(int panel, int control) {
    Control* c = nullptr;
    if (int rc = StatusOf(panel, control, &c); rc < 0)
        return rc;
    if (!c->statusLine)
        return ERR_BAD_CONTROL;
    face::ShowStatusHistory(*FindPanel(panel), *c);
    return 0;
}

int DisplayLineView(int panel) {
    Panel* p = FindPanel(panel);
    if (!p)
        return ERR_BAD_PANEL;
    face::ShowLineView(*p);
    return 0;
}
