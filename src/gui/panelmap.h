// The eight panel-mapped parameters: panel to variables and back.
#pragma once

namespace orv {

void GetPanelValues();
void SetPanelValues();

}  // namespace orv
