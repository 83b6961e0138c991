// Internal interface of the memory runtime: the virtual clock and its events,
// and the hooks between the parts (the panels are the panel model's,
// runtime/model). Nothing here is seen by the program or by tests.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "runtime/runtime.h"

namespace orv_mem {

constexpr double kNever = std::numeric_limits<double>::infinity();
// With nothing due, one step of event processing waits at most this long.
constexpr double kMaxStepMs = 10.0;

// ---------------------------------------------------------------------------
// Clock and events
// ---------------------------------------------------------------------------

// The virtual clock, in ms. It only moves forward.
double NowMs();
void AdvanceTo(double ms);

// One step of event processing, as ProcessSystemEvents does it: runs what is
// due now; with nothing due, first moves the clock to the next event, by at
// most kMaxStepMs and never past `limitMs`.
void Step(double limitMs = kNever);

// Runs `action` from the event processing once the clock reaches `atMs`.
void Schedule(double atMs, std::function<void()> action);
void DropScheduled();

// ---------------------------------------------------------------------------
// Serial ports (hooks for the event processing)
// ---------------------------------------------------------------------------

// Brings every open port up to the clock: bytes that have arrived join its
// input queue, and a line that has closed leaves the port dead.
void SerialPoll();
// When a port's line next changes (bytes arriving, the line closing).
double SerialNextMs();
// Whether a receive notification, or the closing of a dead port, is due.
bool SerialDue();
// Delivers what SerialDue reports, each port at most once.
void SerialRun();
// Whether bytes are still on their way to any open port.
bool SerialBusy();
void CloseAllPorts();

}  // namespace orv_mem
