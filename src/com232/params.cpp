// The sixteen parameter variables, the block `pp` and the copies between them.
#include "com232/params.h"

#include <cstring>

namespace orv {

uint16_t power, powermode, reference, tolerance, backlimit, hysteresis, polarity, average, measure, memory,
    hold, linear, para12, para13, para14, para15;

std::array<int32_t, PNUM> pp{};

namespace {

// The variables in slot order: slot k of `pp`, of every frame and of the
// parameter file holds the variable at index k.
uint16_t* const slotVar[PNUM] = {&power,    &powermode, &reference, &tolerance, &backlimit, &hysteresis,
                                 &polarity, &average,   &measure,   &memory,    &hold,      &linear,
                                 &para12,   &para13,    &para14,    &para15};

const char* const slotNames[PNUM] = {
    "power",   "powermode", "reference", "tolerance", "backlimit", "hysteresis", "polarity", "average",
    "measure", "memory",    "hold",      "linear",    "para12",    "para13",     "para14",   "para15"};

}  // namespace

const char* SlotName(int32_t k) {
    return k >= 0 && k < PNUM ? slotNames[k] : "";
}

int32_t SlotIndex(const char* name) {
    if (name == nullptr)
        return -1;
    for (int32_t k = 0; k < PNUM; ++k) {
        if (std::strcmp(name, slotNames[k]) == 0)
            return k;
    }
    return -1;
}

void SetParameterDefaults() {
    power = 500;
    powermode = 1;
    reference = 512;
    tolerance = 128;
    backlimit = 10;
    hysteresis = 10;
    polarity = 1;
    average = 8;
    measure = 0;
    memory = 0;
    hold = 100;
    linear = 1;
    para12 = 0;
    para13 = 0;
    para14 = 0;
    para15 = 0;
}

void CopyVarsToPP() {
    // Zero-extended: a variable of 65535 goes into its slot as 65535, never as -1.
    for (int32_t k = 0; k < PNUM; ++k)
        pp[k] = static_cast<int32_t>(*slotVar[k]);
}

void CopyPPtoVars() {
    // Only the low 16 bits of a slot are kept; higher bits are dropped unchecked.
    for (int32_t k = 0; k < PNUM; ++k)
        *slotVar[k] = static_cast<uint16_t>(static_cast<uint32_t>(pp[k]) & 0xFFFFu);
}

}  // namespace orv
