// The parameter file through the real panel and the real file dialog: what
// is written, what a load changes, and the files a load must refuse.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <array>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/params.h"
#include "gui/panelmap.h"
#include "gui/parafile.h"
#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

namespace {

using Vars = std::array<uint16_t, 16>;

Vars Variables() {
    using namespace orv;
    return {power,   powermode, reference, tolerance, backlimit, hysteresis, polarity, average,
            measure, memory,    hold,      linear,    para12,    para13,     para14,   para15};
}

class ParaFile : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    int panel = -1;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        panel = orv_test::LoadMainPanel();
        ASSERT_GT(panel, 0);
        std::snprintf(orv::proj_dir.data(), orv::proj_dir.size(), "%s", dir.path().toLocal8Bit().constData());
        orv::SetParameterDefaults();
        orv::SetPanelValues();
        orv::CopyVarsToPP();
        rt_test::TakeStatusHistory();
    }
    void TearDown() override { rt_test::Reset(); }

    std::string Path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    std::string Write(const char* name, const std::string& text) const {
        const std::string path = Path(name);
        std::ofstream(path) << text;
        return path;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void Save(const std::string& path) {
        std::snprintf(orv::file_name.data(), orv::file_name.size(), "%s", path.c_str());
        orv::SendParaToFile();
    }
    void Load(const std::string& path) {
        rt_test::AnswerNextFileDialog(path);
        orv::ReadParaFromFile();
    }
};

TEST_F(ParaFile, DefaultsAreWrittenAsOneRowAndLoadBack) {
    const std::string path = Path("KXpara.dat");
    Save(path);
    EXPECT_EQ(
        " 500\t   1\t 512\t 128\t  10\t  10\t   1\t   8\t   0\t   0\t 100\t   1\t   0\t   0\t   0\t   0\n",
        Read(path));
    EXPECT_TRUE(rt_test::TakeStatusHistory().empty());  // nothing went wrong

    orv::power = 900;
    orv::reference = 1;
    Load(path);
    EXPECT_TRUE(rt_test::TakeStatusHistory().empty());
    EXPECT_EQ(500, orv::power);
    EXPECT_EQ(512, orv::reference);
    EXPECT_EQ(500, orv::pp[0]);
    orv::SetPanelValues();
    EXPECT_EQ(250, rt_test::Int(panel, orv::NumPower));

    const rt_test::FileDialogInfo d = rt_test::LastFileDialog();
    EXPECT_EQ("M-DOR-KX-T460 Parameter File", d.title);
    EXPECT_EQ("KXpara.dat", d.defaultFile);
    EXPECT_EQ("*.dat", d.filter);
    EXPECT_EQ(BUTTON_LOAD, d.button);
    EXPECT_EQ(dir.path().toStdString(), d.directory);
}

TEST_F(ParaFile, RoundTripKeepsEveryWordAndReplacesTheFile) {
    const std::string path = Write("set.dat",
                                   "old content that is longer than the new one would be, surely\n"
                                   "and a second line\n");
    orv::backlimit = 65535;
    orv::measure = 12345;
    orv::memory = 1;
    orv::hold = 65534;
    orv::para12 = 4;
    orv::para15 = 65535;
    // An edit in the panel that no operation has read yet is written too.
    rt_test::EnterNumber(panel, orv::NumReference, 600);
    Save(path);
    EXPECT_EQ(std::string::npos, Read(path).find("old"));
    const Vars saved = Variables();
    EXPECT_EQ(600, saved[2]);

    orv::SetParameterDefaults();
    orv::CopyVarsToPP();
    Load(path);
    EXPECT_EQ(saved, Variables());
    EXPECT_EQ(65535, orv::pp[4]);  // never -1
}

TEST_F(ParaFile, CancelledOrRefusedLoadChangesNothing) {
    orv::power = 777;
    orv::para13 = 13;
    orv::CopyVarsToPP();
    const Vars vars = Variables();
    const auto pp = orv::pp;

    Load("");  // cancelled
    EXPECT_TRUE(rt_test::LastFileDialog().shown);
    EXPECT_TRUE(rt_test::TakeStatusHistory().empty());

    struct Case {
        const char* name;
        const char* text;
        const char* status;
    };
    const Case cases[] = {
        {"short.dat", "1 2 3 4 5 6 7 8 9 10 11 12\n", "short.dat: only 12 of 16 numbers"},
        {"word.dat", "1 2 3 4 5 six 7 8 9 10 11 12 13 14 15 16", "word.dat: element 5 is not a number"},
        {"neg.dat", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 -16", "neg.dat: element 15 is not a number"},
        {"big.dat", "4294967296 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16", "big.dat: element 0 is not a number"},
        // Numbers that do not fit a 16-bit word would be cut to another value.
        {"wide.dat", "70000 1 512 128 10 10 1 8 0 0 100 1 0 0 0 0", "wide.dat: element 0 out of 0..65535"},
        {"edge.dat", "500 1 512 128 10 10 1 8 0 0 100 1 0 0 65535 65536",
         "edge.dat: element 15 out of 0..65535"},
        {"empty.dat", "", "empty.dat: only 0 of 16 numbers"},
    };
    for (const Case& c : cases) {
        Load(Write(c.name, c.text));
        EXPECT_STREQ(c.status, orv::szStatus.data());
        EXPECT_EQ(vars, Variables()) << c.name;
        EXPECT_EQ(pp, orv::pp) << c.name;
    }
    const auto shown = rt_test::TakeStatusHistory();
    ASSERT_EQ(7u, shown.size());
    EXPECT_EQ("short.dat: only 12 of 16 numbers", shown[0]);
}

TEST_F(ParaFile, UnreadableFileIsReported) {
    std::string path = Write("locked.dat", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16");
    if (geteuid() == 0) {
        path = "/proc/self/mem";  // exists, but reading it fails
    } else {
        ASSERT_EQ(0, chmod(path.c_str(), 0));
    }
    orv::power = 321;
    Load(path);
    EXPECT_EQ(321, orv::power);
    const std::string expect = std::string("Cannot open ") + (geteuid() == 0 ? "mem" : "locked.dat");
    EXPECT_EQ(expect, orv::szStatus.data());
}

TEST_F(ParaFile, FailedWriteIsReportedAndKeepsTheOldFile) {
    Save(Path("no-such-dir/KXpara.dat"));
    EXPECT_STREQ("Cannot write KXpara.dat", orv::szStatus.data());

    // A write that fails halfway, as on a full disk, leaves the old file whole.
    const std::string path = Write("keep.dat", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    rlimit small = saved;
    small.rlim_cur = 20;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    Save(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_STREQ("Cannot write keep.dat", orv::szStatus.data());
    EXPECT_EQ("1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n", Read(path));
}

TEST_F(ParaFile, ChosenPathTooLongReadsNothing) {
    std::string deep = dir.path().toStdString();
    while (deep.size() < 300) {
        deep += "/directory-level";
        ASSERT_EQ(0, mkdir(deep.c_str(), 0755));
    }
    const std::string path = deep + "/KXpara.dat";
    std::ofstream(path) << "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16";
    orv::power = 555;
    Load(path);
    EXPECT_EQ(555, orv::power);
    const auto shown = rt_test::TakeStatusHistory();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ("error : path too long - choose a shorter one!", shown.back());
}

}  // namespace
