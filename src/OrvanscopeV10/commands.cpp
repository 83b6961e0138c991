// Operator commands: the target radio group, the port selector, Get, Send and
// Teach, including the file branches of Get and Send.
#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/corrtable.h"
#include "com232/filestatus.h"
#include "com232/flash.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "gui/panelmap.h"
#include "gui/parafile.h"

namespace orv {

int32_t target = 1;

namespace {

constexpr double TEACH_PAUSE = 0.05;

// Encodes `orderCode` with the block and writes the frame; true when all 36
// bytes went out.
bool WriteFrame(int32_t orderCode) {
    FillTxBuf(orderCode, pp.data());
    nBytesW = ComWrt(com, szWriteBuf.data(), FRAME_LEN);
    return nBytesW == FRAME_LEN;
}

// Writes the frame and shows `ok` when it went out whole, or why it did not
// (a port that is not open, a line that has gone). True when it went out.
bool WriteFrameReporting(int32_t orderCode, const char* ok) {
    if (WriteFrame(orderCode)) {
        ShowStatus(ok);
        return true;
    }
    ShowStatus(WriteFailureText(nBytesW));
    return false;
}

// The panel shows the variables, which were just read or sent: the fields
// are in step.
void ShowHeldValues() {
    SetPanelValues();
    FieldsInStep();
}

// A command that ran inside the live scope has taken or disturbed the line:
// the scope sends a fresh request and goes on, instead of waiting for a reply
// that the command consumed or that will never come.
void ResumeScope() {
    if (stop_flag == 0)
        rx_flag = 1;
}

// One member of the target group changed: a button switched on selects its
// target and clears the others; any button switched off falls back to RAM,
// which therefore can never be cleared by hand.
void TargetChanged(int control, int32_t code) {
    int32_t value = 0;
    GetCtrlVal(panelHandle, control, &value);
    if (value != 0) {
        SetCtrlVal(panelHandle, control, 1);
        target = code;
        if (control != RBTRam)
            SetCtrlVal(panelHandle, RBTRam, 0);
        if (control != RBTEeprom)
            SetCtrlVal(panelHandle, RBTEeprom, 0);
        if (control != RBTFile)
            SetCtrlVal(panelHandle, RBTFile, 0);
    } else {
        target = RAM;
        SetCtrlVal(panelHandle, RBTRam, 1);
    }
}

// Send with the file target: a parameter file, or, when the project's
// correction source is chosen, building and programming the correction table.
void SendToFile() {
    if (SelectParaFile(BUTTON_OK) <= 0)
        return;
    std::array<char, MAX_PATHNAME_LEN> dir_fname{};
    GetFullPathFromProject(CORR_SOURCE_FILE, dir_fname.data());
    // The chosen file is the correction source when it is named like it
    // (in any letter case) and lies in the project directory itself, however
    // that directory was reached: through a symbolic link it is still the
    // source and must not be overwritten by a parameter file, while another
    // directory whose name differs only in case is not the project's.
    if (SameNameIgnoringCase(FileBaseName(file_name.data()), CORR_SOURCE_FILE) &&
        FileInDirectory(file_name.data(), proj_dir.data()) == 1) {
        // A refused source has already said why on the status line; nothing
        // of it may reach the sensor's flash.
        if (ReadCorrData(dir_fname.data()) >= 0) {
            SendCorrDataToFlash();
            ResumeScope();  // the programming emptied the line under a running scope
        }
    } else {
        SendParaToFile();
    }
}

}  // namespace

int CC_RBTRam(int, int, int event, void*, int, int) {
    if (event == EVT_VALUE_CHANGED)
        TargetChanged(RBTRam, RAM);
    return 0;
}

int CC_RBTEeprom(int, int, int event, void*, int, int) {
    if (event == EVT_VALUE_CHANGED)
        TargetChanged(RBTEeprom, EEPROM);
    return 0;
}

int CC_RBTFile(int, int, int event, void*, int, int) {
    if (event == EVT_VALUE_CHANGED)
        TargetChanged(RBTFile, DATFILE);
    return 0;
}

int CC_DropDCom(int, int, int event, void*, int, int) {
    // A pick raises value-changed and commit: the port is opened and checked
    // once, on the commit (picking the same port again reopens it).
    if (event == EVT_COMMIT) {
        CloseCom(com);
        GetCtrlVal(panelHandle, DropDCom, &com);
        ShowStatus("Init COM-Port ...");
        InitRS232(com);
        ResumeScope();
    }
    return 0;
}

int CC_ParamField(int, int, int event, void*, int, int) {
    if (event == EVT_COMMIT)
        MarkUnsentEdits();
    return 0;
}

int CC_BTNGet(int, int, int event, void*, int, int) {
    if (event == EVT_LEFT_CLICK) {
        ShowStatus("Receive...");
        return 0;
    }
    if (event != EVT_COMMIT)
        return 0;

    if (target == DATFILE) {
        // A cancelled dialog or a refused file leaves the panel, and the
        // edits on it, as they were.
        if (ReadParaFromFile() > 0)
            ShowHeldValues();
        return 0;
    }

    const int32_t asked = (target == EEPROM) ? ORD_READ_EEPROM : ORD_READ_RAM;
    // The request carries the variables as they stand; the panel is not read.
    CopyVarsToPP();
    // Inside the running scope a measurement reply may be on its way: it is
    // left whole (a flush would tear it) and handed to the scope below.
    const bool inScope = stop_flag == 0;
    if (!inScope)
        FlushBothQueues(com);
    rx_flag = 0;
    if (!WriteFrameReporting(asked, "Transmit Ok!")) {
        ResumeScope();
        ShowHeldValues();
        return 0;
    }

    SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 1);
    ttick = 0;
    for (;;) {
        ProcessSystemEvents();
        ServiceRx();
        if (rx_flag == 1 && order == asked) {
            GetRxBuf(PNUM);
            CopyPPtoVars();
            break;
        }
        // Any other frame (the answer to the scope's request) is not the
        // block asked for: keep waiting.
        rx_flag = 0;
        if (ttick >= REPLY_TICKS) {
            ShowStatus("Timeout RS232-Line!");
            // The running scope times out on the same timer: keep it going.
            if (!inScope)
                SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 0);
            ttick = 0;
            break;
        }
    }
    ResumeScope();
    ShowHeldValues();
    return 0;
}

int CC_BTNSend(int, int, int event, void*, int, int) {
    // Send acts on the press of the button, not on the completed click.
    if (event != EVT_LEFT_CLICK)
        return 0;
    ShowStatus("Transmit...");
    if (target == DATFILE) {
        SendToFile();
        return 0;
    }
    sync = SYNC_DEFAULT;
    GetPanelValues();
    CopyVarsToPP();
    // Edits that did not go out stay marked.
    if (WriteFrameReporting(target == EEPROM ? ORD_WRITE_EEPROM : ORD_WRITE_RAM, "Transmit Ok!"))
        FieldsInStep();
    return 0;
}

int CC_ButtonTeach(int, int, int event, void*, int, int) {
    if (event == EVT_LEFT_CLICK) {
        ShowStatus("Teach new Reference-Value ...");
        return 0;
    }
    if (event != EVT_COMMIT)
        return 0;

    // With the scope idle no reply is outstanding: anything in the input queue
    // is left over from an earlier torn or late exchange and would shift the
    // block read below. Inside the running scope the scope's reply is left
    // whole and handed on.
    if (stop_flag != 0)
        FlushRxQueue(com);

    GetPanelValues();
    CopyVarsToPP();
    bool sent = WriteFrameReporting(ORD_TEACH, "Line Ok!");
    if (sent) {
        CopyVarsToPP();
        sent = WriteFrameReporting(ORD_READ_RAM, "Line Ok!");
    }
    if (!sent) {
        // Nothing can answer a frame that did not go out; the panel's edits
        // were not taught and stay marked.
        ResumeScope();
        SetPanelValues();
        MarkUnsentEdits();
        return 0;
    }

    Delay(TEACH_PAUSE);
    const double deadline = Timer() + COM_TIMEOUT;
    int r = ReadReply(com, deadline);
    while (r == RX_FRAME && ReplyOrder() == ORD_MEASURE) {
        // Pressed while the scope runs, the answer to the scope's last request
        // comes first: hand it to the scope as the notification would, so it
        // plots it, and read the block that follows it.
        TakeReply();
        r = ReadReply(com, deadline);
    }
    if (r == RX_FRAME && ReplyOrder() == ORD_READ_RAM) {
        GetRxBuf(PNUM);
        CopyPPtoVars();
    } else if (r != RX_SHORT) {
        // What came does not answer the block request (another frame, noise):
        // the panel keeps its values, as after a short reply.
        ShowStatus("read error - not a parameter block!");
    } else {
        ShowStatus("< 36 Bytes!");
    }
    ResumeScope();
    ShowHeldValues();
    return 0;
}

}  // namespace orv
