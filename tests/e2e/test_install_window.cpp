// The main window as an operator meets it: started as the program starts,
// at the common display scalings, resized, and worked with the keyboard alone.
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "runtime/runtime_internal.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

namespace {

class ScaledWindow : public orv_test::App, public ::testing::WithParamInterface<const char*> {
  protected:
    // The scaling must be in place before the toolkit starts.
    void BeforeStartUp() override { setenv("QT_SCALE_FACTOR", GetParam(), 1); }

    QWidget* Window() { return orv_rt::PanelWindow(panel()); }

    // The info texts that start-up creates in the header band.
    std::vector<QLabel*> HeaderTexts() {
        std::vector<QLabel*> out;
        for (const auto& [id, ctrl] : orv_rt::FindPanel(panel())->controls)
            if (id > orv_rt::FIRST_NEW_CTRL)
                if (auto* l = qobject_cast<QLabel*>(orv_rt::WidgetOf(ctrl)))
                    out.push_back(l);
        return out;
    }

    void ShowAt(QSize size) {
        DisplayPanel(panel());
        Window()->resize(size);
        rt_test::Pump(50);
    }
};

// Every visible widget gets at least the room it asks for, and lies inside the
// window: nothing is cut off.
void ExpectNothingClipped(QWidget* window, const char* when) {
    const QRect inside(QPoint(0, 0), window->size());
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || !w->parentWidget() || w->parentWidget()->layout() == nullptr)
            continue;
        if (w->objectName() == QLatin1String("textBackdrop") ||
            w->objectName().startsWith(QLatin1String("TextMsg")))
            continue;  // the header texts and their background are checked on their own
        const QSize need = w->minimumSizeHint();
        if (need.isValid()) {
            EXPECT_GE(w->width(), need.width()) << when << ": " << w->objectName().toStdString();
            EXPECT_GE(w->height(), need.height()) << when << ": " << w->objectName().toStdString();
        }
        const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
        EXPECT_TRUE(inside.contains(r)) << when << ": " << w->objectName().toStdString();
    }
}

TEST_P(ScaledWindow, HeaderTextsKeepClearAndNothingIsClippedFromSmallestToLargeWindow) {
    EXPECT_EQ(Window()->windowTitle(), QStringLiteral("Orvan-A-Scope V1.0"));
    ShowAt(Window()->minimumSize());
    ExpectNothingClipped(Window(), "smallest window");

    const std::vector<QLabel*> texts = HeaderTexts();
    ASSERT_EQ(texts.size(), 5u);
    const QWidget* band = Window()->findChild<QWidget*>(QStringLiteral("headerBand"));
    ASSERT_NE(band, nullptr);
    for (QLabel* t : texts) {
        const std::string name = t->text().toStdString();
        EXPECT_GE(t->width(), t->fontMetrics().horizontalAdvance(t->text())) << name << " is cut off";
        EXPECT_TRUE(band->geometry().contains(t->geometry())) << name << " leaves the header band";
        for (QLabel* other : texts) {
            if (other != t) {
                EXPECT_FALSE(t->geometry().intersects(other->geometry()))
                    << name << " runs into " << other->text().toStdString();
            }
        }
    }

    ShowAt(QSize(1600, 1100));
    ExpectNothingClipped(Window(), "large window");
}

TEST_P(ScaledWindow, ChartGrowsWithTheWindowAndTheLeftColumnKeepsItsControls) {
    ShowAt(Window()->minimumSize());
    QWidget* chart = orv_rt::ControlWidget(panel(), orv::StripChart);
    QWidget* run = orv_rt::ControlWidget(panel(), orv::BTNRun);
    ASSERT_NE(chart, nullptr);
    const QSize small = chart->size();
    const QSize runSmall = run->size();

    ShowAt(Window()->minimumSize() + QSize(500, 300));
    EXPECT_GE(chart->width(), small.width() + 400);
    EXPECT_GE(chart->height(), small.height() + 250);
    // The extra room goes to the chart, not to the buttons.
    EXPECT_LE(run->height(), runSmall.height() + 2);
}

INSTANTIATE_TEST_SUITE_P(Scalings, ScaledWindow, ::testing::Values("1", "1.25", "2"), [](const auto& info) {
    std::string n = info.param;
    for (char& c : n)
        if (c == '.')
            c = '_';
    return "x" + n;
});

// The control (by number) that a focused widget belongs to, or 0.
int ControlOfFocus(int panel) {
    QWidget* f = QApplication::focusWidget();
    for (QWidget* w = f; w; w = w->parentWidget())
        for (const auto& [id, ctrl] : orv_rt::FindPanel(panel)->controls)
            if (orv_rt::WidgetOf(ctrl) == w)
                return id;
    return 0;
}

using KeyboardWindow = orv_test::App;

// Tab from the first control runs through every operable control in reading
// order (left column from top to bottom, the chart, then the status line) and
// comes back.
TEST_F(KeyboardWindow, TabReachesEveryControlInReadingOrder) {
    DisplayPanel(panel());
    QWidget* window = orv_rt::PanelWindow(panel());
    QApplication::setActiveWindow(window);
    orv_rt::ControlWidget(panel(), orv::DropDCom)->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(rt_test::WaitUntil([&] { return ControlOfFocus(panel()) == orv::DropDCom; }, 2000));

    const std::vector<int> expected = {
        orv::DropDCom,     orv::RBTRam,       orv::RBTEeprom,    orv::RBTFile,          orv::NumPower,
        orv::NumPowermode, orv::NumReference, orv::NumTolerance, orv::NumHysteresis,    orv::NumPolarity,
        orv::NumAverage,   orv::NumLinear,    orv::BTNGet,       orv::BTNSend,          orv::ButtonTeach,
        orv::BTNRun,       orv::BTNStop,      orv::NumValue,     orv::ChkRecord,        orv::ChkHistory,
        orv::BTNSaveChart, orv::StripChart,   orv::TextStatus,   orv::BTNStatusHistory, orv::BTNLineView};
    std::vector<int> visited{orv::DropDCom};
    for (int step = 0; step < 40; ++step) {
        QWidget* f = QApplication::focusWidget();
        ASSERT_NE(f, nullptr);
        QTest::keyClick(f, Qt::Key_Tab);
        rt_test::Pump(5);
        const int id = ControlOfFocus(panel());
        if (id == orv::DropDCom)
            break;
        if (id != 0 && id != visited.back())
            visited.push_back(id);
    }
    EXPECT_EQ(visited, expected);
}

}  // namespace
