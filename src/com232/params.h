// The sensor's sixteen parameter words: the variables, the parameter block
// `pp` that frames and files carry, and the copies between the two.
#pragma once

#include <array>
#include <cstdint>

namespace orv {

constexpr int32_t PNUM = 16;    // words in the parameter block / data words of a frame
constexpr int32_t RAWNUM = 3;   // raw words copied from a measurement reply
constexpr int32_t RAM = 1;      // target: the sensor's RAM
constexpr int32_t EEPROM = 2;   // target: the sensor's EEPROM
constexpr int32_t DATFILE = 3;  // target: a parameter file

constexpr uint16_t POWER_OFFSET = 250;  // the panel shows power less this

extern uint16_t power, powermode, reference, tolerance, backlimit, hysteresis, polarity, average, measure,
    memory, hold, linear, para12, para13, para14, para15;

extern std::array<int32_t, PNUM> pp;

// Sets the sixteen parameter variables to their defaults, in slot order.
void SetParameterDefaults();
void CopyVarsToPP();
void CopyPPtoVars();

// The name of slot k (0..15) as the variables are named, e.g. "power",
// "reference", "para12"; "" for an index outside the block.
const char* SlotName(int32_t k);
// The slot that `name` names (exact, lower case), or -1.
int32_t SlotIndex(const char* name);

}  // namespace orv
