// The hooks that a layer above the core installs around the core's waits,
// for every engine.
#include "runtime/core/core_internal.h"

namespace orv_rt {

namespace {

EventHooks g_hooks;

}  // namespace

void SetEventHooks(const EventHooks& hooks) {
    g_hooks = hooks;
}

void BeforeBlocking() {
    if (g_hooks.beforeBlocking)
        g_hooks.beforeBlocking();
}

void BeforeEvents() {
    if (g_hooks.beforeEvents)
        g_hooks.beforeEvents();
}

}  // namespace orv_rt
