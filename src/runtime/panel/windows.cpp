#include "runtime/panel/windows.h"

#include <QClipboard>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeySequence>
#include <QShortcut>

#include <array>

#include "runtime/files/panelfile.h"
#include "runtime/runtime.h"

namespace orv_rt {

void MakeOwnWindow(QWidget* w, QWidget* owner, const QString& title) {
    w->setParent(owner, Qt::Window);
    w->setWindowTitle(title);
    w->setAccessibleName(title);
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), w);
    QObject::connect(close, &QShortcut::activated, w, &QWidget::close);
}

QPushButton* Button(QWidget* parent, const QString& text, const QString& name, const QString& tip) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAccessibleName(name);
    b->setAccessibleDescription(tip);
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

void CopyText(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

void SaveText(const QString& title, const QString& prefix, const QString& text, QLabel* note) {
    std::array<char, MAX_PATHNAME_LEN> dir{}, path{};
    GetProjectDir(dir.data());
    const QString proposed = prefix +
                             QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmmss")) +
                             QStringLiteral(".txt");
    if (FileSelectPopup(dir.data(), proposed.toLocal8Bit().constData(), "*.txt", title.toUtf8().constData(),
                        BUTTON_OK, 0, 0, 1, 1, path.data()) <= 0)
        return;
    const QString name = QFileInfo(QString::fromLocal8Bit(path.data())).fileName();
    const QByteArray bytes = text.toUtf8();
    const bool ok =
        ReplaceFile(path.data(), std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()))) == 0;
    note->setText(ok ? QStringLiteral("%1 saved").arg(name) : QStringLiteral("Cannot write %1").arg(name));
}

void Raise(QWidget* w) {
    w->show();
    w->raise();
    w->activateWindow();
}

}  // namespace orv_rt
