// How assistive tools see the panel's own kinds of controls.
#pragma once

namespace orv_rt {

// Installs the accessible interfaces of the panel's controls whose toolkit
// defaults would mislead a screen reader: the target radio buttons (plain
// toggles here, which the toolkit would announce as check boxes), the lamps
// and the strip chart. Safe to call again.
void InstallAccessibleFactory();

}  // namespace orv_rt
