#include "runtime/core/diag.h"

#include <QByteArray>
#include <QString>
#include <QTime>
#include <cstdio>
#include <cstring>

#include "runtime/rtcore.h"

// Off unless switched on through QT_LOGGING_RULES or TraceLineToStderr.
Q_LOGGING_CATEGORY(lcLine, "orvanscope.line", QtWarningMsg)

namespace {

QtMessageHandler gPreviousHandler = nullptr;
QString gTraceLabel;  // "COM<n> " of the port renamed in the trace
QString gTraceName;   // the name it is given there

// The line log's lines, stamped and written whole; every other message goes
// where it went before.
void TraceHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (context.category == nullptr || std::strcmp(context.category, lcLine().categoryName()) != 0) {
        if (gPreviousHandler != nullptr)
            gPreviousHandler(type, context, message);
        return;
    }
    QString text = message;
    if (!gTraceName.isEmpty() && text.startsWith(gTraceLabel))
        text = gTraceName + QLatin1Char(' ') + text.mid(gTraceLabel.size());
    const QByteArray line =
        (QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + text + QLatin1Char('\n'))
            .toLocal8Bit();
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
}

}  // namespace

void TraceLineToStderr(int port, const char* name) {
    gTraceLabel = QStringLiteral("COM%1 ").arg(port);
    gTraceName = QString::fromLocal8Bit(name != nullptr ? name : "");
    QLoggingCategory::setFilterRules(QStringLiteral("orvanscope.line.debug=true"));
    gPreviousHandler = qInstallMessageHandler(TraceHandler);
}
