// Live scope speed: the real program (offscreen) against the simulated sensor.
//  1. sensor pacing the 19200-baud line: samples per second against the line's
//     limit of 26.7/s (72 bytes per sample), and the program's CPU use;
//  2. sensor answering fast (as soon as the request is in, 18.75 ms after it):
//     the program's own cost per sample (request, reply, plot with drawing,
//     indicators).
// The sensor hands each reply over in one piece unless told to behave like a
// real line (--trickle N: pieces of N bytes at the line's pace) or a USB
// adapter (--usb-latency MS: bursts every MS ms); that line serves both parts.
// --record FILE records both parts to FILE as the Record box does, and counts
// the rows written. --line-view measures with the line view open, taking
// every frame as it comes.
//   bench_scope [paced-seconds=20] [fast-seconds=5] [--trickle N] [--usb-latency MS] [--reply-sync WORD]
//               [--record FILE] [--line-view]
#include <fstream>
#include <string>

#include "bench_common.h"

namespace {

struct Result {
    double seconds, samples, cpu;
};

Result Measure(kxsim::Sensor& sensor, double seconds) {
    const std::size_t before = bench::Requests(sensor);
    const double wall0 = bench::Wall(), cpu0 = bench::ThreadCpu();
    bench::RunScopeFor(seconds, [](double) {});
    const double wall = bench::Wall() - wall0, cpu = bench::ThreadCpu() - cpu0;
    // Every request but the last was answered and plotted.
    const double samples = static_cast<double>(bench::Requests(sensor) - before) - 1;
    return {wall, samples, cpu};
}

}  // namespace

int main(int argc, char** argv) {
    double seconds[2] = {20.0, 5.0};  // paced, at once
    int positional = 0;
    kxsim::Options line;
    std::string recordFile;
    bool lineView = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--line-view") {
            lineView = true;
            continue;
        }
        if (a == "--trickle" && i + 1 < argc &&
            bench::IntArg(argv[++i], 1, kxsim::kFrameBytes, line.trickleBytes))
            continue;
        if (a == "--usb-latency" && i + 1 < argc && bench::IntArg(argv[++i], 1, 100, line.usbLatencyMs))
            continue;
        if (a == "--reply-sync" && i + 1 < argc) {
            // A sensor that answers with another sync word.
            int word = 0;
            if (!bench::IntArg(argv[++i], 0, 65535, word))
                break;
            line.replySync = kxsim::ReplySync::Fixed;
            line.replySyncWord = static_cast<std::uint16_t>(word);
            continue;
        }
        if (a == "--record" && i + 1 < argc) {
            recordFile = argv[++i];
            continue;
        }
        if (positional < 2 && !a.empty() && a[0] != '-') {
            seconds[positional++] = std::atof(a.c_str());
            continue;
        }
        std::fprintf(stderr,
                     "usage: bench_scope [paced-seconds=20] [fast-seconds=5] [--trickle N(1..36)] "
                     "[--usb-latency MS(1..100)] [--reply-sync WORD] [--record FILE] [--line-view]\n");
        return 2;
    }
    const double pacedSeconds = seconds[0], fastSeconds = seconds[1];
    kxsim::Sensor sensor(line);
    if (!bench::StartProgram(sensor))
        return 1;
    std::printf("line: %s\n", bench::LineName(line).c_str());
    if (lineView) {
        rt_test::Click(orv::panelHandle, orv::BTNLineView);
        rt_test::Pump(300);
        std::printf("line view open\n");
    }
    if (!recordFile.empty()) {
        rt_test::AnswerNextFileDialog(recordFile);
        rt_test::Click(orv::panelHandle, orv::ChkRecord);
        if (!orv::Recording()) {
            std::fprintf(stderr, "bench_scope: cannot record to %s\n", recordFile.c_str());
            return 1;
        }
        std::printf("recording to %s\n", recordFile.c_str());
    }

    const Result paced = Measure(sensor, pacedSeconds);
    sensor.setFast(true);
    rt_test::Pump(300);
    const Result fast = Measure(sensor, fastSeconds);

    const double lineLimit = 19200.0 / 10.0 / 72.0;  // samples per second
    const double rate = paced.samples / paced.seconds;
    std::printf("%-44s %12s %12s\n", "live scope", "measured", "target");
    std::printf("%-44s %12.2f %12s\n", "paced line: samples/s", rate, "");
    std::printf("%-44s %11.1f%% %11s\n", "paced line: share of the line's 26.67/s", 100.0 * rate / lineLimit,
                ">= 97%");
    std::printf("%-44s %11.2f%% %11s\n", "paced line: CPU of one core (GUI thread)",
                100.0 * paced.cpu / paced.seconds, "<= 5%");
    std::printf("%-44s %12.0f %12s\n", "answering fast: samples", fast.samples, "");
    std::printf("%-44s %9.3f ms %12s\n", "answering fast: wall time per sample",
                1000.0 * fast.seconds / fast.samples, "");
    std::printf("%-44s %9.3f ms %12s\n", "answering fast: CPU per sample", 1000.0 * fast.cpu / fast.samples,
                "<= 1 ms");
    std::printf("(%.1f s paced, %.1f s fast)\n", paced.seconds, fast.seconds);
    if (!recordFile.empty()) {
        orv::StopRecording();
        std::ifstream in(recordFile);
        long lines = 0;
        for (std::string row; std::getline(in, row);)
            ++lines;
        std::printf("recorded rows: %ld (samples plotted: %.0f)\n", lines - 1, paced.samples + fast.samples);
    }
    orv::ShutDown();
    return 0;
}
