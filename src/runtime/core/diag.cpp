#include "runtime/core/diag.h"

#include <QByteArray>
#include <QString>
#include <cstring>

#include "runtime/core/trace.h"
#include "runtime/rtcore.h"

// Off unless switched on through QT_LOGGING_RULES or TraceLineToStderr.
Q_LOGGING_CATEGORY(lcLine, "orvanscope.line", QtWarningMsg)

namespace {

QtMessageHandler gPreviousHandler = nullptr;

// The line log's lines, stamped and written whole; every other message goes
// where it went before.
void TraceHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (context.category == nullptr || std::strcmp(context.category, lcLine().categoryName()) != 0) {
        if (gPreviousHandler != nullptr)
            gPreviousHandler(type, context, message);
        return;
    }
    orv_rt::WriteTraceLine(message.toLocal8Bit().toStdString());
}

}  // namespace

void TraceLineToStderr(int port, const char* name) {
    orv_rt::StartTrace(port, name);
    QLoggingCategory::setFilterRules(QStringLiteral("orvanscope.line.debug=true"));
    gPreviousHandler = qInstallMessageHandler(TraceHandler);
}
