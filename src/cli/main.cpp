// orvanscope-cli: the command line, the engine without a window, the
// session's requests to stop, and the dispatch to the commands.
#include <CLI/CLI.hpp>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "com232/corrtable.h"
#include "com232/flash.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "runtime/platform/platform.h"
#include "runtime/rtcore.h"

#ifndef ORV_VERSION
#define ORV_VERSION "unknown"
#endif

namespace orv_cli {

namespace {

std::atomic<int> stopRequest{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The first request to stop (SIGINT or SIGTERM; on Windows Ctrl+C, Ctrl+Break
// or the console closing) asks the command to stop after the exchange in
// flight; the flash programming looks at its own request before every block.
void OnStopRequest(int request) {
    int none = 0;
    stopRequest.compare_exchange_strong(none, request);
    orv::flash_stop = 1;
}

}  // namespace

int StopSignal() {
    return stopRequest.load();
}

int Stopped(const std::string& what) {
    const int request = stopRequest.load();
    return Fail(EXIT_SIGNAL_BASE + request,
                std::string("interrupted by ") + orv_platform::StopRequestName(request) + ": " + what);
}

}  // namespace orv_cli

namespace {

using namespace orv_cli;

constexpr long MAX_COUNT = 100000000;     // samples (about six weeks of measuring)
constexpr double MAX_SECONDS = 10000000;  // about four months
constexpr long MAX_RETRIES = 10;

constexpr const char* COMMANDS = R"(Commands:
  ports                      the port numbers 1..8 (and higher ones that are mapped)
                             and the devices they map to
  check                      the echo line check ("Echo Check - Line Ok!")
  get [--target ram|eeprom] [--out FILE|-]
                             reads the parameter block (16 words, as the sensor holds
                             them: power 500, not the panel's 250) and prints it;
                             --out also writes it as a parameter file (- : standard
                             output, in place of the listing)
  send [--target ram|eeprom] [--dry-run] (--file FILE|- | NAME=VALUE ...)
                             NAME=VALUE: reads the block, changes the named slots,
                             writes it and reads it back; --file writes a parameter
                             file's block (exactly 16 numbers of 0..65535; - : standard
                             input) and reads it back. Succeeds only when the block
                             read back equals the one written. --dry-run prints each
                             slot that would change (old -> new) and writes nothing.
                             Names: power powermode reference tolerance backlimit
                             hysteresis polarity average measure memory hold linear
                             para12 para13 para14 para15; values 0..65535
  verify [--target ram|eeprom] --file FILE|-
                             reads the block and compares it with a parameter file;
                             lists each slot that differs (sensor, file)
  teach                      teaches the current measured value as the reference and
                             prints the block that results
  measure [--count N | --seconds S] [--csv FILE|-]
                             polls the measured value as the live scope does (one
                             request at a time, at the line's pace) and writes CSV:
                             time_ms,value,reference,upper,lower,ref_output,tol_output
                             (outputs as the lamps show them, 1 on). Runs until
                             Ctrl+C without --count or --seconds; CSV to standard
                             output unless --csv names a file (an existing file is
                             kept until the first sample is in hand)
  flash [--pages 4,5,6,7] [--retries N] [FILE]
                             builds the correction table from FILE (default
                             KXconfig.dat in the working directory), writes
                             KXlinear.dat beside it, programs the flash pages (all of
                             4..7 unless --pages names some) and prints each page's
                             outcome; a page that fails is programmed again from its
                             first block up to N times (default 0)
  help [COMMAND]             this text, or a command's options

Global options go before or after the command. --target defaults to ram.
--json prints the outcome as one JSON object on standard output, also on failure:
{"ok":..,"exit":..,"status":..,"error":..} and the command's data (a block as an
object keyed by slot name); measure prints one object per sample before it.
--trace writes every frame on standard error in hex, with the time, the device and
the direction (tx sent, rx received). Status texts go to standard error; with -q
only the message of a failure, led by the port or the device.

)";

#ifdef _WIN32
constexpr const char* PORTS =
    R"(Port N is COM<N>, the serial port that Windows numbers N. --device takes a port
by its name, COM12 or \\.\COM12, also one above 32.

)";
constexpr const char* STOPS = "Ctrl+C / Ctrl+Break (or the console closing)";
constexpr const char* DEVICE_EXAMPLE = "COM12";
#else
constexpr const char* PORTS =
    R"(Port N is the device named by ORVANSCOPE_COM<N> when that is set, otherwise the
N-th serial port of the system (USB adapters first), as in the window program.

)";
constexpr const char* STOPS = "SIGINT / SIGTERM";
constexpr const char* DEVICE_EXAMPLE = "/dev/ttyUSB0";
#endif

constexpr const char* EXITS =
    R"(Exit codes: 0 done; 1 the sensor or the line failed (time-out, read error, a flash
page not written, a block read back that differs, verify found differences); 2 bad
input (command, option, value or file; nothing was sent); 3 the port cannot be
opened (nothing was sent); 4 the sensor's part is done but a file on this computer
was not written (KXlinear.dat, get --out, measure's CSV); 130 / 143 ended early by
@STOPS@ after the exchange in flight. After 0 or 4 the sensor holds what
the command was to give it: a flash that exits 0 or 4 has programmed every page
asked for, any other code leaves its correction table incomplete.)";

constexpr const char* GLOBALS = R"(Global options (before or after the command):
  --port N        serial port number 1..32 (default 1)
  --device PATH   the serial device itself, e.g. @DEVICE@
  --json          the outcome as one JSON object on standard output
  -q,--quiet      only a failure's message, led by the port or the device
  --trace         every frame on standard error, with time, device and direction
Exit codes: see orvanscope-cli --help.)";

// `text` with each @NAME@ replaced by this system's words.
std::string SystemWords(std::string text) {
    const std::pair<const char*, const char*> words[] = {{"@STOPS@", STOPS}, {"@DEVICE@", DEVICE_EXAMPLE}};
    for (const auto& [key, value] : words) {
        for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
            text.replace(at, std::strlen(key), value);
    }
    return text;
}

// A whole number of low..high, with a message that says so.
CLI::Validator WholeNumber(long low, long high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            long v = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
            if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < low || v > high)
                return "takes a whole number of " + std::to_string(low) + ".." + std::to_string(high) +
                       ", not '" + text + "'";
            return "";
        },
        "N");
}

CLI::Validator Seconds() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !std::isfinite(v) || v <= 0 || v > MAX_SECONDS)
                return "takes seconds above 0, at most " + std::to_string(static_cast<long>(MAX_SECONDS)) +
                       ", not '" + text + "'";
            return "";
        },
        "S");
}

// "'gett' is no command; did you mean get?" for the first word of the
// command line that is neither a command nor an option but close to one; ""
// when there is none.
std::string Suggestion(CLI::App& app) {
    std::vector<std::string> commands, options;
    std::vector<CLI::App*> apps{&app};
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
        commands.push_back(sub->get_name());
        if (sub->parsed())
            apps.push_back(sub);
    }
    for (CLI::App* a : apps) {
        for (const CLI::Option* opt : a->get_options()) {
            for (const std::string& n : opt->get_lnames())
                options.push_back("--" + n);
        }
    }
    for (const std::string& word : app.remaining(true)) {
        const bool option = word.rfind("--", 0) == 0;
        const std::string guess = Suggest(word.substr(0, word.find('=')), option ? options : commands);
        if (!guess.empty())
            return "'" + word + "' is no " + (option ? "option" : "command") + " here; did you mean " +
                   guess + "?";
    }
    return "";
}

// The help of `sub` (nullptr: the program's), whatever the command line selected.
std::string HelpText(CLI::App& app, CLI::App* sub) {
    CLI::App* of = sub != nullptr ? sub : &app;
    return of->get_formatter()->make_help(
        of, sub != nullptr ? "orvanscope-cli " + sub->get_name() : "orvanscope-cli",
        CLI::AppFormatMode::Normal);
}

int Finish(bool json, int code) {
    std::fflush(stdout);
    if (json)
        PrintOutcome(code);
    orv_platform::StopRequestDone();
    return code;
}

// Prints a text asked for (help, version): as the outcome's data with --json.
int Show(bool json, const char* key, const std::string& text) {
    if (json)
        Result()[key] = text;
    else
        std::fputs(text.c_str(), stdout);
    return Finish(json, EXIT_DONE);
}

}  // namespace

int main(int argc, char** argv) {
    orv_platform::RawStandardStreams();
    // --json holds for every outcome, a command line the parser refuses included.
    bool json = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        json = json || std::strcmp(argv[i], "--json") == 0;

    CLI::App app{"Reads, writes and watches an M-DOR-KX sensor on a serial line, without a window.",
                 "orvanscope-cli"};
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("--version", std::string("orvanscope-cli ") + ORV_VERSION);

    Common c;
    CLI::Option* portOpt = app.add_option("--port", c.port, "serial port number (default 1)")
                               ->check(WholeNumber(1, MAX_COM_PORTS));
    app.add_option("--device", c.device, std::string("the serial device itself, e.g. ") + DEVICE_EXAMPLE)
        ->type_name("PATH")
        ->excludes(portOpt);
    app.add_flag("--json", c.json, "the outcome as one JSON object on standard output");
    app.add_flag("-q,--quiet", c.quiet, "only a failure's message, led by the port or the device");
    app.add_flag("--trace", c.trace, "every frame on standard error, with time, device and direction");

    const auto targetOption = [](CLI::App* cmd, std::string& target) {
        cmd->add_option("--target", target, "ram (default) or eeprom")
            ->check(CLI::IsMember({"ram", "eeprom"}, CLI::ignore_case))
            ->type_name("ram|eeprom");
    };

    CLI::App* ports = app.add_subcommand("ports", "list the port numbers and their devices");
    CLI::App* check = app.add_subcommand("check", "the echo line check");

    std::string getTarget = "ram", out;
    CLI::App* get = app.add_subcommand("get", "read the parameter block");
    targetOption(get, getTarget);
    get->add_option("--out", out, "also write it to this parameter file (- : standard output)")
        ->type_name("FILE|-");

    std::string sendTarget = "ram", file;
    std::vector<std::string> assignments;
    bool dryRun = false;
    CLI::App* send = app.add_subcommand("send", "write the parameter block and verify it");
    targetOption(send, sendTarget);
    CLI::Option* fileOpt = send->add_option("--file", file, "a parameter file to write (- : standard input)")
                               ->type_name("FILE|-");
    send->add_option("assignments", assignments, "slots to change")
        ->type_name("NAME=VALUE")
        ->excludes(fileOpt);
    send->add_flag("--dry-run", dryRun, "print each slot that would change (old -> new); write nothing");

    std::string verifyTarget = "ram", verifyFile;
    CLI::App* verify = app.add_subcommand("verify", "compare the parameter block with a parameter file");
    targetOption(verify, verifyTarget);
    verify->add_option("--file", verifyFile, "the parameter file (- : standard input)")
        ->type_name("FILE|-")
        ->required();

    CLI::App* teach = app.add_subcommand("teach", "teach the current measured value as the reference");

    long count = 0;
    double seconds = 0;
    std::string csv;
    CLI::App* measure = app.add_subcommand("measure", "poll the measured value and write CSV");
    CLI::Option* countOpt =
        measure->add_option("--count", count, "stop after N samples")->check(WholeNumber(1, MAX_COUNT));
    measure->add_option("--seconds", seconds, "stop after S seconds")->check(Seconds())->excludes(countOpt);
    measure->add_option("--csv", csv, "CSV file, or - for standard output (default)")->type_name("FILE|-");

    std::string source = orv::CORR_SOURCE_FILE, pageText = "4,5,6,7";
    long retries = 0;
    CLI::App* flash = app.add_subcommand("flash", "build the correction table and program it");
    flash->add_option("file", source, "correction source (default KXconfig.dat)")->type_name("FILE");
    flash->add_option("--pages", pageText, "the pages to program (default 4,5,6,7)")->type_name("LIST");
    flash->add_option("--retries", retries, "program a failed page again up to N times (default 0)")
        ->check(WholeNumber(0, MAX_RETRIES));

    std::string topic;
    CLI::App* help = app.add_subcommand("help", "the commands, or one command's options");
    help->add_option("command", topic, "a command")->type_name("COMMAND");

    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
        sub->footer(SystemWords(GLOBALS));
    app.footer(
        SystemWords(std::string(COMMANDS) + PORTS + EXITS));  // after the commands, which would inherit it

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return Show(json, "help",
                    HelpText(app, app.get_subcommands().empty() ? nullptr : app.get_subcommands()[0]));
    } catch (const CLI::CallForVersion& e) {
        return json ? Show(json, "version", e.what()) : Show(json, "version", std::string(e.what()) + "\n");
    } catch (const CLI::ParseError& e) {
        const std::string guess = Suggestion(app);
        return Finish(json,
                      Fail(EXIT_BAD_INPUT, (guess.empty() ? std::string(e.what()) : guess) +
                                               " (orvanscope-cli help lists the commands and options)"));
    }
    c.json = json;

    if (*help) {
        CLI::App* of = nullptr;
        for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
            if (sub->get_name() == topic)
                of = sub;
        }
        if (of == nullptr && !topic.empty()) {
            const std::string guess = Suggest(
                topic, {"ports", "check", "get", "send", "verify", "teach", "measure", "flash", "help"});
            return Finish(json,
                          Fail(EXIT_BAD_INPUT, "no command '" + topic + "'" +
                                                   (guess.empty() ? "" : "; did you mean " + guess + "?")));
        }
        return Show(json, "help", HelpText(app, of));
    }
    int32_t pages = 0;
    std::string why;
    if (!ParsePages(pageText, &pages, &why))
        return Finish(json, Fail(EXIT_BAD_INPUT, why));

    orv_platform::WatchStopRequests(OnStopRequest);
    if (InitConsoleEngine(argc, argv) == 0)
        return Finish(json, Fail(EXIT_FAILED, "the engine did not start"));
    const std::string device = c.device.empty() ? ComPortDevice(c.port) : c.device;
    c.label = !c.device.empty() ? c.device
              : device.empty()  ? "port " + std::to_string(c.port)
                                : "port " + std::to_string(c.port) + " (" + device + ")";
    InstallReport(c);
    if (c.trace)
        TraceLineToStderr(c.port, device.c_str());
    orv::SetParameterDefaults();
    orv::sync = orv::SYNC_DEFAULT;

    const auto target = [](const std::string& t) {
        return CLI::detail::to_lower(t) == "eeprom" ? orv::EEPROM : orv::RAM;
    };
    int code = EXIT_BAD_INPUT;
    if (*ports)
        code = CmdPorts(c);
    else if (*check)
        code = CmdCheck(c);
    else if (*get)
        code = CmdGet(c, target(getTarget), out);
    else if (*send)
        code = CmdSend(c, target(sendTarget), file, assignments, dryRun);
    else if (*verify)
        code = CmdVerify(c, target(verifyTarget), verifyFile);
    else if (*teach)
        code = CmdTeach(c);
    else if (*measure)
        code = CmdMeasure(c, count, seconds, csv);
    else if (*flash)
        code = CmdFlash(c, source, pages, static_cast<int>(retries));
    CloseCom(c.port);
    return Finish(json, code);
}
