// Recording the live scope to a CSV file, and saving the chart as a picture
// in the format its name asks for.
//
// While Record is on, every sample the scope plots becomes one row of the
// file, written as it comes. The rows wait in the runtime's buffer for at most
// RECORD_FLUSH_S before they are handed to the operating system, so a crash
// or a pulled plug loses less than a second of them. A write that fails ends
// the recording, never the scope.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/filestatus.h"
#include "com232/params.h"
#include "com232/scopecsv.h"
#include "gui/chart.h"

namespace orv {

namespace {

constexpr double RECORD_FLUSH_S = 0.5;  // longest time a row waits in the buffer
// The picture formats Save chart offers.
constexpr const char* CHART_FILE_TYPES = "*.png;*.jpg;*.jpeg;*.bmp;*.svg";

int recFile = -1;  // text-file handle while recording, else -1
double recStart = 0;
double recFlushed = 0;
std::array<char, MAX_PATHNAME_LEN> recPath{};

// "KXscope-YYYYMMDD-HHMMSS<ext>" in local time.
void StampedName(char* buf, std::size_t size, const char* ext) {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    char stamp[32] = "00000000-000000";
    if (local)
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", local);
    std::snprintf(buf, size, "KXscope-%s%s", stamp, ext);
}

void FailRecording() {
    CloseTextFile(recFile);
    recFile = -1;
    SetCtrlVal(panelHandle, ChkRecord, 0);
    ShowStatusF("Recording stopped - cannot write %s", FileBaseName(recPath.data()));
}

}  // namespace

bool Recording() {
    return recFile >= 0;
}

void RecordSample() {
    if (recFile < 0)
        return;
    const double now = Timer();
    // The lamps as the chart judged them for this sample.
    const ScopeRow row = MakeScopeRow((now - recStart) * 1000.0, valNORM, refOutput, tolOutput);
    char line[SCOPE_CSV_LEN];
    const int n = ScopeCsvRow(line, SCOPE_CSV_LEN, row);
    if (n < 0 || AppendTextFile(recFile, line, n) < 0) {
        FailRecording();
        return;
    }
    if (now - recFlushed >= RECORD_FLUSH_S) {
        recFlushed = now;
        if (FlushTextFile(recFile) < 0)
            FailRecording();
    }
}

void FlushRecording() {
    if (recFile < 0)
        return;
    recFlushed = Timer();
    if (FlushTextFile(recFile) < 0)
        FailRecording();
}

void StopRecording() {
    if (recFile < 0)
        return;
    const int rc = CloseTextFile(recFile);
    recFile = -1;
    if (rc < 0)
        ShowStatusF("Recording stopped - cannot write %s", FileBaseName(recPath.data()));
    else
        ShowStatusF("%s saved", FileBaseName(recPath.data()));
}

int CC_ChkRecord(int panel, int control, int event, void*, int, int) {
    if (event != EVT_COMMIT)
        return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    if (!on) {
        StopRecording();
        return 0;
    }
    if (recFile >= 0)
        return 0;

    char proposed[64];
    StampedName(proposed, sizeof proposed, ".csv");
    const int chosen = FileSelectPopup(proj_dir.data(), proposed, "*.csv", "Record measurements", BUTTON_OK,
                                       0, 1, 1, 1, recPath.data());
    if (chosen <= 0) {
        // Cancelled, or a path too long to keep: Record stays off.
        SetCtrlVal(panel, control, 0);
        return 0;
    }
    const int file = OpenTextFile(recPath.data(), FILE_TRUNCATE);
    char header[SCOPE_CSV_LEN];
    const int n = ScopeCsvHeader(header, SCOPE_CSV_LEN);
    if (file < 0 || n < 0 || AppendTextFile(file, header, n) < 0 || FlushTextFile(file) < 0) {
        if (file >= 0)
            CloseTextFile(file);
        SetCtrlVal(panel, control, 0);
        ShowStatusF("Cannot write %s", FileBaseName(recPath.data()));
        return 0;
    }
    recFile = file;
    recStart = Timer();
    recFlushed = recStart;
    ShowStatusF("Recording to %s", FileBaseName(recPath.data()));
    return 0;
}

int CC_BTNSaveChart(int panel, int, int event, void*, int, int) {
    if (event != EVT_COMMIT)
        return 0;
    char proposed[64];
    StampedName(proposed, sizeof proposed, ".png");
    std::array<char, MAX_PATHNAME_LEN> path{};
    const int chosen = FileSelectPopup(proj_dir.data(), proposed, CHART_FILE_TYPES, "Save chart", BUTTON_OK,
                                       0, 1, 1, 1, path.data());
    if (chosen <= 0)
        return 0;
    // The suffix chooses the format; a name without a known one gets ".png".
    if (ChartImageFormat(path.data()) == 0) {
        const std::size_t len = std::strlen(path.data());
        if (len + 4 >= path.size()) {
            ShowStatusF("Cannot write %s", FileBaseName(path.data()));
            return 0;
        }
        std::memcpy(path.data() + len, ".png", 5);
    }
    if (SaveChartImage(panel, StripChart, path.data()) < 0)
        ShowStatusF("Cannot write %s", FileBaseName(path.data()));
    else
        ShowStatusF("%s saved", FileBaseName(path.data()));
    return 0;
}

}  // namespace orv
