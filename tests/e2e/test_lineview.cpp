// The line view and the status history against the simulated sensor: every
// frame the sensor received and sent is there with what the program made of
// it, and the views filter, pause and save as the operator asks.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <fstream>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "runtime/runtime_internal.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

namespace {

constexpr kxsim::Block kBlock = {520, 2, 600, 90, 10, 15, 1, 16, 0, 0, 100, 1, 0, 0, 0, 7};

enum Column { Time, Port, Dir, What, Sync, Order, Data, Bytes };

class LineView : public orv_test::App {
  protected:
    QTemporaryDir dir;

    template <class W>
    W* Find(const char* name) {
        return orv_rt::PanelWindow(panel())->findChild<W*>(QString::fromLatin1(name));
    }
    QTableView* Table() { return Find<QTableView>("lineViewTable"); }
    int Rows() { return Table()->model()->rowCount(); }
    std::string Cell(int row, int col) {
        const QAbstractItemModel* m = Table()->model();
        return m->data(m->index(row, col)).toString().toStdString();
    }
    // The rows whose column `col` is `text`.
    std::vector<int> RowsWith(int col, const std::string& text) {
        std::vector<int> out;
        for (int r = 0; r < Rows(); ++r)
            if (Cell(r, col) == text)
                out.push_back(r);
        return out;
    }
    bool Shows(const std::string& what) {
        return rt_test::WaitUntil([&] { return !RowsWith(What, what).empty(); }, 3000);
    }
    static std::string Hex(const kxsim::Frame& f) {
        std::string out;
        char b[4];
        for (std::uint8_t x : f) {
            std::snprintf(b, sizeof b, "%02X", x);
            out += (out.empty() ? "" : " ") + std::string(b);
        }
        return out;
    }
    static std::vector<std::string> Lines(const std::string& path) {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);)
            lines.push_back(l);
        return lines;
    }
    void Save(QWidget* window, const std::string& path) {
        rt_test::AnswerNextFileDialog(path);
        window->findChild<QPushButton*>(QStringLiteral("Save"))->click();
        rt_test::Pump(100);
    }
};

}  // namespace

TEST_F(LineView, EveryFrameWithWhatTheProgramMadeOfItFilteredPausedAndSaved) {
    sensor->setRam(kBlock);
    rt_test::Click(panel(), orv::BTNLineView);
    QWidget* view = Find<QWidget>("lineView");
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->isVisible());
    rt_test::Click(panel(), orv::BTNGet);
    ASSERT_EQ(rt_test::Text(panel(), orv::TextStatus), "Line Ok!");

    // Noise on an idle line is dropped as such.
    ASSERT_TRUE(sensor->inject({0x12, 0x34, 0x56}));
    ASSERT_TRUE(Shows("noise, 3 bytes dropped"));
    EXPECT_EQ(Cell(RowsWith(What, "noise, 3 bytes dropped").front(), Bytes), "12 34 56");

    // Every frame the sensor received, in order, as a numbered request.
    const auto sent = RowsWith(Dir, "tx");
    const auto received = sensor->received();
    ASSERT_EQ(sent.size(), received.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(Cell(sent[i], Bytes), Hex(received[i])) << i;
        EXPECT_EQ(Cell(sent[i], What), "request #" + std::to_string(i + 1));
        EXPECT_EQ(Cell(sent[i], Order), std::to_string(kxsim::FrameWord(received[i], -1)));
    }
    // The replies: the echo's word 170, then the sensor's block, decoded.
    const auto echo = RowsWith(What, "reply to #1"), block = RowsWith(What, "reply to #2");
    ASSERT_EQ(echo.size(), 1u);
    ASSERT_EQ(block.size(), 1u);
    EXPECT_EQ(Cell(echo[0], Dir), "rx");
    EXPECT_EQ(Cell(echo[0], Data).substr(0, 4), "170 ");
    std::string words;
    for (std::uint16_t w : kBlock)
        words += (words.empty() ? "" : " ") + std::to_string(w);
    EXPECT_EQ(Cell(block[0], Data), words);
    EXPECT_EQ(Cell(block[0], Sync), orv_test::ReplySync() == 0x55 ? "0x0055" : "0x1234");
    EXPECT_EQ(Cell(block[0], Port), "COM1");

    // Filtered by the order word of a read: the request and its reply only.
    auto* order = Find<QComboBox>("lineViewOrder");
    const int readRam = order->findData(2);
    ASSERT_GT(readRam, 0);
    order->setCurrentIndex(readRam);
    EXPECT_EQ(Rows(), 2);
    for (int r = 0; r < Rows(); ++r)
        EXPECT_EQ(Cell(r, Order), "2");
    order->setCurrentIndex(0);

    // Paused, it keeps what it shows; resumed, it takes what came meanwhile.
    auto* pause = view->findChild<QPushButton*>(QStringLiteral("Pause"));
    pause->click();
    const int before = Rows();
    rt_test::Click(panel(), orv::BTNGet);
    rt_test::Pump(600);
    EXPECT_EQ(Rows(), before);
    pause->click();
    EXPECT_TRUE(Shows("reply to #3"));

    // Saved as text: a header and one line a row, with the same bytes.
    ASSERT_TRUE(dir.isValid());
    const std::string lines = dir.path().toStdString() + "/line.txt";
    Save(view, lines);
    const auto saved = Lines(lines);
    ASSERT_EQ(static_cast<int>(saved.size()), Rows() + 1);
    EXPECT_EQ(saved[0].rfind("time\tport\tdir\twhat", 0), 0u);
    EXPECT_NE(saved[static_cast<std::size_t>(block[0]) + 1].find("\treply to #2\t0x"), std::string::npos);
    EXPECT_NE(saved[static_cast<std::size_t>(block[0]) + 1].find(
                  Hex(kxsim::MakeFrame(orv_test::ReplySync(), 2, kBlock))),
              std::string::npos);

    // The status history, opened from beside the status line.
    rt_test::Click(panel(), orv::BTNStatusHistory);
    auto* list = Find<QTreeWidget>("statusHistoryList");
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->isVisible());
    std::vector<std::string> messages;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        messages.push_back(list->topLevelItem(i)->text(1).toStdString());
    EXPECT_EQ(messages.front(), "InitVars");
    EXPECT_EQ(messages.back(), "Line Ok!");
    const std::string history = dir.path().toStdString() + "/status.txt";
    Save(list->window(), history);
    const auto text = Lines(history);
    ASSERT_EQ(text.size(), messages.size() + 1);
    EXPECT_NE(text[2].find("\tEcho Check - Line Ok!"), std::string::npos);

    // Open, it follows the status line: a repeat is counted in the last row,
    // a failure is a new row, marked.
    const int rows = list->topLevelItemCount();
    orv::ShowStatus("Line Ok!");
    ASSERT_EQ(list->topLevelItemCount(), rows);
    EXPECT_NE(list->topLevelItem(rows - 1)->text(2).toStdString().find(" times, last "), std::string::npos);
    orv::ShowStatus("Timeout RS232-Line!");
    ASSERT_EQ(list->topLevelItemCount(), rows + 1);
    EXPECT_EQ(list->topLevelItem(rows)->text(1).toStdString(), "Timeout RS232-Line!");
    EXPECT_FALSE(list->topLevelItem(rows)->icon(1).isNull());
}
