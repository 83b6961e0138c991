// orvanscope-cli: the sensor's commands without a window, on the same core as
// the window program (frames, waits, time-outs, status texts, file formats).
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "com232/params.h"

namespace orv_cli {

// Exit codes. After 0 and 4 the sensor holds what the command was to give it
// (all pages asked for are programmed, the block is written and read back);
// after any other code it may not.
constexpr int EXIT_DONE = 0;       // the command succeeded
constexpr int EXIT_FAILED = 1;     // the sensor or the line failed, or verify found differences
constexpr int EXIT_BAD_INPUT = 2;  // bad command, option, value or file: nothing was sent
constexpr int EXIT_NO_PORT = 3;    // the port cannot be opened: nothing was sent
constexpr int EXIT_FILE = 4;       // the sensor's part is done, a file on this computer was not written
// Ended early by a signal: 128 + its number, 130 for SIGINT and 143 for SIGTERM.
constexpr int EXIT_SIGNAL_BASE = 128;

using Json = nlohmann::ordered_json;
using Block = std::array<int32_t, orv::PNUM>;

// What every command takes.
struct Common {
    int port = 1;        // port number, mapped as the window maps it
    std::string device;  // names the device directly; empty: the port's
    bool json = false;   // the outcome as one JSON object on standard output
    bool quiet = false;  // a message only when the command fails, led by `label`
    bool trace = false;  // the line log on standard error
    std::string label;   // the line in messages: the device, or "port N (device)"
};

// --- report.cpp: standard error and the outcome --------------------------

// Installs the report that prints the status texts on standard error (and the
// flash progress bar when standard error is a terminal).
void InstallReport(const Common& c);
// The last status text the core gave ("" if none).
std::string LastStatus();
// Ends the progress bar's line, if one is drawn: `keep` leaves it standing.
void EndProgress(bool keep = false);
// The command's data for the JSON outcome.
Json& Result();
// Records a failure: prints `message` on standard error and returns `code`.
int Fail(int code, const std::string& message);
// Records a failure that the last status text explains (already printed
// unless quiet) and returns `code`.
int FailStatus(int code);
// A line on standard error that is not a failure (not in quiet mode).
void Note(const std::string& message);
// Prints the JSON outcome of the run: ok, exit, status, error and Result().
void PrintOutcome(int code);

// --- main.cpp: signals --------------------------------------------------

// The signal (SIGINT or SIGTERM) that asked the program to stop, or 0.
int StopSignal();
// Records that a signal cut the command short (`what` says what is left
// undone) and returns its exit code.
int Stopped(const std::string& what);

// --- input.cpp ----------------------------------------------------------

// "standard input" for "-", else the path as given.
std::string DisplayName(const std::string& path);
// strerror's text, starting in lower case ("permission denied").
std::string SystemReason(int err);
// The word of `known` nearest to `word` (at most two letters off), or "".
std::string Suggest(const std::string& word, const std::vector<std::string>& known);
// A parameter file: exactly sixteen numbers of 0..65535 (whitespace or
// commas between them). `name` names it in the reason given in `why`.
bool ParseParaText(const std::string& text, const std::string& name, Block* block, std::string* why);
// Reads a parameter file, or standard input for "-", with ParseParaText.
bool ReadParaInput(const std::string& path, Block* block, std::string* why);
// NAME=VALUE: a slot name and a decimal value of 0..65535.
bool ParseAssignment(const std::string& text, int32_t* slot, int32_t* value, std::string* why);
// "5,6": bit k set for page 4 + k.
bool ParsePages(const std::string& text, int32_t* pages, std::string* why);

// --- commands.cpp -------------------------------------------------------

int CmdPorts(const Common& c);
int CmdCheck(const Common& c);
int CmdGet(const Common& c, int32_t target, const std::string& out);
int CmdSend(const Common& c, int32_t target, const std::string& file,
            const std::vector<std::string>& assignments, bool dryRun);
int CmdVerify(const Common& c, int32_t target, const std::string& file);
int CmdTeach(const Common& c);
// count 0 and seconds 0: until interrupted. csv "": standard output.
int CmdMeasure(const Common& c, long count, double seconds, const std::string& csv);
int CmdFlash(const Common& c, const std::string& source, int32_t pages, int retries);

}  // namespace orv_cli
