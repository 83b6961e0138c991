// What the real panel showed, recorded by the test driver from outside the
// runtime, so that the shipped runtime keeps no state for tests:
//
// - Status texts come from the line log: the runtime writes every text it puts
//   on a status line there as "status: <text>". The driver keeps the line
//   log's debug messages switched on and takes them with a message handler of
//   its own; whatever else is logged goes on to the handler before it, and the
//   line log itself only when the logging rules ask for it.
// - The file dialog is looked at when it is shown: its title, directory,
//   proposed file, file types and the kind of its accept button.
//
// Both start with the application, before the program can show anything.
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "runtime/testing/recording.h"
#include "runtime/testing/rt_testing.h"

namespace rt_test {

namespace {

constexpr const char* kLineLog = "orvanscope.line";
constexpr QLatin1String kStatusPrefix("status: ");
// A scope running for hours shows a status per reply: only the newest texts
// are kept, between this many and twice as many.
constexpr std::size_t kStatusesKept = 4096;

struct Records {
    std::mutex mutex;  // a message may be logged on any thread
    std::vector<std::string> statuses;
    FileDialogInfo lastDialog;
    QtMessageHandler previousHandler = nullptr;
    QLoggingCategory::CategoryFilter previousFilter = nullptr;
    std::atomic<bool> lineLogWanted{false};  // the logging rules switch the line log on
};

// Never destroyed: messages may still be logged while the process exits.
Records& R() {
    static Records* records = new Records;
    return *records;
}

bool IsLineLog(const char* category) {
    return category && qstrcmp(category, kLineLog) == 0;
}

void FilterCategory(QLoggingCategory* category) {
    if (R().previousFilter)
        R().previousFilter(category);
    if (IsLineLog(category->categoryName())) {
        R().lineLogWanted = category->isDebugEnabled();
        category->setEnabled(QtDebugMsg, true);
    }
}

void HandleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtDebugMsg && IsLineLog(context.category)) {
        if (message.startsWith(kStatusPrefix)) {
            const std::string text = message.mid(kStatusPrefix.size()).toStdString();
            Records& r = R();
            const std::lock_guard<std::mutex> lock(r.mutex);
            if (r.statuses.size() >= 2 * kStatusesKept)
                r.statuses.erase(r.statuses.begin(), r.statuses.end() - static_cast<long>(kStatusesKept));
            r.statuses.push_back(text);
        }
        if (!R().lineLogWanted)
            return;
    }
    if (R().previousHandler)
        R().previousHandler(type, context, message);
}

// The file types a dialog offers, as the semicolon-separated list of patterns
// the program asked for; the "all files" entry the runtime adds is not one.
std::string OfferedTypes(const QFileDialog* dialog) {
    static const QRegularExpression patterns(QStringLiteral("\\(([^)]*)\\)"));
    for (const QString& entry : dialog->nameFilters()) {
        if (entry.startsWith(QLatin1String("All files")))
            continue;
        const QRegularExpressionMatch m = patterns.match(entry);
        const QString list = m.hasMatch() ? m.captured(1) : entry;
        return list.split(QLatin1Char(' '), Qt::SkipEmptyParts).join(QLatin1Char(';')).toStdString();
    }
    return {};
}

void RecordDialog(const QFileDialog* dialog) {
    FileDialogInfo info;
    info.title = dialog->windowTitle().toStdString();
    info.directory = dialog->directory().absolutePath().toStdString();
    if (const auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        info.defaultFile = name->text().toStdString();
    info.filter = OfferedTypes(dialog);
    info.button = dialog->acceptMode() == QFileDialog::AcceptOpen ? BUTTON_LOAD : BUTTON_OK;
    info.shown = true;
    const std::lock_guard<std::mutex> lock(R().mutex);
    R().lastDialog = info;
}

// Looks at every file dialog as it is shown.
class DialogWatcher : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* obj, QEvent* ev) override {
        if (ev->type() == QEvent::Show)
            if (const auto* dialog = qobject_cast<QFileDialog*>(obj))
                RecordDialog(dialog);
        return false;
    }
};

void StartRecording() {
    Records& r = R();
    r.previousHandler = qInstallMessageHandler(HandleMessage);
    r.previousFilter = QLoggingCategory::installFilter(FilterCategory);
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(new DialogWatcher(app));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartRecording)

void ForgetRecords() {
    const std::lock_guard<std::mutex> lock(R().mutex);
    R().statuses.clear();
    R().lastDialog = {};
}

FileDialogInfo LastFileDialog() {
    const std::lock_guard<std::mutex> lock(R().mutex);
    return R().lastDialog;
}

std::vector<std::string> TakeStatusHistory() {
    std::vector<std::string> out;
    const std::lock_guard<std::mutex> lock(R().mutex);
    out.swap(R().statuses);
    return out;
}

}  // namespace rt_test
