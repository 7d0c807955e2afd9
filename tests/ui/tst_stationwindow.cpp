#include "dropping.h"
#include "image/firmware.h"
#include "run/watch.h"
#include "sim/simradio.h"
#include "ui/porttile.h"
#include "ui/stationwindow.h"
#include "ui/wording.h"

#include <functional>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tqb9;

namespace {

// The window with its message box replaced by a recorder, so no test blocks on a modal box.
class RecordingStation : public StationWindow {
public:
    using StationWindow::StationWindow;
    QStringList shown;
    QStringList offered;
    // Runs when an offer is made; the offer is taken.
    std::function<void()> onOffer;

protected:
    void showMessage(const QString& text, const QString&) override { shown << text; }
    bool offer(const QString& text, const QString& action) override
    {
        offered << text + QStringLiteral(" [") + action + QLatin1Char(']');
        if (onOffer)
            onOffer();
        return true;
    }
};

QColor textColour(const QLabel* label)
{
    return label->palette().color(QPalette::WindowText);
}

// Takes the URLs the window hands to the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

// The window's options with its settings in dir, never the user's own.
StationWindow::Options optionsIn(const QTemporaryDir& dir, bool allowTestFirmware = true)
{
    StationWindow::Options options;
    options.allowTestFirmware = allowTestFirmware;
    options.settingsFile = dir.filePath(QStringLiteral("station.ini"));
    return options;
}

const QColor kGreen(0x00, 0x80, 0x00);
const QColor kRed(0xC0, 0x00, 0x00);

} // namespace

class tst_stationwindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void testImage_data();
    void testImage();
    void choicesAreRemembered();
    void runShowsItsProgressAndOutcome();
    void handsFree();
    void failedWriteNamesTheBlockItStoppedAt();
    void stopIsLoggedAsAStop();
    void droppedFirmwareIsLockedWhileAPortIsBusy();
    void tilesFlowIntoTheWidthThereIs();
};

void tst_stationwindow::testImage_data()
{
    QTest::addColumn<bool>("allowed");
    QTest::newRow("refused") << false;
    QTest::newRow("allowed") << true;
}

// The built-in image of this build is the test image: red either way, and written only when
// allowed; refused, nothing reaches a port.
void tst_stationwindow::testImage()
{
    QFETCH(bool, allowed);
    {
        const Firmware builtIn = Firmware::builtIn();
        if (!builtIn.isTestImage())
            QSKIP("the built-in firmware is not the test image");
    }
    QTemporaryDir dir;
    const StationWindow::Options options = optionsIn(dir, allowed);
    RecordingStation window(options);
    window.restore();
    QVERIFY(window.setLogPath(dir.filePath(QStringLiteral("runs.jsonl"))));
    QCOMPARE(textColour(window.firmwareLabel()), kRed);
    QVERIFY(window.firmwareLabel()->text().startsWith(QStringLiteral("TEST IMAGE")));
    QCOMPARE(window.firmwareLabel()->text().contains(QStringLiteral("refused")), !allowed);
    QVERIFY(window.firmwareFacts()->text().contains(crc32Text(crc32Of(writtenRange([] {
        const Firmware session = Firmware::builtIn();
        return session.image();
    }())))));
    if (allowed)
        return;
    QVERIFY(!window.addPort(QStringLiteral("COM7")));
    window.startAll();
    window.setAutomatic(true);
    QCOMPARE(window.shown, QStringList(2, windowMessage(Outcome::TestImageRefused)));
    QVERIFY(!window.automatic());
    QVERIFY(!window.busy());
}

// Ports, log and the automatic switch outlive the window; the file is the test's own.
void tst_stationwindow::choicesAreRemembered()
{
    QTemporaryDir dir;
    StationWindow::Options options = optionsIn(dir);
    // Probed with automatic on: a port that leads nowhere, not a serial port of the machine.
    options.bindings = {{3, dir.filePath(QStringLiteral("no-such-port"))}};
    const QString log = dir.filePath(QStringLiteral("shop/runs.jsonl"));
    {
        RecordingStation first(options);
        first.restore();
        QVERIFY(!first.addPort(QStringLiteral("COM3")));
        const auto refused = first.addPort(QStringLiteral("com12"));
        QVERIFY2(!refused, qPrintable(refused.value_or(QString())));
        QVERIFY(first.addPort(QStringLiteral("COM3")).has_value());
        QVERIFY(first.setLogPath(log));
        first.setAutomatic(true);
        QVERIFY(first.automatic());
        first.stopAll();
        first.setAutomatic(true);
    }
    RecordingStation second(options);
    second.restore();
    QStringList ports;
    for (const PortTile* tile : second.tiles())
        ports << tile->setup().port;
    QCOMPARE(ports, (QStringList{QStringLiteral("COM3"), QStringLiteral("COM12")}));
    QCOMPARE(second.logPath(), log);
    QVERIFY(second.automatic());
    QVERIFY(second.shown.isEmpty());
}

// A by-hand run on a simulated radio: the tile writes with its bar, the window will not close
// meanwhile, and it ends green "Completed." with its count and one log record.
void tst_stationwindow::runShowsItsProgressAndOutcome()
{
    sim::SimRadio radio;
    QString error;
    QVERIFY2(radio.start(&error), qPrintable(error));
    QTemporaryDir dir;
    const StationWindow::Options options = optionsIn(dir);
    RecordingStation window(options);
    window.restore();
    QVERIFY(window.setLogPath(dir.filePath(QStringLiteral("runs.jsonl"))));
    QVERIFY(!window.addPort(radio.devicePath()));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    PortTile* tile = window.tiles().constFirst();

    bool barSeen = false;
    bool closeRefused = false;
    connect(&tile->watch(), &PortWatch::blockWritten, this, [&] {
        if (barSeen)
            return;
        tile->refresh();
        barSeen = tile->bar()->isVisible();
        closeRefused = !window.close() && window.isVisible();
    });
    window.startAll();
    QTRY_COMPARE_WITH_TIMEOUT(tile->state(), PortWatch::State::Idle, 30000);
    QTRY_COMPARE(tile->completed(), 1);
    tile->refresh();
    QVERIFY(barSeen);
    QVERIFY(closeRefused);
    QCOMPARE(window.shown.size(), 1);
    QVERIFY2(window.shown.constFirst().contains(QLatin1String("Stop all")),
             qPrintable(window.shown.constFirst()));
    QCOMPARE(tile->stateLabel()->text(), QStringLiteral("Completed."));
    QCOMPARE(textColour(tile->stateLabel()), kGreen);
    QCOMPARE(tile->failed(), 0);
    QVERIFY(!tile->bar()->isVisible());

    QFile file(window.logPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.constFirst().contains("\"outcome\":\"Completed.\""));
    QVERIFY(window.close());
}

// Automatic on: a radio put on the cable is written, its green outcome stays until it is taken
// off, and then the tile waits for the next one.
void tst_stationwindow::handsFree()
{
    sim::SimRadio radio;
    QString error;
    QVERIFY2(radio.start(&error), qPrintable(error));
    radio.setPresent(false);
    QTemporaryDir dir;
    StationWindow::Options options = optionsIn(dir);
    options.timing = {std::chrono::milliseconds(100), std::chrono::milliseconds(100),
                      std::chrono::milliseconds(400)};
    RecordingStation window(options);
    window.restore();
    QVERIFY(window.setLogPath(dir.filePath(QStringLiteral("runs.jsonl"))));
    QVERIFY(!window.addPort(radio.devicePath()));
    PortTile* tile = window.tiles().constFirst();
    window.setAutomatic(true);
    QTRY_COMPARE(tile->state(), PortWatch::State::Waiting);
    radio.setPresent(true);
    QTRY_COMPARE_WITH_TIMEOUT(tile->completed(), 1, 30000);
    QTRY_COMPARE(tile->state(), PortWatch::State::Held);
    tile->refresh();
    QCOMPARE(tile->stateLabel()->text(), QStringLiteral("Completed."));
    radio.setPresent(false);
    QTRY_COMPARE_WITH_TIMEOUT(tile->state(), PortWatch::State::Waiting, 10000);
    tile->refresh();
    QCOMPARE(tile->stateLabel()->text(), QStringLiteral("Waiting for a radio"));
    QCOMPARE(tile->completed(), 1);
    QCOMPARE(tile->failed(), 0);
}

// The block is named by its address, as the command line names it: 0xDC000, not ten times that.
// The advice is the window's own: it never sends the operator to the command line.
void tst_stationwindow::failedWriteNamesTheBlockItStoppedAt()
{
    Run::Setup setup;
    setup.setPort(QStringLiteral("/nonexistent/tty"), {});
    PortTile tile(setup, setup.port, {});
    RunReport report;
    report.outcome = Outcome::WriteFailed;
    report.step = Step::Write;
    report.writeStoppedAt = 0xDC000;
    report.finding.reason = Finding::Reason::WrongAnswer;
    report.finding.code = reply::NG;
    report.finding.mayBeInFlashMode = true;
    emit tile.watch().runFinished(report);
    tile.refresh();
    QCOMPARE(tile.stateLabel()->text(), QStringLiteral("Write failed."));
    QCOMPARE(tile.detailLabel()->text(), QStringLiteral("write step, block 0xDC000"));
    const QString advice = tile.stateLabel()->toolTip();
    QVERIFY2(advice.contains(QStringLiteral("press Start again")), qPrintable(advice));
    QVERIFY2(!advice.contains(QStringLiteral("tq-b9-cli")), qPrintable(advice));
}

// The tile's Stop is the operator's, not Ctrl-C: the log says who stopped the run, with the exit
// status of a stop.
void tst_stationwindow::stopIsLoggedAsAStop()
{
    sim::SimRadio radio;
    QString error;
    QVERIFY2(radio.start(&error), qPrintable(error));
    QTemporaryDir dir;
    RecordingStation window(optionsIn(dir));
    window.restore();
    QVERIFY(window.setLogPath(dir.filePath(QStringLiteral("runs.jsonl"))));
    QVERIFY(!window.addPort(radio.devicePath()));
    PortTile* tile = window.tiles().constFirst();
    // Pressed as the write goes, as an operator would, once the tile shows it.
    connect(
        &tile->watch(), &PortWatch::blockWritten, this,
        [tile] {
            tile->refresh();
            QTest::mouseClick(tile->stopButton(), Qt::LeftButton);
        },
        Qt::SingleShotConnection);
    window.startAll();
    QTRY_COMPARE_WITH_TIMEOUT(tile->failed() + tile->completed(), 1, 30000);
    QTRY_COMPARE(tile->state(), PortWatch::State::Idle);

    QFile file(window.logPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray line = file.readAll();
    QVERIFY2(line.contains("\"stop\":\"operator\""), line.constData());
    QVERIFY2(line.contains("\"exit\":7,"), line.constData());
    QVERIFY2(line.contains("\"step\":\"write\""), line.constData());
    QVERIFY(radio.count(sim::Command::End) == 0);
}

// A file dropped on the window is the firmware of every run to come, unless it is bad or some
// port is about to write: from the moment Start is pressed, not once its thread has answered.
// Open hands the log to the desktop.
void tst_stationwindow::droppedFirmwareIsLockedWhileAPortIsBusy()
{
    QTemporaryDir dir;
    StationWindow::Options options = optionsIn(dir);
    options.bindings = {{3, dir.filePath(QStringLiteral("no-such-port"))}};
    RecordingStation window(options);
    window.restore();
    QVERIFY(window.setLogPath(dir.filePath(QStringLiteral("runs.jsonl"))));
    QVERIFY(!window.addPort(QStringLiteral("COM3")));
    const auto write = [&](const char* name, const QByteArray& text) {
        return test::writeFile(dir, name, text);
    };
    const QString good = write("radio.hex", test::kFourBytesPerEraseBlock);
    const QString other = write("other.hex", test::kFourBytesPerEraseBlock);
    const QString bad = write("bad.hex", ":02000004000CEE\n:0400000001020304F3\n:00000001FF\n");
    const auto shows = [&](const QString& name) {
        return window.firmwareLabel()->text().contains(name);
    };

    QVERIFY(test::drop(window, good));
    QVERIFY(shows(QStringLiteral("radio.hex")));
    QVERIFY(window.shown.isEmpty());
    QVERIFY(test::drop(window, bad));
    QCOMPARE(window.shown, QStringList(bad + QStringLiteral(":2: checksum 0xF3, expected 0xF2")));
    QVERIFY(shows(QStringLiteral("radio.hex")));

    window.startAll();
    QVERIFY(window.busy());
    QVERIFY(!test::drop(window, other));
    QTRY_COMPARE(window.tiles().constFirst()->failed(), 1);
    QTRY_VERIFY(!window.busy());
    window.setAutomatic(true);
    QVERIFY(!test::drop(window, other));
    window.stopAll();
    QTRY_VERIFY(!window.busy());
    QVERIFY(test::drop(window, other));
    QVERIFY(shows(QStringLiteral("other.hex")));

    UrlCatcher desktop;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
    QTest::mouseClick(window.logOpenButton(), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(desktop.urls, QList<QUrl>{QUrl::fromLocalFile(window.logPath())});
    QVERIFY(window.offered.isEmpty());

    // With no program for the log (the offscreen platform opens nothing), its folder is offered.
    window.onOffer = [&] {
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
    };
    QTest::mouseClick(window.logOpenButton(), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(window.offered.size(), 1);
    QVERIFY2(window.offered.constFirst().contains(QLatin1String("No program")),
             qPrintable(window.offered.constFirst()));
    QCOMPARE(desktop.urls.constLast(),
             QUrl::fromLocalFile(QFileInfo(window.logPath()).absolutePath()));
}

// Four columns where there is room, fewer on a small screen rather than a window wider than it.
void tst_stationwindow::tilesFlowIntoTheWidthThereIs()
{
    QTemporaryDir dir;
    const StationWindow::Options options = optionsIn(dir, false);
    RecordingStation window(options);
    window.restore();
    for (int n = 1; n <= 5; ++n)
        QVERIFY(!window.addPort(QStringLiteral("COM%1").arg(n)));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto columns = [&] {
        QSet<int> lefts;
        for (const PortTile* tile : window.tiles())
            lefts << tile->x();
        return lefts.size();
    };
    QTRY_COMPARE(columns(), 4);
    // As narrow as it goes, it fits a screen 1024 pixels wide with its frame.
    window.resize(0, window.height());
    QTRY_VERIFY(columns() < 4);
    QVERIFY(window.width() <= 1024 - 16);
    window.resize(1400, window.height());
    QTRY_COMPARE(columns(), 4);
}

QTEST_MAIN(tst_stationwindow)
#include "tst_stationwindow.moc"
