// orvanscope-cli: the command line, the engine without a window, and the
// dispatch to the commands.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "com232/corrtable.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "runtime/rtcore.h"

namespace {

constexpr const char* FOOTER = R"(Commands:
  ports                      the port numbers 1..8 (and higher ones that are mapped)
                             and the devices they map to
  check                      the echo line check ("Echo Check - Line Ok!")
  get [--target ram|eeprom] [--out FILE]
                             reads the parameter block (16 words, as the sensor holds
                             them: power 500, not the panel's 250) and prints it;
                             --out also writes it as a parameter file
  send [--target ram|eeprom] (--file FILE | NAME=VALUE ...)
                             NAME=VALUE: reads the block, changes the named slots,
                             writes it and reads it back; --file writes a parameter
                             file's block and reads it back. Succeeds only when the
                             block read back equals the one written. Names: power
                             powermode reference tolerance backlimit hysteresis
                             polarity average measure memory hold linear para12
                             para13 para14 para15; values 0..65535
  teach                      teaches the current measured value as the reference and
                             prints the block that results
  measure [--count N | --seconds S] [--csv FILE|-]
                             polls the measured value as the live scope does (one
                             request at a time, at the line's pace) and writes CSV:
                             time_ms,value,reference,upper,lower,ref_output,tol_output
                             (outputs as the lamps show them, 1 on). Runs until
                             Ctrl+C without --count or --seconds; CSV to standard
                             output unless --csv names a file
  flash [FILE]               builds the correction table from FILE (default
                             KXconfig.dat in the working directory), writes
                             KXlinear.dat beside it and programs flash pages 4..7

--target defaults to ram. --json prints results as JSON (the block as an object
keyed by slot name); measure always writes CSV. Status texts go to standard error.

Port N is the device named by ORVANSCOPE_COM<N> when that is set, otherwise the
N-th serial port of the system (USB adapters first), as in the window program.

Exit codes: 0 done; 1 the sensor or the line failed (time-out, read error, a flash
page not written, a block read back that differs); 2 bad input (command, option,
value or file; nothing was sent); 3 the port cannot be opened (no such device,
in use by another program, no permission).)";

}  // namespace

int main(int argc, char** argv) {
    using namespace orv_cli;
    CLI::App app{"Reads, writes and watches an M-DOR-KX sensor on a serial line, without a window.",
                 "orvanscope-cli"};
    app.require_subcommand(1);
    app.fallthrough();

    Common c;
    CLI::Option* portOpt = app.add_option("--port", c.port, "serial port number (default 1)")
                               ->check(CLI::Range(1, MAX_COM_PORTS))
                               ->type_name("N");
    app.add_option("--device", c.device, "the serial device itself, e.g. /dev/ttyUSB0")
        ->type_name("PATH")
        ->excludes(portOpt);
    app.add_flag("--json", c.json, "print results as JSON");
    app.add_flag("-q,--quiet", c.quiet, "print a status text only when the command fails");

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
    get->add_option("--out", out, "also write it to this parameter file")->type_name("FILE");

    std::string sendTarget = "ram", file;
    std::vector<std::string> assignments;
    CLI::App* send = app.add_subcommand("send", "write the parameter block and verify it");
    targetOption(send, sendTarget);
    CLI::Option* fileOpt = send->add_option("--file", file, "a parameter file to write")->type_name("FILE");
    send->add_option("assignments", assignments, "slots to change")
        ->type_name("NAME=VALUE")
        ->excludes(fileOpt);

    CLI::App* teach = app.add_subcommand("teach", "teach the current measured value as the reference");

    long count = 0;
    double seconds = 0;
    std::string csv = "-";
    CLI::App* measure = app.add_subcommand("measure", "poll the measured value and write CSV");
    CLI::Option* countOpt = measure->add_option("--count", count, "stop after N samples")
                                ->check(CLI::PositiveNumber)
                                ->type_name("N");
    measure->add_option("--seconds", seconds, "stop after S seconds")
        ->check(CLI::PositiveNumber)
        ->type_name("S")
        ->excludes(countOpt);
    measure->add_option("--csv", csv, "CSV file, or - for standard output (default)")->type_name("FILE|-");

    std::string source = orv::CORR_SOURCE_FILE;
    CLI::App* flash = app.add_subcommand("flash", "build the correction table and program it");
    flash->add_option("file", source, "correction source (default KXconfig.dat)")->type_name("FILE");

    app.footer(FOOTER);  // after the commands, which would inherit it

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help ends with 0; anything the parser refuses is bad input.
        return app.exit(e) == 0 ? EXIT_DONE : EXIT_BAD_INPUT;
    }

    InstallReport(c.quiet);
    if (InitConsoleEngine(argc, argv) == 0) {
        std::fprintf(stderr, "orvanscope-cli: the engine did not start\n");
        return EXIT_FAILED;
    }
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
        code = CmdSend(c, target(sendTarget), file, assignments);
    else if (*teach)
        code = CmdTeach(c);
    else if (*measure)
        code = CmdMeasure(c, count, seconds, csv);
    else if (*flash)
        code = CmdFlash(c, source);
    CloseCom(c.port);
    std::fflush(stdout);
    return code;
}
