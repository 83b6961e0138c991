// kxsim: a simulated sensor on a pseudo-terminal, for trying the program
// without hardware, for training and for demos.
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "kxsim.h"

namespace {

volatile std::sig_atomic_t gQuit = 0;

void OnSignal(int) {
    gQuit = 1;
}

void Usage(std::FILE* out) {
    std::fputs(
        "usage: kxsim [options]\n"
        "Serves a simulated sensor on a pseudo-terminal and prints its device path.\n"
        "Runs until interrupted (SIGINT/SIGTERM).\n"
        "\n"
        "  --link PATH          also make a symbolic link PATH to the device\n"
        "  --eeprom FILE        keep the EEPROM block in FILE (16 words, one a line)\n"
        "  --fast               answer as soon as the request is in, without the\n"
        "                       reply's own time on the line\n"
        "  --trickle N          hand every reply over in pieces of N bytes (1..36) at\n"
        "                       the line's pace, as a real line does\n"
        "  --usb-latency MS     pass bytes on in bursts every MS ms (1..100) or per\n"
        "                       62 bytes, as a USB adapter's driver does\n"
        "  --silent             read frames but never answer\n"
        "  --delay MS           answer MS milliseconds later than the line allows\n"
        "  --short N            send only the first N bytes of every reply\n"
        "  --garbage N          send N random bytes in place of every reply\n"
        "  --garbage-before N   send N random bytes before every reply\n"
        "  --echo WORD          answer the echo check with WORD instead of 170\n"
        "  --flash-fault P,B,addr|data,WORD\n"
        "                       answer the flash address or data exchange of\n"
        "                       page P (4..7), block B (0..15) with WORD\n"
        "  --flash-late P,B,addr|data,MS\n"
        "                       answer that exchange MS milliseconds late\n"
        "  --hangup N           close the line after the N-th frame received\n"
        "  --stray-before HEX   send these bytes (e.g. 0055000401F40001) right before\n"
        "                       the next reply, once\n"
        "  --late MS[,ORDER]    answer the next request (with order word ORDER) MS\n"
        "                       milliseconds late, once\n"
        "\n"
        "What the protocol leaves to the sensor:\n"
        "  --reply-sync WORD|echo|count\n"
        "                       the sync word of every reply: WORD, the request's\n"
        "                       (echo, the default), or a new one in every reply\n"
        "  --flash-reply-order WORD\n"
        "                       the order word of every flash reply\n"
        "  --teach-reply        answer the teach order with the parameter block\n"
        "  --dump-flash FILE    on exit write flash pages 4..7 to FILE, one word a line\n"
        "  --log                hex log of every frame to standard error\n"
        "  --help               this text\n",
        out);
}

bool ParseInt(const char* s, long lo, long hi, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 0);
    if (errno != 0 || end == s || *end != '\0' || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

// page,block,addr|data,VALUE: VALUE is the reply word, or with `late` the
// milliseconds by which the reply comes late.
bool ParseFlashFault(const std::string& arg, kxsim::FlashFault& f, bool late) {
    std::string parts[4];
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = arg.find(',', start);
        if ((comma == std::string::npos) != (i == 3))
            return false;
        parts[i] = arg.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma + 1;
    }
    int page = 0, block = 0, word = 0;
    if (!ParseInt(parts[0].c_str(), 0, kxsim::kPages - 1, page) ||
        !ParseInt(parts[1].c_str(), 0, kxsim::kBlocksPerPage - 1, block) ||
        !ParseInt(parts[3].c_str(), late ? 1 : 0, late ? 600000 : 65535, word))
        return false;
    if (parts[2] != "addr" && parts[2] != "data")
        return false;
    f.enabled = true;
    f.page = page;
    f.block = block;
    f.data = parts[2] == "data";
    f.word = late ? 0 : static_cast<std::uint16_t>(word);
    f.lateMs = late ? word : 0;
    return true;
}

// Hex digits, two a byte, at most 4096 bytes.
bool ParseHex(const std::string& arg, std::vector<std::uint8_t>& out) {
    if (arg.empty() || arg.size() % 2 != 0 || arg.size() > 8192)
        return false;
    out.clear();
    for (std::size_t i = 0; i < arg.size(); i += 2) {
        int byte = 0;
        if (!ParseInt(("0x" + arg.substr(i, 2)).c_str(), 0, 255, byte) || !std::isxdigit(arg[i]) ||
            !std::isxdigit(arg[i + 1]))
            return false;
        out.push_back(static_cast<std::uint8_t>(byte));
    }
    return true;
}

// MS[,ORDER]
bool ParseLate(const std::string& arg, kxsim::LateReply& late) {
    const std::size_t comma = arg.find(',');
    late.order = 0;
    if (!ParseInt(arg.substr(0, comma).c_str(), 1, 600000, late.ms))
        return false;
    if (comma != std::string::npos && !ParseInt(arg.substr(comma + 1).c_str(), 0, 65535, late.order))
        return false;
    late.count = 1;
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    kxsim::Options opts;
    opts.logLimit = 10000;  // the program runs for days: keep only the newest frames in memory
    std::string dumpPath;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        auto bad = [&](const char* what) {
            std::fprintf(stderr, "kxsim: %s %s\n", what, a.c_str());
            Usage(stderr);
            return 2;
        };
        auto intArg = [&](long lo, long hi, int& out) {
            return hasValue && ParseInt(argv[++i], lo, hi, out);
        };
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--link" && hasValue) {
            opts.linkPath = argv[++i];
        } else if (a == "--eeprom" && hasValue) {
            opts.eepromFile = argv[++i];
        } else if (a == "--dump-flash" && hasValue) {
            dumpPath = argv[++i];
        } else if (a == "--fast") {
            opts.fast = true;
        } else if (a == "--silent") {
            opts.faults.silent = true;
        } else if (a == "--log") {
            opts.logHex = true;
        } else if (a == "--trickle") {
            if (!intArg(1, kxsim::kFrameBytes, opts.trickleBytes))
                return bad("bad value for");
        } else if (a == "--usb-latency") {
            if (!intArg(1, 100, opts.usbLatencyMs))
                return bad("bad value for");
        } else if (a == "--delay") {
            if (!intArg(0, 600000, opts.faults.delayMs))
                return bad("bad value for");
        } else if (a == "--short") {
            if (!intArg(0, kxsim::kFrameBytes - 1, opts.faults.shortBytes))
                return bad("bad value for");
        } else if (a == "--garbage" || a == "--garbage-before") {
            if (!intArg(1, 4096, opts.faults.garbage))
                return bad("bad value for");
            opts.faults.garbageBefore = a == "--garbage-before";
        } else if (a == "--echo") {
            if (!intArg(0, 65535, opts.faults.echoWord))
                return bad("bad value for");
        } else if (a == "--hangup") {
            if (!intArg(0, 1000000000, opts.faults.hangupAfter))
                return bad("bad value for");
        } else if (a == "--stray-before") {
            if (!hasValue || !ParseHex(argv[++i], opts.faults.strayBefore))
                return bad("bad value for");
        } else if (a == "--late") {
            if (!hasValue || !ParseLate(argv[++i], opts.faults.late))
                return bad("bad value for");
        } else if (a == "--reply-sync" && hasValue) {
            const std::string v = argv[++i];
            int word = 0;
            if (v == "echo") {
                opts.replySync = kxsim::ReplySync::Echo;
            } else if (v == "count") {
                opts.replySync = kxsim::ReplySync::Count;
            } else if (ParseInt(v.c_str(), 0, 65535, word)) {
                opts.replySync = kxsim::ReplySync::Fixed;
                opts.replySyncWord = static_cast<std::uint16_t>(word);
            } else {
                return bad("bad value for");
            }
        } else if (a == "--flash-reply-order") {
            if (!intArg(0, 65535, opts.flashReplyOrder))
                return bad("bad value for");
        } else if (a == "--teach-reply") {
            opts.teachReply = true;
        } else if (a == "--flash-fault" || a == "--flash-late") {
            if (!hasValue || !ParseFlashFault(argv[++i], opts.faults.flash, a == "--flash-late"))
                return bad("bad value for");
        } else {
            return bad("unknown or incomplete option");
        }
    }

    kxsim::Sensor sensor(opts);
    std::string error;
    if (!sensor.start(&error)) {
        std::fprintf(stderr, "kxsim: %s\n", error.c_str());
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    std::printf("%s\n", sensor.devicePath().c_str());
    std::fflush(stdout);

    bool reportedHangup = false;
    while (!gQuit) {
        usleep(50 * 1000);
        if (!reportedHangup && sensor.hungUp()) {
            std::fprintf(stderr, "kxsim: line closed after %zu frames\n", sensor.framesReceived());
            reportedHangup = true;
        }
    }
    sensor.stop();
    if (!dumpPath.empty() && !sensor.dumpFlash(dumpPath)) {
        std::fprintf(stderr, "kxsim: cannot write %s\n", dumpPath.c_str());
        return 1;
    }
    return 0;
}
