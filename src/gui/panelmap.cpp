// The eight panel-mapped parameters. The panel shows `power` less 250 as a
// signed number, -250..65285, so every 16-bit power has its own panel value
// and survives a round trip; the other fields show their words, 0..65535.
//
// A field edited since the fields were last in step with the sensor (or the
// file) is marked "not sent", so an operator never takes an edit for the
// sensor's value; after a Get, Send or Teach that could not complete, every
// other field is marked "not confirmed", as the sensor may hold other values.
#include "gui/panelmap.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "com232/params.h"
#include "gui/panel.h"

namespace orv {

namespace {

// The low 16 bits of a control's value.
uint16_t ReadWord(int control) {
    int v = 0;
    GetCtrlVal(panelHandle, control, &v);
    return static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFFu);
}

// A variable goes to its control as a non-negative 0..65535.
void WriteWord(int control, uint16_t v) {
    SetCtrlVal(panelHandle, control, static_cast<int>(v));
}

constexpr std::array<int, 8> PARAM_FIELDS = {NumPower,      NumPowermode, NumReference, NumTolerance,
                                             NumHysteresis, NumPolarity,  NumAverage,   NumLinear};

constexpr const char* UNSENT_NOTE = "not sent - edited since the last Get, Send or Teach";
constexpr const char* UNCONFIRMED_NOTE =
    "not confirmed - the last Get, Send or Teach did not complete: the sensor may hold another value";

// What each field of PARAM_FIELDS showed when the fields were last in step.
std::array<int, PARAM_FIELDS.size()> inStep{};
// A command on the sensor failed since the fields were last in step.
bool unconfirmed = false;

void Mark(int control, int kind, const char* note) {
    if (*note != '\0')
        SetCtrlAttribute(panelHandle, control, ATR_MARK_KIND, kind);
    SetCtrlAttribute(panelHandle, control, ATR_MARK_TEXT, note);
}

int Shown(int control) {
    int v = 0;
    GetCtrlVal(panelHandle, control, &v);
    return v;
}

}  // namespace

void GetPanelValues() {
    // The Power field holds -250..65285, so adding the offset lands in
    // 0..65535; the low 16 bits only guard against a value outside that.
    int shown = 0;
    GetCtrlVal(panelHandle, NumPower, &shown);
    power = static_cast<uint16_t>((static_cast<uint32_t>(shown) + POWER_OFFSET) & 0xFFFFu);
    powermode = ReadWord(NumPowermode);
    reference = ReadWord(NumReference);
    tolerance = ReadWord(NumTolerance);
    hysteresis = ReadWord(NumHysteresis);
    polarity = ReadWord(NumPolarity);
    average = ReadWord(NumAverage);
    linear = ReadWord(NumLinear);
}

void SetPanelValues() {
    SetCtrlVal(panelHandle, NumPower, static_cast<int>(power) - POWER_OFFSET);
    WriteWord(NumPowermode, powermode);
    WriteWord(NumReference, reference);
    WriteWord(NumTolerance, tolerance);
    WriteWord(NumHysteresis, hysteresis);
    WriteWord(NumPolarity, polarity);
    WriteWord(NumAverage, average);
    WriteWord(NumLinear, linear);
}

void FieldsInStep() {
    for (std::size_t i = 0; i < PARAM_FIELDS.size(); ++i)
        inStep[i] = Shown(PARAM_FIELDS[i]);
    unconfirmed = false;
    MarkUnsentEdits();
}

void FieldsNotConfirmed() {
    unconfirmed = true;
    MarkUnsentEdits();
}

int MarkUnsentEdits() {
    int unsent = 0;
    for (std::size_t i = 0; i < PARAM_FIELDS.size(); ++i) {
        const bool edited = Shown(PARAM_FIELDS[i]) != inStep[i];
        if (edited)
            Mark(PARAM_FIELDS[i], MARK_PENDING, UNSENT_NOTE);
        else
            Mark(PARAM_FIELDS[i], MARK_UNCONFIRMED, unconfirmed ? UNCONFIRMED_NOTE : "");
        unsent += edited ? 1 : 0;
    }
    std::array<char, 64> note{};
    if (unsent > 0)
        std::snprintf(note.data(), note.size(), "%d edited field%s not sent", unsent, unsent == 1 ? "" : "s");
    SetCtrlAttribute(panelHandle, BTNSend, ATR_MARK_TEXT, note.data());
    return unsent;
}

}  // namespace orv
