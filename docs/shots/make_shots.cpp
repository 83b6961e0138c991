// Takes the pictures of the user guide: the real program on the display it is
// started on (a virtual X display when run by docs/make-screenshots.sh),
// against the simulated sensor, driven through its panel as an operator would.
//
//   make_shots OUT_DIR EXAMPLES_DIR
//
// Writes OUT_DIR/startup.png, scope.png, get-ram.png, pending-edits.png,
// flash.png, status-error.png, status-history.png and line-view.png.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QToolTip>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "kxsim.h"
#include "runtime/runtime_internal.h"
#include "runtime/testing/rt_testing.h"

namespace {

QString g_out;
int g_failures = 0;

QWidget* Window() {
    return orv_rt::PanelWindow(orv::panelHandle);
}

void Shot(const char* name, QWidget* window = nullptr) {
    rt_test::Pump(300);  // let the chart and the status line settle
    const QString path = QDir(g_out).filePath(QString::fromLatin1(name));
    if ((window ? window : Window())->grab().save(path))
        std::printf("make_shots: %s\n", qPrintable(path));
    else {
        std::fprintf(stderr, "make_shots: cannot write %s\n", qPrintable(path));
        ++g_failures;
    }
}

std::string Status() {
    return rt_test::Text(orv::panelHandle, orv::TextStatus);
}

bool WaitForStatus(const std::string& text, int ms) {
    return rt_test::WaitUntil([&] { return Status() == text; }, ms);
}

void Expect(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "make_shots: %s (status: %s)\n", what, Status().c_str());
        ++g_failures;
    }
}

// Chooses `path` in the next file dialog once it has settled on the screen
// (it fills its name field from the directory listing after it appears).
void AnswerFileDialog(const QString& path) {
    auto* poll = new QTimer;
    auto* seen = new QElapsedTimer;
    poll->setInterval(50);
    QObject::connect(poll, &QTimer::timeout, [poll, seen, path] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dlg = qobject_cast<QFileDialog*>(w);
            if (!dlg || !dlg->isVisible())
                continue;
            if (!seen->isValid())
                seen->start();
            if (seen->elapsed() < 500)
                return;
            // Typed into the name field, as an operator would.
            if (auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                edit->setText(QFileInfo(path).fileName());
            else
                dlg->selectFile(path);
            static_cast<QDialog*>(dlg)->accept();  // runs the dialog's own checks
            poll->stop();
            poll->deleteLater();
            delete seen;
            return;
        }
    });
    poll->start();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_shots OUT_DIR EXAMPLES_DIR\n");
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString examples = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QDir().mkpath(g_out);

    // The project directory: a fresh copy of the examples, so that the
    // correction table written by the programming stays out of the tree.
    char projectTemplate[] = "/tmp/orv-shots.XXXXXX";
    const char* project = mkdtemp(projectTemplate);
    if (!project || chdir(project) != 0) {
        std::perror("make_shots: project directory");
        return 1;
    }
    for (const char* f : {"KXconfig.dat", "KXpara.dat"})
        QFile::copy(QDir(examples).filePath(QString::fromLatin1(f)), QString::fromLatin1(f));

    kxsim::Sensor sensor;
    std::string error;
    if (!sensor.start(&error)) {
        std::fprintf(stderr, "make_shots: simulated sensor: %s\n", error.c_str());
        return 1;
    }
    setenv("ORVANSCOPE_COM1", sensor.devicePath().c_str(), 1);

    // 1. After start-up: the line has been checked.
    if (orv::StartUp(argc, argv) != 0) {
        std::fprintf(stderr, "make_shots: the program did not start\n");
        return 1;
    }
    const int panel = orv::panelHandle;
    DisplayPanel(panel);
    Window()->resize(1280, 900);
    Expect(WaitForStatus("Echo Check - Line Ok!", 5000), "line check");
    Shot("startup.png");

    // 2. The live scope: the picture is taken from inside the running loop
    // once the trace has filled the chart and both outputs are lit.
    QElapsedTimer running;
    bool taken = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const bool bothOn = rt_test::Int(panel, orv::LedREF) == 1 && rt_test::Int(panel, orv::LedTOL) == 1;
        if (!taken && running.elapsed() > 6000 && (bothOn || running.elapsed() > 30000)) {
            taken = true;
            Expect(bothOn, "both outputs lit during the scope");
            Shot("scope.png");
            rt_test::Click(panel, orv::BTNStop);
        }
    });
    running.start();
    poll.start();
    rt_test::Click(panel, orv::BTNRun);  // returns when Stop has ended the loop
    poll.stop();
    Expect(taken, "scope picture");

    // 3. A parameter read from the sensor's RAM holding a block of its own.
    sensor.setRam({520, 2, 600, 90, 10, 15, 1, 16, 0, 0, 100, 1, 0, 0, 0, 0});
    rt_test::Click(panel, orv::BTNGet);
    Expect(rt_test::WaitUntil([&] { return rt_test::Int(panel, orv::NumReference) == 600; }, 5000),
           "parameter read");
    Shot("get-ram.png");

    // 4. Two fields edited and not yet sent, the tooltip of one of them shown:
    // the parameter and command groups as the screen shows them.
    rt_test::EnterNumber(panel, orv::NumReference, 640);
    rt_test::EnterNumber(panel, orv::NumTolerance, 120);
    Expect(!rt_test::Mark(panel, orv::NumReference).empty(), "edited field marked");
    QWidget* edited = orv_rt::ControlWidget(panel, orv::NumTolerance);
    orv_rt::ControlWidget(panel, orv::BTNGet)->setFocus();  // no selection over the tint
    QToolTip::showText(edited->mapToGlobal(QPoint(edited->width() / 2, edited->height())), edited->toolTip(),
                       edited);
    rt_test::Pump(600);
    const QPoint origin = Window()->mapToGlobal(QPoint(0, 64));
    const QPixmap pending = Window()->screen()->grabWindow(0, origin.x(), origin.y(), 700, 420);
    const QString pendingPath = QDir(g_out).filePath(QStringLiteral("pending-edits.png"));
    if (pending.save(pendingPath))
        std::printf("make_shots: %s\n", qPrintable(pendingPath));
    else {
        std::fprintf(stderr, "make_shots: cannot write %s\n", qPrintable(pendingPath));
        ++g_failures;
    }
    QToolTip::hideText();
    rt_test::Click(panel, orv::BTNSend);
    Expect(rt_test::WaitUntil([&] { return rt_test::Mark(panel, orv::NumReference).empty(); }, 5000),
           "marks cleared by Send");

    // 5. The correction table programmed from the project's KXconfig.dat.
    rt_test::Click(panel, orv::RBTFile);
    AnswerFileDialog(QDir(QString::fromLocal8Bit(project)).filePath(QStringLiteral("KXconfig.dat")));
    rt_test::Click(panel, orv::BTNSend);
    Expect(WaitForStatus("ok : T460 FLASH page7-write 255 words!", 60000), "correction programming");
    Shot("flash.png");

    // 6. A Get inside the running scope that the sensor answers too late: its
    // failure stays over the scope's samples until it is dismissed.
    rt_test::Click(panel, orv::RBTRam);
    kxsim::Faults late;
    late.late = {2000, 2, 1};
    rt_test::After(1500, [&] {
        sensor.setFaults(late);
        rt_test::Click(panel, orv::BTNGet);  // times out; the scope measures on
        rt_test::After(1500, [&] {
            Expect(Status() == "Timeout RS232-Line!", "the failure stays over the scope");
            Shot("status-error.png");
            rt_test::Click(panel, orv::BTNDismiss);
            rt_test::After(1500, [&] { rt_test::Click(panel, orv::BTNStop); });
        });
    });
    rt_test::Click(panel, orv::BTNRun);
    sensor.setFaults({});

    // 7. The status history, and the line view with the late reply dropped
    // and some noise on the line.
    rt_test::Click(panel, orv::BTNStatusHistory);
    QWidget* history = Window()->findChild<QWidget*>(QStringLiteral("statusHistoryList"));
    Expect(history != nullptr, "status history");
    if (history)
        Shot("status-history.png", history->window());
    sensor.inject({0x3C, 0x0F, 0xA5, 0x81, 0x7E});
    rt_test::Pump(500);
    rt_test::Click(panel, orv::BTNLineView);
    QWidget* lineView = Window()->findChild<QWidget*>(QStringLiteral("lineView"));
    Expect(lineView != nullptr, "line view");
    if (lineView) {
        // The Get's reply that came too late in the middle of the view.
        auto* table = lineView->findChild<QTableView*>(QStringLiteral("lineViewTable"));
        const QAbstractItemModel* rows = table ? table->model() : nullptr;
        bool late = false;
        for (int r = rows ? rows->rowCount() - 1 : -1; r >= 0 && !late; --r) {
            const QModelIndex what = rows->index(r, 3);
            if (rows->data(what).toString().startsWith(QStringLiteral("late reply"))) {
                table->scrollTo(what, QAbstractItemView::PositionAtCenter);
                table->selectRow(r);
                late = true;
            }
        }
        Expect(late, "a late reply in the line view");
        Shot("line-view.png", lineView);
    }

    orv::ShutDown();
    sensor.stop();
    if (g_failures == 0)
        QDir(QString::fromLocal8Bit(project)).removeRecursively();
    else
        std::fprintf(stderr, "make_shots: project directory kept: %s (%s)\n", project, orv::proj_dir.data());
    return g_failures == 0 ? 0 : 1;
}
