#include "runtime/panel/statushistory.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QPointer>
#include <QScrollBar>
#include <QSet>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

#include <iterator>

#include "runtime/line/linelog.h"
#include "runtime/panel/panel_parts.h"
#include "runtime/panel/windows.h"

#include <map>
#include <utility>

namespace orv_rt {

namespace {

constexpr QRgb ERROR_RED = 0xB00000;

// The open windows by panel and status line; a window goes with its panel.
std::map<std::pair<int, int>, QPointer<StatusHistoryWindow>>& Windows() {
    static std::map<std::pair<int, int>, QPointer<StatusHistoryWindow>> w;
    return w;
}

StatusHistoryWindow* WindowOf(int panel, int control) {
    const auto it = Windows().find({panel, control});
    return it == Windows().end() ? nullptr : it->second.data();
}

QString Repeats(const StatusEntry& e) {
    return e.count > 1 ? QStringLiteral("%1 times, last %2")
                             .arg(e.count)
                             .arg(QString::fromStdString(orv_line::ClockText(e.lastMs)))
                       : QString();
}

}  // namespace

StatusHistoryWindow::StatusHistoryWindow(QWidget* owner, int panel, int control)
    : panel_(panel), control_(control), list_(new QTreeWidget(this)), note_(new QLabel(this)) {
    MakeOwnWindow(this, owner, QStringLiteral("Status history"));
    list_->setObjectName(QStringLiteral("statusHistoryList"));
    list_->setAccessibleName(QStringLiteral("Status messages"));
    list_->setAccessibleDescription(QStringLiteral("Every text shown on the status line, oldest first"));
    list_->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Message"), QStringLiteral("Repeated")});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 100);
    list_->setColumnWidth(1, 380);

    QPushButton* copy = Button(this, QStringLiteral("&Copy"), QStringLiteral("Copy"),
                               QStringLiteral("Copy the selected messages, or all of them, as text"));
    QPushButton* save = Button(this, QStringLiteral("&Save..."), QStringLiteral("Save"),
                               QStringLiteral("Save all messages as a text file"));
    QPushButton* close = Button(this, QStringLiteral("Close"), QStringLiteral("Close"),
                                QStringLiteral("Close the status history"));
    QObject::connect(copy, &QPushButton::clicked, this, [this] { CopyText(text(true)); });
    QObject::connect(save, &QPushButton::clicked, this, [this] {
        SaveText(QStringLiteral("Save status history"), QStringLiteral("KXstatus"), text(false), note_);
    });
    QObject::connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* copyKey = new QShortcut(QKeySequence::Copy, list_, nullptr, nullptr, Qt::WidgetShortcut);
    QObject::connect(copyKey, &QShortcut::activated, this, [this] { CopyText(text(true)); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(note_, 1);
    buttons->addWidget(copy);
    buttons->addWidget(save);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    resize(720, 420);
    refresh();
}

const Control* StatusHistoryWindow::control() const {
    return FindControl(panel_, control_);
}

void StatusHistoryWindow::fill(QTreeWidgetItem* row, const StatusEntry& e) const {
    row->setText(0, QString::fromStdString(orv_line::ClockText(e.firstMs)));
    row->setText(1, QString::fromStdString(e.text));
    row->setText(2, Repeats(e));
    row->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(e.serial));
    if (!e.error)
        return;
    row->setIcon(1, list_->style()->standardIcon(QStyle::SP_MessageBoxCritical));
    for (int col = 0; col < 3; ++col) {
        row->setForeground(col, QColor(ERROR_RED));
        row->setData(col, Qt::AccessibleDescriptionRole, QStringLiteral("error"));
    }
}

void StatusHistoryWindow::refresh() {
    const Control* c = control();
    if (!c)
        return;
    const bool atEnd = list_->verticalScrollBar()->value() == list_->verticalScrollBar()->maximum();
    // Only the newest entries are new: found from the end, not by a pass over
    // the whole history for every text the scope shows.
    auto from = c->history.end();
    while (from != c->history.begin() && std::prev(from)->serial >= lastSerial_)
        --from;
    for (auto it = from; it != c->history.end(); ++it) {
        const StatusEntry& e = *it;
        if (e.serial == lastSerial_ && list_->topLevelItemCount() > 0) {
            fill(list_->topLevelItem(list_->topLevelItemCount() - 1), e);  // counted again, or marked
            continue;
        }
        auto* row = new QTreeWidgetItem;
        fill(row, e);
        list_->addTopLevelItem(row);
        lastSerial_ = e.serial;
    }
    while (static_cast<std::size_t>(list_->topLevelItemCount()) > kStatusHistoryKept)
        delete list_->takeTopLevelItem(0);
    if (atEnd)
        list_->scrollToBottom();
}

QString StatusHistoryWindow::text(bool selectedOnly) const {
    QString out = QString::fromStdString(StatusHistoryHeader()) + QLatin1Char('\n');
    QSet<qulonglong> chosen;
    if (selectedOnly)
        for (const QTreeWidgetItem* row : list_->selectedItems())
            chosen.insert(row->data(0, Qt::UserRole).toULongLong());
    if (const Control* c = control())
        for (const StatusEntry& e : c->history)
            if (chosen.isEmpty() || chosen.contains(e.serial))
                out += QString::fromStdString(StatusEntryLine(e)) + QLatin1Char('\n');
    return out;
}

void StatusHistoryChanged(int panel, const Control& c) {
    if (StatusHistoryWindow* w = WindowOf(panel, c.id); w && w->isVisible())
        w->refresh();
}

namespace face {

void ShowStatusHistory(Panel& p, Control& c) {
    StatusHistoryWindow* w = WindowOf(p.handle, c.id);
    if (!w) {
        w = new StatusHistoryWindow(static_cast<QWidget*>(p.view), p.handle, c.id);
        Windows()[{p.handle, c.id}] = w;
    }
    w->refresh();
    Raise(w);
}

}  // namespace face

}  // namespace orv_rt
