// The status history window: every text a status line showed, with its time,
// errors marked (a sign, red, and "error" for screen readers), repeats of a
// text counted in one row; it follows the status line while it is open. Copy
// and Save give its rows as text. Private to src/runtime/panel.
#pragma once

#include <QLabel>
#include <QTreeWidget>
#include <QWidget>

#include <cstdint>

#include "runtime/model/panel_model.h"

namespace orv_rt {

class StatusHistoryWindow : public QWidget {
  public:
    StatusHistoryWindow(QWidget* owner, int panel, int control);
    // Takes what the status line's history holds now.
    void refresh();

  private:
    const Control* control() const;
    void fill(QTreeWidgetItem* row, const StatusEntry& e) const;
    QString text(bool selectedOnly) const;

    int panel_, control_;
    QTreeWidget* list_;
    QLabel* note_;
    std::uint64_t lastSerial_ = 0;  // the entry of the last row
};

// The window of status line `c` of `panel`, if it is open: takes the
// history's changes.
void StatusHistoryChanged(int panel, const Control& c);

}  // namespace orv_rt
