// The live chart window and the two switching indicators.
//
// The window holds the last 100 samples of (upper threshold, lower threshold,
// reference, measured value), oldest first. Every measurement moves it on by
// one sample and the whole window is handed to the four-trace strip chart.
#include "gui/chart.h"

#include "analysis/analysis.h"
#include "analysis/switching.h"
#include "com232/params.h"
#include "gui/panel.h"

namespace orv {

std::array<double, NORM_LEN> arrayNORM{};

uint16_t valNORM = 0;
uint16_t ref10Bit = 512, tol10Bit = 128;
uint16_t refTHD = 512, upTHD = 640, lowTHD = 384;

void PlotNORMValues(const uint16_t* raw, double* window) {
    Shift(window, NORM_LEN, -NORM_TRACES, window);

    // The channel readings (raw[1], raw[2]) are not drawn.
    valNORM = raw[0];
    window[NORM_LEN - 4] = UpperEdge(reference, tolerance);
    window[NORM_LEN - 3] = LowerEdge(reference, tolerance);
    window[NORM_LEN - 2] = reference;
    window[NORM_LEN - 1] = valNORM;

    SetCtrlAttribute(panelHandle, StripChart, ATR_POINTS_PER_SCREEN, CHART_POINTS_PER_SCREEN);
    SetCtrlAttribute(panelHandle, StripChart, ATR_CHART_MODE, 1);
    SetCtrlAttribute(panelHandle, StripChart, ATR_NUM_TRACES, NORM_TRACES);
    SetTraceAttribute(panelHandle, StripChart, 1, ATR_TRACE_COLOR, COLOR_BLACK);
    SetTraceAttribute(panelHandle, StripChart, 2, ATR_TRACE_COLOR, COLOR_BLACK);
    SetTraceAttribute(panelHandle, StripChart, 3, ATR_TRACE_COLOR, COLOR_BLACK);
    SetTraceAttribute(panelHandle, StripChart, 4, ATR_TRACE_COLOR, COLOR_RED);

    PlotStripChart(panelHandle, StripChart, window, NORM_LEN, 0, 0, TYPE_DOUBLE);

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
    const RefSwitch r = RefComparator(static_cast<uint16_t>(v), refTHD, reference, hysteresis);
    refTHD = r.refTHD;
    SetCtrlVal(panelHandle, LedREF, IndicatorState(r.state, polarity));
}

void SetTOLLed(int32_t v) {
    const TolSwitch t =
        TolComparator(static_cast<uint16_t>(v), upTHD, lowTHD, reference, tolerance, hysteresis);
    upTHD = t.upTHD;
    lowTHD = t.lowTHD;
    SetCtrlVal(panelHandle, LedTOL, IndicatorState(t.state, polarity));
}

}  // namespace orv
