#include "runtime/core/diag.h"

// Off unless switched on through QT_LOGGING_RULES.
Q_LOGGING_CATEGORY(lcLine, "orvanscope.line", QtWarningMsg)

#include <QByteArray>
#include <QString>

#include <algorithm>

#include "runtime/rtcore.h"

void LineLogVerdict(int port, int verdict, const char* bytes, int count, unsigned request) {
    if (!lcLine().isDebugEnabled())
        return;
    QString what;
    switch (verdict) {
        case LINE_REPLY:
            what = QStringLiteral("reply to #%1").arg(request);
            break;
        case LINE_NOTIFIED:
            what = QStringLiteral("taken by the notification");
            break;
        case LINE_LATE:
            what = QStringLiteral("late reply to #%1, dropped").arg(request);
            break;
        case LINE_NOISE:
            what = QStringLiteral("noise, %1 bytes dropped").arg(count);
            break;
        case LINE_AMBIGUOUS:
            what = QStringLiteral("no whole frames, %1 bytes dropped").arg(count);
            break;
        case LINE_CUT:
            what = QStringLiteral("frame cut short, %1 bytes dropped").arg(count);
            break;
        case LINE_REQUEST:
            what = QStringLiteral("request #%1").arg(request);
            break;
        default:
            what = QStringLiteral("verdict %1").arg(verdict);
            break;
    }
    const int shown = bytes ? std::clamp(count, 0, 36) : 0;
    QString line = QStringLiteral("COM%1 %2").arg(port).arg(what);
    if (shown > 0)
        line += QStringLiteral(": ") + QString::fromLatin1(QByteArray(bytes, shown).toHex(' ').toUpper());
    if (shown < count && bytes)
        line += QStringLiteral(" …");
    qCDebug(lcLine).noquote() << line;
}
