// Internal interface of the runtime's core (engine start, event processing,
// blocking waits), shared with the panel half above it. The core never calls
// the panel: the panel installs hooks here instead. Qt-free.
#pragma once

#include "runtime/runtime_codes.h"

namespace orv_rt {

// What a layer above the core wants done around the core's waits.
struct EventHooks {
    // The program is about to block without processing events (Delay, a
    // serial read): whatever it changed should be shown first.
    void (*beforeBlocking)() = nullptr;
    // Events are about to be processed: whatever changed so far is shown by
    // that processing.
    void (*beforeEvents)() = nullptr;
};
void SetEventHooks(const EventHooks& hooks);
// Runs the hook of that name, if one is installed.
void BeforeBlocking();
void BeforeEvents();

// Called after a refresh of the serial port list changed what a port number
// shows (the panel relabels its port rings). One hook; nullptr removes it.
void SetPortListHook(void (*hook)());

// The arguments for a new application: the caller's, or a stand-in program
// name when it gave none. The count is kept for the rest of the process, as
// the application holds a reference to it.
int& ApplicationArgs(int argc, char**& argv);

// Starts the core once a QCoreApplication (or QApplication) exists: takes
// the project directory and makes ProcessSystemEvents work.
void StartCore();

}  // namespace orv_rt
