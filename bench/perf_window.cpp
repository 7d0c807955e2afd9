// The window's side of tq-b9-perf: frmMain as tq-b9 builds it, on the offscreen platform so no
// display is needed, with Start pressed once against the device given. Run as a child process so
// its peak memory is the window's alone.
#include "bench/perf.h"
#include "sim/simradio.h"
#include "ui/frmmain.h"
#include "ui/porttile.h"
#include "ui/stationwindow.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace tqb9::perf {
namespace {

// The message box is the only thing that would wait for a person; the text is all we need.
class UnattendedWindow : public frmMain {
public:
    QString message;

protected:
    void showMessage(const QString& text, int, const QString&, const QString&) override
    {
        message = text;
    }
};

// A firmware file of one block in each erase block, the least a file may hold without leaving
// part of the radio blank: the hands-free cycle is measured around a run, not through one, and
// eight blocks keep each paced run to about two seconds.
bool writeSmallFirmware(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    constexpr int kRecord = 32;
    for (const int block :
         {0xC0000, 0xD0000, 0xE0000, 0xF0000, 0xF8000, 0xFA000, 0xFC000, 0xFE000}) {
        for (int offset = 0; offset < 1024; offset += kRecord) {
            const int address = block + offset;
            QByteArray record;
            record.append(static_cast<char>(3 + kRecord + 1));
            record.append(static_cast<char>(address >> 16));
            record.append(static_cast<char>(address >> 8));
            record.append(static_cast<char>(address));
            for (int i = 0; i < kRecord; ++i)
                record.append(static_cast<char>((address + i) * 7 + 1));
            unsigned sum = 0;
            for (const char byte : std::as_const(record))
                sum += static_cast<unsigned char>(byte);
            record.append(static_cast<char>(~sum));
            file.write("S2" + record.toHex().toUpper() + "\r\n");
        }
    }
    file.write("S804000000FB\r\n");
    return file.error() == QFileDevice::NoError;
}

// Spins the loop until done() holds, for at most limit.
bool spinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    look.start(std::chrono::milliseconds(1));
    if (!done())
        loop.exec();
    return done();
}

} // namespace

int windowRun(int argc, char** argv, const char* device)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UnattendedWindow window;
    window.ports().bind(1, QString::fromLocal8Bit(device));
    window.Form_Load();
    window.setAllowTestFirmware(true);
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

int stationCycle(int argc, char** argv, int cycles)
{
    using namespace std::chrono_literals;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QTemporaryDir dir;
    const QString firmware = dir.filePath(QStringLiteral("small.s19"));
    if (!writeSmallFirmware(firmware))
        return 1;
    // The radio as a cable brings it: at the line's pace, in 1 ms USB frames.
    sim::SimRadio radio;
    radio.setPacing(true);
    radio.setUsbLatency(1ms);
    radio.setPresent(false);
    if (!radio.start())
        return 1;

    StationWindow::Options options;
    options.allowTestFirmware = true;
    options.settingsFile = dir.filePath(QStringLiteral("station.ini"));
    StationWindow window(options);
    window.restore();
    if (const auto error = window.loadFirmwareFile(firmware)) {
        std::printf("firmware refused: %s\n", error->message.c_str());
        return 1;
    }
    if (!window.setLogPath(dir.filePath(QStringLiteral("runs.jsonl"))) ||
        window.addPort(radio.devicePath()))
        return 1;
    window.show();
    PortTile* tile = window.tiles().constFirst();

    QElapsedTimer clock;
    clock.start();
    qint64 answered = -1;
    qint64 erasing = -1;
    int finished = 0;
    QObject::connect(&radio, &sim::SimRadio::requestHandled, [&](int index) {
        const sim::Exchange& exchange = radio.log().at(index);
        if (answered < 0 && exchange.request.command == sim::Command::Query &&
            !exchange.reply.isEmpty())
            answered = clock.nsecsElapsed();
    });
    QObject::connect(&tile->watch(), &PortWatch::stepStarted, [&](Step step, const QString&) {
        if (step == Step::Erase && erasing < 0)
            erasing = clock.nsecsElapsed();
    });
    QObject::connect(tile, &PortTile::runFinished, [&](const RunReport& report) {
        finished += report.outcome == Outcome::Completed ? 1 : 0;
    });

    window.setAutomatic(true);
    if (!spinUntil([&] { return tile->state() == PortWatch::State::Waiting; }, 10s))
        return 1;
    std::vector<double> toErase;
    std::vector<double> toReady;
    for (int n = 1; n <= cycles; ++n) {
        answered = erasing = -1;
        radio.setPresent(true);
        // Held: written, and still answering on the cable.
        if (!spinUntil([&] { return finished == n && tile->state() == PortWatch::State::Held; },
                       30s) ||
            answered < 0 || erasing < answered)
            return 1;
        toErase.push_back(static_cast<double>(erasing - answered) / 1e6);
        // Left on the cable for half a second after its run, then taken off at no particular
        // moment between two probes: the 2 s count from the last probe it answered.
        spinUntil([] { return false; }, 500ms);
        const qint64 removed = clock.nsecsElapsed();
        radio.setPresent(false);
        if (!spinUntil([&] { return tile->state() == PortWatch::State::Waiting; }, 10s))
            return 1;
        toReady.push_back(static_cast<double>(clock.nsecsElapsed() - removed) / 1e6);
    }
    window.stopAll();
    const auto print = [](const char* name, const std::vector<double>& values) {
        std::printf("%s", name);
        for (const double value : values)
            std::printf(" %.1f", value);
        std::printf("\n");
    };
    print("erase_ms", toErase);
    print("ready_ms", toReady);
    return 0;
}

} // namespace tqb9::perf
