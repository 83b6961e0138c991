// The live chart window and the two switching indicators.
//
// The window holds the last 100 samples of (upper threshold, lower threshold,
// reference, measured value), oldest first. Every measurement moves it on by
// one sample and the whole window is handed to the four-trace strip chart.
#include "gui/chart.h"

#include "analysis/analysis.h"
#include "analysis/switching.h"
#include "com232/params.h"
#include "com232/scopecsv.h"
#include "gui/panel.h"

namespace orv {

std::array<double, NORM_LEN> arrayNORM{};
bool historyView = false;

namespace {

// The history as a ring of (upper, lower, reference, value), oldest at
// histHead once full.
std::array<std::array<uint16_t, NORM_TRACES>, HISTORY_SAMPLES> histNORM{};
int histHead = 0;
int histCount = 0;
std::array<double, HISTORY_POINTS * NORM_TRACES> histPlot{};

void KeepSample(uint16_t up, uint16_t low, uint16_t ref, uint16_t value) {
    const int at = (histHead + histCount) % HISTORY_SAMPLES;
    histNORM[static_cast<std::size_t>(at)] = {up, low, ref, value};
    if (histCount < HISTORY_SAMPLES)
        ++histCount;
    else
        histHead = (histHead + 1) % HISTORY_SAMPLES;
}

void PrepareChart(int pointsPerScreen) {
    SetCtrlAttribute(panelHandle, StripChart, ATR_POINTS_PER_SCREEN, pointsPerScreen);
    SetCtrlAttribute(panelHandle, StripChart, ATR_CHART_MODE, 1);
    SetCtrlAttribute(panelHandle, StripChart, ATR_NUM_TRACES, NORM_TRACES);
    SetTraceAttribute(panelHandle, StripChart, 1, ATR_TRACE_COLOR, COLOR_BLACK);
    SetTraceAttribute(panelHandle, StripChart, 2, ATR_TRACE_COLOR, COLOR_BLACK);
    SetTraceAttribute(panelHandle, StripChart, 3, ATR_TRACE_COLOR, COLOR_BLACK);
    SetTraceAttribute(panelHandle, StripChart, 4, ATR_TRACE_COLOR, COLOR_RED);
}

// Every sample since Run, thinned to at most HISTORY_POINTS evenly spaced
// ones that end with the newest.
void PlotHistory() {
    const int n = histCount < HISTORY_POINTS ? histCount : HISTORY_POINTS;
    for (int i = 0; i < n; ++i) {
        const long k = (static_cast<long>(i) + 1) * histCount / n - 1;
        const auto& s = histNORM[static_cast<std::size_t>((histHead + k) % HISTORY_SAMPLES)];
        for (int t = 0; t < NORM_TRACES; ++t)
            histPlot[static_cast<std::size_t>(NORM_TRACES * i + t)] = s[static_cast<std::size_t>(t)];
    }
    PrepareChart(n);
    PlotStripChart(panelHandle, StripChart, histPlot.data(), n * NORM_TRACES, 0, 0, TYPE_DOUBLE);
}

}  // namespace

int HistoryCount() {
    return histCount;
}

void ClearHistory() {
    histHead = 0;
    histCount = 0;
}

void PlotChartView() {
    if (historyView && histCount >= 2) {
        PlotHistory();
        return;
    }
    PrepareChart(CHART_POINTS_PER_SCREEN);
    PlotStripChart(panelHandle, StripChart, arrayNORM.data(), NORM_LEN, 0, 0, TYPE_DOUBLE);
}

uint16_t valNORM = 0;
uint16_t ref10Bit = 512, tol10Bit = 128;
uint16_t refTHD = 512, upTHD = 640, lowTHD = 384;
int refOutput = 0, tolOutput = 0;

void PlotNORMValues(const uint16_t* raw, double* window) {
    Shift(window, NORM_LEN, -NORM_TRACES, window);

    // The channel readings (raw[1], raw[2]) are not drawn.
    valNORM = raw[0];
    window[NORM_LEN - 4] = UpperEdge(reference, tolerance);
    window[NORM_LEN - 3] = LowerEdge(reference, tolerance);
    window[NORM_LEN - 2] = reference;
    window[NORM_LEN - 1] = valNORM;
    KeepSample(UpperEdge(reference, tolerance), LowerEdge(reference, tolerance), reference, valNORM);

    if (historyView && histCount >= 2) {
        PlotHistory();
    } else {
        PrepareChart(CHART_POINTS_PER_SCREEN);
        PlotStripChart(panelHandle, StripChart, window, NORM_LEN, 0, 0, TYPE_DOUBLE);
    }

    SetCtrlVal(panelHandle, NumValue, static_cast<int>(valNORM));

    SetREFLed(valNORM);
    SetTOLLed(valNORM);
}

void FillarrayNORM(int32_t tol, int32_t ref, int32_t value) {
    // Signed 32-bit, so a reference below the tolerance gives a negative lower
    // threshold; the sums wrap instead of overflowing for extreme arguments.
    const auto up = static_cast<int32_t>(static_cast<uint32_t>(ref) + static_cast<uint32_t>(tol));
    const auto low = static_cast<int32_t>(static_cast<uint32_t>(ref) - static_cast<uint32_t>(tol));
    for (int k = 0; k < NORM_SAMPLES; ++k) {
        arrayNORM[4 * k] = up;
        arrayNORM[4 * k + 1] = low;
        arrayNORM[4 * k + 2] = ref;
        arrayNORM[4 * k + 3] = value;
    }
}

void SetREFLed(int32_t v) {
    refOutput = JudgeRef(static_cast<uint16_t>(v), refTHD);
    SetCtrlVal(panelHandle, LedREF, refOutput);
}

void SetTOLLed(int32_t v) {
    tolOutput = JudgeTol(static_cast<uint16_t>(v), upTHD, lowTHD);
    SetCtrlVal(panelHandle, LedTOL, tolOutput);
}

}  // namespace orv
