// The live scope: Run polls the sensor with measurement requests, one
// outstanding at a time, and plots every reply until Stop or a silent line.
#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "com232/session.h"
#include "gui/chart.h"
#include "gui/status.h"

namespace orv {

int32_t stop_flag = 1;

namespace {

// The scope's measurement request on the line (0: none went out), and whether
// a command that disturbed the line asks for a fresh one.
uint32_t scopeRequest = 0;
uint32_t scopeBefore = 0;  // the request before it, whose reply may not be plotted yet
bool scopeResend = false;

void NextRequest() {
    scopeBefore = scopeRequest;
    scopeRequest = SendMeasureRequest(com);
}

// What the time-out and Stop both do: the flags cleared, both queues flushed,
// Run usable again, the timer off and the recording handed to the system.
void EndRun() {
    rx_flag = 0;
    FlushBothQueues(com);
    stop_flag = 1;
    StatusScopeRuns(false);
    graphrefresh = 0;
    SetCtrlAttribute(panelHandle, BTNRun, ATR_DIMMED, 0);
    SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 0);
    FlushRecording();
}

}  // namespace

void ResumeScope() {
    if (stop_flag == 0)
        scopeResend = true;
}

int CC_BTNRun(int, int, int event, void*, int, int) {
    if (event != EVT_COMMIT)
        return 0;

    rx_flag = 0;
    stop_flag = 0;
    scopeResend = false;
    // Run is another command: a failure shown so far gives way to the scope's
    // first sample (Run itself writes nothing to the status line).
    FailureGivesWay();
    StatusScopeRuns(true);
    SetCtrlAttribute(panelHandle, BTNRun, ATR_DIMMED, 1);
    ClearHistory();
    NextRequest();

    SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 1);
    ttick = 0;

    // Stop, the timer tick and the receive notification all run inside
    // ProcessSystemEvents; the flags they leave are tested after each pass.
    while (stop_flag == 0) {
        ProcessSystemEvents();
        // Stop in this pass refilled the window and ended the run: a sample
        // that came after it is left to the next Run, and no request follows.
        if (stop_flag != 0)
            break;
        ServiceRx();

        if (graphrefresh == 1) {
            SetCtrlVal(panelHandle, NumValue, static_cast<int>(pp[0]));
            PlotNORMValues(rawbuf.data(), arrayNORM.data());
            RecordSample();
            graphrefresh = 0;
        }

        // The next request goes out as soon as the reply is whole; the reply
        // itself reaches the chart once the line has shown that nothing
        // trails it.
        if (scopeResend || (scopeRequest != 0 && ReplyArrived(scopeRequest))) {
            if (scopeResend)
                GiveUpReply(scopeRequest);
            scopeResend = false;
            NextRequest();
            rx_flag = 0;
            ttick = 0;
        }

        if (ttick >= REPLY_TICKS) {
            StatusScopeRuns(false);
            ShowStatus("Timeout RS232-Line!");
            ttick = 0;
            // Its reply, should it come after all, answers nothing later.
            GiveUpReply(scopeRequest);
            scopeRequest = 0;
            EndRun();
            return 0;
        }
    }
    StatusScopeRuns(stop_flag == 0);  // a Run nested in this one may still run
    return 0;
}

void StopScope() {
    // The next request went out while the reply before it was still held
    // back: that reply is the one on its way at Stop, and the later one is
    // given up, as if it had never been sent.
    if (stop_flag == 0 && scopeBefore != 0 && ReplyWaiting(scopeBefore))
        GiveUpReply(scopeRequest);
    EndRun();
    FillarrayNORM(tol10Bit, ref10Bit, 0);
}

int CC_BTNStop(int, int, int event, void*, int, int) {
    if (event == EVT_COMMIT)
        StopScope();
    return 0;
}

// History on: the chart shows every sample since Run, scaled to fit; off: the
// live window of the last 100 again.
int CC_ChkHistory(int panel, int control, int event, void*, int, int) {
    if (event != EVT_COMMIT)
        return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    historyView = on != 0;
    PlotChartView();
    return 0;
}

}  // namespace orv
