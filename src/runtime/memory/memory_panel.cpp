// The memory runtime's face of the panel model: nothing shows the panels,
// timers tick on the virtual clock, the chart's picture is a stand-in, and
// the file dialog takes the answers the test driver queued.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "runtime/files/files_internal.h"
#include "runtime/memory/memory_internal.h"
#include "runtime/model/panel_model.h"

namespace orv_mem {

namespace {

struct Dialogs {
    rt_test::FileDialogInfo last;
    std::deque<std::string> answers;
};

Dialogs& D() {
    static Dialogs d;
    return d;
}

}  // namespace

rt_test::FileDialogInfo& LastFileDialog() {
    return D().last;
}

std::deque<std::string>& DialogAnswers() {
    return D().answers;
}

}  // namespace orv_mem

namespace orv_rt::face {

bool Build(Panel&, const std::string&) {
    return true;
}

void Show(Panel& p, Control& c, int what) {
    if (what == ATR_TIMER_ENABLED)
        orv_mem::TimerSwitched(p.handle, c.id, c.running, c.intervalMs);
}

void Add(Panel&, Control&, int, int) {}

void Display(Panel&) {}

void Discard(Panel& p) {
    orv_mem::ForgetTimers(p.handle);
}

void BeforeLeftClick(int, int) {}

void QuitAsked() {}

// Without a screen there is no picture to take: the chart is saved as a
// one-pixel white PNG, so the file, its name and the failures are those of
// the real runtime.
bool ChartPicture(Panel&, Control&, std::string* png) {
    static constexpr unsigned char kPixel[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
        0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9C, 0x63, 0xF8, 0xFF, 0xFF, 0x3F, 0x00, 0x05, 0xFE, 0x02, 0xFE, 0x0D, 0xEF, 0x46,
        0xB8, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    png->assign(reinterpret_cast<const char*>(kPixel), sizeof kPixel);
    return true;
}

}  // namespace orv_rt::face

using namespace orv_mem;

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec, const char* fileTypeList,
                    const char* title, int buttonLabel, int restrictDirectory, int /*restrictExtension*/,
                    int /*allowCancel*/, int /*allowMakeDirectory*/, char* pathName) {
    if (!pathName)
        return orv_rt::ERR_BAD_VALUE;
    if (EngineKind() != Engine::Panels)
        return orv_rt::ERR_NO_ENGINE;
    rt_test::FileDialogInfo& rec = D().last;
    rec = {title ? title : "",
           defaultDirectory ? defaultDirectory : "",
           defaultFileSpec ? defaultFileSpec : "",
           fileTypeList ? fileTypeList : "",
           buttonLabel,
           true};
    // The dialog is answered at once from the test's queue; a quit asked for
    // before it opened cancels it, and so does an empty queue.
    std::string answer;
    if (!orv_rt::QuitPending() && !D().answers.empty()) {
        answer = D().answers.front();
        D().answers.pop_front();
    }
    // What the real dialog accepts: a file name (a directory is entered, not
    // chosen) in a directory that exists; for loading, an existing file.
    const QFileInfo info(QFile::decodeName(answer.c_str()));
    const bool taken = !answer.empty() && !info.isDir() && QFileInfo(info.absolutePath()).isDir() &&
                       (buttonLabel != BUTTON_LOAD || info.exists());
    return orv_rt::TakeChosenFile(taken ? info.absoluteFilePath() : QString(),
                                  QFile::decodeName(rec.directory.c_str()), restrictDirectory != 0, pathName);
}
