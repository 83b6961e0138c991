// Operator commands: the target radio group, the port selector, Get, Send and
// Teach, including the file branches of Get and Send.
#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/flash.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "gui/corrtable.h"
#include "gui/panelmap.h"
#include "gui/parafile.h"

namespace orv {

int32_t target = 1;
int32_t com = 1;
int32_t nBytesW = 0;
int32_t nBytesR = 0;
int32_t value = 0;

namespace {

constexpr double TEACH_PAUSE = 0.05;

// Encodes `orderCode` with the block and writes the frame; true when all 36
// bytes went out.
bool WriteFrame(int32_t orderCode) {
    FillTxBuf(orderCode, pp.data());
    nBytesW = ComWrt(com, szWriteBuf.data(), FRAME_LEN);
    return nBytesW == FRAME_LEN;
}

// Order word of the frame in the receive buffer, before it is decoded.
int32_t ReplyOrder() {
    return (static_cast<unsigned char>(szReadBuf[2]) << 8) | static_cast<unsigned char>(szReadBuf[3]);
}

// One member of the target group changed: a button switched on selects its
// target and clears the others; any button switched off falls back to RAM,
// which therefore can never be cleared by hand.
void TargetChanged(int control, int32_t code) {
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
    GetFullPathFromProject(CORR_SOURCE_FILE, dir_fname.data());
    // The chosen file is the correction source when it is named like it
    // (in any letter case) and lies in the project directory itself, however
    // that directory was reached: through a symbolic link it is still the
    // source and must not be overwritten by a parameter file, while another
    // directory whose name differs only in case is not the project's.
    const char* name = file_name.data();
    for (const char* p = file_name.data(); *p != '\0'; ++p) {
#ifdef _WIN32
        if (*p == '\\')
            name = p + 1;
#endif
        if (*p == '/')
            name = p + 1;
    }
    if (SamePathIgnoringCase(name, CORR_SOURCE_FILE) &&
        FileInDirectory(file_name.data(), proj_dir.data()) == 1) {
        // A refused source has already said why on the status line; nothing
        // of it may reach the sensor's flash.
        if (ReadCorrData(dir_fname.data()) >= 0)
            SendCorrDataToFlash();
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
    if (event == EVT_COMMIT || event == EVT_VALUE_CHANGED) {
        CloseCom(com);
        GetCtrlVal(panelHandle, DropDCom, &com);
        ShowStatus("Init COM-Port ...");
        InitRS232(com);
    }
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
        ReadParaFromFile();
        SetPanelValues();
        return 0;
    }

    order = (target == EEPROM) ? ORD_READ_EEPROM : ORD_READ_RAM;
    const int32_t asked = order;
    // The request carries the variables as they stand; the panel is not read.
    CopyVarsToPP();
    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;
    if (WriteFrame(order))
        ShowStatus("Transmit Ok!");

    SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 1);
    ttick = 0;
    for (;;) {
        ProcessSystemEvents();
        if (rx_flag == 1 && order != asked) {
            // Not the block asked for: a measurement reply (the scope's request
            // answered after the flush) is left to the scope, and bytes that
            // only look like a frame (line noise, a torn reply) must not reach
            // the variables. Keep waiting.
            rx_flag = 0;
        }
        if (rx_flag == 1) {
            GetRxBuf(PNUM);
            CopyPPtoVars();
            break;
        }
        if (ttick >= REPLY_TICKS) {
            ShowStatus("Timeout RS232-Line!");
            SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 0);
            ttick = 0;
            break;
        }
    }
    SetPanelValues();
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
    order = (target == EEPROM) ? ORD_WRITE_EEPROM : ORD_WRITE_RAM;
    GetPanelValues();
    CopyVarsToPP();
    if (WriteFrame(order))
        ShowStatus("Transmit Ok!");
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
    // block read below.
    if (stop_flag != 0)
        FlushInQ(com);

    order = ORD_TEACH;
    GetPanelValues();
    CopyVarsToPP();
    if (WriteFrame(order))
        ShowStatus("Line Ok!");

    order = ORD_READ_RAM;
    CopyVarsToPP();
    if (WriteFrame(order))
        ShowStatus("Line Ok!");

    Delay(TEACH_PAUSE);
    nBytesR = ComRd(com, szReadBuf.data(), FRAME_LEN);
    if (nBytesR == FRAME_LEN && ReplyOrder() == ORD_MEASURE) {
        // Pressed while the scope runs, the answer to the scope's last request
        // comes first: hand it to the scope as the notification would, so it
        // plots it and goes on, and read the block that follows it.
        TakeReply();
        nBytesR = ComRd(com, szReadBuf.data(), FRAME_LEN);
    }
    if (nBytesR == FRAME_LEN && ReplyOrder() == ORD_READ_RAM) {
        GetRxBuf(PNUM);
        CopyPPtoVars();
    } else if (nBytesR == FRAME_LEN) {
        // 36 bytes that do not answer the block request (line noise, a torn
        // frame): the panel keeps its values, as after a short reply.
        ShowStatus("read error - not a parameter block!");
    } else {
        ShowStatus("< 36 Bytes!");
    }
    SetPanelValues();
    return 0;
}

}  // namespace orv
