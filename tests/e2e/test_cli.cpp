// orvanscope-cli run as its own process, without a display, against the
// simulated sensor: every command, and every exit code with what it leaves on
// the sensor and in the files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kxsim.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

std::string Read(const fs::path& path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

// Reads a file and removes it.
std::string Take(const std::string& path) {
    const std::string text = Read(path);
    fs::remove(path);
    return text;
}

struct Result {
    int code = -1;
    std::string out, err;
};

// How the program is started besides its arguments.
struct Start {
    std::string stdinFile = "/dev/null";
    rlim_t fileSizeLimit = RLIM_INFINITY;  // bytes a file may grow to (a full disk)
};

// orvanscope-cli started in `cwd` with the words of `line` as arguments,
// DISPLAY unset and port 1 on `com1`; Wait() collects what it did.
class Cli {
  public:
    Cli(const std::string& line, const std::string& com1, const fs::path& cwd, const Start& start = {})
        : files_((cwd / ".cli").string() + std::to_string(++serial_)) {
        unsetenv("DISPLAY");
        setenv("ORVANSCOPE_COM1", com1.c_str(), 1);
        std::istringstream words(line);
        std::vector<std::string> args{(fs::read_symlink("/proc/self/exe").parent_path() / "orvanscope-cli")};
        args.insert(args.end(), std::istream_iterator<std::string>(words), {});
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int out = creat((files_ + ".out").c_str(), 0600), err = creat((files_ + ".err").c_str(), 0600);
        const int in = open(start.stdinFile.c_str(), O_RDONLY);
        pid_ = fork();
        if (pid_ == 0) {
            const rlimit limit{start.fileSizeLimit, start.fileSizeLimit};
            signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails instead
            if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(cwd.c_str()) != 0 ||
                setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(100);
            execv(argv[0], argv.data());
            _exit(101);
        }
        close(in);
        close(out);
        close(err);
    }
    ~Cli() { Wait(); }

    // Waits at most a minute: a program that would run on is killed (code 137).
    const Result& Wait() {
        int status = 0;
        for (int i = 0; pid_ > 0 && i < 6000 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        if (pid_ > 0)
            r_ = {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), Take(files_ + ".out"),
                  Take(files_ + ".err")};
        pid_ = -1;
        return r_;
    }
    void Signal(int sig) { kill(pid_, sig); }
    // From now on files may not grow beyond `bytes` (the disk fills).
    void LimitFileSize(rlim_t bytes) {
        const rlimit limit{bytes, bytes};
        prlimit(pid_, RLIMIT_FSIZE, &limit, nullptr);
    }

  private:
    static inline int serial_ = 0;
    std::string files_;
    pid_t pid_ = -1;
    Result r_;
};

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kxsim::Options o;
        o.fast = true;
        sensor = std::make_unique<kxsim::Sensor>(o);
        ASSERT_TRUE(sensor->start());
        char tmpl[] = "/tmp/orv-cli-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        sensor->stop();
        fs::remove_all(dir);
    }
    Result Run(const std::string& line, const fs::path& cwd = {}, const Start& start = {}) {
        return Cli(line, sensor->devicePath(), cwd.empty() ? dir : cwd, start).Wait();
    }
    std::vector<int> Orders() const {
        std::vector<int> orders;
        for (const kxsim::Frame& f : sensor->received())
            orders.push_back(kxsim::FrameWord(f, -1));
        return orders;
    }
    // A correction source whose table is 60 i at index i.
    void WriteSource(const fs::path& path) {
        fs::create_directories(path.parent_path());
        std::ofstream source(path);
        for (int group = 0; group < 3; ++group) {
            for (int i = 0; i < 1024; ++i)
                source << (group == 0 ? 60 * i : i) << (i < 1023 ? '\t' : '\n');
        }
    }

    std::unique_ptr<kxsim::Sensor> sensor;
    fs::path dir;
};

// Whether `text` holds `part`, for EXPECT_TRUE with the text shown.
::testing::AssertionResult Holds(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "'" << part << "' not in: " << text;
}

}  // namespace

TEST_F(CliTest, PortsGetSendTeachRoundTrip) {
    Result ports = Run("--json ports");
    EXPECT_EQ(ports.code, 0);
    EXPECT_EQ(json::parse(ports.out)["ports"][0]["device"], sensor->devicePath());

    // The block as the sensor holds it, keyed by slot name in slot order.
    Result get = Run("--json get");
    ASSERT_EQ(get.code, 0) << get.err;
    EXPECT_EQ(json::parse(get.out)["block"].dump(),
              R"({"power":500,"powermode":1,"reference":512,"tolerance":128,"backlimit":10,)"
              R"("hysteresis":10,"polarity":1,"average":8,"measure":0,"memory":0,"hold":100,"linear":1,)"
              R"("para12":0,"para13":0,"para14":0,"para15":0})");

    // Only the named slots change: read, write, read back, all from EEPROM.
    const std::size_t before = sensor->framesReceived();
    Result send = Run("send --target eeprom reference=600 hold=7");
    ASSERT_EQ(send.code, 0) << send.err;
    const std::vector<int> orders = Orders();
    EXPECT_EQ(std::vector<int>(orders.begin() + static_cast<long>(before), orders.end()),
              (std::vector<int>{4, 3, 4}));
    kxsim::Block want = kxsim::kDefaultBlock;
    want[2] = 600;
    want[10] = 7;
    EXPECT_EQ(sensor->eeprom(), want);
    EXPECT_EQ(sensor->ram(), kxsim::kDefaultBlock);
    EXPECT_NE(send.err.find("Read-back Ok!"), std::string::npos);

    // A backup in the parameter file format, to a file and through a pipe
    // ("-" on both sides), restored into RAM.
    Result backup = Run("get --target eeprom --out backup.dat");
    ASSERT_EQ(backup.code, 0) << backup.err;
    Result piped = Run("get --target eeprom --out -");
    EXPECT_EQ(piped.out, Read(dir / "backup.dat"));
    EXPECT_EQ(Run("send --file -", {}, {(dir / "backup.dat").string()}).code, 0);
    EXPECT_EQ(sensor->ram(), want);

    Result teach = Run("--json teach");
    ASSERT_EQ(teach.code, 0) << teach.err;
    EXPECT_EQ(json::parse(teach.out)["block"]["reference"], sensor->ram()[2]);
}

TEST_F(CliTest, BadInputExitsTwoAndSendsNothing) {
    std::ofstream(dir / "bad.dat") << "1 2 3\n";
    std::ofstream(dir / "seventeen.dat") << "500 1 512 128 10 10 1 8 0 0 100 1 0 0 0 0 0\n";
    std::ofstream(dir / "negative.dat") << "500 1 -1 128 10 10 1 8 0 0 100 1 0 0 0 0\n";
    std::ofstream(dir / "huge.dat") << "500 1 99999999999 128 10 10 1 8 0 0 100 1 0 0 0 0\n";
    std::ofstream table(dir / "KXlinear.dat");
    for (int i = 0; i < 3072; ++i)
        table << i % 1024 << (i % 1024 < 1023 ? '\t' : '\n');
    table.close();
    const std::string tableText = Read(dir / "KXlinear.dat");
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"bogus", ""},
        {"gett", "did you mean get?"},
        {"get --josn", "did you mean --json?"},
        {"--port 0 check", ""},
        {"get --target flash", ""},
        {"send reference=65536", "out of range"},
        {"send refrence=1", "did you mean reference?"},
        {"send reference=-1", "out of range"},
        {"send", ""},
        {"send --target eeprom --file KXlinear.dat", "holds 3072 numbers"},
        {"send --file bad.dat", "holds 3 numbers"},
        {"send --file seventeen.dat", "holds 17 numbers"},
        {"send --file negative.dat", "'-1' is out of range 0..65535"},
        {"send --file huge.dat", "'99999999999' is out of range 0..65535"},
        {"send --file backups/line3/missing.dat", "backups/line3/missing.dat: no such file"},
        {"verify --file KXlinear.dat", "holds 3072"},
        {"measure --count 0", "whole number of 1..100000000, not '0'"},
        {"measure --count 99999999999999999999", "whole number of 1..100000000"},
        {"flash --pages 3,4", "pages of 4..7"},
        {"flash --retries 11", ""},
        {"flash bad.dat", ""},
        {"flash" /* no KXconfig.dat here */, "KXconfig.dat: no such file"},
        {"get --out nodir/p.dat", "nodir/p.dat"},
    };
    for (const auto& [line, message] : cases) {
        Result c = Run(line);
        EXPECT_EQ(c.code, 2) << line << ": " << c.err;
        EXPECT_TRUE(Holds(c.err, message)) << line;
        EXPECT_LT(c.err.size(), 400u) << line;  // no 309-digit bound
    }
    EXPECT_EQ(sensor->framesReceived(), 0u);
    EXPECT_EQ(Read(dir / "KXlinear.dat"), tableText);

    // What is asked for about the program itself.
    EXPECT_EQ(Run("--help").code, 0);
    EXPECT_TRUE(Holds(Run("--version").out, "orvanscope-cli 1."));
    EXPECT_TRUE(Holds(Run("help").out, "Exit codes"));
    for (const char* line : {"help send", "send --help"}) {
        Result help = Run(line);
        EXPECT_EQ(help.code, 0) << line;
        EXPECT_TRUE(Holds(help.out, "--dry-run") && Holds(help.out, "--device PATH") &&
                    Holds(help.out, "--json"));
    }
}

TEST_F(CliTest, EveryOutcomeIsOneJsonObjectNamingTheDevice) {
    fs::create_symlink(sensor->devicePath(), dir / "sensor");
    const std::string device = (dir / "sensor").string();
    sensor->setSilent(true);
    const std::vector<std::pair<std::string, int>> cases = {
        {"--json get", 1},   {"--json send --file missing.dat", 2}, {"--json --port 5 check", 3},
        {"--json bogus", 2}, {"get --count 5 --json", 2},           {"--json --device " + device + " get", 1},
    };
    for (const auto& [line, code] : cases) {
        Result r = Run(line);
        EXPECT_EQ(r.code, code) << line;
        ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << line << ": " << r.out;
        const json j = json::parse(r.out);
        EXPECT_EQ(j["ok"], false) << line;
        EXPECT_EQ(j["exit"], code) << line;
        EXPECT_TRUE(j["error"].is_string() && !j["error"].get<std::string>().empty()) << line;
        EXPECT_TRUE(j["status"].is_string()) << line;
    }
    // --device is reported as the device, with no port number, in the outcome
    // and on the trace, where every frame is stamped with time and direction.
    sensor->setSilent(false);
    Result check = Run("--json --trace --device " + device + " check");
    ASSERT_EQ(check.code, 0) << check.err;
    const json j = json::parse(check.out);
    EXPECT_EQ(j["device"], device);
    EXPECT_TRUE(j["port"].is_null());
    EXPECT_TRUE(std::regex_search(
        check.err, std::regex("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} " + device + " tx .*00 55 00 07 .*\n.* " +
                              device + " rx .*00 55 00 07 00 AA")))
        << check.err;
    EXPECT_FALSE(Holds(check.err, "COM1"));
}

TEST_F(CliTest, PortsThatCannotBeOpenedSayWhyAndExitThree) {
    fs::create_directories(dir / "adir");
    for (const std::string& device : {std::string("/dev/null"), (dir / "adir").string()}) {
        Result r = Run("--device " + device + " check");
        EXPECT_EQ(r.code, 3);
        EXPECT_TRUE(Holds(r.err, "cannot open " + device + ": not a serial device"));
    }
    Result missing = Run("--device /nonexistent/ttyORV9 check");
    EXPECT_EQ(missing.code, 3);
    EXPECT_TRUE(Holds(missing.err, "No serial port found"));
    // An unmapped port says how to map it; in quiet mode every line begins
    // with the port or the device, for one log of many sensors.
    Result unmapped = Run("-q --port 5 get");
    EXPECT_EQ(unmapped.code, 3);
    EXPECT_EQ(unmapped.err.rfind("port 5: ", 0), 0u) << unmapped.err;
    EXPECT_TRUE(Holds(unmapped.err, "ORVANSCOPE_COM5=") && Holds(unmapped.err, "--device PATH"));
    EXPECT_EQ(Run("-q --device /dev/null get").err.rfind("/dev/null: ", 0), 0u);

    // A second copy on the same device, by its name or through a link, is
    // refused and sends nothing while the first measures on.
    fs::create_symlink(sensor->devicePath(), dir / "com1");
    Cli first("measure --csv m.csv", (dir / "com1").string(), dir);
    ASSERT_TRUE(sensor->waitForFrames(3, 5000));
    for (const std::string& device : {sensor->devicePath(), (dir / "com1").string()}) {
        Result second = Cli("check", device, dir).Wait();
        EXPECT_EQ(second.code, 3);
        EXPECT_TRUE(Holds(second.err, "in use by another program"));
    }
    first.Signal(SIGINT);  // measure ends on Ctrl+C with what it has
    EXPECT_EQ(first.Wait().code, 130) << first.Wait().err;
    for (int order : Orders())
        EXPECT_NE(order, 7);
}

TEST_F(CliTest, SensorFailuresExitOneWithTheWindowsTexts) {
    // A read-back that differs from the block written: a stale block answers
    // the read-back request before the sensor's own, slowed, reply. (Bytes
    // that came sooner than the request could be answered would be noise.)
    sensor->setDelayMs(1000);
    Cli send("send reference=600", sensor->devicePath(), dir);
    ASSERT_TRUE(sensor->waitForFrames(3, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const kxsim::Frame stale = kxsim::MakeFrame(0x55, 2, kxsim::kDefaultBlock);
    ASSERT_TRUE(sensor->inject({stale.begin(), stale.end()}));
    EXPECT_EQ(send.Wait().code, 1);
    EXPECT_NE(send.Wait().err.find("Read-back error - reference sent 600, read 512!"), std::string::npos)
        << send.Wait().err;

    ASSERT_TRUE(sensor->waitForReplies(2, 5000));  // the slowed replies are out of the way
    sensor->setDelayMs(0);
    sensor->setSilent(true);
    Result get = Run("-q get");
    EXPECT_EQ(get.code, 1);
    EXPECT_EQ(get.err, "port 1 (" + sensor->devicePath() + "): Timeout RS232-Line!\n");
    EXPECT_TRUE(get.out.empty());
    EXPECT_NE(Run("check").err.find("Timeout < 36 Bytes"), std::string::npos);
    EXPECT_NE(Run("teach").err.find("< 36 Bytes!"), std::string::npos);
    EXPECT_EQ(Run("measure --count 5").code, 1);
}

TEST_F(CliTest, MeasureWritesTheLampsAsCsvOrJsonLines) {
    Result m = Run("measure --count 60");
    ASSERT_EQ(m.code, 0) << m.err;
    std::istringstream csv(m.out);
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "time_ms,value,reference,upper,lower,ref_output,tol_output");
    int rows = 0;
    bool tolOn = false, tolOff = false;
    const int ref = 512, tol = 128, hyst = 10;
    while (std::getline(csv, line)) {
        long ms = 0;
        int v = 0, r = 0, up = 0, low = 0, refOut = 0, tolOut = 0;
        ASSERT_EQ(
            std::sscanf(line.c_str(), "%ld,%d,%d,%d,%d,%d,%d", &ms, &v, &r, &up, &low, &refOut, &tolOut), 7);
        ++rows;
        EXPECT_TRUE(r == ref && up == ref + tol && low == ref - tol) << line;
        // Clear of the hysteresis bands the lamps follow the value alone.
        if (v >= ref + hyst || v < ref) {
            EXPECT_EQ(refOut, v >= ref ? 1 : 0) << line;
        }
        if (v > up || v < low) {
            EXPECT_EQ(tolOut, 0) << line;
        }
        if (v >= low + hyst && v <= up - hyst) {
            EXPECT_EQ(tolOut, 1) << line;
        }
        (tolOut != 0 ? tolOn : tolOff) = true;
    }
    EXPECT_EQ(rows, 60);
    EXPECT_TRUE(tolOn && tolOff);  // the waveform leaves the window and comes back

    // JSON Lines: one object a sample, then the outcome.
    Result lines = Run("--json measure --count 3");
    std::istringstream objects(lines.out);
    std::vector<json> parsed;
    while (std::getline(objects, line))
        parsed.push_back(json::parse(line));
    ASSERT_EQ(parsed.size(), 4u) << lines.out;
    EXPECT_EQ(parsed[0]["reference"], 512);
    EXPECT_EQ(parsed[3]["samples"], 3);
    EXPECT_EQ(parsed[3]["ok"], true);
}

TEST_F(CliTest, FailedWritesKeepWholeRowsAndEarlierFilesAndExitFour) {
    // An earlier recording stays until the first sample is in hand.
    std::ofstream(dir / "keep.csv") << "earlier\n";
    EXPECT_EQ(Run("--device /nonexistent measure --csv keep.csv").code, 3);
    sensor->setSilent(true);
    EXPECT_EQ(Run("measure --count 3 --csv keep.csv").code, 1);
    EXPECT_EQ(Read(dir / "keep.csv"), "earlier\n");
    sensor->setSilent(false);

    // A full disk: room for 4 KiB. The run ends with a message, keeping only
    // whole rows; so does a device that takes nothing.
    Result full = Run("measure --count 400 --csv full.csv", {}, {"/dev/null", 4096});
    EXPECT_EQ(full.code, 4);
    EXPECT_TRUE(Holds(full.err, "cannot write full.csv"));
    const std::string rows = Read(dir / "full.csv");
    EXPECT_GT(rows.size(), 3000u);
    EXPECT_EQ(rows.back(), '\n');
    EXPECT_EQ(Run("measure --count 5 --csv /dev/full").code, 4);

    // A parameter file that cannot be written after a good read is no bad
    // input. (The disk fills while the sensor answers; what the program
    // prints is cut at the limit as well.)
    sensor->setDelayMs(1000);
    Cli get("get --out backup.dat", sensor->devicePath(), dir);
    ASSERT_TRUE(sensor->waitForFrames(sensor->framesReceived() + 1, 5000));
    get.LimitFileSize(16);
    EXPECT_EQ(get.Wait().code, 4) << get.Wait().err;
    EXPECT_EQ(get.Wait().out.rfind("power", 0), 0u);
    EXPECT_FALSE(fs::exists(dir / "backup.dat"));
}

TEST_F(CliTest, InterruptedProgrammingEndsAfterTheExchangeInFlightAndSaysWhatIsMissing) {
    WriteSource(dir / "KXconfig.dat");
    for (const int sig : {SIGINT, SIGTERM}) {
        const std::size_t before = sensor->framesReceived();
        Cli flash(sig == SIGINT ? "flash" : "-q flash", sensor->devicePath(), dir);
        ASSERT_TRUE(sensor->waitForFrames(before + 9, 10000));
        flash.Signal(sig);
        const Result& r = flash.Wait();
        EXPECT_EQ(r.code, 128 + sig);
        // The last line says what is missing; every frame went out whole and
        // the last block was finished.
        const std::size_t last = r.err.rfind('\n', r.err.size() - 2);
        EXPECT_TRUE(Holds(r.err.substr(last == std::string::npos ? 0 : last),
                          "page4, page5, page6, page7 not written"));
        EXPECT_TRUE(Holds(r.err, "correction table is incomplete"));
        EXPECT_EQ(sensor->bytesDiscarded(), 0u);
        EXPECT_EQ(Orders().back(), 21);
        EXPECT_EQ(sensor->repliesSent(), sensor->framesReceived());
    }
    // Measuring ends the same way, with the rows it has.
    Cli measure("measure", sensor->devicePath(), dir);
    ASSERT_TRUE(sensor->waitForFrames(sensor->framesReceived() + 5, 5000));
    measure.Signal(SIGTERM);
    EXPECT_EQ(measure.Wait().code, 143);
    EXPECT_EQ(measure.Wait().out.back(), '\n');
}

TEST_F(CliTest, FlashProgramsThePagesAskedForRetriesAndKeepsTheTableBesideTheSource) {
    WriteSource(dir / "line3" / "KXconfig.dat");
    fs::create_directories(dir / "elsewhere");

    // Page 6 refuses block 3's data every time: tried twice, reported on
    // standard output with the other page's outcome.
    sensor->setFlashFault({true, 6, 3, true, 0, 0});
    Result failed = Run("flash --pages 5,6 --retries 1 ../line3/KXconfig.dat", dir / "elsewhere");
    EXPECT_EQ(failed.code, 1);
    EXPECT_EQ(failed.out, "page5 written\npage6 not written\n../line3/KXlinear.dat saved\n");
    EXPECT_TRUE(Holds(failed.err, "error : T460 FLASH page6 not written!"));
    const auto addressFrames = [&](int address) {
        int n = 0;
        for (const kxsim::Frame& f : sensor->received())
            n += kxsim::FrameWord(f, -1) == 20 && kxsim::FrameWord(f, 1) == address ? 1 : 0;
        return n;
    };
    EXPECT_EQ(addressFrames(5632), 2);

    // Only page 6 again: a fault that goes away while the first attempt fails
    // is passed by the retry from block 0.
    sensor->setFlashFault({true, 6, 12, true, 0, 0});
    const std::size_t before = sensor->framesReceived();
    Cli redo("--json flash --pages 6 --retries 1 ../line3/KXconfig.dat", sensor->devicePath(),
             dir / "elsewhere");
    ASSERT_TRUE(sensor->waitForFrames(before + 26, 10000));
    sensor->setFlashFault({});
    ASSERT_EQ(redo.Wait().code, 0) << redo.Wait().err;
    const json j = json::parse(redo.Wait().out);
    EXPECT_EQ(j["written_pages"], json::array({6}));
    EXPECT_EQ(addressFrames(5632), 4);
    EXPECT_EQ(addressFrames(5120), 0);  // page 4 was left alone
    EXPECT_FALSE(fs::exists(dir / "elsewhere" / "KXlinear.dat"));
    EXPECT_TRUE(fs::exists(dir / "line3" / "KXlinear.dat"));
    for (int i = 256; i < 768; ++i)
        ASSERT_EQ(sensor->flashPage(4 + i / 256)[static_cast<std::size_t>(i % 256)], 60 * i) << i;

    // Every page written but the table record not saved: 4, never 1.
    fs::remove(dir / "line3" / "KXlinear.dat");
    fs::create_directories(dir / "line3" / "KXlinear.dat");
    Result unsaved = Run("flash --pages 7 line3/KXconfig.dat");
    EXPECT_EQ(unsaved.code, 4) << unsaved.err;
    EXPECT_TRUE(Holds(unsaved.out, "page7 written\nline3/KXlinear.dat not saved"));
}

TEST_F(CliTest, VerifyComparesWithABackupAndDryRunWritesNothing) {
    ASSERT_EQ(Run("get --out backup.dat").code, 0);
    EXPECT_EQ(Run("verify --file backup.dat").code, 0);

    kxsim::Block changed = kxsim::kDefaultBlock;
    changed[2] = 600;
    changed[15] = 9;
    sensor->setRam(changed);
    Result differs = Run("verify --file backup.dat");
    EXPECT_EQ(differs.code, 1);
    EXPECT_EQ(differs.out, "reference  sensor   600  file   512\npara15     sensor     9  file     0\n");
    const json j = json::parse(Run("--json verify --file backup.dat").out);
    EXPECT_EQ(j["differences"][0], json({{"slot", "reference"}, {"sensor", 600}, {"file", 512}}));

    // Only what would change, and only a read on the line.
    const std::size_t before = sensor->framesReceived();
    Result dry = Run("send --dry-run reference=700 para15=9 hold=100");
    EXPECT_EQ(dry.code, 0) << dry.err;
    EXPECT_EQ(dry.out, "reference    600 -> 700\n");
    EXPECT_EQ(sensor->framesReceived(), before + 1);
    EXPECT_EQ(Run("send --dry-run --file backup.dat").out,
              "reference    600 -> 512\npara15         9 -> 0\n");
    EXPECT_EQ(sensor->ram(), changed);
}
