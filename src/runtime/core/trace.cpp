#include "runtime/core/trace.h"

#include <cstdio>

#include "runtime/platform/platform.h"

namespace orv_rt {

namespace {

bool gOn = false;
std::string gLabel;  // "COM<n> " of the port renamed in the trace
std::string gName;   // the name it is given there

}  // namespace

void StartTrace(int port, const char* name) {
    gOn = true;
    gLabel = "COM" + std::to_string(port) + " ";
    gName = name != nullptr ? name : "";
}

bool TraceOn() {
    return gOn;
}

void WriteTraceLine(const std::string& text) {
    char stamp[16];
    orv_platform::LocalTimeOfDay(stamp, sizeof stamp);
    std::string line = std::string(stamp) + ' ';
    if (!gName.empty() && text.compare(0, gLabel.size(), gLabel) == 0)
        line += gName + ' ' + text.substr(gLabel.size());
    else
        line += text;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace orv_rt
