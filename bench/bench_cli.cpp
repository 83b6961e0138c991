// Times orvanscope-cli as a production line runs it, each copy a process of
// its own against a simulated sensor pacing a 19200-baud line: the flash
// programming on one port and on four ports at once, and measuring.
//
//   bench_cli [measure-seconds]      (default 10; orvanscope-cli is taken
//                                     from the directory of this program)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "com232/flash.h"
#include "kxsim.h"

namespace fs = std::filesystem;

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Starts orvanscope-cli with `args` in `cwd`, output to /dev/null.
pid_t Start(const std::vector<std::string>& args, const fs::path& cwd) {
    std::vector<std::string> words{
        (fs::read_symlink("/proc/self/exe").parent_path() / "orvanscope-cli").string()};
    words.insert(words.end(), args.begin(), args.end());
    std::fflush(stdout);  // or the child would print what is buffered once more
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr) ||
            chdir(cwd.c_str()) != 0)
            _exit(100);
        execv(argv[0], argv.data());
        _exit(101);
    }
    return pid;
}

int Reap(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Flash programmings on the first `n` sensors at once: the longest time.
double FlashAll(std::vector<std::unique_ptr<kxsim::Sensor>>& sensors, int n, const fs::path& dir, bool* ok) {
    std::vector<pid_t> pids;
    const double t0 = Now();
    for (int i = 0; i < n; ++i)
        pids.push_back(
            Start({"-q", "--device", sensors[static_cast<std::size_t>(i)]->devicePath(), "flash"}, dir));
    for (pid_t pid : pids)
        *ok = Reap(pid) == 0 && *ok;
    return Now() - t0;
}

}  // namespace

int main(int argc, char** argv) {
    const double measureSeconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    std::vector<std::unique_ptr<kxsim::Sensor>> sensors;
    for (int i = 0; i < 4; ++i) {
        sensors.push_back(std::make_unique<kxsim::Sensor>());  // paces the line like the real one
        if (!sensors.back()->start()) {
            std::fprintf(stderr, "simulated sensor did not start\n");
            return 1;
        }
    }
    char tmpl[] = "/tmp/orv-bench-cli-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return 1;
    const fs::path dir = tmpl;
    {
        std::ofstream source(dir / "KXconfig.dat");
        for (int group = 0; group < 3; ++group) {
            for (int i = 0; i < 1024; ++i)
                source << (group == 0 ? 3 * i + 7 : i) << (i < 1023 ? '\t' : '\n');
        }
    }

    // The sequence's floor: every exchange waits 50 ms, during which the
    // request and the reply travel; 0.15 s after block 0 of each page and
    // 0.05 s between pages.
    const double floor =
        64 * 2 * orv::FLASH_REPLY_WAIT + 4 * orv::FLASH_ERASE_WAIT + 3 * orv::FLASH_PAGE_WAIT;
    bool ok = true;
    const double one = FlashAll(sensors, 1, dir, &ok);
    const double four = FlashAll(sensors, 4, dir, &ok);
    std::printf("%-48s %10s\n", "orvanscope-cli flash (whole process)", "seconds");
    std::printf("%-48s %10.3f\n", "  one port", one);
    std::printf("%-48s %10.3f\n", "  four ports at once, the last to end", four);
    std::printf("%-48s %10.3f\n", "  floor of the sequence", floor);
    std::printf("%-48s %10.4f\n", "  four at once / one", four / one);
    std::printf("%-48s %10s\n", "  all programmings exited 0", ok ? "yes" : "NO");

    const std::string csv = (dir / "m.csv").string();
    const double t0 = Now();
    const int code = Reap(Start({"-q", "--device", sensors[0]->devicePath(), "measure", "--seconds",
                                 std::to_string(measureSeconds), "--csv", csv},
                                dir));
    const double took = Now() - t0;
    std::ifstream rows(csv);
    const long lines = std::count(std::istreambuf_iterator<char>(rows), {}, '\n') - 1;  // less the header
    const double line = 1000.0 / (2 * kxsim::kFrameWireMs);                             // samples a second
    const double rate = static_cast<double>(lines) / measureSeconds;
    std::printf("%-48s %10s\n", "orvanscope-cli measure", "");
    std::printf("%-48s %10ld\n", "  samples", lines);
    std::printf("%-48s %10.2f\n", "  samples a second", rate);
    std::printf("%-48s %10.1f\n", "  % of the line's limit", 100.0 * rate / line);
    std::printf("%-48s %10.3f\n", "  whole process, seconds", took);
    std::printf("%-48s %10d\n", "  exit code", code);
    fs::remove_all(dir);
    for (auto& s : sensors)
        s->stop();
    return ok && code == 0 ? 0 : 1;
}
