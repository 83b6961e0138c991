// Operator commands: the target radio group, the port selector, Get, Send and
// Teach, including the file branches of Get and Send.
#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/corrtable.h"
#include "com232/filestatus.h"
#include "com232/flash.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "com232/session.h"
#include "gui/panelmap.h"
#include "gui/parafile.h"
#include "gui/status.h"

namespace orv {

int32_t target = 1;

namespace {

// The panel shows the variables, which were just read or sent: the fields
// are in step.
void ShowHeldValues() {
    SetPanelValues();
    FieldsInStep();
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
    // left whole (a flush would tear it) and goes to the scope.
    const bool inScope = stop_flag == 0;
    if (!inScope)
        FlushBothQueues(com);
    rx_flag = 0;
    // The reply is the frame that answers this request, whatever its order
    // word; a frame answering another request (the scope's) is not the block.
    const uint32_t asking = WriteRequest(com, asked, pp.data());
    if (nBytesW == FRAME_LEN)
        ShowStatus("Transmit Ok!");

    SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 1);
    ttick = 0;
    bool answered = false;
    for (;;) {
        ProcessSystemEvents();
        ServiceRx();
        if (rx_flag == 1 && asking != 0 && rx_answer == asking) {
            GetRxBuf(PNUM);
            CopyPPtoVars();
            answered = true;
            break;
        }
        if (ttick >= REPLY_TICKS) {
            ShowStatus("Timeout RS232-Line!");
            // A reply that comes after this never answers a later command.
            GiveUpReply(asking);
            // The running scope times out on the same timer: keep it going.
            if (!inScope)
                SetCtrlAttribute(panelHandle, Timer50ms, ATR_TIMER_ENABLED, 0);
            ttick = 0;
            ResumeScope();
            break;
        }
    }
    if (answered) {
        ShowHeldValues();
    } else {
        // The panel shows the values held before; the sensor may hold others.
        SetPanelValues();
        FieldsNotConfirmed();
    }
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
    // Edits that did not go out stay marked; "Transmit..." stays as a failure.
    if (SendBlock(com, target)) {
        FieldsInStep();
    } else {
        StatusFailed();
        FieldsNotConfirmed();
    }
    return 0;
}

int CC_ButtonTeach(int, int, int event, void*, int, int) {
    if (event == EVT_LEFT_CLICK) {
        ShowStatus("Teach new Reference-Value ...");
        return 0;
    }
    if (event != EVT_COMMIT)
        return 0;
    GetPanelValues();
    if (TeachSequence(com) == SESSION_OK) {
        ShowHeldValues();
    } else {
        // The panel keeps its values; edits stay marked "not sent", and the
        // other fields "not confirmed": the teach may have reached the sensor.
        SetPanelValues();
        FieldsNotConfirmed();
    }
    return 0;
}

}  // namespace orv
