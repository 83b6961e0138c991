// The main panel's state, and the panel as the place where the core reports.
#include "gui/panel.h"

#include "com232/report.h"
#include "gui/status.h"

namespace orv {

int panelHandle = 0;
std::array<char, MAX_PATHNAME_LEN> proj_dir{};

namespace {

class PanelReport : public Report {
  public:
    void Status(const char* text) override { ShowOnStatusLine(text); }
    void WordCount(int32_t words) override { SetCtrlVal(panelHandle, NumValue, static_cast<int>(words)); }
};

PanelReport panelReport;

}  // namespace

void ReportToPanel() {
    SetReport(&panelReport);
    SetCtrlAttribute(panelHandle, TextStatus, ATR_MARK_KIND, MARK_ERROR);
}

}  // namespace orv
