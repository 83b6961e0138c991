// The panel half of the runtime layer, driven through the real panel file and
// real input events, with a small callback table that records what arrives.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "runtime/runtime.h"
#include "runtime/runtime_internal.h"
#include "runtime/testing/rt_testing.h"

namespace {

struct Event {
    int control;
    int event;
    bool operator==(const Event&) const = default;
};

std::vector<Event> g_events;
std::vector<int> g_panelEvents;
int g_ticks = 0;
// Optional extra behaviour of the recording callbacks.
std::function<void(int control, int event)> g_onEvent;
std::function<void(int event)> g_onPanelEvent;

int RecordCtrl(int, int control, int event, void*, int, int) {
    if (event == EVT_TIMER_TICK) {
        ++g_ticks;
        return 0;
    }
    if (event == EVT_GOT_FOCUS || event == EVT_LOST_FOCUS)
        return 0;
    g_events.push_back({control, event});
    if (g_onEvent)
        g_onEvent(control, event);
    return 0;
}

int RecordPanel(int, int event, void*, int, int) {
    g_panelEvents.push_back(event);
    if (g_onPanelEvent)
        g_onPanelEvent(event);
    return 0;
}

const CallbackEntry kTable[] = {
    {"CC_PANEL", nullptr, RecordPanel},           {"CC_Timer50ms", RecordCtrl, nullptr},
    {"CC_RBTRam", RecordCtrl, nullptr},           {"CC_RBTEeprom", RecordCtrl, nullptr},
    {"CC_RBTFile", RecordCtrl, nullptr},          {"CC_DropDCom", RecordCtrl, nullptr},
    {"CC_BTNGet", RecordCtrl, nullptr},           {"CC_BTNSend", RecordCtrl, nullptr},
    {"CC_ButtonTeach", RecordCtrl, nullptr},      {"CC_BTNRun", RecordCtrl, nullptr},
    {"CC_BTNStop", RecordCtrl, nullptr},          {"CC_ChkRecord", RecordCtrl, nullptr},
    {"CC_BTNSaveChart", RecordCtrl, nullptr},     {"CC_ChkHistory", RecordCtrl, nullptr},
    {"CC_ParamField", RecordCtrl, nullptr},       {"CC_BTNDismiss", RecordCtrl, nullptr},
    {"CC_BTNStatusHistory", RecordCtrl, nullptr}, {"CC_BTNLineView", RecordCtrl, nullptr},
};

class RuntimePanel : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(InitEngine(0, nullptr), 1);
        SetCallbackTable(kTable, static_cast<int>(std::size(kTable)));
        panel = LoadPanel(0, orv::PANEL_FILE, 1);
        ASSERT_GT(panel, 0);
        DisplayPanel(panel);
        rt_test::Pump(20);
        g_events.clear();
        g_ticks = 0;
    }
    void TearDown() override {
        g_onEvent = nullptr;
        g_onPanelEvent = nullptr;
        rt_test::Reset();
    }
    QWidget* Widget(int control) { return orv_rt::ControlWidget(panel, control); }

    int panel = -1;
};

std::vector<Event> Seq(std::initializer_list<Event> l) {
    return l;
}

TEST_F(RuntimePanel, PanelFileHasEveryControlWithItsKindAndStoredValue) {
    using namespace orv;
    auto is = [&](int ctrl, const char* className) { return Widget(ctrl)->inherits(className); };
    EXPECT_TRUE(is(DropDCom, "QComboBox"));
    EXPECT_TRUE(is(StripChart, "orv_rt::StripChart"));
    EXPECT_TRUE(is(LedTOL, "orv_rt::Led"));
    EXPECT_TRUE(is(LedREF, "orv_rt::Led"));
    EXPECT_TRUE(is(Timer50ms, "orv_rt::TimerControl"));
    EXPECT_TRUE(is(TextStatus, "QLineEdit"));
    for (int b : {BTNGet, BTNSend, ButtonTeach, BTNStop, BTNRun})
        EXPECT_TRUE(is(b, "QPushButton")) << b;
    for (int r : {RBTFile, RBTEeprom, RBTRam})
        EXPECT_TRUE(is(r, "QRadioButton")) << r;

    const std::pair<int, int> stored[] = {{NumPower, 250},     {NumPowermode, 1},   {NumReference, 512},
                                          {NumTolerance, 128}, {NumHysteresis, 10}, {NumPolarity, 1},
                                          {NumAverage, 8},     {NumLinear, 1}};
    for (auto [ctrl, value] : stored) {
        auto* spin = qobject_cast<QSpinBox*>(Widget(ctrl));
        ASSERT_NE(spin, nullptr) << ctrl;
        EXPECT_EQ(rt_test::Int(panel, ctrl), value) << ctrl;
        // Each field holds exactly what its word can: Power shows the word
        // less 250.
        EXPECT_EQ(spin->minimum(), ctrl == NumPower ? -250 : 0) << ctrl;
        EXPECT_EQ(spin->maximum(), ctrl == NumPower ? 65285 : 65535) << ctrl;
        EXPECT_FALSE(spin->isReadOnly());
    }
    auto* value = qobject_cast<QSpinBox*>(Widget(NumValue));
    ASSERT_NE(value, nullptr);
    EXPECT_TRUE(value->isReadOnly());
    EXPECT_TRUE(qobject_cast<QLineEdit*>(Widget(TextStatus))->isReadOnly());

    EXPECT_EQ(rt_test::Int(panel, RBTRam), 1);
    EXPECT_EQ(rt_test::Int(panel, RBTEeprom), 0);
    EXPECT_EQ(rt_test::Int(panel, RBTFile), 0);
    EXPECT_EQ(rt_test::Int(panel, DropDCom), 1);
    EXPECT_FALSE(rt_test::TimerEnabled(panel, Timer50ms));
    EXPECT_EQ(rt_test::Int(panel, LedREF), 0);

    // Every control is announced by a name, and bound callbacks fire.
    for (int ctrl : {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 17, 18, 21, 22, 23, 27, 33, 35})
        EXPECT_FALSE(Widget(ctrl)->accessibleName().isEmpty()) << ctrl;
    EXPECT_EQ(Widget(BTNSend)->accessibleName(), "Send");
    // A screen reader announces a labelled field by the label the eye sees.
    int labelled = 0;
    for (QLabel* label : orv_rt::PanelWindow(panel)->findChildren<QLabel*>()) {
        if (!label->buddy())
            continue;
        ++labelled;
        EXPECT_EQ(label->buddy()->accessibleName(), label->text()) << label->objectName().toStdString();
    }
    EXPECT_GE(labelled, 10);  // eight parameters, port, value, status
}

TEST_F(RuntimePanel, PortRingListsPortsWithTheirDevicesAndGivesThePortNumber) {
    const auto labels = rt_test::RingLabels(panel, orv::DropDCom);
    ASSERT_GE(labels.size(), 8u);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const std::string prefix = "COM" + std::to_string(i + 1) + "  ";
        EXPECT_EQ(labels[i].rfind(prefix, 0), 0u) << labels[i];
        const char* dev = ComPortDevice(static_cast<int>(i + 1));
        EXPECT_EQ(labels[i].substr(prefix.size()), dev && dev[0] ? std::string(dev) : "(not connected)");
    }
    rt_test::ChooseRing(panel, orv::DropDCom, 2);
    EXPECT_EQ(rt_test::Int(panel, orv::DropDCom), 3);
    EXPECT_EQ(SetCtrlVal(panel, orv::DropDCom, 5), 0);
    EXPECT_EQ(rt_test::Int(panel, orv::DropDCom), 5);
    EXPECT_LT(SetCtrlVal(panel, orv::DropDCom, 999), 0);
    EXPECT_EQ(rt_test::Int(panel, orv::DropDCom), 5);
}

TEST(RuntimePanelFile, MissingOrMalformedPanelFileGivesNegativeHandle) {
    ASSERT_EQ(InitEngine(0, nullptr), 1);
    EXPECT_LT(LoadPanel(0, "NoSuchPanel.uir", 1), 0);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bad = dir.filePath("bad.uir");
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<ui version=\"4.0\"><widget class=\"QWidget\" name=\"x\"><layout");
    f.close();
    EXPECT_LT(LoadPanel(0, QFile::encodeName(bad).constData(), 1), 0);
    EXPECT_LT(LoadPanel(0, QFile::encodeName(dir.path()).constData(), 1), 0);  // a directory
    // Control functions on a handle that was never loaded fail instead of crashing.
    int v = 0;
    EXPECT_LT(GetCtrlVal(12345, orv::NumPower, &v), 0);
    EXPECT_LT(SetCtrlVal(12345, orv::TextStatus, "x"), 0);
}

// A small panel file of the test's own, for bindings the real panel lacks.
QString WriteTinyPanel(const QTemporaryDir& dir) {
    const QString path = dir.filePath("tiny.uir");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0"><class>Tiny</class>
<widget class="QWidget" name="Tiny">
 <property name="callback" stdset="0"><string>CC_PANEL</string></property>
 <layout class="QVBoxLayout" name="lay">
  <item><widget class="QSpinBox" name="Num">
   <property name="ctrlId" stdset="0"><number>4</number></property>
   <property name="callback" stdset="0"><string>CC_BTNGet</string></property>
   <property name="maximum"><number>65535</number></property></widget></item>
  <item><widget class="QPushButton" name="Unbound">
   <property name="ctrlId" stdset="0"><number>5</number></property>
   <property name="callback" stdset="0"><string>CC_NotInTheTable</string></property>
   <property name="text"><string>Unbound</string></property></widget></item>
  <item><widget class="QPushButton" name="Discard">
   <property name="ctrlId" stdset="0"><number>6</number></property>
   <property name="callback" stdset="0"><string>CC_BTNSend</string></property>
   <property name="text"><string>Discard</string></property></widget></item>
 </layout></widget></ui>
)");
    return path;
}

TEST(RuntimePanelFile, BindingsByNameNumericEntryAndDiscardInsideACallback) {
    ASSERT_EQ(InitEngine(0, nullptr), 1);
    SetCallbackTable(kTable, static_cast<int>(std::size(kTable)));
    QTemporaryDir dir;
    const QString path = WriteTinyPanel(dir);
    const int tiny = LoadPanel(0, QFile::encodeName(path).constData(), 1);
    ASSERT_GT(tiny, 0);
    DisplayPanel(tiny);
    g_events.clear();

    // A typed entry is one value change and one commit, not one per keystroke.
    rt_test::EnterNumber(tiny, 4, 1234);
    EXPECT_EQ(rt_test::Int(tiny, 4), 1234);
    std::vector<Event> changes;
    for (const Event& e : g_events)
        if (e.event != EVT_LEFT_CLICK)
            changes.push_back(e);
    EXPECT_EQ(changes, Seq({{4, EVT_VALUE_CHANGED}, {4, EVT_COMMIT}}));

    // A callback name missing from the table leaves the control unbound.
    g_events.clear();
    rt_test::Click(tiny, 5);
    EXPECT_TRUE(g_events.empty());

    // A callback may discard its own panel while the click is being handled.
    g_onEvent = [tiny](int control, int event) {
        if (control == 6 && event == EVT_COMMIT)
            DiscardPanel(tiny);
    };
    rt_test::Click(tiny, 6);
    rt_test::Pump(20);
    g_onEvent = nullptr;
    int v = 0;
    EXPECT_LT(GetCtrlVal(tiny, 4, &v), 0);
    EXPECT_FALSE(rt_test::Visible(tiny));
    rt_test::Reset();
}

TEST_F(RuntimePanel, MouseAndKeyboardDeliverTheEventKindsInOrder) {
    using namespace orv;
    rt_test::Press(panel, BTNGet);
    EXPECT_EQ(g_events, Seq({{BTNGet, EVT_LEFT_CLICK}}));
    rt_test::Release(panel, BTNGet);
    EXPECT_EQ(g_events, Seq({{BTNGet, EVT_LEFT_CLICK}, {BTNGet, EVT_COMMIT}}));

    g_events.clear();
    rt_test::Click(panel, BTNSend);
    EXPECT_EQ(g_events, Seq({{BTNSend, EVT_LEFT_CLICK}, {BTNSend, EVT_COMMIT}}));

    g_events.clear();
    rt_test::Click(panel, RBTEeprom);
    EXPECT_EQ(g_events,
              Seq({{RBTEeprom, EVT_LEFT_CLICK}, {RBTEeprom, EVT_VALUE_CHANGED}, {RBTEeprom, EVT_COMMIT}}));

    g_events.clear();
    rt_test::ChooseRing(panel, DropDCom, 1);
    EXPECT_EQ(g_events, Seq({{DropDCom, EVT_VALUE_CHANGED}, {DropDCom, EVT_COMMIT}}));
    g_events.clear();
    rt_test::ChooseRing(panel, DropDCom, 1);  // same entry again
    EXPECT_EQ(g_events, Seq({{DropDCom, EVT_COMMIT}}));

    // Keyboard: space and Enter both act like a click, left click first.
    g_events.clear();
    rt_test::KeyActivate(panel, BTNSend);
    EXPECT_EQ(g_events, Seq({{BTNSend, EVT_LEFT_CLICK}, {BTNSend, EVT_COMMIT}}));
    g_events.clear();
    QWidget* teach = Widget(ButtonTeach);
    for (QEvent::Type t : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent ev(t, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(teach, &ev);
    }
    EXPECT_EQ(g_events, Seq({{ButtonTeach, EVT_LEFT_CLICK}, {ButtonTeach, EVT_COMMIT}}));

    // The program's own value changes deliver nothing.
    g_events.clear();
    SetCtrlVal(panel, RBTFile, 1);
    SetCtrlVal(panel, DropDCom, 4);
    SetCtrlVal(panel, NumPower, 77);
    rt_test::Pump(20);
    EXPECT_TRUE(g_events.empty());
}

// An assistive tool presses a button through its accessible action, which
// clicks it without any mouse or key event: every button of the panel must
// still get its left click before the commit, exactly once, also after a
// mouse press whose callback dimmed the button before it went down.
TEST_F(RuntimePanel, PressActionOfEveryButtonActsLikeAClick) {
    using namespace orv;
    int buttons = 0;
    for (const auto& [id, c] : orv_rt::FindPanel(panel)->controls) {
        if (c.kind != orv_rt::Kind::Button && c.kind != orv_rt::Kind::Radio)
            continue;
        ++buttons;
        g_events.clear();
        SetCtrlAttribute(panel, id, ATR_DIMMED, 0);  // Dismiss is dimmed until a failure shows
        rt_test::PressAction(panel, id);
        if (c.kind == orv_rt::Kind::Radio)
            EXPECT_EQ(g_events, Seq({{id, EVT_LEFT_CLICK}, {id, EVT_VALUE_CHANGED}, {id, EVT_COMMIT}})) << id;
        else
            EXPECT_EQ(g_events, Seq({{id, EVT_LEFT_CLICK}, {id, EVT_COMMIT}})) << id;
    }
    // Get, Send, Teach, Run, Stop, Save chart, Record, History, 3 targets,
    // Dismiss, the status history and the line view.
    EXPECT_EQ(buttons, 14);

    g_onEvent = [&](int control, int event) {
        if (control == BTNRun && event == EVT_LEFT_CLICK)
            SetCtrlAttribute(panel, BTNRun, ATR_DIMMED, 1);
    };
    rt_test::Click(panel, BTNRun);
    g_onEvent = nullptr;
    SetCtrlAttribute(panel, BTNRun, ATR_DIMMED, 0);
    g_events.clear();
    rt_test::PressAction(panel, BTNRun);
    EXPECT_EQ(g_events, Seq({{BTNRun, EVT_LEFT_CLICK}, {BTNRun, EVT_COMMIT}}));
}

// A number typed without Enter is taken before the command that a click
// starts, so the command reads what the field shows.
TEST_F(RuntimePanel, TypedNumberIsTakenBeforeTheClickedCommand) {
    using namespace orv;
    auto* field = static_cast<QSpinBox*>(Widget(NumReference));
    field->setFocus(Qt::TabFocusReason);
    field->findChild<QLineEdit*>()->setText("777");
    g_onEvent = [&](int control, int event) {
        if (control == BTNSend && event == EVT_LEFT_CLICK) {
            EXPECT_EQ(777, rt_test::Int(panel, NumReference));
        }
    };
    rt_test::Click(panel, BTNSend);
    EXPECT_EQ(g_events, Seq({{NumReference, EVT_VALUE_CHANGED},
                             {NumReference, EVT_COMMIT},
                             {BTNSend, EVT_LEFT_CLICK},
                             {BTNSend, EVT_COMMIT}}));
}

// A mark tints the control and is its tooltip and the head of its accessible
// description; taken off, the control is as it was.
TEST_F(RuntimePanel, DimmedControlsDeliverNothing) {
    using namespace orv;
    for (int c : {BTNRun, RBTFile, DropDCom, NumPower})
        ASSERT_EQ(SetCtrlAttribute(panel, c, ATR_DIMMED, 1), 0);
    int dimmed = 0;
    GetCtrlAttribute(panel, BTNRun, ATR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1);
    rt_test::Click(panel, BTNRun);
    rt_test::KeyActivate(panel, BTNRun);
    rt_test::Click(panel, RBTFile);
    rt_test::ChooseRing(panel, DropDCom, 3);
    rt_test::EnterNumber(panel, NumPower, 300);
    rt_test::Pump(20);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(rt_test::Int(panel, RBTFile), 0);
    EXPECT_EQ(rt_test::Int(panel, NumPower), 250);

    SetCtrlAttribute(panel, BTNRun, ATR_DIMMED, 0);
    rt_test::Click(panel, BTNRun);
    EXPECT_EQ(g_events, Seq({{BTNRun, EVT_LEFT_CLICK}, {BTNRun, EVT_COMMIT}}));
}

TEST_F(RuntimePanel, EnteredNumberIsTakenByTheControl) {
    rt_test::EnterNumber(panel, orv::NumPower, 300);
    EXPECT_EQ(rt_test::Int(panel, orv::NumPower), 300);
    rt_test::EnterNumber(panel, orv::NumValue, 5);  // an indicator takes no entry
    EXPECT_EQ(rt_test::Int(panel, orv::NumValue), 0);
}

TEST_F(RuntimePanel, RadioButtonsArePlainToggles) {
    using namespace orv;
    rt_test::Click(panel, RBTEeprom);
    EXPECT_EQ(rt_test::Int(panel, RBTEeprom), 1);
    EXPECT_EQ(rt_test::Int(panel, RBTRam), 1);  // nothing switched RAM off
    rt_test::Click(panel, RBTRam);
    EXPECT_EQ(rt_test::Int(panel, RBTRam), 0);
    rt_test::Click(panel, RBTRam);
    EXPECT_EQ(rt_test::Int(panel, RBTRam), 1);
    SetCtrlVal(panel, RBTFile, 1);
    SetCtrlVal(panel, RBTEeprom, 0);
    EXPECT_EQ(rt_test::Int(panel, RBTFile), 1);
    EXPECT_EQ(rt_test::Int(panel, RBTEeprom), 0);
}

TEST_F(RuntimePanel, CloseRequestGoesToThePanelCallbackAndTheWindowStays) {
    rt_test::RequestClose(panel);
    rt_test::Pump(20);
    EXPECT_EQ(g_panelEvents, std::vector<int>{EVT_CLOSE});
    EXPECT_TRUE(rt_test::Visible(panel));

    // A panel callback that quits ends the loop with its code.
    g_onPanelEvent = [](int event) {
        if (event == EVT_CLOSE)
            QuitUserInterface(4);
    };
    QTimer::singleShot(10, [this] { rt_test::RequestClose(panel); });
    EXPECT_EQ(RunUserInterface(), 4);
    EXPECT_TRUE(rt_test::Visible(panel));
}

TEST_F(RuntimePanel, QuitInsideNestedCallbackWaitsForTheOuterCallback) {
    using namespace orv;
    bool outerDone = false;
    bool tickAfterQuit = false;
    g_onEvent = [&](int control, int event) {
        if (control == BTNStop && event == EVT_COMMIT)
            QuitUserInterface(7);
        if (control == BTNGet && event == EVT_COMMIT) {
            // A long callback that processes events, like a command waiting
            // for its reply; Stop is clicked while it waits.
            rt_test::Click(panel, BTNStop);
            SetCtrlAttribute(panel, Timer50ms, ATR_TIMER_ENABLED, 1);
            const int before = g_ticks;
            rt_test::WaitUntil([&] { return g_ticks >= before + 2; }, 5000);
            tickAfterQuit = g_ticks >= before + 2;
            SetCtrlAttribute(panel, Timer50ms, ATR_TIMER_ENABLED, 0);
            outerDone = true;
        }
    };
    QTimer::singleShot(0, [this] { rt_test::Click(panel, BTNGet); });
    EXPECT_EQ(RunUserInterface(), 7);
    EXPECT_TRUE(outerDone);
    EXPECT_TRUE(tickAfterQuit);
    EXPECT_EQ(orv_rt::CallbackDepth(), 0);
}

TEST_F(RuntimePanel, TimerTicksOnlyWhileEnabled) {
    rt_test::Pump(150);
    EXPECT_EQ(g_ticks, 0);
    ASSERT_EQ(SetCtrlAttribute(panel, orv::Timer50ms, ATR_TIMER_ENABLED, 1), 0);
    int enabled = 0;
    GetCtrlAttribute(panel, orv::Timer50ms, ATR_TIMER_ENABLED, &enabled);
    EXPECT_EQ(enabled, 1);
    EXPECT_TRUE(rt_test::WaitUntil([] { return g_ticks >= 3; }, 5000));
    SetCtrlAttribute(panel, orv::Timer50ms, ATR_TIMER_ENABLED, 0);
    const int stopped = g_ticks;
    rt_test::Pump(150);
    EXPECT_EQ(g_ticks, stopped);
    EXPECT_FALSE(rt_test::TimerEnabled(panel, orv::Timer50ms));
}

TEST_F(RuntimePanel, ProcessSystemEventsWaitsInsteadOfSpinningAndRunsPendingWork) {
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    ProcessSystemEvents();
    EXPECT_TRUE(ran);

    QElapsedTimer t;
    t.start();
    const std::clock_t cpu0 = std::clock();
    long calls = 0;
    while (t.elapsed() < 300) {
        ProcessSystemEvents();
        ++calls;
    }
    const double cpuMs = 1000.0 * double(std::clock() - cpu0) / CLOCKS_PER_SEC;
    // Generous: a waiting loop uses a few per cent of a core, a spinning one all of it.
    EXPECT_LT(cpuMs, 0.5 * double(t.elapsed())) << calls << " calls";
    // A spinning loop makes hundreds of thousands of calls in 200 ms; one that
    // waits a few ms per call makes well under a thousand.
    EXPECT_LT(calls, 1000);
    EXPECT_GT(calls, 5);
}

TEST_F(RuntimePanel, StripChartScrollsKeepingPointsPerScreenInOrder) {
    const int chart = orv::StripChart;
    auto configure = [&] {
        SetCtrlAttribute(panel, chart, ATR_POINTS_PER_SCREEN, 101);
        SetCtrlAttribute(panel, chart, ATR_CHART_MODE, 1);
        SetCtrlAttribute(panel, chart, ATR_NUM_TRACES, 4);
        for (int tr = 1; tr <= 3; ++tr)
            SetTraceAttribute(panel, chart, tr, ATR_TRACE_COLOR, 0);
        SetTraceAttribute(panel, chart, 4, ATR_TRACE_COLOR, 0xFF0000);
    };
    double window[400];
    for (int round = 0; round < 3; ++round) {
        configure();  // re-setting the same attributes keeps the points
        for (int k = 0; k < 100; ++k)
            for (int tr = 0; tr < 4; ++tr)
                window[4 * k + tr] = round * 1000 + k * 4 + tr;
        ASSERT_EQ(PlotStripChart(panel, chart, window, 400, 0, 0, TYPE_DOUBLE), 0);
    }
    for (int tr = 1; tr <= 4; ++tr) {
        const auto pts = rt_test::TracePoints(panel, chart, tr);
        ASSERT_EQ(pts.size(), 101u);
        EXPECT_EQ(pts.front(), 1000 + 99 * 4 + (tr - 1));  // newest of the previous plot
        for (int i = 1; i < 101; ++i)
            EXPECT_EQ(pts[i], 2000 + (i - 1) * 4 + (tr - 1)) << tr << " " << i;
    }
    EXPECT_EQ(rt_test::TraceColor(panel, chart, 4), 0xFF0000);
    EXPECT_EQ(rt_test::TraceColor(panel, chart, 1), 0);

    // The value axis shows the 10-bit range, widens for values outside it and
    // comes back when they have scrolled away.
    QWidget* sc = Widget(chart);
    auto axisMin = [sc] { return sc->property("axisMin").toDouble(); };
    auto axisMax = [sc] { return sc->property("axisMax").toDouble(); };
    double flat[400];
    for (double& v : flat)
        v = 512;
    PlotStripChart(panel, chart, flat, 400, 0, 0, TYPE_DOUBLE);
    PlotStripChart(panel, chart, flat, 400, 0, 0, TYPE_DOUBLE);
    EXPECT_EQ(axisMin(), 0);
    EXPECT_EQ(axisMax(), 1023);
    flat[399] = 65508;
    PlotStripChart(panel, chart, flat, 400, 0, 0, TYPE_DOUBLE);
    EXPECT_GE(axisMax(), 65508);
    flat[399] = 512;
    PlotStripChart(panel, chart, flat, 400, 0, 0, TYPE_DOUBLE);
    PlotStripChart(panel, chart, flat, 400, 0, 0, TYPE_DOUBLE);
    EXPECT_EQ(axisMax(), 1023);

    // Start and skip pick every (skip+1)-th element; a new trace count clears.
    SetCtrlAttribute(panel, chart, ATR_NUM_TRACES, 1);
    const int ints[] = {9, 1, 8, 2, 7, 3};
    ASSERT_EQ(PlotStripChart(panel, chart, ints, 3, 1, 1, TYPE_INT), 0);
    EXPECT_EQ(rt_test::TracePoints(panel, chart, 1), (std::vector<double>{1, 2, 3}));
    EXPECT_LT(PlotStripChart(panel, orv::NumPower, ints, 3, 0, 0, TYPE_INT), 0);
}

TEST_F(RuntimePanel, InfoLabelsSitInTheHeaderBandClearOfEveryControl) {
    struct Info {
        const char* text;
        int left, top, size;
    };
    const Info infos[] = {{"PC-SOFTWARE: M-DOR-KX Series", 15, 8, 11},
                          {"Sensor maker line", 15, 21, 11},
                          {"Tel. line", 15, 36, 11},
                          {"Orvan-A-Scope", 175, 30, 18},
                          {"V1.0", 280, 36, 11}};
    QWidget* window = orv_rt::PanelWindow(panel);
    window->resize(1280, 900);
    rt_test::Pump(20);
    std::vector<int> ids;
    for (const Info& i : infos) {
        const int id = NewCtrl(panel, CTRL_TEXT_MSG, "", i.top, i.left);
        ASSERT_GT(id, 100);
        for (int other : ids)
            ASSERT_NE(id, other);
        ids.push_back(id);
        SetCtrlAttribute(panel, id, ATR_TEXT_FONT, FONT_APP);
        SetCtrlAttribute(panel, id, ATR_TEXT_COLOR, 0xFFFFFF);
        SetCtrlAttribute(panel, id, ATR_TEXT_BGCOLOR, 0x0080FF);
        SetCtrlAttribute(panel, id, ATR_TEXT_POINT_SIZE, i.size);
        SetCtrlVal(panel, id, i.text);
        int c = 0;
        GetCtrlAttribute(panel, id, ATR_TEXT_BGCOLOR, &c);
        EXPECT_EQ(c, 0x0080FF);
    }
    QWidget* band = window->findChild<QWidget*>("headerBand");
    ASSERT_NE(band, nullptr);
    for (std::size_t k = 0; k < ids.size(); ++k) {
        auto* label = qobject_cast<QLabel*>(Widget(ids[k]));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->pos(), QPoint(infos[k].left, infos[k].top));
        EXPECT_EQ(label->text(), infos[k].text);
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));  // not clipped
        EXPECT_TRUE(band->geometry().contains(label->geometry())) << infos[k].text;
        for (const auto& [id, ctrl] : orv_rt::FindPanel(panel)->controls) {
            if (id > orv_rt::FIRST_NEW_CTRL || !orv_rt::WidgetOf(ctrl)->isVisible())
                continue;
            const QRect r(orv_rt::WidgetOf(ctrl)->mapTo(window, QPoint(0, 0)),
                          orv_rt::WidgetOf(ctrl)->size());
            EXPECT_FALSE(r.intersects(label->geometry())) << infos[k].text << " overlaps control " << id;
        }
    }
    if (const char* shot = std::getenv("ORV_PANEL_SHOT")) {
        double samples[400];
        for (int k = 0; k < 100; ++k) {
            samples[4 * k] = 640;
            samples[4 * k + 1] = 384;
            samples[4 * k + 2] = 512;
            samples[4 * k + 3] = 500 + 180 * std::sin(k / 9.0);
        }
        SetTraceAttribute(panel, orv::StripChart, 4, ATR_TRACE_COLOR, 0xFF0000);
        PlotStripChart(panel, orv::StripChart, samples, 400, 0, 0, TYPE_DOUBLE);
        SetCtrlVal(panel, orv::LedTOL, 1);
        SetCtrlVal(panel, orv::NumValue, 517);
        SetCtrlVal(panel, orv::TextStatus, "InitVars");
        window->grab().save(QString::fromLocal8Bit(shot));
    }
}

// Writes `size` 'X's then a NUL into a fresh buffer, for checking what a
// refused call left behind.
std::vector<char> Sentinel() {
    return std::vector<char>(MAX_PATHNAME_LEN + 8, 'X');
}

TEST_F(RuntimePanel, FileSelectPopupAnsweredByTheDriver) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string d = dir.path().toStdString();
    {
        QFile f(dir.filePath("KXpara.dat"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    char path[MAX_PATHNAME_LEN];

    // OK on an existing file: no replace question, result "existing".
    rt_test::AnswerNextFileDialog(d + "/KXpara.dat");
    EXPECT_EQ(
        FileSelectPopup(d.c_str(), "KXpara.dat", "*.dat", "Save parameters", BUTTON_OK, 0, 1, 1, 1, path),
        FILESEL_EXISTING);
    EXPECT_EQ(std::string(path), d + "/KXpara.dat");
    const auto info = rt_test::LastFileDialog();
    EXPECT_TRUE(info.shown);
    EXPECT_EQ(info.title, "Save parameters");
    EXPECT_EQ(info.directory, d);
    EXPECT_EQ(info.defaultFile, "KXpara.dat");
    EXPECT_EQ(info.filter, "*.dat");
    EXPECT_EQ(info.button, BUTTON_OK);

    rt_test::AnswerNextFileDialog(d + "/new.dat");
    EXPECT_EQ(FileSelectPopup(d.c_str(), "", "*.dat", "Save", BUTTON_OK, 0, 1, 1, 1, path), FILESEL_NEW);
    EXPECT_EQ(std::string(path), d + "/new.dat");

    // Answered at once while the proposed file exists and stands selected in
    // the dialog's list: the answer is the name typed, every time.
    for (int k = 0; k < 10; ++k) {
        rt_test::AnswerNextFileDialog(d + "/KXconfig.dat");
        EXPECT_EQ(FileSelectPopup(d.c_str(), "KXpara.dat", "*.dat", "Save", BUTTON_OK, 0, 1, 1, 1, path),
                  FILESEL_NEW);
        ASSERT_EQ(std::string(path), d + "/KXconfig.dat") << "attempt " << k;
    }

    rt_test::AnswerNextFileDialog(d + "/KXpara.dat");
    EXPECT_EQ(FileSelectPopup(d.c_str(), "", "*.dat", "Load", BUTTON_LOAD, 0, 1, 1, 0, path),
              FILESEL_EXISTING);
    EXPECT_EQ(rt_test::LastFileDialog().button, BUTTON_LOAD);

    rt_test::AnswerNextFileDialog("");
    EXPECT_EQ(FileSelectPopup(d.c_str(), "KXpara.dat", "*.dat", "Load", BUTTON_LOAD, 0, 1, 1, 0, path),
              FILESEL_NONE);

    // A chosen path too long for the caller's buffer is refused, buffer untouched.
    QString deep = dir.path();
    while (deep.size() < MAX_PATHNAME_LEN)
        deep += "/" + QString(60, QLatin1Char('d'));
    ASSERT_TRUE(QDir().mkpath(deep));
    auto buf = Sentinel();
    rt_test::AnswerNextFileDialog((deep + "/x.dat").toStdString());
    EXPECT_EQ(FileSelectPopup(d.c_str(), "", "*.dat", "Save", BUTTON_OK, 0, 1, 1, 1, buf.data()),
              FILESEL_ERR_TOO_LONG);
    for (char c : buf)
        ASSERT_EQ(c, 'X');
}

TEST_F(RuntimePanel, ProjectDirIsTheStartDirectoryAndLongPathsAreRefused) {
    char dirBuf[MAX_PATHNAME_LEN];
    ASSERT_EQ(GetProjectDir(dirBuf), 0);
    EXPECT_EQ(QString::fromLocal8Bit(dirBuf), QDir::currentPath());
    char full[MAX_PATHNAME_LEN];
    ASSERT_EQ(GetFullPathFromProject("KXconfig.dat", full), 0);
    EXPECT_EQ(QString::fromLocal8Bit(full), QDir::current().filePath("KXconfig.dat"));

    const std::string longName(MAX_PATHNAME_LEN, 'n');
    auto buf = Sentinel();
    EXPECT_LT(GetFullPathFromProject(longName.c_str(), buf.data()), 0);
    EXPECT_EQ(buf[0], '\0');
    for (std::size_t i = 1; i < buf.size(); ++i)
        ASSERT_EQ(buf[i], 'X');
}

}  // namespace
