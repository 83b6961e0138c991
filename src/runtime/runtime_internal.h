// Internal interface of the widget runtime, shared by its parts, the test
// driver and white-box tests: the panel model and the widgets that show it.
// Qt-based; the program's own code never includes it.
#pragma once

#include <QWidget>

#include "runtime/core/core_internal.h"
#include "runtime/files/files_qt.h"
#include "runtime/model/panel_model.h"

namespace orv_rt {

inline QWidget* WidgetOf(const Control& c) {
    return static_cast<QWidget*>(c.view);
}
// The widget that shows a control, or nullptr.
QWidget* ControlWidget(int panel, int control);
// The window of a panel, or nullptr.
QWidget* PanelWindow(int panel);

}  // namespace orv_rt
