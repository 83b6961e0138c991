#include "runtime/panel/lineview.h"

#include <QFontDatabase>
#include <QGlyphRun>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QPainter>
#include <QPointer>
#include <QRawFont>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <vector>

#include "runtime/model/panel_model.h"
#include "runtime/panel/windows.h"
#include "runtime/rtcore.h"

namespace orv_rt {

namespace {

constexpr int POLL_MS = 500;

// The rows of a dropped frame, and the line's own events, stand out.
constexpr QRgb DROPPED = 0xA03000;
constexpr QRgb EVENT = 0x205080;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Draws a cell's text as a run of glyphs placed side by side. The view's font
// is a fixed-width one and the cells hold plain ASCII (hex, numbers, verdicts),
// so no text needs shaping: the toolkit's own item drawing shapes every text
// again on every paint, and even shaping each new cell once made the open view
// cost the running scope about a percent of a core. A cell with other
// characters (a device path) is drawn as usual.
class FrameCells : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const override {
        const bool selected = opt.state & QStyle::State_Selected;
        if (selected)
            p->fillRect(opt.rect, opt.palette.highlight());
        const QVariant colour = index.data(Qt::ForegroundRole);
        p->setPen(selected           ? opt.palette.highlightedText().color()
                  : colour.isValid() ? colour.value<QColor>()
                                     : opt.palette.text().color());
        const QString text = index.data(Qt::DisplayRole).toString();
        const QRect area = opt.rect.adjusted(3, 0, -3, 0);
        if (!drawGlyphs(p, opt.font, area, text)) {
            p->setFont(opt.font);
            p->drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
        }
        if (opt.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(opt);
            focus.backgroundColor = opt.palette.color(selected ? QPalette::Highlight : QPalette::Base);
            opt.widget->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, p, opt.widget);
        }
    }

  private:
    static constexpr int FIRST = 32, LAST = 126;  // the printable ASCII characters

    // The glyphs of `text` in `area`, as many as fit; false when a character
    // has no glyph of its own here.
    bool drawGlyphs(QPainter* p, const QFont& font, const QRect& area, const QString& text) const {
        if (font != font_) {
            font_ = font;
            raw_ = QRawFont::fromFont(font);
            QString all;
            for (int c = FIRST; c <= LAST; ++c)
                all += QLatin1Char(static_cast<char>(c));
            const QList<quint32> glyphs = raw_.isValid() ? raw_.glyphIndexesForString(all) : QList<quint32>();
            // Placed at the font's own advances, those the columns are measured in.
            const QFontMetrics metrics(font);
            valid_ = glyphs.size() == all.size();
            for (int i = 0; valid_ && i < glyphs.size(); ++i) {
                glyph_[static_cast<std::size_t>(i)] = glyphs[i];
                advance_[static_cast<std::size_t>(i)] = metrics.horizontalAdvance(all[i]);
            }
        }
        if (!valid_)
            return false;
        indexes_.clear();
        positions_.clear();
        qreal x = 0;
        for (const QChar ch : text) {
            const int c = ch.unicode();
            if (c < FIRST || c > LAST)
                return false;
            const auto at = static_cast<std::size_t>(c - FIRST);
            if (x + advance_[at] > area.width())
                break;
            indexes_.append(glyph_[at]);
            positions_.append(QPointF(x, 0));
            x += advance_[at];
        }
        if (indexes_.isEmpty())
            return true;
        QGlyphRun run;
        run.setRawFont(raw_);
        run.setGlyphIndexes(indexes_);
        run.setPositions(positions_);
        const qreal baseline =
            area.top() + (area.height() - raw_.ascent() - raw_.descent()) / 2 + raw_.ascent();
        p->drawGlyphRun(QPointF(area.left(), baseline), run);
        return true;
    }

    mutable QFont font_;
    mutable QRawFont raw_;
    mutable bool valid_ = false;
    mutable std::array<quint32, LAST - FIRST + 1> glyph_{};
    mutable std::array<qreal, LAST - FIRST + 1> advance_{};
    mutable QList<quint32> indexes_;  // kept between paints: no allocation per cell
    mutable QList<QPointF> positions_;
};

}  // namespace

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

int LineTable::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int LineTable::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Columns;
}

QVariant LineTable::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& r = row(index.row());
    if (role == Qt::ForegroundRole) {
        const int v = r.entry.verdict;
        if (v == orv_line::kLineEvent)
            return QColor(EVENT);
        if (v == LINE_LATE || v == LINE_NOISE || v == LINE_AMBIGUOUS || v == LINE_CUT)
            return QColor(DROPPED);
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    return r.cells[static_cast<std::size_t>(index.column())];
}

QVariant LineTable::headerData(int section, Qt::Orientation orientation, int role) const {
    static const std::array<const char*, Columns> names = {
        "Time", "Port", "Dir", "What the program made of it", "Sync", "Order", "Data words", "Bytes"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= Columns)
        return {};
    return QString::fromLatin1(names[static_cast<std::size_t>(section)]);
}

void LineTable::add(std::vector<Row>& rows) {
    if (rows.empty())
        return;
    // The oldest rows go first, in one step, as far as they are shown.
    const std::size_t drop = std::min(all_.size(), all_.size() + rows.size() > orv_line::kLogKept
                                                       ? all_.size() + rows.size() - orv_line::kLogKept
                                                       : std::size_t{0});
    if (drop > 0) {
        const std::uint64_t lastDropped = all_[drop - 1].serial;
        std::size_t shownDropped = 0;
        while (shownDropped < shown_.size() && shown_[shownDropped]->serial <= lastDropped)
            ++shownDropped;
        if (shownDropped > 0) {
            beginRemoveRows({}, 0, static_cast<int>(shownDropped) - 1);
            shown_.erase(shown_.begin(), shown_.begin() + static_cast<long>(shownDropped));
            endRemoveRows();
        }
        all_.erase(all_.begin(), all_.begin() + static_cast<long>(drop));
    }
    std::vector<const Row*> passing;
    for (Row& r : rows) {
        r.serial = ++added_;
        all_.push_back(std::move(r));
        if (filter_ < 0 || all_.back().order == filter_)
            passing.push_back(&all_.back());
    }
    rows.clear();
    if (passing.empty())
        return;
    const int at = static_cast<int>(shown_.size());
    beginInsertRows({}, at, at + static_cast<int>(passing.size()) - 1);
    shown_.insert(shown_.end(), passing.begin(), passing.end());
    endInsertRows();
}

namespace {

LineTable::Row MakeRow(const orv_line::LineEntry& e) {
    LineTable::Row r;
    r.entry = e;
    const orv_line::EntryText t = orv_line::Describe(e);
    r.cells = {Q(t.time), Q(t.port), Q(t.dir), Q(t.what), Q(t.sync), Q(t.order), Q(t.data), Q(t.hex)};
    if (const orv_line::FrameWords w = orv_line::Decode(e); w.whole)
        r.order = w.order;
    return r;
}

}  // namespace

int LineTable::fetch() {
    const std::uint64_t total = orv_line::LogTotal();
    if (next_ > total)
        return 0;
    std::vector<Row> rows;
    // Entries that left the log before they were taken (a long pause).
    const std::uint64_t oldest = total > orv_line::kLogKept ? total - orv_line::kLogKept + 1 : 1;
    if (next_ < oldest) {
        orv_line::LineEntry gap;
        gap.wallMs = orv_line::WallMs();
        gap.text = std::to_string(oldest - next_) + " entries left the log before they were shown";
        rows.push_back(MakeRow(gap));
        next_ = oldest;
    }
    orv_line::LineEntry e;
    for (; next_ <= total; ++next_) {
        if (!orv_line::LogEntry(next_, &e))
            continue;
        rows.push_back(MakeRow(e));
        if (rows.back().order >= 0)
            orders_.insert(rows.back().order);
    }
    const int taken = static_cast<int>(rows.size());
    add(rows);
    return taken;
}

void LineTable::setFilter(int order) {
    if (order == filter_)
        return;
    beginResetModel();
    filter_ = order;
    shown_.clear();
    for (const Row& r : all_)
        if (filter_ < 0 || r.order == filter_)
            shown_.push_back(&r);
    endResetModel();
}

// ---------------------------------------------------------------------------
// The window
// ---------------------------------------------------------------------------

LineView::LineView(QWidget* owner)
    : view_(new QTableView(this)), pause_(nullptr), filter_(new QComboBox(this)), note_(new QLabel(this)) {
    MakeOwnWindow(this, owner, QStringLiteral("Line view"));
    setObjectName(QStringLiteral("lineView"));

    pause_ = Button(this, QStringLiteral("&Pause"), QStringLiteral("Pause"),
                    QStringLiteral("Stop taking new entries, to read what is shown"));
    pause_->setCheckable(true);
    auto* orderLabel = new QLabel(QStringLiteral("&Order"), this);
    orderLabel->setBuddy(filter_);
    filter_->setObjectName(QStringLiteral("lineViewOrder"));
    filter_->setAccessibleName(QStringLiteral("Order"));
    filter_->setAccessibleDescription(QStringLiteral("Show only the frames with this order word"));
    filter_->setToolTip(filter_->accessibleDescription());
    filter_->addItem(QStringLiteral("All"), -1);
    QPushButton* copy = Button(this, QStringLiteral("&Copy"), QStringLiteral("Copy"),
                               QStringLiteral("Copy the selected rows, or all rows shown, as text"));
    QPushButton* save = Button(this, QStringLiteral("&Save..."), QStringLiteral("Save"),
                               QStringLiteral("Save all rows shown as a text file"));

    view_->setObjectName(QStringLiteral("lineViewTable"));
    view_->setAccessibleName(QStringLiteral("Frames"));
    view_->setAccessibleDescription(
        QStringLiteral("Every frame sent and received, with what the program made of it, oldest first"));
    view_->setModel(&table_);
    view_->setItemDelegate(new FrameCells(view_));
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setWordWrap(false);
    view_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view_->verticalHeader()->hide();
    view_->horizontalHeader()->setStretchLastSection(true);
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 4);
    const int ch = view_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    // Characters a column takes: the data words of a usual frame, and all 36
    // bytes, are seen whole without scrolling.
    const std::array<int, LineTable::Columns> widths = {13, 6, 4, 30, 8, 6, 52, 111};
    int tableWidth = 0;
    for (int col = 0; col < LineTable::Columns; ++col) {
        view_->setColumnWidth(col, widths[static_cast<std::size_t>(col)] * ch);
        tableWidth += view_->columnWidth(col);
    }

    QObject::connect(pause_, &QPushButton::toggled, this, [this](bool on) {
        pause_->setText(on ? QStringLiteral("&Resume") : QStringLiteral("&Pause"));
        pause_->setAccessibleName(on ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        note_->setText(on ? QStringLiteral("Paused: new frames are taken when you resume") : QString());
        if (!on)
            poll();
    });
    QObject::connect(filter_, &QComboBox::currentIndexChanged, this, [this](int i) {
        table_.setFilter(filter_->itemData(i).toInt());
        view_->scrollToBottom();
    });
    QObject::connect(copy, &QPushButton::clicked, this, [this] { CopyText(text(true)); });
    QObject::connect(save, &QPushButton::clicked, this, [this] {
        SaveText(QStringLiteral("Save line view"), QStringLiteral("KXline"), text(false), note_);
    });
    auto* copyKey = new QShortcut(QKeySequence::Copy, view_, nullptr, nullptr, Qt::WidgetShortcut);
    QObject::connect(copyKey, &QShortcut::activated, this, [this] { CopyText(text(true)); });

    auto* bar = new QHBoxLayout;
    bar->addWidget(pause_);
    bar->addSpacing(12);
    bar->addWidget(orderLabel);
    bar->addWidget(filter_);
    bar->addStretch(1);
    bar->addWidget(copy);
    bar->addWidget(save);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    layout->addWidget(note_);
    // Wide enough for every column, as far as the screen allows.
    const int frame = 2 * view_->frameWidth() + view_->verticalScrollBar()->sizeHint().width() + 2 * 12;
    int width = tableWidth + frame;
    if (const QScreen* screen = owner ? owner->screen() : nullptr)
        width = std::min(width, screen->availableGeometry().width() - 40);
    resize(width, 560);

    timer_.setInterval(POLL_MS);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    timer_.start();
    poll();
}

void LineView::poll() {
    if (!isVisible() || pause_->isChecked())
        return;
    QScrollBar* bar = view_->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    if (table_.fetch() == 0)
        return;
    offerOrders();
    if (following)
        view_->scrollToBottom();
}

// The filter offers every order word seen, in order.
void LineView::offerOrders() {
    int at = 1;
    for (int order : table_.orders()) {
        if (at < filter_->count() && filter_->itemData(at).toInt() == order) {
            ++at;
            continue;
        }
        filter_->insertItem(at++, QString::number(order), order);
    }
}

QString LineView::text(bool selectedOnly) const {
    QString out = Q(orv_line::FormatHeader()) + QLatin1Char('\n');
    const QModelIndexList chosen = selectedOnly ? view_->selectionModel()->selectedRows() : QModelIndexList();
    if (!chosen.isEmpty()) {
        std::vector<int> rows;
        for (const QModelIndex& i : chosen)
            rows.push_back(i.row());
        std::sort(rows.begin(), rows.end());
        for (int r : rows)
            out += Q(orv_line::FormatEntry(table_.row(r).entry)) + QLatin1Char('\n');
        return out;
    }
    for (int r = 0; r < table_.rowCount(); ++r)
        out += Q(orv_line::FormatEntry(table_.row(r).entry)) + QLatin1Char('\n');
    return out;
}

namespace face {

void ShowLineView(Panel& p) {
    static QPointer<LineView> view;
    if (!view || view->parentWidget() != p.view)
        view = new LineView(static_cast<QWidget*>(p.view));
    Raise(view);
    view->poll();
}

}  // namespace face

}  // namespace orv_rt
