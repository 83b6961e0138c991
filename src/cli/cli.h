// orvanscope-cli: the sensor's commands without a window, on the same core as
// the window program (frames, waits, time-outs, status texts, file formats).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv_cli {

// Exit codes.
constexpr int EXIT_DONE = 0;       // the command succeeded
constexpr int EXIT_FAILED = 1;     // the sensor or the line failed
constexpr int EXIT_BAD_INPUT = 2;  // bad command, option, value or file: nothing was sent
constexpr int EXIT_NO_PORT = 3;    // the port cannot be opened

// What every command takes.
struct Common {
    int port = 1;        // port number, mapped as the window maps it
    std::string device;  // names the device directly; empty: the port's
    bool json = false;   // results as JSON on standard output
    bool quiet = false;  // status texts only when a command fails
};

// Installs the report that prints the status texts on standard error (and the
// flash progress bar when standard error is a terminal).
void InstallReport(bool quiet);
// The last text the report was given, for a failure's message in quiet mode.
void ReportFailure();
// Ends the progress bar's line, if one is drawn.
void EndProgress();

int CmdPorts(const Common& c);
int CmdCheck(const Common& c);
int CmdGet(const Common& c, int32_t target, const std::string& out);
int CmdSend(const Common& c, int32_t target, const std::string& file,
            const std::vector<std::string>& assignments);
int CmdTeach(const Common& c);
// count 0 and seconds 0: until interrupted.
int CmdMeasure(const Common& c, long count, double seconds, const std::string& csv);
int CmdFlash(const Common& c, const std::string& source);

}  // namespace orv_cli
