// STUB
#include "gui/panelmap.h"
namespace orv {
void GetPanelValues() {}
void SetPanelValues() {}
}  // namespace orv
