// Diagnostics for service technicians: every frame sent and received (hex) and
// every status-line text (as "status: <text>"), on standard error, when the
// logging category "orvanscope.line" is enabled
// (QT_LOGGING_RULES="orvanscope.line.debug=true"), or with each line stamped
// with the time after TraceLineToStderr (rtcore.h, "Line log").
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcLine)
