// The commands of orvanscope-cli. Every exchange with the sensor goes through
// the core's operations (com232/session.h, rs232.h, flash.h, corrtable.h,
// paramfile.h); this file only chooses them, checks the operator's input
// before anything is sent, and prints the results.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/cli.h"
#include "com232/corrtable.h"
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

namespace fs = std::filesystem;

// The C library's descriptors: not handed to other programs, and on Windows
// written byte for byte (no carriage return added to a line end).
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif
// Where the last whole line of a file ends, past 2 GiB too (a long measurement).
static_assert(sizeof(off_t) >= 8);

// Ports the window's selector always offers; higher ones are listed when mapped.
constexpr int LISTED_PORTS = 8;
constexpr int FIRST_PAGE = 4;
constexpr int FLASH_PAGES = 4;

const char* TargetName(int32_t target) {
    return target == orv::EEPROM ? "eeprom" : "ram";
}

Json BlockJson(const Block& block) {
    Json j = Json::object();
    for (int32_t k = 0; k < orv::PNUM; ++k)
        j[orv::SlotName(k)] = block[static_cast<std::size_t>(k)];
    return j;
}

void PrintBlock(const Block& block, const Common& c) {
    if (c.json)
        return;
    for (int32_t k = 0; k < orv::PNUM; ++k)
        std::printf("%-10s %5ld\n", orv::SlotName(k), static_cast<long>(block[static_cast<std::size_t>(k)]));
}

// The slots in which `a` and `b` differ, as {slot, nameA: a, nameB: b}.
Json Differences(const Block& a, const Block& b, const char* nameA, const char* nameB) {
    Json list = Json::array();
    for (int32_t k = 0; k < orv::PNUM; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (a[i] != b[i])
            list.push_back({{"slot", orv::SlotName(k)}, {nameA, a[i]}, {nameB, b[i]}});
    }
    return list;
}

// A line a slot of `list` (from Differences): `format` takes the slot name and
// the values of `a` and `b`. `none` when the list is empty.
void PrintDifferences(const Json& list, const char* a, const char* b, const char* format,
                      const std::string& none) {
    for (const Json& d : list)
        std::printf(format, d["slot"].get<std::string>().c_str(), d[a].get<int>(), d[b].get<int>());
    if (list.empty())
        std::printf("%s\n", none.c_str());
}

// Why the line could not be opened, in the operator's words.
std::string OpenFailure(const Common& c, const std::string& device) {
    std::string why = ComOpenFailureReason(c.port);
    if (why == "not a terminal" || why == "not a character device" || why == "Inappropriate ioctl for device")
        why = "not a serial device";
    else if (why == "Permission error while locking the device")
        why = "in use by another program";  // its lock file: the same path opened twice
    else if (why.empty() || why == "no device for this port number")
        why = device.empty() ? "no device is mapped to port " + std::to_string(c.port) : "cannot be opened";
    else if (why.size() > 1 && why[0] >= 'A' && why[0] <= 'Z' && why[1] >= 'a')
        why[0] = static_cast<char>(why[0] - 'A' + 'a');  // the system's "Permission denied"
    std::string text = "cannot open " + (c.device.empty() ? c.label : c.device) + ": " + why;
#ifdef _WIN32
    if (device.empty())
        text += "; 'orvanscope-cli ports' lists the COM ports that are there";
#else
    if (device.empty())
        text += "; map the port with ORVANSCOPE_COM" + std::to_string(c.port) +
                "=/dev/ttyUSB0 (your device), or name the device with --device PATH; "
                "'orvanscope-cli ports' lists the ports";
#endif
    return text;
}

// Opens the line the options name, without the echo check. EXIT_DONE or the failure's code.
int OpenPort(const Common& c) {
    const std::string device = c.device.empty() ? ComPortDevice(c.port) : c.device;
    Result()["port"] = c.device.empty() ? Json(c.port) : Json(nullptr);
    Result()["device"] = device.empty() ? Json(nullptr) : Json(device);
    if (orv::OpenLine(c.port, c.device.c_str()) < 0) {
        orv::ShowStatus(orv::szStatus.data());
        return Fail(EXIT_NO_PORT, OpenFailure(c, device));
    }
    return EXIT_DONE;
}

// Opens the line and reads the block of `target`. EXIT_DONE or the failure's code.
int ReadFromSensor(const Common& c, int32_t target, Block* block) {
    if (const int code = OpenPort(c); code != EXIT_DONE)
        return code;
    Result()["target"] = TargetName(target);
    return orv::ReadBlock(c.port, target, block->data()) == orv::SESSION_OK ? EXIT_DONE
                                                                            : FailStatus(EXIT_FAILED);
}

// Why `path` cannot be written as a new file or over an existing one ("" if
// it can). `regularOnly`: it must be a regular file (a parameter file is
// replaced by renaming over it); otherwise a device or a pipe will do.
std::string CannotWrite(const std::string& path, bool regularOnly) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (fs::is_directory(st))
        return "cannot write " + path + ": it is a directory";
    if (fs::exists(st))
        return regularOnly && !fs::is_regular_file(st) ? "cannot write " + path + ": not a regular file" : "";
    const fs::path dir = fs::path(path).parent_path();
    if (!fs::is_directory(dir.empty() ? fs::path(".") : dir, ec))
        return "cannot write " + path + ": no directory " + dir.string();
    return "";
}

// Output written a whole line at a time. A failed write takes back what it
// wrote of its line (on a regular file), so what is kept ends with a whole
// line; `Why` then says what the system answered.
class LineSink {
  public:
    ~LineSink() {
        if (fd_ > STDOUT_FILENO)
            close(fd_);
    }
    // "" or "-": standard output; a file is emptied only now.
    bool Open(const std::string& path) {
        path_ = path.empty() || path == "-" ? "standard output" : path;
        fd_ = path.empty() || path == "-"
                  ? STDOUT_FILENO
                  : open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_BINARY, 0666);
        if (fd_ < 0) {
            why_ = "cannot write " + path_ + ": " + SystemReason(errno);
            return false;
        }
        struct stat st {};
        regular_ = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
        kept_ = regular_ ? lseek(fd_, 0, SEEK_CUR) : 0;
        return true;
    }
    bool IsOpen() const { return fd_ >= 0; }
    bool Write(const char* text, std::size_t n) {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t w = write(fd_, text + done, n - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                why_ = "cannot write " + path_ + ": " + SystemReason(w < 0 ? errno : ENOSPC);
                if (regular_ && kept_ >= 0 && ftruncate(fd_, kept_) != 0)
                    why_ += " (and the line begun stays in the file)";
                return false;
            }
            done += static_cast<std::size_t>(w);
        }
        if (kept_ >= 0)
            kept_ += static_cast<off_t>(n);
        return true;
    }
    bool Write(const std::string& line) { return Write(line.data(), line.size()); }
    const std::string& Why() const { return why_; }

  private:
    int fd_ = -1;
    bool regular_ = false;
    off_t kept_ = -1;  // where the last whole line ends
    std::string path_, why_;
};

Json SampleJson(const orv::ScopeRow& row) {
    return {{"time_ms", std::llround(row.ms)},
            {"value", row.value},
            {"reference", row.reference},
            {"upper", row.upper},
            {"lower", row.lower},
            {"ref_output", row.refOutput},
            {"tol_output", row.tolOutput}};
}

// "page6, page7" for the pages of `mask` (bit k: page 4 + k).
std::string PageList(int32_t mask, const char* separator, const char* prefix) {
    std::string list;
    for (int k = 0; k < FLASH_PAGES; ++k) {
        if ((mask >> k) & 1)
            list += (list.empty() ? "" : separator) + std::string(prefix) + std::to_string(FIRST_PAGE + k);
    }
    return list;
}

Json PageArray(int32_t mask) {
    Json list = Json::array();
    for (int k = 0; k < FLASH_PAGES; ++k) {
        if ((mask >> k) & 1)
            list.push_back(FIRST_PAGE + k);
    }
    return list;
}

}  // namespace

int CmdPorts(const Common& c) {
    Json list = Json::array();
    for (int port = 1; port <= MAX_COM_PORTS; ++port) {
        const std::string device = ComPortDevice(port);
        if (port > LISTED_PORTS && device.empty())
            continue;
        list.push_back({{"port", port}, {"device", device.empty() ? Json(nullptr) : Json(device)}});
        if (!c.json)
            std::printf("%-3d %s\n", port, device.empty() ? "(not connected)" : device.c_str());
    }
    Result()["ports"] = list;
    return EXIT_DONE;
}

int CmdCheck(const Common& c) {
    if (const int code = OpenPort(c); code != EXIT_DONE)
        return code;
    const bool ok = orv::CheckComLine(c.port, orv::sync) != 0;
    Result()["line_ok"] = ok;
    return ok ? EXIT_DONE : FailStatus(EXIT_FAILED);
}

int CmdGet(const Common& c, int32_t target, const std::string& out) {
    const bool toStdout = out == "-";
    if (toStdout && c.json)
        return Fail(EXIT_BAD_INPUT, "--out - and --json would both write to standard output");
    if (const std::string why = toStdout || out.empty() ? "" : CannotWrite(out, true); !why.empty())
        return Fail(EXIT_BAD_INPUT, why);
    Block block{};
    if (const int code = ReadFromSensor(c, target, &block); code != EXIT_DONE)
        return code;
    Result()["block"] = BlockJson(block);
    if (toStdout) {
        // The parameter file's own layout: one line, fields of 4, tabs between.
        for (int32_t k = 0; k < orv::PNUM; ++k)
            std::printf("%*ld%c", orv::PARA_FIELD_WIDTH,
                        static_cast<long>(block[static_cast<std::size_t>(k)]),
                        k + 1 < orv::PNUM ? '\t' : '\n');
        return std::fflush(stdout) == 0 ? EXIT_DONE : Fail(EXIT_FILE, "cannot write standard output");
    }
    PrintBlock(block, c);
    if (!out.empty()) {
        errno = 0;
        const int rc = orv::WriteParaFile(out.c_str(), block.data());
        if (rc < 0)
            return Fail(EXIT_FILE, "cannot write " + out + ": " +
                                       (rc == FILE_ERR_NOT_FILE ? "not a regular file"
                                        : errno != 0            ? SystemReason(errno)
                                                                : "write failed") +
                                       " (the block was read and is printed)");
        Result()["file"] = out;
    }
    return EXIT_DONE;
}

int CmdSend(const Common& c, int32_t target, const std::string& file,
            const std::vector<std::string>& assignments, bool dryRun) {
    // Everything the operator gave is checked before the line is touched.
    if (file.empty() == assignments.empty())
        return Fail(EXIT_BAD_INPUT, "send takes either --file FILE or NAME=VALUE ...");
    std::array<bool, orv::PNUM> named{};
    Block block{};
    std::string why;
    for (const std::string& a : assignments) {
        int32_t slot = 0, value = 0;
        if (!ParseAssignment(a, &slot, &value, &why))
            return Fail(EXIT_BAD_INPUT, why);
        if (named[static_cast<std::size_t>(slot)])
            return Fail(EXIT_BAD_INPUT, std::string(orv::SlotName(slot)) + " is named twice");
        named[static_cast<std::size_t>(slot)] = true;
        block[static_cast<std::size_t>(slot)] = value;
    }
    if (!file.empty() && !ReadParaInput(file, &block, &why))
        return Fail(EXIT_BAD_INPUT, why);

    if (!file.empty() && !dryRun) {
        if (const int code = OpenPort(c); code != EXIT_DONE)
            return code;
        Result()["target"] = TargetName(target);
        Result()["file"] = DisplayName(file);
    } else {
        // Only the named slots change; the others keep what the sensor holds.
        Block now{};
        if (const int code = ReadFromSensor(c, target, &now); code != EXIT_DONE)
            return code;
        for (int32_t k = 0; k < orv::PNUM; ++k) {
            if (file.empty() && !named[static_cast<std::size_t>(k)])
                block[static_cast<std::size_t>(k)] = now[static_cast<std::size_t>(k)];
        }
        const Json changes = Differences(now, block, "old", "new");
        Result()["changes"] = changes;
        if (dryRun) {
            Result()["dry_run"] = true;
            if (!c.json)
                PrintDifferences(changes, "old", "new", "%-10s %5d -> %d\n", "no slot would change");
            return EXIT_DONE;
        }
    }
    if (StopSignal() != 0)
        return Stopped("nothing was written");
    Block readBack{};
    if (orv::WriteBlockVerified(c.port, target, block.data(), readBack.data()) != orv::SESSION_OK)
        return FailStatus(EXIT_FAILED);
    Result()["block"] = BlockJson(readBack);
    PrintBlock(readBack, c);
    return EXIT_DONE;
}

int CmdVerify(const Common& c, int32_t target, const std::string& file) {
    Block expected{};
    std::string why;
    if (!ReadParaInput(file, &expected, &why))
        return Fail(EXIT_BAD_INPUT, why);
    Block actual{};
    if (const int code = ReadFromSensor(c, target, &actual); code != EXIT_DONE)
        return code;
    const Json differences = Differences(actual, expected, "sensor", "file");
    Result()["file"] = DisplayName(file);
    Result()["equal"] = differences.empty();
    Result()["differences"] = differences;
    if (!c.json)
        PrintDifferences(differences, "sensor", "file", "%-10s sensor %5d  file %5d\n",
                         std::string("the ") + TargetName(target) + " block equals " + DisplayName(file));
    if (differences.empty())
        return EXIT_DONE;
    return Fail(EXIT_FAILED, std::string("the ") + TargetName(target) + " block differs from " +
                                 DisplayName(file) + " in " + std::to_string(differences.size()) +
                                 " of 16 slots");
}

int CmdTeach(const Common& c) {
    if (const int code = OpenPort(c); code != EXIT_DONE)
        return code;
    Block block{};
    if (orv::TeachReference(c.port, block.data()) != orv::SESSION_OK)
        return FailStatus(EXIT_FAILED);
    Result()["block"] = BlockJson(block);
    PrintBlock(block, c);
    return EXIT_DONE;
}

int CmdMeasure(const Common& c, long count, double seconds, const std::string& csv) {
    // With --json the samples are JSON Lines on standard output, unless --csv
    // names a file for them.
    const bool toFile = !csv.empty() && csv != "-";
    if (c.json && csv == "-")
        return Fail(EXIT_BAD_INPUT, "--csv - and --json would both write to standard output");
    if (const std::string why = toFile ? CannotWrite(csv, false) : ""; !why.empty())
        return Fail(EXIT_BAD_INPUT, why);
    // The lamps are judged against the block the sensor works with.
    Block block{};
    if (const int code = ReadFromSensor(c, orv::RAM, &block); code != EXIT_DONE)
        return code;

    const bool jsonLines = c.json && !toFile;
    LineSink out;  // opened at the first sample: an earlier file stays until then
    orv::ScopeBounds bounds;
    std::array<uint16_t, orv::RAWNUM> raw{};
    std::array<char, orv::SCOPE_CSV_LEN> line{};
    long samples = 0;
    int code = EXIT_DONE;
    const double start = Timer();
    while (StopSignal() == 0 && (count <= 0 || samples < count) &&
           (seconds <= 0 || Timer() - start < seconds)) {
        if (orv::MeasureOnce(c.port, raw.data()) != orv::SESSION_OK) {
            code = FailStatus(EXIT_FAILED);
            break;
        }
        const orv::ScopeRow row = orv::TakeScopeRow((Timer() - start) * 1000.0, raw[0], bounds);
        bool written = true;
        if (!out.IsOpen()) {
            orv::ScopeCsvHeader(line.data(), orv::SCOPE_CSV_LEN);
            written = out.Open(toFile ? csv : "-") &&
                      (jsonLines || out.Write(line.data(), std::strlen(line.data())));
        }
        if (written && jsonLines) {
            written = out.Write(SampleJson(row).dump() + "\n");
        } else if (written) {
            orv::ScopeCsvRow(line.data(), orv::SCOPE_CSV_LEN, row);
            written = out.Write(line.data(), std::strlen(line.data()));
        }
        if (!written) {
            code = Fail(EXIT_FILE,
                        out.Why() + "; the " + std::to_string(samples) + " samples before it are kept");
            break;
        }
        ++samples;
    }
    const double took = Timer() - start;
    Result()["samples"] = samples;
    if (toFile)
        Result()["csv"] = csv;
    char summary[96];
    std::snprintf(summary, sizeof summary, "%ld samples in %.2f s (%.1f a second)", samples, took,
                  took > 0 ? static_cast<double>(samples) / took : 0.0);
    Note(summary);
    if (code == EXIT_DONE && StopSignal() != 0)
        return Stopped("measuring ended after " + std::to_string(samples) + " samples, all of them written");
    return code;
}

int CmdFlash(const Common& c, const std::string& source, int32_t pages, int retries) {
    std::error_code ec;
    errno = 0;
    std::FILE* readable = fs::is_directory(source, ec) ? nullptr : std::fopen(source.c_str(), "rb");
    if (readable == nullptr)
        return Fail(EXIT_BAD_INPUT, "cannot read " + source + ": " +
                                        (errno == 0 ? "it is a directory" : SystemReason(errno)));
    std::fclose(readable);
    const fs::path path = fs::absolute(source, ec);
    // The table record is written beside the source.
    const fs::path record = path.parent_path() / orv::CORR_OUTPUT_FILE;
    const int built = orv::BuildCorrData(path.string().c_str(), record.string().c_str());
    if (built < 0) {
        // The build names the file without its directories.
        std::string why = LastStatus();
        const std::string name = path.filename().string();
        if (why.compare(0, name.size() + 2, name + ": ") == 0)
            why.erase(0, name.size() + 2);
        return Fail(EXIT_BAD_INPUT, source + ": " + why);
    }

    if (const int code = OpenPort(c); code != EXIT_DONE)
        return code;
    orv::flash_pages = pages;
    orv::flash_retries = retries;
    const int32_t failed = orv::ProgramFlash(c.port);
    const bool interrupted = StopSignal() != 0 && failed != 0;
    EndProgress(interrupted);

    const std::string table =
        (fs::path(source).parent_path() / orv::CORR_OUTPUT_FILE).lexically_normal().string();
    Result()["pages"] = PageArray(pages);
    Result()["written_pages"] = PageArray(pages & ~failed);
    Result()["failed_pages"] = PageArray(failed);
    Result()["table"] = table;
    Result()["table_saved"] = orv::corr_save_failed == 0;
    if (!c.json) {
        for (int k = 0; k < FLASH_PAGES; ++k) {
            if ((pages >> k) & 1)
                std::printf("page%d %s\n", FIRST_PAGE + k, (failed >> k) & 1 ? "not written" : "written");
        }
        std::printf("%s %s\n", table.c_str(), orv::corr_save_failed == 0 ? "saved" : "not saved");
    }
    const std::string redo = "the sensor's correction table is incomplete: run flash again (--pages " +
                             PageList(failed, ",", "") + " redoes only those pages)";
    if (interrupted)
        return Stopped(PageList(failed, ", ", "page") + " not written; " + redo);
    if (failed != 0)
        return Fail(EXIT_FAILED, PageList(failed, ", ", "page") + " not written; " + redo);
    if (orv::corr_save_failed != 0)
        return Fail(EXIT_FILE, "every page is programmed, but the table record " + table + " was not saved");
    return EXIT_DONE;
}

}  // namespace orv_cli
