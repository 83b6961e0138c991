// orvanscope-cli run as its own process, without a display, against the
// simulated sensor: every command, and every exit code with what it leaves on
// the sensor.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "kxsim.h"

namespace fs = std::filesystem;

namespace {

// Reads a file and removes it.
std::string Take(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    fs::remove(path);
    return s.str();
}

struct Result {
    int code = -1;
    std::string out, err;
};

// orvanscope-cli started in `cwd` with the words of `line` as arguments,
// DISPLAY unset and port 1 on `com1`; Wait() collects what it did.
class Cli {
  public:
    Cli(const std::string& line, const std::string& com1, const fs::path& cwd)
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
        pid_ = fork();
        if (pid_ == 0) {
            if (dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(cwd.c_str()) != 0)
                _exit(100);
            execv(argv[0], argv.data());
            _exit(101);
        }
        close(out);
        close(err);
    }
    ~Cli() { Wait(); }

    const Result& Wait() {
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_)
            r_ = {WIFEXITED(status) ? WEXITSTATUS(status) : 128, Take(files_ + ".out"),
                  Take(files_ + ".err")};
        pid_ = -1;
        return r_;
    }
    void Interrupt() { kill(pid_, SIGINT); }

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
    Result Run(const std::string& line, const fs::path& cwd = {}) {
        return Cli(line, sensor->devicePath(), cwd.empty() ? dir : cwd).Wait();
    }
    std::vector<int> Orders() const {
        std::vector<int> orders;
        for (const kxsim::Frame& f : sensor->received())
            orders.push_back(kxsim::FrameWord(f, -1));
        return orders;
    }

    std::unique_ptr<kxsim::Sensor> sensor;
    fs::path dir;
};

}  // namespace

TEST_F(CliTest, PortsGetSendTeachRoundTrip) {
    Result ports = Run("--json ports");
    EXPECT_EQ(ports.code, 0);
    EXPECT_EQ(nlohmann::json::parse(ports.out)[0]["device"], sensor->devicePath());

    // The block as the sensor holds it, keyed by slot name in slot order.
    Result get = Run("--json get");
    ASSERT_EQ(get.code, 0) << get.err;
    EXPECT_EQ(get.out,
              R"({"power":500,"powermode":1,"reference":512,"tolerance":128,"backlimit":10,)"
              R"("hysteresis":10,"polarity":1,"average":8,"measure":0,"memory":0,"hold":100,"linear":1,)"
              R"("para12":0,"para13":0,"para14":0,"para15":0})"
              "\n");

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

    // A backup in the parameter file format, restored into RAM from the file.
    Result backup = Run("get --target eeprom --out backup.dat");
    ASSERT_EQ(backup.code, 0) << backup.err;
    EXPECT_EQ(Run("send --file backup.dat").code, 0);
    EXPECT_EQ(sensor->ram(), want);

    Result teach = Run("--json teach");
    ASSERT_EQ(teach.code, 0) << teach.err;
    EXPECT_EQ(nlohmann::json::parse(teach.out)["reference"], sensor->ram()[2]);
}

TEST_F(CliTest, BadInputExitsTwoAndSendsNothing) {
    std::ofstream(dir / "bad.dat") << "1 2 3\n";
    for (const char* line : {"bogus", "--port 0 check", "get --target flash", "send reference=65536",
                             "send refrence=1", "send reference=-1", "send", "send --file bad.dat",
                             "flash bad.dat", "flash" /* no KXconfig.dat here */, "get --out nodir/p.dat"}) {
        Result c = Run(line);
        EXPECT_EQ(c.code, 2) << line << ": " << c.err;
    }
    EXPECT_EQ(sensor->framesReceived(), 0u);
    EXPECT_FALSE(fs::exists(dir / "KXlinear.dat"));
    EXPECT_EQ(Run("--help").code, 0);
}

TEST_F(CliTest, PortThatCannotBeOpenedOrIsInUseExitsThree) {
    Result missing = Run("--device /nonexistent/ttyORV9 check");
    EXPECT_EQ(missing.code, 3);
    EXPECT_NE(missing.err.find("No serial port found"), std::string::npos);

    // A second copy on the same device, here reached through a link, is
    // refused and sends nothing while the first measures on.
    fs::create_symlink(sensor->devicePath(), dir / "com1");
    Cli first("measure --csv m.csv", (dir / "com1").string(), dir);
    ASSERT_TRUE(sensor->waitForFrames(3, 5000));
    Result second = Run("check");
    EXPECT_EQ(second.code, 3);
    EXPECT_NE(second.err.find("Cannot open port"), std::string::npos);
    first.Interrupt();  // measure ends on Ctrl+C with what it has
    EXPECT_EQ(first.Wait().code, 0) << first.Wait().err;
    for (int order : Orders())
        EXPECT_NE(order, 7);
}

TEST_F(CliTest, SensorFailuresExitOneWithTheWindowsTexts) {
    // A read-back that differs from the block written: a stale block is
    // slipped in before the sensor's own, slowed, reply.
    sensor->setDelayMs(300);
    Cli send("send reference=600", sensor->devicePath(), dir);
    ASSERT_TRUE(sensor->waitForFrames(3, 5000));
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
    EXPECT_EQ(get.err, "Timeout RS232-Line!\n");
    EXPECT_TRUE(get.out.empty());
    EXPECT_NE(Run("check").err.find("Timeout < 36 Bytes"), std::string::npos);
    EXPECT_NE(Run("teach").err.find("< 36 Bytes!"), std::string::npos);
    EXPECT_EQ(Run("measure --count 5").code, 1);
}

TEST_F(CliTest, MeasureWritesTheLampsAsCsv) {
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
}

TEST_F(CliTest, FlashProgramsThePagesAndKeepsTheTableBesideTheSource) {
    fs::create_directories(dir / "line3");
    fs::create_directories(dir / "elsewhere");
    std::ofstream source(dir / "line3" / "KXconfig.dat");
    for (int group = 0; group < 3; ++group) {
        for (int i = 0; i < 1024; ++i)
            source << (group == 0 ? 60 * i : i) << (i < 1023 ? '\t' : '\n');
    }
    source.close();

    sensor->setFlashFault({true, 6, 3, true, 0, 0});  // page 6, block 3's data refused
    Result failed = Run("flash ../line3/KXconfig.dat", dir / "elsewhere");
    EXPECT_EQ(failed.code, 1);
    EXPECT_NE(failed.err.find("error : T460 FLASH page6 not written!"), std::string::npos) << failed.err;

    sensor->setFlashFault({});
    Result ok = Run("flash ../line3/KXconfig.dat", dir / "elsewhere");
    ASSERT_EQ(ok.code, 0) << ok.err;
    EXPECT_FALSE(fs::exists(dir / "elsewhere" / "KXlinear.dat"));
    EXPECT_TRUE(fs::exists(dir / "line3" / "KXlinear.dat"));
    for (int i = 0; i < 1024; ++i)
        ASSERT_EQ(sensor->flashPage(4 + i / 256)[static_cast<std::size_t>(i % 256)], 60 * i) << i;
}
