// Recording the live scope, the longer view and saving the chart, against the
// simulated sensor: the rows are the sensor's replies in order, reach the disk
// while the file is open, and a failing disk ends the recording, not the scope.
// Each case runs in its own process (the project directory is taken once).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/params.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

namespace {

struct Row {
    long ms;
    int value, reference, upper, lower, refOut, tolOut;
};

class Record : public orv_test::App {
  protected:
    QTemporaryDir dir;
    std::string proj;

    void BeforeStartUp() override {
        proj = dir.path().toStdString() + "/proj";
        ASSERT_EQ(0, mkdir(proj.c_str(), 0755));
        ASSERT_EQ(0, chdir(proj.c_str()));
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
    long Shown(const std::string& text) {
        const auto s = Status();
        return std::count(s.begin(), s.end(), text);
    }
    // The rows of the file as it is on the disk now (the header is skipped).
    static std::vector<Row> Rows(const std::string& path) {
        std::ifstream in(path);
        std::vector<Row> rows;
        for (std::string line; std::getline(in, line);) {
            Row r{};
            if (std::sscanf(line.c_str(), "%ld,%d,%d,%d,%d,%d,%d", &r.ms, &r.value, &r.reference, &r.upper,
                            &r.lower, &r.refOut, &r.tolOut) == 7)
                rows.push_back(r);
        }
        return rows;
    }
    // The sensor's k-th measurement: a triangle sweep over reference ±
    // 2·tolerance in 32 steps, starting at the reference.
    int Measurement(long k) const {
        const auto ram = sensor->ram();
        const int lo = std::max(ram[2] - 2 * ram[3], 0), hi = std::min(ram[2] + 2 * ram[3], 1023);
        const long pos = (16 + k) % 64;
        return static_cast<int>(lo + (hi - lo) * (pos <= 32 ? pos : 64 - pos) / 32);
    }
    // One run of the scope for `ms`; returns the measurement requests sent.
    long Run(
        int ms, const std::function<void()>& during = [] {}) {
        const std::size_t before = sensor->framesReceived();
        during();
        rt_test::After(ms, [this] { rt_test::Click(panel(), orv::BTNStop); });
        rt_test::Click(panel(), orv::BTNRun);
        rt_test::Pump(200);  // the last request reaches the sensor
        const auto frames = FramesSince(before);
        return std::count_if(frames.begin(), frames.end(),
                             [](const auto& f) { return kxsim::FrameWord(f, -1) == 8; });
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
    EXPECT_TRUE(std::regex_match(dialog.defaultFile, std::regex(R"(KXscope-\d{8}-\d{6}\.csv)")));
    EXPECT_EQ(Shown("Recording to run.csv"), 1);

    // While the file is open, every row older than a second is on the disk.
    int looks = 0;
    std::function<void()> look = [&] {
        const auto rows = Rows(Path("run.csv"));
        const double ageMs = (Timer() - t0) * 1000.0;
        EXPECT_GE(rows.empty() ? -1.0 : rows.back().ms, ageMs - 1000.0) << "at " << ageMs << " ms";
        if (++looks < 4)
            rt_test::After(700, look);
    };
    const long first = Run(3500, [&] { rt_test::After(1200, look); });
    EXPECT_EQ(looks, 4);
    const std::size_t firstRows = Rows(Path("run.csv")).size();

    // A second run with History switched on near its end: the chart then
    // holds every sample of the run, as recorded; off, the live 100 again.
    const long second =
        Run(5000, [&] { rt_test::After(4500, [&] { rt_test::Click(panel(), orv::ChkHistory); }); });
    const auto history = rt_test::TracePoints(panel(), orv::StripChart, 4);
    rt_test::Click(panel(), orv::ChkHistory);
    EXPECT_EQ(rt_test::TracePoints(panel(), orv::StripChart, 4).size(), 101u);

    rt_test::Click(panel(), orv::ChkRecord);
    EXPECT_EQ(Shown("run.csv saved"), 1);
    EXPECT_EQ(Checked(orv::ChkRecord), 0);
    std::ifstream in(Path("run.csv"));
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header, "time_ms,value,reference,upper,lower,ref_output,tol_output");

    // The reply on its way at the first Stop is taken by the second run: the
    // rows of both runs are the sensor's replies in order. A request sent on
    // while the reply before it was still held back at Stop is given up, so
    // one measurement may be missing at each Stop.
    const auto rows = Rows(Path("run.csv"));
    const long n = static_cast<long>(rows.size());
    EXPECT_GE(n, first + second - 3) << n << " rows, " << first + second << " requests";
    EXPECT_LE(n, first + second);
    long skipped = 0;
    for (long k = 0; k < n; ++k) {
        const Row& r = rows[static_cast<std::size_t>(k)];
        // Right after the reply held at Stop, which the second run plots first.
        if (skipped == 0 && k == static_cast<long>(firstRows) + 1 && r.value != Measurement(k))
            ++skipped;
        ASSERT_EQ(r.value, Measurement(k + skipped)) << "row " << k;
        ASSERT_TRUE(k == 0 || r.ms >= rows[static_cast<std::size_t>(k - 1)].ms);
        ASSERT_EQ(r.upper, orv::reference + orv::tolerance);
        ASSERT_EQ(r.lower, orv::reference - orv::tolerance);
    }
    EXPECT_EQ(rows.back().refOut, rt_test::Int(panel(), orv::LedREF));
    EXPECT_EQ(rows.back().tolOut, rt_test::Int(panel(), orv::LedTOL));
    ASSERT_GT(rows.size() - firstRows, 101u);
    ASSERT_EQ(history.size(), rows.size() - firstRows);
    for (std::size_t k = 0; k < history.size(); ++k)
        ASSERT_EQ(history[k], rows[firstRows + k].value) << k;
}

TEST_F(Record, CancelOrAFailingDiskLeavesRecordOffAndTheScopeRunningAndSaveChartWritesAPicture) {
    rt_test::AnswerNextFileDialog("");
    rt_test::Click(panel(), orv::ChkRecord);
    EXPECT_EQ(Checked(orv::ChkRecord), 0);

    // The disk takes the header and a few rows, then refuses more.
    StartRecording("full.csv");
    ASSERT_EQ(Checked(orv::ChkRecord), 1);
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 400;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    std::size_t atFailure = 0;
    std::string stayed;  // the status line half a second of samples later
    std::function<void()> poll = [&] {
        if (Checked(orv::ChkRecord) == 0) {
            atFailure = sensor->framesReceived();
            rt_test::After(500, [&] { stayed = rt_test::Text(panel(), orv::TextStatus); });
        } else {
            rt_test::After(50, poll);
        }
    };
    const long requests = Run(4000, [&] { rt_test::After(50, poll); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(Shown("Recording stopped - cannot write full.csv"), 1);
    EXPECT_EQ(stayed, "Recording stopped - cannot write full.csv");
    EXPECT_FALSE(orv::Recording());
    ASSERT_GT(atFailure, 0u);
    EXPECT_GT(requests, 100);
    EXPECT_GT(sensor->framesReceived() - atFailure, 50u);  // the scope measured on

    // Save chart: the format the name asks for, where the dialog says; a
    // name without a known suffix gets ".png" (this runtime draws no SVG).
    auto magic = [this](const std::string& name, std::size_t n) {
        std::ifstream in(Path(name), std::ios::binary);
        std::string head(n, '\0');
        in.read(head.data(), static_cast<std::streamsize>(n));
        return head;
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"chart.png", "chart.png"}, {"chart.jpg", "chart.jpg"},     {"chart.BMP", "chart.BMP"},
        {"chart", "chart.png"},     {"chart.dat", "chart.dat.png"}, {"chart.svg", "chart.svg.png"}};
    for (const auto& [asked, written] : cases) {
        rt_test::AnswerNextFileDialog(Path(asked));
        rt_test::Click(panel(), orv::BTNSaveChart);
        EXPECT_EQ(Shown(written + " saved"), 1) << asked;
    }
    const auto dialog = rt_test::LastFileDialog();
    EXPECT_EQ(dialog.title, "Save chart");
    EXPECT_EQ(dialog.directory, proj);
    EXPECT_EQ(dialog.filter, "*.png;*.jpg;*.jpeg;*.bmp;*.svg");
    EXPECT_TRUE(std::regex_match(dialog.defaultFile, std::regex(R"(KXscope-\d{8}-\d{6}\.png)")));
    EXPECT_EQ(magic("chart.png", 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(magic("chart.dat.png", 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(magic("chart.jpg", 3), "\xFF\xD8\xFF");
    EXPECT_EQ(magic("chart.BMP", 2), "BM");
}
