// The live chart window and the two switching indicators.
//
// The window holds the last 100 samples of (upper threshold, lower threshold,
// reference, measured value), oldest first. Every measurement moves it on by
// one sample and the whole window is handed to the four-trace strip chart.
// Threshold sums and differences wrap modulo 65536 and are compared unsigned,
// as the sensor itself computes them.
#include "gui/chart.h"

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "analysis/analysis.h"
#include "com232/params.h"

namespace orv {

std::array<double, NORM_LEN> arrayNORM{};
std::array<double, RAW_LEN> arrayRAW{};

uint16_t valNORM, upTHR, loTHR, valREF, adcCHA, adcCHB;
uint16_t ref10Bit = 512, tol10Bit = 128;
uint16_t refTHD = 512, upTHD = 640, lowTHD = 384;

namespace {

uint16_t Add16(uint16_t a, uint16_t b) {
    return static_cast<uint16_t>(a + b);
}
uint16_t Sub16(uint16_t a, uint16_t b) {
    return static_cast<uint16_t>(a - b);
}

// Polarity 1 shows the comparator state as it is; any other value inverts it.
int LedState(int state) {
    return polarity == 1 ? state : 1 - state;
}

}  // namespace

void PlotNORMValues(const uint16_t* raw, double* window) {
    Shift(window, NORM_LEN, -NORM_TRACES, window);

    valNORM = raw[0];
    adcCHA = raw[1];
    adcCHB = raw[2];

    upTHR = Add16(reference, tolerance);
    loTHR = Sub16(reference, tolerance);
    valREF = reference;

    window[NORM_LEN - 4] = upTHR;
    window[NORM_LEN - 3] = loTHR;
    window[NORM_LEN - 2] = valREF;
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

void FillarrayRAW(int32_t first, int32_t second) {
    // Pairs of (first, second); only ever called with (0, 0).
    for (int i = 0; i < RAW_LEN; i += 2) {
        arrayRAW[i] = first;
        arrayRAW[i + 1] = second;
    }
}

void SetREFLed(int32_t v) {
    const auto u = static_cast<uint16_t>(v);
    int state;
    if (u < refTHD) {
        state = 0;
        refTHD = Add16(reference, hysteresis);
    } else {
        state = 1;
        refTHD = reference;
    }
    SetCtrlVal(panelHandle, LedREF, LedState(state));
}

void SetTOLLed(int32_t v) {
    const auto u = static_cast<uint16_t>(v);
    int state;
    if (u > upTHD) {
        state = 0;
        upTHD = Sub16(Add16(reference, tolerance), hysteresis);
    } else {
        upTHD = Add16(reference, tolerance);
        if (u < lowTHD) {
            state = 0;
            lowTHD = Add16(Sub16(reference, tolerance), hysteresis);
        } else {
            state = 1;
            lowTHD = Sub16(reference, tolerance);
        }
    }
    SetCtrlVal(panelHandle, LedTOL, LedState(state));
}

}  // namespace orv
