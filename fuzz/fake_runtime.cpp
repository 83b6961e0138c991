#include "fake_runtime.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "runtime/runtime.h"

namespace {

struct Port {
    bool open = false;
    double timeout = 2.0;
    std::deque<uint8_t> in;
};

// Virtual clock: waits advance it at once instead of sleeping.
double now = 0;

std::array<Port, MAX_COM_PORTS + 1> ports;
std::map<std::pair<int, int>, double> values;
std::map<std::pair<int, int>, std::string> texts;
int nextCtrl = 100;

Port* Find(int port) {
    if (port < 1 || port > MAX_COM_PORTS || !ports[port].open)
        return nullptr;
    return &ports[port];
}

int CopyPath(const char* text, char* out) {
    if (std::strlen(text) >= static_cast<std::size_t>(MAX_PATHNAME_LEN))
        return -1;
    std::strcpy(out, text);
    return 0;
}

}  // namespace

namespace fake_rt {

void Feed(int port, const uint8_t* data, std::size_t size) {
    if (Port* p = Find(port))
        p->in.insert(p->in.end(), data, data + size);
}

std::size_t Pending(int port) {
    Port* p = Find(port);
    return p ? p->in.size() : 0;
}

void Reset() {
    for (auto& p : ports)
        p.in.clear();
    values.clear();
    texts.clear();
}

}  // namespace fake_rt

int InitEngine(int, char*[]) {
    return 1;
}
void SetCallbackTable(const CallbackEntry*, int) {}
int LoadPanel(int, const char*, int) {
    return 1;
}
int DisplayPanel(int) {
    return 0;
}
int DiscardPanel(int) {
    return 0;
}
int RunUserInterface() {
    return 0;
}
int QuitUserInterface(int) {
    return 0;
}
int ProcessSystemEvents() {
    return 0;
}

int GetCtrlVal(int panel, int control, int* value) {
    *value = static_cast<int>(values[{panel, control}]);
    return 0;
}
int GetCtrlVal(int panel, int control, double* value) {
    *value = values[{panel, control}];
    return 0;
}
int GetCtrlValText(int panel, int control, char* text, std::size_t size) {
    if (size == 0)
        return -1;
    const std::string& t = texts[{panel, control}];
    const std::size_t n = std::min(size - 1, t.size());
    std::memcpy(text, t.data(), n);
    text[n] = '\0';
    return 0;
}
int SetCtrlVal(int panel, int control, int value) {
    values[{panel, control}] = value;
    return 0;
}
int SetCtrlVal(int panel, int control, unsigned value) {
    values[{panel, control}] = value;
    return 0;
}
int SetCtrlVal(int panel, int control, double value) {
    values[{panel, control}] = value;
    return 0;
}
int SetCtrlVal(int panel, int control, const char* text) {
    texts[{panel, control}] = text;
    return 0;
}
int SetCtrlAttribute(int, int, int, int) {
    return 0;
}
int SetCtrlAttribute(int, int, int, const char*) {
    return 0;
}
int GetCtrlAttribute(int, int, int, int* value) {
    *value = 0;
    return 0;
}
int NewCtrl(int, int, const char*, int, int) {
    return nextCtrl++;
}
int SetTraceAttribute(int, int, int, int, int) {
    return 0;
}
int PlotStripChart(int, int, const void*, int, int, int, int) {
    return 0;
}
int FileSelectPopup(const char*, const char*, const char*, const char*, int, int, int, int, int,
                    char* pathName) {
    pathName[0] = '\0';
    return FILESEL_NONE;
}
int GetProjectDir(char* directoryPath) {
    return CopyPath("/tmp", directoryPath);
}
int GetFullPathFromProject(const char* fileName, char* fullPathName) {
    std::string path = std::string("/tmp/") + fileName;
    return CopyPath(path.c_str(), fullPathName);
}
int FileInDirectory(const char* filePath, const char* directory) {
    // No file system here: the text of the file's directory decides.
    const char* slash = std::strrchr(filePath, '/');
    const std::string dir = slash ? std::string(filePath, slash) : std::string(".");
    return dir == directory ? 1 : 0;
}
void Delay(double seconds) {
    if (seconds > 0)
        now += seconds;
}
double Timer() {
    return now;
}

int OpenComConfig(int port, const char*, long, int, int, int, int, int) {
    if (port < 1 || port > MAX_COM_PORTS)
        return COM_ERR_INVALID_PORT;
    ports[port].open = true;
    return 0;
}
int SetComTime(int port, double seconds) {
    if (Port* p = Find(port))
        p->timeout = seconds;
    return 0;
}
int SetCTSMode(int, int) {
    return 0;
}
int FlushInQ(int port) {
    if (Port* p = Find(port))
        p->in.clear();
    return 0;
}
int FlushOutQ(int) {
    return 0;
}
int InstallComCallback(int, int, int, int, ComCallbackPtr, void*) {
    return 0;
}
int ComWrt(int port, const char*, int count) {
    return Find(port) ? count : COM_ERR_NOT_OPEN;
}
int ComRd(int port, char* buffer, int count) {
    Port* p = Find(port);
    if (!p)
        return COM_ERR_NOT_OPEN;
    int n = 0;
    while (n < count && !p->in.empty()) {
        buffer[n++] = static_cast<char>(p->in.front());
        p->in.pop_front();
    }
    if (n < count)
        now += p->timeout;  // a short read waits out the port's time-out
    return n;
}
int CloseCom(int port) {
    if (port >= 1 && port <= MAX_COM_PORTS)
        ports[port] = Port{};
    return 0;
}
int GetInQLen(int port) {
    Port* p = Find(port);
    return p ? static_cast<int>(p->in.size()) : COM_ERR_NOT_OPEN;
}
const char* ComPortDevice(int) {
    return "fake";
}
