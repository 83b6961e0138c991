// Failure codes that the runtime's own functions return (all negative), for
// every implementation of the runtime: the real one and the one in memory.
// Toolkit-free; the program's own code never includes it.
#pragma once

namespace orv_rt {

constexpr int ERR_NO_ENGINE = -1;       // no engine started yet
constexpr int ERR_BAD_PANEL = -4;       // no panel with that handle
constexpr int ERR_BAD_CONTROL = -13;    // no such control, or not of a kind that takes this
constexpr int ERR_BAD_ATTRIBUTE = -14;  // an attribute the control does not have
constexpr int ERR_BAD_VALUE = -15;      // a value out of range, or a null buffer
constexpr int ERR_PANEL_FILE = -20;     // the panel file cannot be read
constexpr int ERR_TOO_LONG = -21;       // a path that does not fit MAX_PATHNAME_LEN

}  // namespace orv_rt
