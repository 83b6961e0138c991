// What the panel half of the runtime shows on the real panel file: marks on
// controls and on the status line, the status line's texts and the record
// kept of them, values painted before the program blocks, and the chart saved
// as a picture in the format its name asks for.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "runtime/runtime.h"
#include "runtime/runtime_internal.h"
#include "runtime/testing/rt_testing.h"

namespace {

// The panel's controls are left unbound: nothing here needs a callback.
class RuntimeDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(InitEngine(0, nullptr), 1);
        SetCallbackTable(nullptr, 0);
        panel = LoadPanel(0, orv::PANEL_FILE, 1);
        ASSERT_GT(panel, 0);
        DisplayPanel(panel);
        rt_test::Pump(20);
    }
    void TearDown() override { rt_test::Reset(); }
    QWidget* Widget(int control) { return orv_rt::ControlWidget(panel, control); }

    int panel = -1;
};

TEST_F(RuntimeDisplay, MarkFlagsAControlAndComesOffWithoutATrace) {
    using namespace orv;
    QWidget* field = Widget(NumReference);
    const QString description = field->accessibleDescription();
    const QColor face = field->palette().color(QPalette::Base);
    ASSERT_EQ(0, SetCtrlAttribute(panel, NumReference, ATR_MARK_TEXT, "not sent"));
    EXPECT_TRUE(field->accessibleDescription().startsWith("not sent"))
        << field->accessibleDescription().toStdString();
    EXPECT_TRUE(field->accessibleDescription().endsWith(description));
    EXPECT_TRUE(field->toolTip().startsWith("not sent"));
    EXPECT_NE(face, field->palette().color(QPalette::Base));
    EXPECT_EQ("not sent", rt_test::Mark(panel, NumReference));
    SetCtrlAttribute(panel, NumReference, ATR_MARK_TEXT, "");
    EXPECT_EQ(description, field->accessibleDescription());
    EXPECT_EQ(face, field->palette().color(QPalette::Base));
    EXPECT_TRUE(field->toolTip().isEmpty());
    EXPECT_FALSE(field->font().bold());
    EXPECT_EQ(orv_rt::ERR_BAD_ATTRIBUTE, SetCtrlAttribute(panel, StripChart, ATR_MARK_TEXT, "x"));

    // Each kind is drawn its own way; an error also with a sign.
    SetCtrlAttribute(panel, NumReference, ATR_MARK_KIND, MARK_UNCONFIRMED);
    SetCtrlAttribute(panel, NumReference, ATR_MARK_TEXT, "not confirmed");
    EXPECT_TRUE(field->font().italic());
    const QColor unconfirmed = field->palette().color(QPalette::Base);
    SetCtrlAttribute(panel, NumReference, ATR_MARK_KIND, MARK_PENDING);
    EXPECT_NE(unconfirmed, field->palette().color(QPalette::Base));
    EXPECT_TRUE(field->font().bold());
    auto* status = static_cast<QLineEdit*>(Widget(TextStatus));
    SetCtrlAttribute(panel, TextStatus, ATR_MARK_KIND, MARK_ERROR);
    SetCtrlVal(panel, TextStatus, "Timeout RS232-Line!");
    SetCtrlAttribute(panel, TextStatus, ATR_MARK_TEXT, "error");
    EXPECT_TRUE(status->accessibleDescription().startsWith("error"));
    EXPECT_EQ(status->actions().size(), 1);
    // A status line's mark goes with its text.
    SetCtrlVal(panel, TextStatus, "Line Ok!");
    EXPECT_EQ("", rt_test::Mark(panel, TextStatus));
    EXPECT_TRUE(status->actions().isEmpty());
    EXPECT_FALSE(status->accessibleDescription().startsWith("error"));
    EXPECT_EQ(status->toolTip(), "Line Ok!");
}

// Save chart writes the format the suffix names; any other suffix is PNG.
TEST_F(RuntimeDisplay, ChartIsSavedInTheFormatItsSuffixNames) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const bool svg = ChartImageFormat("x.SVG") == CHART_SVG;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"c.png", "\x89PNG"}, {"c.JPG", "\xFF\xD8\xFF"}, {"c.jpeg", "\xFF\xD8\xFF"},
        {"c.bmp", "BM"},      {"c.dat", "\x89PNG"},      {"c.svg", svg ? "<?xml" : "\x89PNG"}};
    for (const auto& [name, magic] : cases) {
        const std::string path = dir.path().toStdString() + "/" + name;
        ASSERT_EQ(0, SaveChartImage(panel, orv::StripChart, path.c_str())) << name;
        std::ifstream in(path, std::ios::binary);
        std::string head(magic.size(), '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        EXPECT_EQ(head, magic) << name;
    }
    EXPECT_EQ(0, ChartImageFormat("chart.dat"));
    EXPECT_EQ(0, ChartImageFormat("png"));
    EXPECT_EQ(CHART_JPEG, ChartImageFormat("a.b/chart.Jpeg"));
}

TEST_F(RuntimeDisplay, StatusLineTextIsShownRecordedAndReadBackTruncated) {
    rt_test::TakeStatusHistory();
    SetCtrlVal(panel, orv::TextStatus, "InitVars");
    SetCtrlVal(panel, orv::TextStatus, "Timeout RS232-Line!");
    EXPECT_EQ(rt_test::TakeStatusHistory(), (std::vector<std::string>{"InitVars", "Timeout RS232-Line!"}));
    EXPECT_EQ(rt_test::Text(panel, orv::TextStatus), "Timeout RS232-Line!");
    char small[8];
    std::memset(small, 'X', sizeof small);
    EXPECT_EQ(GetCtrlValText(panel, orv::TextStatus, small, 5), 0);
    EXPECT_STREQ(small, "Time");
    EXPECT_EQ(small[5], 'X');
}

// Counts the paint events that reach a widget.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* ev) override {
        if (ev->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

TEST_F(RuntimeDisplay, ValuesArePaintedBeforeTheProgramBlocks) {
    rt_test::Pump(50);
    char buf[4];
    for (int ctrl : {orv::NumValue, orv::LedREF, orv::TextStatus}) {
        PaintCounter counter;
        QWidget* w = Widget(ctrl);
        w->installEventFilter(&counter);
        for (QWidget* child : w->findChildren<QWidget*>())
            child->installEventFilter(&counter);
        if (ctrl == orv::TextStatus)
            SetCtrlVal(panel, ctrl, "Writing flash");
        else
            SetCtrlVal(panel, ctrl, 1);
        // No event processing in between: the program blocks right away, in a
        // wait or in a serial read (here on a port that is not open).
        if (ctrl == orv::LedREF)
            ComRd(7, buf, 1);
        else
            Delay(0.001);
        EXPECT_GT(counter.paints, 0) << ctrl;
    }
    EXPECT_EQ(rt_test::Int(panel, orv::LedREF), 1);
    EXPECT_EQ(Widget(orv::LedREF)->accessibleDescription(), "on");
}

TEST_F(RuntimeDisplay, StatusHistoryKeepsOnlyTheNewestTexts) {
    // A scope running for hours shows a status text per reply: the record kept
    // for inspection must not grow without bound.
    rt_test::TakeStatusHistory();
    char text[32];
    for (int i = 0; i < 20000; ++i) {
        std::snprintf(text, sizeof text, "reply %d", i);
        SetCtrlVal(panel, orv::TextStatus, text);
    }
    const std::vector<std::string> h = rt_test::TakeStatusHistory();
    EXPECT_LE(h.size(), 8192u);
    EXPECT_GE(h.size(), 4096u);
    ASSERT_FALSE(h.empty());
    EXPECT_EQ(h.back(), "reply 19999");
}

}  // namespace
