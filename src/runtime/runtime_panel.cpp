// STUB
#include "runtime/runtime.h"
int InitEngine(int, char*[]) {
    return 1;
}
void SetCallbackTable(const CallbackEntry*, int) {}
int LoadPanel(int, const char*, int) {
    return -1;
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
int GetCtrlVal(int, int, int* v) {
    *v = 0;
    return 0;
}
int GetCtrlVal(int, int, double* v) {
    *v = 0;
    return 0;
}
int GetCtrlValText(int, int, char* t, std::size_t s) {
    if (s)
        t[0] = 0;
    return 0;
}
int SetCtrlVal(int, int, int) {
    return 0;
}
int SetCtrlVal(int, int, unsigned) {
    return 0;
}
int SetCtrlVal(int, int, double) {
    return 0;
}
int SetCtrlVal(int, int, const char*) {
    return 0;
}
int SetCtrlAttribute(int, int, int, int) {
    return 0;
}
int SetCtrlAttribute(int, int, int, const char*) {
    return 0;
}
int GetCtrlAttribute(int, int, int, int* v) {
    *v = 0;
    return 0;
}
int NewCtrl(int, int, const char*, int, int) {
    return 100;
}
int SetTraceAttribute(int, int, int, int, int) {
    return 0;
}
int PlotStripChart(int, int, const void*, int, int, int, int) {
    return 0;
}
int FileSelectPopup(const char*, const char*, const char*, const char*, int, int, int, int, int, char* p) {
    p[0] = 0;
    return 0;
}
int GetProjectDir(char* d) {
    d[0] = 0;
    return 0;
}
int GetFullPathFromProject(const char*, char* p) {
    p[0] = 0;
    return 0;
}
void Delay(double) {}
