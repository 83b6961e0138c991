// The file target end to end: Get loads a parameter file, Send saves one or,
// when the project's correction source is chosen, builds the table and
// programs the sensor's flash. The real panel, the real file dialog and the
// simulated sensor.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <array>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/corrtable.h"
#include "com232/params.h"
#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

namespace {

class FileTarget : public orv_test::App {
  protected:
    QTemporaryDir dir;
    std::string proj;  // the project directory, dir/CaseProj
    std::size_t start = 0;

    void BeforeStartUp() override {
        // The project directory is the working directory at start-up.
        ASSERT_TRUE(dir.isValid());
        proj = dir.path().toStdString() + "/CaseProj";
        ASSERT_EQ(0, mkdir(proj.c_str(), 0755));
        ASSERT_EQ(0, chdir(proj.c_str()));
    }
    void SetUp() override {
        App::SetUp();
        if (HasFatalFailure())
            return;
        rt_test::Click(panel(), orv::RBTFile);
        ASSERT_EQ(orv::DATFILE, orv::target);
        rt_test::Pump(50);
        Status();
        start = sensor->framesReceived();
    }

    std::string Path(const std::string& name) const { return proj + "/" + name; }
    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // A correction source whose table is 2·i + 5 at position i, pairs in
    // reverse order; pair 3 may be given a bad position or value.
    // Entry i of the table becomes 2 i + 5 + offset.
    void WriteSource(int32_t badPosition = -1, int32_t badValue = -1, int32_t offset = 0) {
        std::ofstream out(Path("KXconfig.dat"));
        for (int j = 0; j < 1024; ++j)
            out << (j == 3 && badValue >= 0 ? badValue : 2 * (1023 - j) + 5 + offset)
                << (j % 16 == 15 ? "\n" : " ");
        for (int j = 0; j < 1024; ++j)
            out << (j == 3 && badPosition >= 0 ? badPosition : 1023 - j) << (j % 16 == 15 ? "\n" : " ");
        for (int j = 0; j < 1024; ++j)
            out << 0 << (j % 16 == 15 ? "\n" : " ");
    }
    bool StatusShows(const std::string& text, int timeoutMs) {
        return rt_test::WaitUntil([&] { return rt_test::Text(panel(), orv::TextStatus) == text; }, timeoutMs);
    }
};

TEST_F(FileTarget, SendWithTheProjectSourceInOtherCaseProgramsTheFlash) {
    WriteSource();
    rt_test::AnswerNextFileDialog(Path("kxconfig.DAT"));
    rt_test::Press(panel(), orv::BTNSend);
    ASSERT_TRUE(StatusShows("ok : T460 FLASH page7-write 255 words!", 30000));

    EXPECT_EQ("M-DOR-KX-T460 Parameter File", rt_test::LastFileDialog().title);
    EXPECT_EQ(BUTTON_OK, rt_test::LastFileDialog().button);
    EXPECT_EQ(128u, sensor->framesReceived() - start);
    for (int page = 4; page <= 7; ++page) {
        const kxsim::Page got = sensor->flashPage(page);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(2 * ((page - 4) * 256 + i) + 5, got[i]) << "page " << page << " word " << i;
    }
    // The table was saved in the working directory, and no parameter file
    // was written under the chosen name.
    std::array<int32_t, 3072> saved{};
    ASSERT_EQ(0,
              FileToArray(Path("KXlinear.dat").c_str(), saved.data(), TYPE_INT, 3072, 3, 0, 0, FILE_ASCII));
    EXPECT_EQ(2 * 1023 + 5, saved[3071]);
    EXPECT_EQ(0, saved[1024]);  // the source's positions back to front
    EXPECT_NE(0, access(Path("kxconfig.DAT").c_str(), F_OK));
    EXPECT_EQ(0, rt_test::Int(panel(), orv::NumValue));
    const auto shown = Status();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ("Transmit...", shown.front());
}

// Page 5 refused and no table file possible: after every page message the
// run ends on a text that names both failures, and it stays.
TEST_F(FileTarget, PartlyFailedProgrammingEndsOnWhatFailed) {
    WriteSource();
    ASSERT_EQ(0, mkdir(Path("KXlinear.dat").c_str(), 0755));
    sensor->setFlashFault({true, 5, 3, true, 0});
    rt_test::AnswerNextFileDialog(Path("KXconfig.dat"));
    rt_test::Press(panel(), orv::BTNSend);
    const std::string last = "error : T460 FLASH page5 not written, KXlinear.dat not saved!";
    ASSERT_TRUE(StatusShows(last, 30000));
    const auto shown = Status();
    EXPECT_EQ("ok : T460 FLASH page7-write 255 words!", shown[shown.size() - 2]);
    rt_test::Pump(300);
    EXPECT_EQ(last, rt_test::Text(panel(), orv::TextStatus));
}

TEST_F(FileTarget, RefusedSourceProgramsNothing) {
    WriteSource(2047);
    rt_test::AnswerNextFileDialog(Path("KXconfig.dat"));
    rt_test::Press(panel(), orv::BTNSend);
    ASSERT_TRUE(StatusShows("KXconfig.dat: pair 3 position 2047 out of 0..1023", 5000));
    WriteSource(-1, 70000);  // a value no flash word can hold
    rt_test::AnswerNextFileDialog(Path("KXconfig.dat"));
    rt_test::Press(panel(), orv::BTNSend);
    ASSERT_TRUE(StatusShows("KXconfig.dat: pair 3 value 70000 out of -32768..65535", 5000));
    rt_test::Pump(200);
    EXPECT_EQ(start, sensor->framesReceived());
    EXPECT_NE(0, access(Path("KXlinear.dat").c_str(), F_OK));
}

// Entries below zero are table entries like any other: each goes out as the
// two's complement of its 16-bit word.
TEST_F(FileTarget, NegativeEntriesAreProgrammedAsTheirWords) {
    WriteSource(-1, -1, -45);  // entries -40, -38, ..., 2006
    rt_test::AnswerNextFileDialog(Path("KXconfig.dat"));
    rt_test::Press(panel(), orv::BTNSend);
    ASSERT_TRUE(StatusShows("ok : T460 FLASH page7-write 255 words!", 30000));
    const kxsim::Page page4 = sensor->flashPage(4);
    EXPECT_EQ(0xFFD8, page4[0]);
    EXPECT_EQ(0xFFFE, page4[19]);
    EXPECT_EQ(0xFFFE, page4[20]);  // 0 is a gap: it takes the entry before it
    EXPECT_EQ(2, page4[21]);
    EXPECT_EQ(2006, sensor->flashPage(7)[255]);
}

TEST_F(FileTarget, SendWithAnyOtherPathWritesAParameterFile) {
    rt_test::EnterNumber(panel(), orv::NumTolerance, 99);  // an unsent edit is written too
    rt_test::AnswerNextFileDialog(Path("mine.dat"));
    rt_test::Press(panel(), orv::BTNSend);
    ASSERT_TRUE(rt_test::WaitUntil([&] { return !Read(Path("mine.dat")).empty(); }, 5000));
    EXPECT_EQ(
        " 500\t   1\t 512\t  99\t  10\t  10\t   1\t   8\t   0\t   0\t 100\t   1\t   0\t   0\t   0\t   0\n",
        Read(Path("mine.dat")));

    // A file named like the correction source in another directory is a
    // parameter file as well.
    ASSERT_EQ(0, mkdir(Path("sub").c_str(), 0755));
    WriteSource();
    rt_test::AnswerNextFileDialog(Path("sub/KXconfig.dat"));
    rt_test::Press(panel(), orv::BTNSend);
    ASSERT_TRUE(rt_test::WaitUntil([&] { return !Read(Path("sub/KXconfig.dat")).empty(); }, 5000));
    EXPECT_EQ(0u, Read(Path("sub/KXconfig.dat")).find(" 500\t   1\t 512\t  99"));

    rt_test::Pump(200);
    EXPECT_EQ(start, sensor->framesReceived());
    // A file written leaves "Transmit..." standing: nothing went wrong.
    EXPECT_EQ((std::vector<std::string>{"Transmit...", "Transmit..."}), Status());
}

// The source is known by its directory, not by the text of its path: through
// a link it is programmed and kept; "caseproj" is not "CaseProj". The
// proposed KXpara.dat exists: the dialog must return the name typed.
TEST_F(FileTarget, TheSourceIsKnownByItsDirectoryNotByThePathText) {
    WriteSource();
    const std::string source = Read(Path("KXconfig.dat"));
    { std::ofstream(Path("KXpara.dat")) << "1\n"; }
    const std::string link = dir.path().toStdString() + "/link";
    ASSERT_EQ(0, symlink(proj.c_str(), link.c_str()));
    rt_test::AnswerNextFileDialog(link + "/KXconfig.dat");
    rt_test::Press(panel(), orv::BTNSend);
    ASSERT_TRUE(StatusShows("ok : T460 FLASH page7-write 255 words!", 30000));
    EXPECT_EQ(source, Read(Path("KXconfig.dat")));

    const std::string other = dir.path().toStdString() + "/caseproj";
    ASSERT_EQ(0, mkdir(other.c_str(), 0755));
    rt_test::AnswerNextFileDialog(other + "/KXconfig.dat");
    rt_test::Press(panel(), orv::BTNSend);
    ASSERT_TRUE(rt_test::WaitUntil([&] { return !Read(other + "/KXconfig.dat").empty(); }, 5000));
    EXPECT_EQ("Transmit...", rt_test::Text(panel(), orv::TextStatus));
    EXPECT_EQ(source, Read(Path("KXconfig.dat")));
}

TEST_F(FileTarget, GetLoadsAParameterFileWithoutTouchingThePort) {
    { std::ofstream(Path("KXpara.dat")) << "600 2 700 64 11 12 0 4 1 2 3 0 12 13 14 65535\n"; }
    rt_test::AnswerNextFileDialog(Path("KXpara.dat"));
    rt_test::Click(panel(), orv::BTNGet);
    ASSERT_TRUE(rt_test::WaitUntil([&] { return rt_test::Int(panel(), orv::NumReference) == 700; }, 5000));
    EXPECT_EQ(350, rt_test::Int(panel(), orv::NumPower));
    EXPECT_EQ(64, rt_test::Int(panel(), orv::NumTolerance));
    EXPECT_EQ(65535, orv::para15);
    EXPECT_EQ(BUTTON_LOAD, rt_test::LastFileDialog().button);
    EXPECT_EQ((std::vector<std::string>{"Receive..."}), Status());

    rt_test::Pump(200);
    EXPECT_EQ(start, sensor->framesReceived());
}

TEST_F(FileTarget, GetWithARefusedFileChangesNothing) {
    { std::ofstream(Path("short.dat")) << "1 2 3\n"; }
    rt_test::EnterNumber(panel(), orv::NumReference, 700);  // an edit not yet sent: it stays, marked
    rt_test::AnswerNextFileDialog(Path("short.dat"));
    rt_test::Click(panel(), orv::BTNGet);
    ASSERT_TRUE(StatusShows("short.dat: only 3 of 16 numbers", 5000));
    EXPECT_EQ(512, orv::reference);
    EXPECT_EQ(700, rt_test::Int(panel(), orv::NumReference));
    EXPECT_NE("", rt_test::Mark(panel(), orv::NumReference));
    { std::ofstream(Path("wide.dat")) << "500 1 70000 128 10 10 1 8 0 0 100 1 0 0 0 0\n"; }
    rt_test::AnswerNextFileDialog(Path("wide.dat"));
    rt_test::Click(panel(), orv::BTNGet);
    ASSERT_TRUE(StatusShows("wide.dat: element 2 out of 0..65535", 5000));
    EXPECT_EQ(512, orv::reference);
    rt_test::Pump(200);
    EXPECT_EQ(start, sensor->framesReceived());
}

}  // namespace
