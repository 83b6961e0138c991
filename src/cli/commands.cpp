// The commands of orvanscope-cli. Every exchange with the sensor goes through
// the core's operations (com232/session.h, rs232.h, flash.h, corrtable.h,
// paramfile.h); this file only chooses them, checks the operator's input
// before anything is sent, and prints the results.
#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/cli.h"
#include "com232/corrtable.h"
#include "com232/filestatus.h"
#include "com232/flash.h"
#include "com232/frame.h"
#include "com232/paramfile.h"
#include "com232/params.h"
#include "com232/report.h"
#include "com232/rs232.h"
#include "com232/scopecsv.h"
#include "com232/session.h"
#include "runtime/rtcore.h"

namespace orv_cli {

namespace {

using Block = std::array<int32_t, orv::PNUM>;
using Json = nlohmann::ordered_json;

// Ports the window's selector always offers; higher ones are listed when mapped.
constexpr int LISTED_PORTS = 8;

void PrintJson(const Json& j) {
    std::printf("%s\n", j.dump().c_str());
}

Json BlockJson(const Block& block) {
    Json j = Json::object();
    for (int32_t k = 0; k < orv::PNUM; ++k)
        j[orv::SlotName(k)] = block[static_cast<std::size_t>(k)];
    return j;
}

void PrintBlock(const Block& block, bool json) {
    if (json) {
        PrintJson(BlockJson(block));
        return;
    }
    for (int32_t k = 0; k < orv::PNUM; ++k)
        std::printf("%-10s %5ld\n", orv::SlotName(k), static_cast<long>(block[static_cast<std::size_t>(k)]));
}

// A message of this program itself (not a status text of the sensor's).
void Complain(const std::string& text) {
    EndProgress();
    std::fprintf(stderr, "orvanscope-cli: %s\n", text.c_str());
}

// Opens the line the options name, without the echo check.
bool OpenPort(const Common& c) {
    if (orv::OpenLine(c.port, c.device.c_str()) < 0) {
        orv::ShowStatus(orv::szStatus.data());
        ReportFailure();
        return false;
    }
    orv::com = c.port;
    return true;
}

int Failed() {
    ReportFailure();
    return EXIT_FAILED;
}

// NAME=VALUE: a slot name and a decimal value of 0..65535.
bool ParseAssignment(const std::string& text, int32_t* slot, int32_t* value) {
    const std::size_t eq = text.find('=');
    const std::string name = text.substr(0, eq);
    *slot = orv::SlotIndex(name.c_str());
    if (eq == std::string::npos || *slot < 0) {
        std::string names;
        for (int32_t k = 0; k < orv::PNUM; ++k)
            names += std::string(k > 0 ? ", " : "") + orv::SlotName(k);
        Complain(eq == std::string::npos ? "'" + text + "' is not NAME=VALUE (names: " + names + ")"
                                         : "no parameter '" + name + "' (names: " + names + ")");
        return false;
    }
    const std::string digits = text.substr(eq + 1);
    unsigned long v = 0;
    bool ok = !digits.empty() && digits.size() <= 5;
    for (const char ch : digits) {
        ok = ok && ch >= '0' && ch <= '9';
        v = v * 10 + static_cast<unsigned long>(ch - '0');
    }
    if (!ok || v > orv::PARA_WORD_MAX) {
        Complain(text + ": " + name + " takes a whole number of 0.." + std::to_string(orv::PARA_WORD_MAX));
        return false;
    }
    *value = static_cast<int32_t>(v);
    return true;
}

// Whether `path` can become a parameter file: an existing regular file, or a
// new name in an existing directory. Checked before the sensor is asked.
bool CanWriteFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (fs::exists(st))
        return fs::is_regular_file(st);
    const fs::path dir = fs::path(path).parent_path();
    return fs::is_directory(dir.empty() ? fs::path(".") : dir, ec);
}

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void RequestStop(int) {
    stopRequested = 1;
}

}  // namespace

int CmdPorts(const Common& c) {
    Json list = Json::array();
    for (int port = 1; port <= MAX_COM_PORTS; ++port) {
        const std::string device = ComPortDevice(port);
        if (port > LISTED_PORTS && device.empty())
            continue;
        if (c.json)
            list.push_back({{"port", port}, {"device", device.empty() ? Json(nullptr) : Json(device)}});
        else
            std::printf("%-3d %s\n", port, device.empty() ? "(not connected)" : device.c_str());
    }
    if (c.json)
        PrintJson(list);
    return EXIT_DONE;
}

int CmdCheck(const Common& c) {
    if (!OpenPort(c))
        return EXIT_NO_PORT;
    const bool ok = orv::CheckComLine(c.port, orv::sync) != 0;
    if (c.json) {
        const std::string device = c.device.empty() ? ComPortDevice(c.port) : c.device;
        PrintJson({{"port", c.port}, {"device", device}, {"line_ok", ok}, {"status", orv::szStatus.data()}});
    }
    return ok ? EXIT_DONE : Failed();
}

int CmdGet(const Common& c, int32_t target, const std::string& out) {
    if (!out.empty() && !CanWriteFile(out)) {
        orv::ShowStatusF("Cannot write %s", orv::FileBaseName(out.c_str()));
        ReportFailure();
        return EXIT_BAD_INPUT;
    }
    if (!OpenPort(c))
        return EXIT_NO_PORT;
    Block block{};
    if (orv::ReadBlock(c.port, target, block.data()) != orv::SESSION_OK)
        return Failed();
    PrintBlock(block, c.json);
    if (!out.empty() && orv::WriteParaFile(out.c_str(), block.data()) < 0) {
        ReportFailure();
        return EXIT_BAD_INPUT;
    }
    return EXIT_DONE;
}

int CmdSend(const Common& c, int32_t target, const std::string& file,
            const std::vector<std::string>& assignments) {
    // Everything the operator gave is checked before the line is touched.
    if (file.empty() == assignments.empty()) {
        Complain("send takes either --file FILE or NAME=VALUE ...");
        return EXIT_BAD_INPUT;
    }
    std::array<bool, orv::PNUM> named{};
    std::array<int32_t, orv::PNUM> values{};
    for (const std::string& a : assignments) {
        int32_t slot = 0, value = 0;
        if (!ParseAssignment(a, &slot, &value))
            return EXIT_BAD_INPUT;
        if (named[static_cast<std::size_t>(slot)]) {
            Complain(std::string(orv::SlotName(slot)) + " is named twice");
            return EXIT_BAD_INPUT;
        }
        named[static_cast<std::size_t>(slot)] = true;
        values[static_cast<std::size_t>(slot)] = value;
    }
    Block block{};
    if (!file.empty() && orv::ReadParaFile(file.c_str(), block.data()) < 0) {
        ReportFailure();
        return EXIT_BAD_INPUT;
    }

    if (!OpenPort(c))
        return EXIT_NO_PORT;
    if (file.empty()) {
        // Only the named slots change; the others keep what the sensor holds.
        if (orv::ReadBlock(c.port, target, block.data()) != orv::SESSION_OK)
            return Failed();
        for (int32_t k = 0; k < orv::PNUM; ++k) {
            if (named[static_cast<std::size_t>(k)])
                block[static_cast<std::size_t>(k)] = values[static_cast<std::size_t>(k)];
        }
    }
    Block readBack{};
    if (orv::WriteBlockVerified(c.port, target, block.data(), readBack.data()) != orv::SESSION_OK)
        return Failed();
    PrintBlock(readBack, c.json);
    return EXIT_DONE;
}

int CmdTeach(const Common& c) {
    if (!OpenPort(c))
        return EXIT_NO_PORT;
    Block block{};
    if (orv::TeachReference(c.port, block.data()) != orv::SESSION_OK)
        return Failed();
    PrintBlock(block, c.json);
    return EXIT_DONE;
}

int CmdMeasure(const Common& c, long count, double seconds, const std::string& csv) {
    const bool toStdout = csv == "-";
    std::FILE* out = toStdout ? stdout : std::fopen(csv.c_str(), "w");
    if (out == nullptr) {
        orv::ShowStatusF("Cannot write %s", orv::FileBaseName(csv.c_str()));
        ReportFailure();
        return EXIT_BAD_INPUT;
    }
    auto finish = [&](int code) {
        if (!toStdout)
            std::fclose(out);
        else
            std::fflush(out);
        return code;
    };
    if (!OpenPort(c))
        return finish(EXIT_NO_PORT);
    // The lamps are judged against the block the sensor works with.
    Block block{};
    if (orv::ReadBlock(c.port, orv::RAM, block.data()) != orv::SESSION_OK)
        return finish(Failed());

    std::array<char, orv::SCOPE_CSV_LEN> line{};
    orv::ScopeCsvHeader(line.data(), orv::SCOPE_CSV_LEN);
    std::fputs(line.data(), out);
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);

    orv::ScopeBounds bounds;
    std::array<uint16_t, orv::RAWNUM> raw{};
    long samples = 0;
    int code = EXIT_DONE;
    const double start = Timer();
    while (stopRequested == 0 && (count <= 0 || samples < count) &&
           (seconds <= 0 || Timer() - start < seconds)) {
        if (orv::MeasureOnce(c.port, raw.data()) != orv::SESSION_OK) {
            code = stopRequested != 0 ? EXIT_DONE : Failed();
            break;
        }
        const orv::ScopeRow row = orv::TakeScopeRow((Timer() - start) * 1000.0, raw[0], bounds);
        orv::ScopeCsvRow(line.data(), orv::SCOPE_CSV_LEN, row);
        std::fputs(line.data(), out);
        std::fflush(out);
        ++samples;
    }
    const double took = Timer() - start;
    if (!c.quiet)
        std::fprintf(stderr, "%ld samples in %.2f s (%.1f a second)\n", samples, took,
                     took > 0 ? static_cast<double>(samples) / took : 0.0);
    return finish(code);
}

int CmdFlash(const Common& c, const std::string& source) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path = fs::absolute(source, ec);
    // The table record is written beside the source: the build writes it
    // into the working directory, which is the source's for the build.
    const fs::path here = fs::current_path(ec);
    fs::current_path(path.parent_path(), ec);
    if (ec) {
        orv::ShowStatusF("Cannot open %s", orv::FileBaseName(source.c_str()));
        ReportFailure();
        return EXIT_BAD_INPUT;
    }
    const int built = orv::ReadCorrData(path.string().c_str());
    fs::current_path(here, ec);
    if (built < 0) {
        ReportFailure();
        return EXIT_BAD_INPUT;
    }

    if (!OpenPort(c))
        return EXIT_NO_PORT;
    const int32_t failedPages = orv::SendCorrDataToFlash();
    EndProgress();
    if (c.json) {
        Json failed = Json::array();
        for (int k = 0; k < 4; ++k) {
            if ((failedPages >> k) & 1)
                failed.push_back(4 + k);
        }
        PrintJson({{"failed_pages", failed},
                   {"table", (path.parent_path() / orv::CORR_OUTPUT_FILE).lexically_normal().string()},
                   {"table_saved", orv::corr_save_failed == 0},
                   {"status", orv::szStatus.data()}});
    }
    return failedPages == 0 && orv::corr_save_failed == 0 ? EXIT_DONE : Failed();
}

}  // namespace orv_cli
