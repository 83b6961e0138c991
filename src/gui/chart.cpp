// STUB
#include "gui/chart.h"
namespace orv {
std::array<double, NORM_LEN> arrayNORM{};
std::array<double, RAW_LEN> arrayRAW{};
uint16_t valNORM, upTHR, loTHR, valREF, adcCHA, adcCHB;
uint16_t ref10Bit = 512, tol10Bit = 128;
uint16_t refTHD = 512, upTHD = 640, lowTHD = 384;
void PlotNORMValues(const uint16_t*, double*) {}
void FillarrayNORM(int32_t, int32_t, int32_t) {}
void FillarrayRAW(int32_t, int32_t) {}
void SetREFLed(int32_t) {}
void SetTOLLed(int32_t) {}
}  // namespace orv
