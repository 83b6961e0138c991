// The live chart window (100 samples of four traces) and the two switching
// indicators with hysteresis.
#pragma once

#include <array>
#include <cstdint>

namespace orv {

constexpr int NORM_SAMPLES = 100;
constexpr int NORM_TRACES = 4;
constexpr int NORM_LEN = NORM_SAMPLES * NORM_TRACES;  // 400
constexpr int CHART_POINTS_PER_SCREEN = 101;
constexpr int COLOR_BLACK = 0x000000;
constexpr int COLOR_RED = 0xFF0000;

extern std::array<double, NORM_LEN> arrayNORM;

// The longer view: every sample since Run (the newest HISTORY_SAMPLES of
// them), drawn scaled to fit in at most HISTORY_POINTS points per trace while
// historyView is on. The live window of NORM_SAMPLES is kept all the same.
constexpr int HISTORY_SAMPLES = 100000;
constexpr int HISTORY_POINTS = 500;
extern bool historyView;
// Samples held (at most HISTORY_SAMPLES).
int HistoryCount();
// Forgets the samples (at Run).
void ClearHistory();
// Draws the window or the history, whichever historyView asks for.
void PlotChartView();

// The measured value of the newest sample.
extern uint16_t valNORM;
// Reference and tolerance of the flat window drawn at start-up and after Stop.
extern uint16_t ref10Bit, tol10Bit;
// The comparators' bounds, carried from sample to sample for the whole run.
extern uint16_t refTHD, upTHD, lowTHD;
// The two outputs as their lamps show them for the newest sample (1 on, 0 off).
extern int refOutput, tolOutput;

// Appends the sample of `raw` (measured value, channel A, channel B) to
// `window`, plots the window, shows the value and sets both indicators.
void PlotNORMValues(const uint16_t* raw, double* window);
// Fills every sample of arrayNORM with (ref + tol, ref - tol, ref, value),
// computed in signed 32 bits; draws nothing.
void FillarrayNORM(int32_t tol, int32_t ref, int32_t value);
// The comparators for the measured value `v`: update their bounds and set
// LedREF and LedTOL.
void SetREFLed(int32_t v);
void SetTOLLed(int32_t v);

}  // namespace orv
