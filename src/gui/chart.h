// The live chart window (100 samples of four traces) and the two switching
// indicators with hysteresis.
#pragma once

#include <array>
#include <cstdint>

namespace orv {

constexpr int NORM_SAMPLES = 100;
constexpr int NORM_TRACES = 4;
constexpr int NORM_LEN = NORM_SAMPLES * NORM_TRACES;  // 400
constexpr int RAW_LEN = 200;
constexpr int CHART_POINTS_PER_SCREEN = 101;
constexpr int COLOR_BLACK = 0x000000;
constexpr int COLOR_RED = 0xFF0000;

extern std::array<double, NORM_LEN> arrayNORM;
extern std::array<double, RAW_LEN> arrayRAW;

extern uint16_t valNORM, upTHR, loTHR, valREF, adcCHA, adcCHB;
extern uint16_t ref10Bit, tol10Bit;
extern uint16_t refTHD, upTHD, lowTHD;

void PlotNORMValues(const uint16_t* raw, double* window);
void FillarrayNORM(int32_t tol, int32_t ref, int32_t value);
void FillarrayRAW(int32_t first, int32_t second);
void SetREFLed(int32_t v);
void SetTOLLed(int32_t v);

}  // namespace orv
