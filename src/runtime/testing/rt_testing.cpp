// STUB
#include "runtime/testing/rt_testing.h"
namespace rt_test {
void Click(int, int) {}
void Press(int, int) {}
void Release(int, int) {}
void KeyActivate(int, int) {}
void ChooseRing(int, int, int) {}
void EnterNumber(int, int, int) {}
void RequestClose(int) {}
bool WaitUntil(const std::function<bool()>& c, int) {
    return c();
}
void Pump(int) {}
std::string Text(int, int) {
    return {};
}
int Int(int, int) {
    return 0;
}
bool Dimmed(int, int) {
    return false;
}
bool TimerEnabled(int, int) {
    return false;
}
bool Visible(int) {
    return false;
}
std::vector<double> TracePoints(int, int, int) {
    return {};
}
int TraceColor(int, int, int) {
    return 0;
}
std::vector<std::string> RingLabels(int, int) {
    return {};
}
void AnswerNextFileDialog(const std::string&) {}
FileDialogInfo LastFileDialog() {
    return {};
}
std::vector<std::string> TakeStatusHistory() {
    return {};
}
void Reset() {}
}  // namespace rt_test
