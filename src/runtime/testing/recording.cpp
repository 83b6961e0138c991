// What the real panel showed, recorded by the test driver, so that the
// shipped runtime keeps no state for tests:
//
// - The panel model keeps the texts put on status lines once the driver asks
//   for them.
// - The file dialog is looked at when it is shown: its title, directory,
//   proposed file, file types and the kind of its accept button.
//
// Both start with the application, before the program can show anything.
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStringList>

#include <string>

#include "runtime/model/panel_model.h"
#include "runtime/testing/recording.h"
#include "runtime/testing/rt_testing.h"

namespace rt_test {

namespace {

FileDialogInfo& Shown() {
    static FileDialogInfo last;
    return last;
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
    Shown() = info;
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
    orv_rt::RecordStatusLines(true);
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(new DialogWatcher(app));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartRecording)

void ForgetRecords() {
    orv_rt::TakeStatusLines();
    Shown() = {};
}

FileDialogInfo LastFileDialog() {
    return Shown();
}

}  // namespace rt_test
