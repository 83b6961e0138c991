// Soak: the live scope running against the simulated sensor answering at
// once, for 30 minutes by default. Resident memory and open file descriptors
// are read after the first minute and at the end.
//   bench_soak [minutes=30]
#include <algorithm>

#include "bench_common.h"

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 30.0;
    kxsim::Options options;
    options.fast = true;
    options.logLimit = 1000;  // the sensor's own log must not weigh on the program's memory
    kxsim::Sensor sensor(options);
    if (!bench::StartProgram(sensor))
        return 1;

    long rss1 = -1, rssMax = 0;
    int fds1 = -1;
    const double firstMinute = std::min(60.0, minutes * 60.0 / 2);
    bench::RunScopeFor(minutes * 60.0, [&](double t) {
        const long rss = bench::ResidentKiB();
        rssMax = std::max(rssMax, rss);
        if (rss1 < 0 && t >= firstMinute) {
            rss1 = rss;
            fds1 = bench::OpenFds();
        }
        if (static_cast<long>(t) % 300 == 0) {
            std::printf("%6.0f s: %ld KiB resident, %d descriptors, %zu requests\n", t, rss, bench::OpenFds(),
                        sensor.framesReceived());
            std::fflush(stdout);
        }
    });
    const long rssEnd = bench::ResidentKiB();
    const int fdsEnd = bench::OpenFds();
    const std::size_t samples = bench::Requests(sensor);
    std::printf("%-40s %12s %12s\n", "soak", "measured", "target");
    std::printf("%-40s %12.1f\n", "minutes", minutes);
    std::printf("%-40s %12zu\n", "requests", samples);
    std::printf("%-40s %9ld KiB\n", "resident after the first minute", rss1);
    std::printf("%-40s %9ld KiB\n", "resident at the end", rssEnd);
    std::printf("%-40s %11.2f%% %12s\n", "growth", 100.0 * (rssEnd - rss1) / rss1, "<= 5%");
    std::printf("%-40s %9ld KiB\n", "largest resident", rssMax);
    std::printf("%-40s %5d -> %-5d %12s\n", "open descriptors", fds1, fdsEnd, "no growth");
    orv::ShutDown();
    return 0;
}
