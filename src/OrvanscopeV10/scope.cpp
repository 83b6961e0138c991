// The live scope: Run polls the sensor with measurement requests, one
// outstanding at a time, and plots every reply until Stop or a silent line.
#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "gui/chart.h"

namespace orv {

int32_t stop_flag = 1;

int CC_BTNRun(int, int, int event, void*, int, int) {
    if (event != EVT_COMMIT)
        return 0;

    rx_flag = 0;
    stop_flag = 0;
    SetCtrlAttribute(panelHandle, BTNRun, ATR_DIMMED, 1);
    ClearHistory();

    CopyVarsToPP();
    FillTxBuf(ORD_MEASURE, pp.data());
    FlushBothQueues(com);
    nBytesW = ComWrt(com, szWriteBuf.data(), FRAME_LEN);

    SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 1);
    ttick = 0;

    // Stop, the timer tick and the receive notification all run inside
    // ProcessSystemEvents; the flags they leave are tested after each pass.
    while (stop_flag == 0) {
        ProcessSystemEvents();
        ServiceRx();

        if (graphrefresh == 1) {
            SetCtrlVal(panelHandle, NumValue, static_cast<int>(pp[0]));
            PlotNORMValues(rawbuf.data(), arrayNORM.data());
            RecordSample();
            graphrefresh = 0;
        }

        if (rx_flag == 1) {
            CopyVarsToPP();
            FillTxBuf(ORD_MEASURE, pp.data());
            FlushBothQueues(com);
            rx_flag = 0;
            nBytesW = ComWrt(com, szWriteBuf.data(), FRAME_LEN);
            ttick = 0;
        }

        if (ttick >= REPLY_TICKS) {
            ShowStatus("Timeout RS232-Line!");
            FlushRecording();
            SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 0);
            ttick = 0;
            rx_flag = 0;
            FlushBothQueues(com);
            stop_flag = 1;
            graphrefresh = 0;
            SetCtrlAttribute(panelHandle, BTNRun, ATR_DIMMED, 0);
            return 0;
        }
    }
    return 0;
}

void StopScope() {
    rx_flag = 0;
    FlushBothQueues(com);
    stop_flag = 1;
    graphrefresh = 0;
    SetCtrlAttribute(panelHandle, BTNRun, ATR_DIMMED, 0);
    SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 0);
    FillarrayNORM(tol10Bit, ref10Bit, 0);
    FlushRecording();
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
