// Live scope speed: the real program (offscreen) against the simulated sensor.
//  1. sensor pacing the 19200-baud line: samples per second against the line's
//     limit of 26.7/s (72 bytes per sample), and the program's CPU use;
//  2. sensor answering at once: the program's own cost per sample (request,
//     reply, plot with drawing, indicators).
//   bench_scope [paced-seconds=20] [fast-seconds=5]
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
    const double pacedSeconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    const double fastSeconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    kxsim::Sensor sensor;
    if (!bench::StartProgram(sensor))
        return 1;

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
    std::printf("%-44s %12.0f %12s\n", "answering at once: samples", fast.samples, "");
    std::printf("%-44s %9.3f ms %12s\n", "answering at once: wall time per sample",
                1000.0 * fast.seconds / fast.samples, "");
    std::printf("%-44s %9.3f ms %12s\n", "answering at once: CPU per sample",
                1000.0 * fast.cpu / fast.samples, "<= 1 ms");
    std::printf("(%.1f s paced, %.1f s at once)\n", paced.seconds, fast.seconds);
    orv::ShutDown();
    return 0;
}
