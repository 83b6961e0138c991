// The file dialog: the toolkit's own (not the platform's), so that it looks and
// behaves the same everywhere.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include "runtime/panel/panel_parts.h"

using namespace orv_rt;

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec, const char* fileTypeList,
                    const char* title, int buttonLabel, int restrictDirectory, int restrictExtension,
                    int allowCancel, int allowMakeDirectory, char* pathName) {
    if (!pathName)
        return ERR_BAD_VALUE;
    State& s = S();
    if (!face::Ready())
        return ERR_NO_ENGINE;
    const QString dir = QFile::decodeName(defaultDirectory ? defaultDirectory : "");
    const QString file = QFile::decodeName(defaultFileSpec ? defaultFileSpec : "");
    const QString filter = QString::fromUtf8(fileTypeList ? fileTypeList : "");
    const QString caption = QString::fromUtf8(title ? title : "");

    QStringList patterns = filter.split(';', Qt::SkipEmptyParts);
    for (QString& pat : patterns)
        pat = pat.trimmed();
    QStringList nameFilters;
    if (!patterns.isEmpty())
        nameFilters << QStringLiteral("%1 (%2)").arg(patterns.join(' '), patterns.join(' '));
    if (!restrictExtension || nameFilters.isEmpty())
        nameFilters << QStringLiteral("All files (*)");

    QFileDialog dlg(QApplication::activeWindow(), caption, dir);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    dlg.setOption(QFileDialog::ReadOnly, !allowMakeDirectory);
    dlg.setNameFilters(nameFilters);
    if (buttonLabel == BUTTON_LOAD) {
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        dlg.setLabelText(QFileDialog::Accept, QStringLiteral("Load"));
    } else {
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        dlg.setLabelText(QFileDialog::Accept, QStringLiteral("OK"));
    }
    if (!file.isEmpty())
        dlg.selectFile(file);
    if (!allowCancel)
        for (QAbstractButton* b : dlg.findChildren<QAbstractButton*>())
            if (b->text().contains(QLatin1String("Cancel")))
                b->hide();
    if (restrictDirectory && !dir.isEmpty()) {
        // Keep the operator in the default directory.
        QObject::connect(&dlg, &QFileDialog::directoryEntered, &dlg, [&dlg, dir](const QString& d) {
            if (QDir(d) != QDir(dir))
                dlg.setDirectory(dir);
        });
    }
    dlg.setModal(true);

    int result = 0;
    {
        DepthGuard g;  // a quit asked for inside the dialog waits until it closes
        s.openDialog = &dlg;
        // A quit asked for before the dialog opened cancels it at once.
        result = QuitPending() ? QDialog::Rejected : dlg.exec();
        s.openDialog = nullptr;
    }
    const QString chosen = result == QDialog::Accepted && !dlg.selectedFiles().isEmpty()
                               ? QFileInfo(dlg.selectedFiles().constFirst()).absoluteFilePath()
                               : QString();
    return TakeChosenFile(chosen, dir, restrictDirectory != 0, pathName);
}
