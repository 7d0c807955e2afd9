// The window's side of tq-b9-perf: frmMain as tq-b9 builds it, on the offscreen platform so no
// display is needed, with Start pressed once against the device given. Run as a child process so
// its peak memory is the window's alone.
#include "bench/perf.h"
#include "ui/frmmain.h"
#include "ui/porttile.h"
#include "ui/stationwindow.h"

#include <cstdio>
#include <ctime>
#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

namespace tqb9::perf {
namespace {

// The message box is the only thing that would wait for a person; the text is all we need.
class UnattendedWindow : public frmMain {
public:
    QString message;

protected:
    void showMessage(const QString& text, int, const QString&) override { message = text; }
};

} // namespace

int windowRun(int argc, char** argv, const char* device)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UnattendedWindow window;
    window.ports().bind(1, QString::fromLocal8Bit(device));
    window.Form_Load();
    window.session().setAllowTestFirmware(true);
    window.show();
    window.cmdZumil_Click();
    std::printf("%s\n", qPrintable(window.message));
    return window.message == QLatin1String("Completed.") ? 0 : 1;
}

int stationRun(int argc, char** argv, int first, int waitSeconds)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Its settings and log are its own, not the user's.
    const QTemporaryDir dir;
    StationWindow::Options options;
    options.allowTestFirmware = true;
    options.settingsFile = dir.filePath(QStringLiteral("station.ini"));
    StationWindow window(options);
    window.restore();
    if (!window.setLogPath(dir.filePath(QStringLiteral("runs.jsonl"))))
        return 1;
    for (int i = first; i < argc; ++i) {
        if (const auto refused = window.addPort(QString::fromLocal8Bit(argv[i]))) {
            std::printf("%s\n", qPrintable(*refused));
            return 1;
        }
    }
    window.show();
    if (waitSeconds > 0) {
        // Hands-free with no radio on any cable: every port asks, and nothing answers.
        window.setAutomatic(true);
        // Measured here, so that start-up is not counted as waiting.
        const std::clock_t before = std::clock();
        QEventLoop idle;
        QTimer::singleShot(std::chrono::seconds(waitSeconds), &idle, &QEventLoop::quit);
        idle.exec();
        const double cpu = static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
        int waiting = 0;
        for (const PortTile* tile : window.tiles())
            waiting += tile->state() == PortWatch::State::Waiting ? 1 : 0;
        std::printf("cpu %.4f\n%d of %d waiting\n", cpu, waiting,
                    static_cast<int>(window.tiles().size()));
        window.stopAll();
        return waiting == static_cast<int>(window.tiles().size()) ? 0 : 1;
    }
    QEventLoop loop;
    int ended = 0;
    for (PortTile* tile : window.tiles()) {
        QObject::connect(tile, &PortTile::runFinished, &loop, [&] {
            if (++ended == static_cast<int>(window.tiles().size()))
                QTimer::singleShot(0, &loop, &QEventLoop::quit);
        });
    }
    window.startAll();
    loop.exec();
    int completed = 0;
    for (const PortTile* tile : window.tiles())
        completed += tile->completed();
    std::printf("%d of %d completed\n", completed, static_cast<int>(window.tiles().size()));
    return completed == static_cast<int>(window.tiles().size()) ? 0 : 1;
}

} // namespace tqb9::perf
