// The parts of the test driver that read the panel model or the runtime API
// alone, shared by the driver of the widget runtime and that of the memory
// runtime.
#include <string>

#include "runtime/model/panel_model.h"
#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"

namespace rt_test {

namespace {

const orv_rt::Control* Chart(int panel, int control, int trace) {
    const orv_rt::Control* c = orv_rt::FindControl(panel, control);
    return c && c->kind == orv_rt::Kind::Chart && trace >= 1 && trace <= static_cast<int>(c->traces.size())
               ? c
               : nullptr;
}

}  // namespace

int Int(int panel, int control) {
    int v = 0;
    GetCtrlVal(panel, control, &v);
    return v;
}

std::string Mark(int panel, int control) {
    char text[256];
    GetCtrlAttributeText(panel, control, ATR_MARK_TEXT, text, sizeof text);
    return text;
}

bool TimerEnabled(int panel, int control) {
    const orv_rt::Control* c = orv_rt::FindControl(panel, control);
    return c && c->kind == orv_rt::Kind::Timer && c->running;
}

std::vector<double> TracePoints(int panel, int control, int trace) {
    const orv_rt::Control* c = Chart(panel, control, trace);
    if (!c)
        return {};
    const auto& t = c->traces[static_cast<std::size_t>(trace - 1)];
    return {t.begin(), t.end()};
}

int TraceColor(int panel, int control, int trace) {
    const orv_rt::Control* c = Chart(panel, control, trace);
    return c ? c->colors[static_cast<std::size_t>(trace - 1)] : -1;
}

std::vector<std::string> TakeStatusHistory() {
    return orv_rt::TakeStatusLines();
}

std::vector<StatusEntryInfo> StatusHistory(int panel, int control) {
    std::vector<StatusEntryInfo> out;
    if (const orv_rt::Control* c = orv_rt::FindControl(panel, control))
        for (const orv_rt::StatusEntry& e : c->history)
            out.push_back({e.text, e.count, e.error});
    return out;
}

}  // namespace rt_test
