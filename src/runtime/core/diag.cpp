#include "runtime/core/diag.h"

// Off unless switched on through QT_LOGGING_RULES.
Q_LOGGING_CATEGORY(lcLine, "orvanscope.line", QtWarningMsg)

