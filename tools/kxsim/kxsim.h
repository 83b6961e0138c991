// Simulated M-DOR-KX sensor on a pseudo-terminal, or in memory for tests.
//
// The sensor serves the slave end of a pty pair and answers 36-byte frames
// (sync word, order word, 16 data words, all big-endian) like the firmware:
//
//   order 1 / 3   store the 16 data words in RAM / EEPROM; no reply
//   order 2 / 4   reply with the RAM / EEPROM block
//   order 6       teach: RAM word 2 (reference) takes the current measured
//                 value; no reply
//   order 7       echo: reply word 0 = 170, words 1..15 echo the request
//   order 8       measure: reply words 0, 1, 2 = measured value, channel A,
//                 channel B; words 3..15 are RAM words 3..15
//   order 20      flash block address (data word 1): reply word 0 = 170
//   order 21      flash block data: the 16 words are kept at the address of
//                 the preceding order 20; reply word 0 = 1 when that address
//                 starts a page, 2 otherwise, 0 when no valid address precedes
//                 (never announced, outside flash, or already used)
//   any other     ignored
//
// Every reply carries the request's order word and, by default, its sync word;
// the protocol leaves both to the sensor, and so do these options:
//   replySync        Echo (the request's word), Fixed (one word) or Count (a
//                    new word in every reply)
//   flashReplyOrder  the order word of every flash reply (orders 20 and 21)
//   teachReply       order 6 is answered with the RAM block (order word 6)
// Requests are framed by length; a partial frame followed by 100 ms without
// bytes is discarded, so the sensor resynchronises after a torn frame.
//
// Pacing follows a 19200-baud 8N1 line: a frame needs 18.75 ms on the wire, so
// a reply goes out 37.5 ms after the request arrived (its own transfer time
// plus that of the reply), later when replies queue up behind each other.
// Options::fast answers as soon as the request is in, 18.75 ms after it
// arrived, without the reply's own transfer time: as fast as a sensor on the
// line can, since none can answer a request before it has received it.
//
// Line options (any thread, any time; take effect from the next reply):
//   trickleBytes  a reply is written in pieces of N bytes at the line's pace
//                 (0.52 ms a byte), as a real line hands it over: its last
//                 byte goes out when the whole reply would without trickle,
//                 each earlier piece as many byte times before that as bytes
//                 follow it. With `fast` the pieces go out 1 ms apart from the
//                 moment the reply is due. Every fault's bytes are trickled.
//   usbLatencyMs  a USB adapter's driver: bytes are held and released on a
//                 fixed grid of MS ms (phase from the start and the seed), all
//                 bytes due by a grid point in one write, or at once when 62
//                 bytes (one USB packet) have gathered. Applies after trickle.
// Replies never interleave and keep their order, whatever the options.
//
// In-process use (tests):
//
//   kxsim::Sensor s;                 // or Sensor(options)
//   std::string err;
//   if (!s.start(&err)) ...          // opens the pty, starts the thread
//   s.devicePath();                  // e.g. "/dev/pts/7": open this
//   s.setSilent(true); ...           // fault switches, any thread, any time
//   s.waitForFrames(2, 1000);        // frames received so far >= 2 ?
//   s.received();                    // copy of every frame received
//   s.ram(); s.eeprom(); s.flashPage(4);
//   s.inject({0x00, 0x55, ...});     // raw bytes to the program, at once
//   s.stop();                        // also done by the destructor
//
// In memory (Options::inMemory), for a test runtime with a virtual clock:
// start() opens no pty, starts no thread and makes no link, and devicePath()
// is a name "mem:N" (never reused in the process) under which FindInMemory
// finds the sensor. Everything else behaves as on the pty: framing and its
// resync gap, the firmware's answers, every fault switch, pacing, trickle and
// the USB grid, logs and counters. The memory runtime knows nothing of kxsim:
// the tests and fuzz targets connect the two with ConnectMemoryRuntime
// (memory/kxsim_memory.h), which makes a port whose device is "mem:N" reach
// the sensor of that name and installs the runtime's clock. Through it the
// runtime hands over the program's bytes with the time they arrive
// (lineWrite), takes the bytes that have reached the program's end by a time
// (lineRead), asks when the next ones are due (lineNextMs), and whether the
// line has closed (lineClosed: after hangupAfter, or once the sensor is
// stopped). Times are milliseconds on the runtime's clock, installed with
// SetMemoryClock together with a pump (one step of the runtime's event
// processing, which advances the clock): waitForFrames and waitForReplies then
// pump instead of sleeping, and inject() delivers at the clock's current time.
// Only the thread that installed the clock pumps; on any other thread the
// waits block in real time for what the runtime's thread brings about.
// Without an installed clock the sensor keeps its own: the latest time
// handed to it, advanced by waits.
//
// Fault switches:
//   silent        frames are received and logged, nothing else happens
//   delayMs       extra delay before each reply
//   shortBytes    only the first N bytes of every reply are sent (N < 36)
//   garbage       N random bytes (each 0x80..0xFF, so no garbage word ever
//                 reads as an acknowledgement) are sent in place of each
//                 reply; with garbageBefore they precede the full reply
//   echoWord      reply word 0 of order 7 instead of 170
//   flashFault    reply word 0 of the address (order 20) or data (order 21)
//                 exchange of one block of one page; a rejected block (data
//                 reply other than 1 or 2) is not stored. With lateMs the
//                 reply keeps its word and comes that much later instead
//   hangupAfter   after the N-th frame received (and its reply, if any) the
//                 sensor closes the line: 200 ms later both pty ends are
//                 closed and the device disappears; later frames are ignored
//   strayBefore   these bytes go out right before the next reply (once): the
//                 torn start of a frame glued to a whole one
//   late          the next `count` replies to one order come `ms` late
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kxsim {

constexpr int kFrameBytes = 36;
constexpr int kWords = 16;
constexpr int kFlashBase = 4096;  // address of page 0
constexpr int kPageWords = 256;
constexpr int kPages = 8;  // pages 0..7, addresses 4096..6143
constexpr int kBlocksPerPage = 16;
constexpr double kFrameWireMs = 18.75;  // 36 bytes * 10 bits / 19200 baud
constexpr double kByteWireMs = kFrameWireMs / kFrameBytes;
constexpr double kFastPieceGapMs = 1.0;      // trickled pieces with `fast`: apart enough to read separately
constexpr std::size_t kUsbPacketBytes = 62;  // payload of one adapter packet
constexpr int kResyncGapMs = 100;
constexpr int kHangupGraceMs = 200;

using Frame = std::array<std::uint8_t, kFrameBytes>;
using Block = std::array<std::uint16_t, kWords>;
using Page = std::array<std::uint16_t, kPageWords>;

// Parameter block a new sensor starts with.
constexpr Block kDefaultBlock = {500, 1, 512, 128, 10, 10, 1, 8, 0, 0, 100, 1, 0, 0, 0, 0};

struct FlashFault {
    bool enabled = false;
    int page = 4;       // 0..7 (the program writes 4..7)
    int block = 0;      // 0..15
    bool data = false;  // false: the order-20 exchange, true: the order-21 exchange
    std::uint16_t word = 0;
    int lateMs = 0;  // > 0: the reply keeps its word but comes this much later
};

// A reply made late on purpose: the next `count` replies to requests with
// order `order` (0: any order) come `ms` milliseconds late.
struct LateReply {
    int ms = 0;
    int order = 0;
    int count = 0;
};

struct Faults {
    bool silent = false;
    int delayMs = 0;
    int shortBytes = -1;  // < 0: off; 0..35: bytes of each reply sent
    int garbage = 0;      // random bytes per reply; 0: off
    bool garbageBefore = false;
    int echoWord = -1;  // < 0: 170
    FlashFault flash;
    int hangupAfter = -1;                   // < 0: never
    std::vector<std::uint8_t> strayBefore;  // sent right before the next reply, once
    LateReply late;
};

// The sync word of the replies. The protocol leaves it to the sensor.
enum class ReplySync {
    Echo,   // the request's own sync word
    Fixed,  // always `replySyncWord`
    Count,  // `replySyncWord` in the first reply, one more in each after it
};

struct Options {
    std::string linkPath;              // symlink to the device, made at start, removed at stop
    std::string eepromFile;            // EEPROM kept here: loaded at start, written on every order 3
    bool fast = false;                 // answer at once instead of pacing the line
    bool logHex = false;               // hex log of every frame to stderr
    std::uint32_t seed = 0x2545F491u;  // garbage generator and the USB grid's phase
    int trickleBytes = 0;              // > 0: replies in pieces of this many bytes at the line's pace
    int usbLatencyMs = 0;              // > 0: USB adapter latency timer, bytes released in bursts
    std::size_t logLimit = 0;          // frames kept by received(); 0: all (older ones are dropped)
    bool inMemory = false;             // no pty and no thread: driven by a test runtime (see above)
    ReplySync replySync = ReplySync::Echo;
    std::uint16_t replySyncWord = 0;
    int flashReplyOrder = -1;  // >= 0: the order word of every flash reply (else the request's)
    bool teachReply = false;   // answer the teach order with the RAM block, order word 6
    Faults faults;
};

class Sensor;

// The clock of in-memory sensors, in ms, and the pump that advances it (one
// step of the runtime's event processing). Installed once for a test runtime
// (ConnectMemoryRuntime does it); empty functions remove them.
void SetMemoryClock(std::function<double()> nowMs, std::function<void()> pump);
// The running in-memory sensor named `device` ("mem:N"), or nullptr.
Sensor* FindInMemory(const std::string& device);

// Builds a frame from its parts (big-endian words).
Frame MakeFrame(std::uint16_t sync, std::uint16_t order, const Block& words);
std::uint16_t FrameWord(const Frame& f, int index);  // index -1: order word, -2: sync word

class Sensor {
  public:
    Sensor();
    explicit Sensor(Options options);
    ~Sensor();
    Sensor(const Sensor&) = delete;
    Sensor& operator=(const Sensor&) = delete;

    // Opens the pty, loads the EEPROM file, makes the link and starts serving.
    // Returns false (with a reason in *error) when any of it fails.
    bool start(std::string* error = nullptr);
    // Stops serving, closes the pty and removes the link. Safe to call twice.
    void stop();

    std::string devicePath() const;
    bool running() const;
    bool hungUp() const;

    // Fault switches; take effect from the next frame.
    void setSilent(bool on);
    void setDelayMs(int ms);
    void setShortBytes(int n);
    void setGarbage(int n, bool before = false);
    void setEchoWord(int word);
    void setFlashFault(const FlashFault& fault);
    void setHangupAfter(int frames);
    void setFast(bool on);
    void setTrickle(int bytes);  // 0: whole replies
    void setUsbLatency(int ms);  // 0: off
    void setReplySync(ReplySync mode, std::uint16_t word = 0);
    void setFlashReplyOrder(int order);  // < 0: the request's order word
    void setTeachReply(bool on);
    void setStrayBefore(const std::vector<std::uint8_t>& bytes);
    void setLate(const LateReply& late);
    void setFaults(const Faults& faults);
    Faults faults() const;

    // Writes raw bytes to the program at once (not framed, not paced).
    bool inject(const std::vector<std::uint8_t>& bytes);

    // The frames received (the newest `logLimit` or more when a limit is set).
    std::vector<Frame> received() const;
    // When each frame of received() arrived, in ms on the sensor's clock (the
    // steady clock on a pty, the runtime's clock in memory).
    std::vector<double> arrivalsMs() const;
    std::size_t framesReceived() const;  // in all, whether still in the log or not
    std::size_t repliesSent() const;
    std::size_t bytesDiscarded() const;  // torn-frame bytes dropped on resync
    bool waitForFrames(std::size_t n, int timeoutMs) const;
    bool waitForReplies(std::size_t n, int timeoutMs) const;

    Block ram() const;
    Block eeprom() const;
    void setRam(const Block& b);
    std::uint16_t measuredValue() const;  // value the next measurement is taken from
    Page flashPage(int page) const;       // zeroed Page for a page outside 0..7
    // Writes pages 4..7 (1024 words) to `path`, one word per line.
    bool dumpFlash(const std::string& path) const;

    // The program's end of an in-memory line (see above); `atMs` and `nowMs`
    // on the runtime's clock, never going back.
    // The program's bytes arriving at `atMs`; false when the line is closed.
    bool lineWrite(const std::uint8_t* data, std::size_t n, double atMs);
    // The bytes that have reached the program's end by `nowMs`, oldest first.
    std::vector<std::uint8_t> lineRead(double nowMs);
    // When the next bytes reach the program's end or the line closes; +inf
    // when nothing is on its way.
    double lineNextMs(double nowMs);
    // Whether the line has closed by `nowMs` (hung up or stopped).
    bool lineClosed(double nowMs);

  private:
    struct Write;
    struct Outbox;
    // The firmware (firmware.cpp): the answer to a frame, with mu_ held.
    void handleFrame(const Frame& f, Outbox& out, double arrivalMs);
    std::uint16_t nextMeasurement();
    void saveEeprom();
    // The line's timing, the same on both lines (line.cpp), with mu_ held.
    void feedLocked(const std::uint8_t* data, std::size_t n, double atMs);
    void schedule(Outbox& out, std::vector<std::uint8_t> bytes, double arrivalMs);
    void addPiece(Outbox& out, double atMs, const std::uint8_t* data, std::size_t n, bool lastOfReply);
    bool tickLocked(double nowMs);
    void noteHangupLocked(double atMs);
    void dropTornLocked(double nowMs);
    bool takeDueLocked(double atMs, Write& w);
    void wentOutLocked(int repliesDone, double atMs);
    bool closeIfDueLocked(double nowMs);
    double nextOutLocked() const;
    double nextEventLocked() const;
    void logFrame(const char* dir, const std::uint8_t* data, std::size_t n) const;
    // The pty (pty.cpp).
    bool startPtyLocked(std::string* error);
    void stopPty();
    void run();
    bool writeAll(const std::uint8_t* data, std::size_t n);
    void closeFds();
    // In memory (in_memory.cpp): the clock, and running the sensor's time up
    // to `t`.
    void startInMemoryLocked();
    void stopInMemory();
    double nowLocked();
    void advanceLocked(double t);
    bool lineUpToLocked(double t);
    void catchUpLocked();
    void catchUp() const;
    bool injectInMemory(const std::vector<std::uint8_t>& bytes);
    bool waitInMemory(const std::function<bool()>& done, int timeoutMs) const;
    bool waitNotified(const std::function<bool()>& done, int timeoutMs) const;

    Options opts_;
    mutable std::mutex mu_;  // guards everything below but the fds' lifetime
    mutable std::condition_variable cv_;
    std::mutex writeMu_;  // serialises writes to the master and its closing
    int master_ = -1;
    int slave_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::string device_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    bool running_ = false;
    bool hungUp_ = false;

    std::vector<Frame> received_;
    std::vector<double> arrivals_;  // parallel to received_
    std::size_t framesTotal_ = 0;   // frames received in all, also those dropped from the log
    std::size_t replies_ = 0;
    std::size_t discarded_ = 0;
    Block ram_ = kDefaultBlock;
    Block eeprom_ = kDefaultBlock;
    std::array<Page, kPages> flash_{};
    int flashAddress_ = -1;  // address announced by the last order 20, -1: none
    int wavePos_ = 16;       // position in the measurement waveform; starts at the reference
    std::uint16_t measured_ = kDefaultBlock[2];
    std::uint32_t rng_;
    double startMs_ = 0;   // when serving began: origin of the USB latency grid
    double usbPhase_ = 0;  // grid phase as a fraction of the latency, from the seed

    // The line between the reading of bytes and the writing of replies.
    std::unique_ptr<Outbox> out_;
    std::vector<std::uint8_t> partial_;  // bytes of a frame not yet complete
    double lastByteMs_ = 0;
    bool hangupPending_ = false;  // the N-th frame has come: close once the replies are out
    double hangupSinceMs_ = 0;
    double hangupAtMs_ = -1;
    double lastOutMs_ = -1e300;    // when the newest write went out
    std::uint16_t syncCount_ = 0;  // ReplySync::Count: the word of the next reply

    // In memory: bytes at the program's end not yet taken, and the time.
    std::deque<std::uint8_t> wire_;
    double memNowMs_ = 0;
};

}  // namespace kxsim
