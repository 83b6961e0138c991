// The simulated sensor, driven over its pseudo-terminal like the program does.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "kxsim.h"

namespace {

using kxsim::Block;
using kxsim::Frame;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The program's end of the line: a raw, non-blocking pty slave.
class Line {
  public:
    explicit Line(const std::string& dev) {
        fd_ = open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios t{};
            tcgetattr(fd_, &t);
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Line() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    void send(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void send(const Frame& f) { send(std::vector<std::uint8_t>(f.begin(), f.end())); }

    // Reads until `n` bytes have arrived or `timeoutMs` has passed; *eof on
    // EOF/error, *reads counts the reads that returned bytes.
    std::vector<std::uint8_t> read(std::size_t n, int timeoutMs, bool* eof = nullptr, int* reads = nullptr) {
        std::vector<std::uint8_t> got;
        const auto start = Clock::now();
        while (got.size() < n) {
            const int left = timeoutMs - static_cast<int>(MsSince(start));
            if (left <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, left) <= 0)
                continue;
            std::uint8_t buf[256];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) {
                if (r < 0 && errno == EAGAIN)
                    continue;
                if (eof)
                    *eof = true;
                break;
            }
            got.insert(got.end(), buf, buf + r);
            if (reads)
                ++*reads;
        }
        return got;
    }
    Frame reply(int timeoutMs = 2000) {
        Frame f{};
        const auto got = read(kxsim::kFrameBytes, timeoutMs);
        EXPECT_EQ(got.size(), static_cast<std::size_t>(kxsim::kFrameBytes));
        std::copy(got.begin(), got.end(), f.begin());
        return f;
    }
    Frame exchange(std::uint16_t order, const Block& words = {}, std::uint16_t sync = 85) {
        send(kxsim::MakeFrame(sync, order, words));
        return reply();
    }

  private:
    int fd_ = -1;
};

kxsim::Options Fast() {
    kxsim::Options o;
    o.fast = true;
    return o;
}

Block Words(std::uint16_t first) {
    Block b{};
    for (std::size_t k = 0; k < b.size(); ++k)
        b[k] = static_cast<std::uint16_t>(first + k);
    return b;
}

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            (name + "." + std::to_string(getpid()) + "." +
             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
        .string();
}

}  // namespace

TEST(Kxsim, EchoCarriesRequestSyncOrderAndWords) {
    kxsim::Sensor s(Fast());
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());
    ASSERT_TRUE(line.ok());

    const Frame r = line.exchange(7, Words(1), 0x1234);
    EXPECT_EQ(kxsim::FrameWord(r, -2), 0x1234);
    EXPECT_EQ(kxsim::FrameWord(r, -1), 7);
    EXPECT_EQ(kxsim::FrameWord(r, 0), 170);
    for (int k = 1; k < kxsim::kWords; ++k)
        EXPECT_EQ(kxsim::FrameWord(r, k), k + 1);

    s.setEchoWord(0x55);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(7), 0), 0x55);
}

// What the protocol leaves to the sensor: the replies' sync word, the flash
// replies' order word, a reply to the teach order; and bytes glued before a
// reply, or one reply made late, once.
TEST(Kxsim, AnswersTheWayTheProtocolAllows) {
    kxsim::Options o = Fast();
    o.replySync = kxsim::ReplySync::Count;
    o.replySyncWord = 0x1234;
    kxsim::Sensor s(o);
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());
    EXPECT_EQ(kxsim::FrameWord(line.exchange(7), -2), 0x1234);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(2), -2), 0x1235);
    s.setReplySync(kxsim::ReplySync::Fixed, 0x0BAD);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(8), -2), 0x0BAD);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(2), -2), 0x0BAD);
    s.setReplySync(kxsim::ReplySync::Echo);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(2, {}, 0x4321), -2), 0x4321);

    s.setFlashReplyOrder(0);
    const Frame address = line.exchange(20, {0, 5120});
    EXPECT_EQ(kxsim::FrameWord(address, -1), 0);
    EXPECT_EQ(kxsim::FrameWord(address, 0), 170);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(21, Words(1)), -1), 0);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(2), -1), 2);  // other replies keep theirs

    s.setTeachReply(true);
    const Frame taught = line.exchange(6);
    EXPECT_EQ(kxsim::FrameWord(taught, -1), 6);
    EXPECT_EQ(kxsim::FrameWord(taught, 2), s.measuredValue());

    s.setStrayBefore({0x00, 0x55, 0x00, 0x04});
    line.send(kxsim::MakeFrame(85, 2, {}));
    const auto glued = line.read(40, 2000);
    ASSERT_EQ(glued.size(), 40u);
    EXPECT_EQ(glued[3], 0x04);
    EXPECT_EQ(glued[7], 0x02);
    EXPECT_EQ(line.exchange(2).size(), 36u);  // once only

    s.setLate({300, 8, 1});
    line.send(kxsim::MakeFrame(85, 8, {}));
    EXPECT_TRUE(line.read(36, 200).empty());
    EXPECT_EQ(line.read(36, 2000).size(), 36u);
    EXPECT_EQ(s.faults().late.count, 0);  // the next reply is on time again
}

TEST(Kxsim, StoresAndReadsRamAndEepromWithoutReplyingToWrites) {
    kxsim::Sensor s(Fast());
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());

    EXPECT_EQ(s.ram(), kxsim::kDefaultBlock);
    // Writes send nothing back: the next bytes on the line are the read's reply.
    line.send(kxsim::MakeFrame(85, 1, Words(100)));
    line.send(kxsim::MakeFrame(85, 3, Words(200)));
    const Frame ram = line.exchange(2);
    const Frame eep = line.exchange(4);
    EXPECT_EQ(kxsim::FrameWord(ram, -1), 2);
    EXPECT_EQ(kxsim::FrameWord(eep, -1), 4);
    for (int k = 0; k < kxsim::kWords; ++k) {
        EXPECT_EQ(kxsim::FrameWord(ram, k), 100 + k);
        EXPECT_EQ(kxsim::FrameWord(eep, k), 200 + k);
    }
    EXPECT_EQ(s.ram(), Words(100));
    EXPECT_EQ(s.eeprom(), Words(200));
    EXPECT_TRUE(s.waitForReplies(2, 2000));
    EXPECT_EQ(s.repliesSent(), 2u);
}

TEST(Kxsim, EepromFileSurvivesRestartAndBadFileIsRefusedUntouched) {
    const std::string path = TempPath("kxsim_eeprom");
    std::remove(path.c_str());
    kxsim::Options o = Fast();
    o.eepromFile = path;
    {
        kxsim::Sensor s(o);
        ASSERT_TRUE(s.start());
        EXPECT_EQ(s.eeprom(), kxsim::kDefaultBlock);  // no file yet
        Line line(s.devicePath());
        line.send(kxsim::MakeFrame(85, 3, Words(65520)));
        ASSERT_TRUE(s.waitForFrames(1, 2000));
    }
    {
        kxsim::Sensor s(o);
        ASSERT_TRUE(s.start());
        Line line(s.devicePath());
        const Frame r = line.exchange(4);
        EXPECT_EQ(kxsim::FrameWord(r, 15), 65535);
        EXPECT_EQ(s.eeprom(), Words(65520));
    }

    {
        std::ofstream bad(path, std::ios::trunc);
        bad << "1 2 3 70000\n";
    }
    kxsim::Sensor s(o);
    std::string error;
    EXPECT_FALSE(s.start(&error));
    EXPECT_NE(error.find(path), std::string::npos);
    std::ifstream in(path);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "1 2 3 70000\n");
    std::remove(path.c_str());
}

TEST(Kxsim, MeasurementSweepsBothSidesOfWindowAndTeachTakesLastValue) {
    kxsim::Sensor s(Fast());
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());
    Block ram = kxsim::kDefaultBlock;
    ram[2] = 600;
    ram[3] = 100;
    line.send(kxsim::MakeFrame(85, 1, ram));

    int below = 0, inside = 0, above = 0;
    std::uint16_t last = 0;
    for (int i = 0; i < 70; ++i) {
        const Frame r = line.exchange(8);
        ASSERT_EQ(kxsim::FrameWord(r, -1), 8);
        last = kxsim::FrameWord(r, 0);
        ASSERT_LE(kxsim::FrameWord(r, 1), 1023);
        ASSERT_LE(kxsim::FrameWord(r, 2), 1023);
        EXPECT_EQ(kxsim::FrameWord(r, 3), 100);  // rest of the block is RAM
        below += last < 500;
        inside += last >= 500 && last <= 700;
        above += last > 700;
    }
    EXPECT_GT(below, 0);
    EXPECT_GT(inside, 0);
    EXPECT_GT(above, 0);

    line.send(kxsim::MakeFrame(85, 6, {}));
    const Frame r = line.exchange(2);
    EXPECT_EQ(kxsim::FrameWord(r, 2), last);
    EXPECT_EQ(kxsim::FrameWord(r, 3), 100);

    // Near the top of the scale the sweep stays on the 10-bit scale.
    ram[2] = 1000;
    line.send(kxsim::MakeFrame(85, 1, ram));
    for (int i = 0; i < 70; ++i)
        ASSERT_LE(kxsim::FrameWord(line.exchange(8), 0), 1023);
}

TEST(Kxsim, FlashKeepsPagesAndAnswersFirstBlockWithOne) {
    kxsim::Sensor s(Fast());
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());

    for (int b = 0; b < kxsim::kBlocksPerPage; ++b) {
        Block addr{};
        addr[1] = static_cast<std::uint16_t>(5376 + 16 * b);  // page 5
        EXPECT_EQ(kxsim::FrameWord(line.exchange(20, addr), 0), 170);
        const Frame d = line.exchange(21, Words(static_cast<std::uint16_t>(1000 + 16 * b)));
        EXPECT_EQ(kxsim::FrameWord(d, -1), 21);
        EXPECT_EQ(kxsim::FrameWord(d, 0), b == 0 ? 1 : 2) << "block " << b;
    }
    const kxsim::Page p5 = s.flashPage(5);
    for (int i = 0; i < kxsim::kPageWords; ++i)
        ASSERT_EQ(p5[static_cast<std::size_t>(i)], 1000 + i);
    EXPECT_EQ(s.flashPage(4), kxsim::Page{});

    // A data block with no address announced before it, or one outside flash,
    // is refused and stored nowhere.
    EXPECT_EQ(kxsim::FrameWord(line.exchange(21, Words(7)), 0), 0);
    Block outside{};
    outside[1] = 6140;
    EXPECT_EQ(kxsim::FrameWord(line.exchange(20, outside), 0), 170);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(21, Words(7)), 0), 0);
    EXPECT_EQ(s.flashPage(7), kxsim::Page{});

    const std::string dump = TempPath("kxsim_flash");
    ASSERT_TRUE(s.dumpFlash(dump));
    std::ifstream in(dump);
    std::vector<int> words;
    for (int w; in >> w;)
        words.push_back(w);
    ASSERT_EQ(words.size(), 1024u);
    EXPECT_EQ(words[256], 1000);
    EXPECT_EQ(words[511], 1255);
    std::remove(dump.c_str());
}

TEST(Kxsim, FlashFaultAnswersChosenWordAtChosenBlock) {
    kxsim::Sensor s(Fast());
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());
    auto address = [&](int page, int block) {
        Block a{};
        a[1] = static_cast<std::uint16_t>(4096 + 256 * page + 16 * block);
        return kxsim::FrameWord(line.exchange(20, a), 0);
    };

    s.setFlashFault({true, 4, 5, false, 171});
    EXPECT_EQ(address(4, 4), 170);
    EXPECT_EQ(address(4, 5), 171);
    // The refused address is not kept for a following data block.
    EXPECT_EQ(kxsim::FrameWord(line.exchange(21, Words(1)), 0), 0);
    EXPECT_EQ(address(5, 5), 170);

    s.setFlashFault({true, 6, 2, true, 0});
    EXPECT_EQ(address(6, 2), 170);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(21, Words(9)), 0), 0);
    EXPECT_EQ(s.flashPage(6), kxsim::Page{});  // a refused block is not stored
}

TEST(Kxsim, SilentShortAndGarbageReplies) {
    kxsim::Sensor s(Fast());
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());
    const Frame echo = kxsim::MakeFrame(85, 7, {});

    s.setSilent(true);
    line.send(echo);
    ASSERT_TRUE(s.waitForFrames(1, 2000));
    s.setSilent(false);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(7), 0), 170);  // first bytes are this reply
    EXPECT_EQ(s.framesReceived(), 2u);

    // Short reply: only its first 10 bytes; the next full reply follows them.
    s.setShortBytes(10);
    line.send(echo);
    ASSERT_TRUE(s.waitForReplies(2, 2000));
    s.setShortBytes(-1);
    line.send(echo);
    const auto both = line.read(46, 2000);
    ASSERT_EQ(both.size(), 46u);
    EXPECT_EQ(both[5], 0xAA);
    EXPECT_EQ(both[10 + 5], 0xAA);

    // Garbage in place of the reply: never reads as an acknowledgement.
    s.setGarbage(36);
    line.send(echo);
    const auto junk = line.read(36, 2000);
    ASSERT_EQ(junk.size(), 36u);
    for (std::uint8_t b : junk)
        EXPECT_GE(b, 0x80);

    // Garbage before the reply: N bytes, then the whole reply.
    s.setGarbage(5, true);
    line.send(echo);
    const auto shifted = line.read(41, 2000);
    ASSERT_EQ(shifted.size(), 41u);
    EXPECT_EQ(shifted[5 + 1], 0x55);
    EXPECT_EQ(shifted[5 + 5], 0xAA);
}

TEST(Kxsim, ResynchronisesAfterTornFrameButJoinsQuickChunks) {
    kxsim::Sensor s(Fast());
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());
    const Frame echo = kxsim::MakeFrame(85, 7, Words(1));

    // Two halves in quick succession are one frame.
    line.send(std::vector<std::uint8_t>(echo.begin(), echo.begin() + 20));
    line.send(std::vector<std::uint8_t>(echo.begin() + 20, echo.end()));
    EXPECT_EQ(kxsim::FrameWord(line.reply(), 0), 170);

    // A torn frame followed by silence is dropped; the next frame is whole.
    line.send(std::vector<std::uint8_t>(echo.begin(), echo.begin() + 10));
    const auto start = Clock::now();
    while (s.bytesDiscarded() < 10 && MsSince(start) < 2000)
        usleep(5000);
    EXPECT_EQ(s.bytesDiscarded(), 10u);
    const Frame r = line.exchange(2);
    EXPECT_EQ(kxsim::FrameWord(r, -1), 2);
    EXPECT_EQ(s.framesReceived(), 2u);
}

TEST(Kxsim, PacesRepliesLikeTheLine) {
    kxsim::Sensor s;  // paced
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());
    auto t = Clock::now();
    line.exchange(7);
    EXPECT_GE(MsSince(t), 37.5);

    // Two requests at once: the second reply queues behind the first.
    const Frame echo = kxsim::MakeFrame(85, 7, {});
    std::vector<std::uint8_t> two(echo.begin(), echo.end());
    two.insert(two.end(), echo.begin(), echo.end());
    t = Clock::now();
    line.send(two);
    EXPECT_EQ(line.read(72, 2000).size(), 72u);
    EXPECT_GE(MsSince(t), 37.5 + 18.75);

    s.setDelayMs(100);
    t = Clock::now();
    line.exchange(7);
    EXPECT_GE(MsSince(t), 137.5);

    s.setDelayMs(0);
    s.setFast(true);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(7), 0), 170);
}

TEST(Kxsim, HangsUpAfterAnsweringTheNthFrame) {
    kxsim::Sensor s(Fast());
    s.setHangupAfter(2);
    ASSERT_TRUE(s.start());
    const std::string dev = s.devicePath();
    Line line(dev);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(7), 0), 170);
    EXPECT_EQ(kxsim::FrameWord(line.exchange(7), 0), 170);
    const auto start = Clock::now();
    while (!s.hungUp() && MsSince(start) < 3000)
        usleep(5000);
    ASSERT_TRUE(s.hungUp());
    EXPECT_FALSE(std::filesystem::exists(dev));
    bool eof = false;
    EXPECT_TRUE(line.read(1, 1000, &eof).empty());
    EXPECT_TRUE(eof);
    s.stop();  // after a hang-up, stopping is harmless
}

TEST(Kxsim, InjectAndLink) {
    kxsim::Options o = Fast();
    o.linkPath = TempPath("kxsim_link");
    { std::ofstream regular(o.linkPath); }
    kxsim::Sensor refused(o);
    EXPECT_FALSE(refused.start());  // never replaces a file that is not a link
    std::filesystem::remove(o.linkPath);

    kxsim::Sensor s(o);
    ASSERT_TRUE(s.start());
    EXPECT_EQ(std::filesystem::read_symlink(o.linkPath).string(), s.devicePath());
    Line line(o.linkPath);
    ASSERT_TRUE(line.ok());
    ASSERT_TRUE(s.inject({1, 2, 3}));
    EXPECT_EQ(line.read(3, 2000), (std::vector<std::uint8_t>{1, 2, 3}));
    s.stop();
    EXPECT_FALSE(std::filesystem::is_symlink(o.linkPath));
}

TEST(Kxsim, LogLimitKeepsTheNewestFramesAndCountsAll) {
    kxsim::Options o = Fast();
    o.logLimit = 4;
    kxsim::Sensor s(o);
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());
    for (std::uint16_t k = 0; k < 20; ++k)
        line.exchange(7, Words(k));
    ASSERT_TRUE(s.waitForFrames(20, 2000));
    EXPECT_EQ(s.framesReceived(), 20u);
    const std::vector<Frame> kept = s.received();
    ASSERT_GE(kept.size(), 4u);
    EXPECT_LT(kept.size(), 8u);
    EXPECT_EQ(kxsim::FrameWord(kept.back(), 0), 19);  // the newest frame is always kept
}

TEST(Kxsim, TrickleAndUsbLatencyHandRepliesOverInPiecesOnTimeInOrderAndWhole) {
    kxsim::Options o;  // paced
    o.trickleBytes = 4;
    kxsim::Sensor s(o);
    ASSERT_TRUE(s.start());
    Line line(s.devicePath());
    std::vector<std::uint8_t> requests;  // three echoes with distinct words, and their replies
    for (std::uint16_t i = 0; i < 3; ++i) {
        const Frame q = kxsim::MakeFrame(85, 7, Words(static_cast<std::uint16_t>(100 * i)));
        requests.insert(requests.end(), q.begin(), q.end());
    }
    std::vector<std::uint8_t> replies = requests;
    for (std::size_t at = 4; at < replies.size(); at += 36)
        replies[at + 1] = 170;  // word 0: 0 -> 170
    const std::vector<std::uint8_t> one(requests.begin(), requests.begin() + 36);
    const std::vector<std::uint8_t> reply(replies.begin(), replies.begin() + 36);
    for (int usb : {0, 16}) {
        s.setUsbLatency(usb);
        int most = 0;
        for (int i = 0; i < 3; ++i) {
            const auto t = Clock::now();
            line.send(one);
            int reads = 0;
            EXPECT_EQ(line.read(36, 2000, nullptr, &reads), reply);
            // The last piece goes out when the whole reply would (or at the next tick).
            EXPECT_GE(MsSince(t), 37.5);
            EXPECT_LT(MsSince(t), 37.5 + 500);
            EXPECT_LE(reads, usb ? 3 : 36);  // nine pieces over 16.7 ms meet <= 3 ticks
            most = std::max(most, reads);
        }
        EXPECT_GE(most, usb ? 1 : 3);  // without the adapter: pieces about 2 ms apart
    }
    // Queued replies keep their order, also when the adapter fills packets.
    for (int usb : {0, 100}) {
        s.setUsbLatency(usb);
        line.send(requests);
        EXPECT_EQ(line.read(108, 2000), replies);
    }

    // The faults' bytes are trickled, none lost; answering at once as well.
    s.setFast(true);
    s.setUsbLatency(8);
    s.setShortBytes(10);
    s.setGarbage(5, true);
    line.send(one);  // 5 garbage bytes, then 10 of the reply
    ASSERT_TRUE(s.waitForFrames(13, 2000));
    s.setFaults({});
    line.send(one);
    const auto got = line.read(51, 2000);
    ASSERT_EQ(got.size(), 51u);
    EXPECT_GE(got[4], 0x80);
    EXPECT_TRUE(std::equal(got.begin() + 5, got.begin() + 15, reply.begin()));
    EXPECT_TRUE(std::equal(got.begin() + 15, got.end(), reply.begin(), reply.end()));
}

TEST(Kxsim, InMemoryTheLineRunsOnTheCallersClock) {
    kxsim::Options o;  // paced
    o.inMemory = true;
    kxsim::Sensor s(o);
    ASSERT_TRUE(s.start());
    const std::string name = s.devicePath();
    EXPECT_EQ(name.rfind("mem:", 0), 0u);
    EXPECT_EQ(kxsim::FindInMemory(name), &s);

    // Framed across writes; the reply is due two frame times after the request.
    const Frame echo = kxsim::MakeFrame(85, 7, Words(1));
    ASSERT_TRUE(s.lineWrite(echo.data(), 20, 1000.0));
    ASSERT_TRUE(s.lineWrite(echo.data() + 20, 16, 1005.0));
    EXPECT_EQ(s.arrivalsMs(), std::vector<double>{1005.0});
    EXPECT_DOUBLE_EQ(s.lineNextMs(1005.0), 1042.5);
    EXPECT_TRUE(s.lineRead(1042.0).empty());
    const std::vector<std::uint8_t> reply = s.lineRead(1042.5);
    ASSERT_EQ(reply.size(), 36u);
    EXPECT_EQ(reply[5], 0xAA);
    EXPECT_EQ(s.repliesSent(), 1u);

    // A torn frame is dropped once the resync gap has passed.
    ASSERT_TRUE(s.lineWrite(echo.data(), 10, 1100.0));
    s.lineRead(1199.0);
    EXPECT_EQ(s.bytesDiscarded(), 0u);
    s.lineRead(1200.0);
    EXPECT_EQ(s.bytesDiscarded(), 10u);

    // Trickled: nine pieces at the line's pace, the last when the whole
    // reply is due.
    s.setTrickle(4);
    ASSERT_TRUE(s.lineWrite(echo.data(), echo.size(), 2000.0));
    std::vector<std::uint8_t> pieces;
    int reads = 0;
    double at = 0;
    for (double next = s.lineNextMs(2000.0); next < 3000.0; next = s.lineNextMs(next)) {
        const auto got = s.lineRead(next);
        pieces.insert(pieces.end(), got.begin(), got.end());
        ++reads;
        at = next;
    }
    EXPECT_EQ(pieces, reply);
    EXPECT_EQ(reads, 9);
    EXPECT_DOUBLE_EQ(at, 2037.5);
    s.setTrickle(0);

    // Injected bytes arrive at once; a wait runs the sensor's own clock on.
    ASSERT_TRUE(s.inject({1, 2, 3}));
    EXPECT_EQ(s.lineRead(2100.0), (std::vector<std::uint8_t>{1, 2, 3}));
    ASSERT_TRUE(s.lineWrite(echo.data(), echo.size(), 2100.0));
    EXPECT_TRUE(s.waitForReplies(3, 100));
    EXPECT_EQ(s.lineRead(2200.0).size(), 36u);

    // Hang-up: the line closes 200 ms after the last reply went out.
    s.setHangupAfter(static_cast<int>(s.framesReceived()) + 1);
    ASSERT_TRUE(s.lineWrite(echo.data(), echo.size(), 3000.0));
    EXPECT_EQ(s.lineRead(3037.5).size(), 36u);
    EXPECT_FALSE(s.lineClosed(3237.0));
    EXPECT_TRUE(s.lineClosed(3237.5));
    EXPECT_TRUE(s.hungUp());
    EXPECT_FALSE(s.lineWrite(echo.data(), echo.size(), 3300.0));
    s.stop();
    EXPECT_EQ(kxsim::FindInMemory(name), nullptr);
}
