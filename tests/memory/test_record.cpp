// Recording the live scope, saving the chart and the longer view, against the
// simulated sensor: the rows are the sensor's replies in order, reach the
// disk while the file is still open, and a failing disk ends the recording
// but not the scope.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/params.h"
#include "gui/chart.h"
#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

namespace {

long Count(const std::vector<std::string>& v, const std::string& s) {
    return std::count(v.begin(), v.end(), s);
}

struct Row {
    long ms;
    int value, reference, upper, lower, refOut, tolOut;
};

class Record : public orv_test::App {
  protected:
    QTemporaryDir dir;
    std::string proj;

    void BeforeStartUp() override {
        ASSERT_TRUE(dir.isValid());
        proj = dir.path().toStdString() + "/proj";
        ASSERT_EQ(0, mkdir(proj.c_str(), 0755));
        ASSERT_EQ(0, chdir(proj.c_str()));
    }
    void SetUp() override {
        App::SetUp();
        if (HasFatalFailure())
            return;
        rt_test::Pump(50);
        Status();
    }
    void TearDown() override {
        orv::StopRecording();
        App::TearDown();
    }

    std::string Path(const std::string& name) const { return proj + "/" + name; }
    int Checked(int control) {
        int v = -1;
        GetCtrlVal(panel(), control, &v);
        return v;
    }
    // Header and rows of the file as it is on the disk now.
    static std::vector<Row> Rows(const std::string& path, std::string* header = nullptr) {
        std::ifstream in(path);
        std::string line;
        std::getline(in, line);
        if (header)
            *header = line;
        std::vector<Row> rows;
        while (std::getline(in, line)) {
            Row r{};
            if (std::sscanf(line.c_str(), "%ld,%d,%d,%d,%d,%d,%d", &r.ms, &r.value, &r.reference, &r.upper,
                            &r.lower, &r.refOut, &r.tolOut) == 7)
                rows.push_back(r);
        }
        return rows;
    }
    // The sensor's k-th measurement since it started: a triangle sweep over
    // reference ± 2·tolerance in 32 steps, starting at the reference.
    int Measurement(long k) const {
        const auto ram = sensor->ram();
        const int ref = std::clamp<int>(ram[2], 0, 1023), tol = std::min<int>(ram[3], 1023);
        const int lo = std::clamp(ref - 2 * tol, 0, 1023), hi = std::clamp(ref + 2 * tol, 0, 1023);
        const long pos = (16 + k) % 64;
        const long up = pos <= 32 ? pos : 64 - pos;
        return static_cast<int>(lo + (hi - lo) * up / 32);
    }
    long MeasureRequestsSince(std::size_t before) const {
        const auto frames = FramesSince(before);
        return std::count_if(frames.begin(), frames.end(),
                             [](const auto& f) { return kxsim::FrameWord(f, -1) == 8; });
    }
    // One run of the scope for `ms`; returns the measurement requests sent.
    long Run(int ms, const std::function<void()>& during = {}) {
        const std::size_t before = sensor->framesReceived();
        if (during)
            during();
        rt_test::After(ms, [this] { rt_test::Click(panel(), orv::BTNStop); });
        rt_test::Click(panel(), orv::BTNRun);
        rt_test::Pump(200);  // the last request reaches the sensor
        return MeasureRequestsSince(before);
    }
    // Rows `from`.. of `rows` are the sensor's measurements `first`.. in
    // order, none missing; only the reply still on its way at Stop may be
    // absent.
    void ExpectReplies(const std::vector<Row>& rows, std::size_t from, long first, long requests) const {
        const long n = static_cast<long>(rows.size() - from);
        EXPECT_TRUE(n == requests || n == requests - 1) << n << " rows for " << requests << " requests";
        for (long k = 0; k < n; ++k)
            ASSERT_EQ(rows[from + static_cast<std::size_t>(k)].value, Measurement(first + k))
                << "row " << from + k;
    }
    void StartRecording(const std::string& name) {
        rt_test::AnswerNextFileDialog(Path(name));
        rt_test::Click(panel(), orv::ChkRecord);
    }
};

}  // namespace

TEST_F(Record, RowsAreTheSensorsRepliesInOrderOnDiskWithinASecondAcrossStopAndRun) {
    const double t0 = Timer();
    StartRecording("run.csv");
    const auto dialog = rt_test::LastFileDialog();
    EXPECT_EQ(dialog.title, "Record measurements");
    EXPECT_EQ(dialog.directory, proj);
    EXPECT_TRUE(std::regex_match(dialog.defaultFile, std::regex(R"(KXscope-\d{8}-\d{6}\.csv)")))
        << dialog.defaultFile;
    EXPECT_EQ(Status(), std::vector<std::string>{"Recording to run.csv"});
    EXPECT_EQ(Checked(orv::ChkRecord), 1);

    // While the file is open, every row older than a second is on the disk.
    int looks = 0;
    std::function<void()> look = [&] {
        const auto rows = Rows(Path("run.csv"));
        const double ageMs = (Timer() - t0) * 1000.0;
        EXPECT_FALSE(rows.empty());
        if (!rows.empty()) {
            EXPECT_GE(rows.back().ms, ageMs - 1000.0) << "at " << ageMs << " ms";
        }
        if (++looks < 4)
            rt_test::After(700, look);
    };
    const long first = Run(3500, [&] { rt_test::After(1200, look); });
    EXPECT_EQ(looks, 4);
    const auto afterFirst = Rows(Path("run.csv"));  // flushed by Stop

    // A second run, with the longer view switched on: the chart then holds
    // every sample of the run (more than the live 100), as recorded.
    const long second =
        Run(5000, [&] { rt_test::After(4500, [&] { rt_test::Click(panel(), orv::ChkHistory); }); });
    const auto history = rt_test::TracePoints(panel(), orv::StripChart, 4);
    rt_test::Click(panel(), orv::ChkHistory);
    EXPECT_EQ(rt_test::TracePoints(panel(), orv::StripChart, 4).size(), 101u);

    rt_test::Click(panel(), orv::ChkRecord);
    EXPECT_EQ(Count(Status(), "run.csv saved"), 1);
    EXPECT_EQ(Checked(orv::ChkRecord), 0);

    std::string header;
    const auto rows = Rows(Path("run.csv"), &header);
    EXPECT_EQ(header, "time_ms,value,reference,upper,lower,ref_output,tol_output");
    // The reply on its way at the first Stop is taken by the second run: the
    // rows of both runs are one unbroken sequence of the sensor's replies.
    ExpectReplies(rows, 0, 0, first + second);
    for (std::size_t k = 1; k < rows.size(); ++k)
        ASSERT_GE(rows[k].ms, rows[k - 1].ms);
    const Row& last = rows.back();
    EXPECT_EQ(last.upper, last.reference + orv::tolerance);
    EXPECT_EQ(last.lower, last.reference - orv::tolerance);
    EXPECT_EQ(last.refOut, rt_test::Int(panel(), orv::LedREF));
    EXPECT_EQ(last.tolOut, rt_test::Int(panel(), orv::LedTOL));

    const std::size_t secondRows = rows.size() - afterFirst.size();
    ASSERT_GT(secondRows, 101u);
    ASSERT_EQ(history.size(), secondRows);
    for (std::size_t k = 0; k < secondRows; ++k)
        ASSERT_EQ(history[k], rows[afterFirst.size() + k].value) << k;
}

TEST_F(Record, CancelledOrFailingFileLeavesRecordOffAndTheScopeRunning) {
    rt_test::AnswerNextFileDialog("");
    rt_test::Click(panel(), orv::ChkRecord);
    EXPECT_EQ(Checked(orv::ChkRecord), 0);
    EXPECT_TRUE(Status().empty());

    // The disk takes the header and a few rows, then refuses more.
    StartRecording("full.csv");
    ASSERT_EQ(Checked(orv::ChkRecord), 1);
    Status();
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 400;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    std::size_t atFailure = 0;
    std::function<void()> poll = [&] {
        if (Checked(orv::ChkRecord) == 0)
            atFailure = sensor->framesReceived();
        else
            rt_test::After(50, poll);
    };
    const long requests = Run(4000, [&] { rt_test::After(50, poll); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(Count(Status(), "Recording stopped - cannot write full.csv"), 1);
    ASSERT_GT(atFailure, 0u);
    EXPECT_EQ(Checked(orv::ChkRecord), 0);
    EXPECT_FALSE(orv::Recording());
    EXPECT_GT(requests, 100);
    EXPECT_GT(MeasureRequestsSince(atFailure), 50);  // the scope measured on

    // A file that cannot be created: Record stays off.
    StartRecording("missing/x.csv");
    EXPECT_EQ(Checked(orv::ChkRecord), 0);
}

TEST_F(Record, SaveChartWritesAPictureInTheProjectDirectory) {
    rt_test::AnswerNextFileDialog(Path("chart.png"));
    rt_test::Click(panel(), orv::BTNSaveChart);
    const auto dialog = rt_test::LastFileDialog();
    EXPECT_EQ(dialog.title, "Save chart");
    EXPECT_EQ(dialog.directory, proj);
    EXPECT_TRUE(std::regex_match(dialog.defaultFile, std::regex(R"(KXscope-\d{8}-\d{6}\.png)")))
        << dialog.defaultFile;
    EXPECT_EQ(Status(), std::vector<std::string>{"chart.png saved"});
    std::ifstream in(Path("chart.png"), std::ios::binary);
    std::string magic(8, '\0');
    in.read(magic.data(), 8);
    EXPECT_EQ(magic, "\x89PNG\r\n\x1a\n");
}
