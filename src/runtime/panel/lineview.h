// The line view: the line log kept in memory (runtime/line/linelog.h) as a
// table, one row a frame or an event of the line, taken from the log twice a
// second while the window is open and not paused. It can be filtered
// by order word, copied and saved as text. Private to src/runtime/panel.
#pragma once

#include <QAbstractTableModel>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <deque>
#include <set>
#include <vector>

#include "runtime/line/linelog.h"

namespace orv_rt {

// The entries taken from the log (the newest orv_line::kLogKept), and those
// that pass the filter, which the table shows.
class LineTable : public QAbstractTableModel {
  public:
    enum Column { Time, Port, Dir, What, Sync, Order, Data, Bytes, Columns };
    struct Row {
        orv_line::LineEntry entry;
        std::array<QString, Columns> cells;  // as shown, made once
        int order = -1;                      // the order word of a whole frame, else -1
        std::uint64_t serial = 0;            // the table's own running number
    };

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Takes the entries written since the last call; returns how many.
    int fetch();
    // Shows only whole frames with order word `order`; -1 shows everything.
    void setFilter(int order);
    const Row& row(int i) const { return *shown_[static_cast<std::size_t>(i)]; }
    const std::set<int>& orders() const { return orders_; }

  private:
    // Appends rows, dropping the oldest beyond orv_line::kLogKept.
    void add(std::vector<Row>& rows);

    std::deque<Row> all_;
    std::deque<const Row*> shown_;
    std::uint64_t next_ = 1;  // the next entry of the log to take
    std::uint64_t added_ = 0;
    int filter_ = -1;
    std::set<int> orders_;  // order words seen
};

class LineView : public QWidget {
  public:
    explicit LineView(QWidget* owner);
    // Takes the new entries of the log, unless hidden or paused.
    void poll();

  private:
    void offerOrders();
    QString text(bool selectedOnly) const;

    LineTable table_;
    QTableView* view_;
    QPushButton* pause_;
    QComboBox* filter_;
    QLabel* note_;
    QTimer timer_;
};

}  // namespace orv_rt
