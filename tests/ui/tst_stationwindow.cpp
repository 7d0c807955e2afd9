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
    QList<int> beeps;

protected:
    void showMessage(const QString& text, const QString&) override { shown << text; }
    bool offer(const QString& text, const QString& action) override
    {
        offered << text + QStringLiteral(" [") + action + QLatin1Char(']');
        if (onOffer)
            onOffer();
        return true;
    }
    void chime(int count) override { beeps << count; }
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

const QColor kRed(0xC0, 0x00, 0x00);

} // namespace

class tst_stationwindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void testImage_data();
    void testImage();
    void choicesAreRemembered();
    void eachEnding_data();
    void eachEnding();
    void tileSaysWhatItWaitsFor();
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
    if (!Firmware::builtIn().isTestImage())
        QSKIP("the built-in firmware is not the test image");
    QTemporaryDir dir;
    const StationWindow::Options options = optionsIn(dir, allowed);
    RecordingStation window(options);
    window.restore();
    QVERIFY(window.setLogPath(dir.filePath(QStringLiteral("runs.jsonl"))));
    QCOMPARE(textColour(window.firmwareLabel()), kRed);
    QVERIFY(window.firmwareLabel()->text().startsWith(QStringLiteral("TEST IMAGE")));
    QCOMPARE(window.firmwareLabel()->text().contains(QStringLiteral("refused")), !allowed);
    QVERIFY(window.firmwareFacts()->text().contains(
        crc32Text(crc32Of(writtenRange(Firmware::builtIn().image())))));
    if (allowed)
        return;
    QVERIFY(!window.addPort(QStringLiteral("COM7")));
    window.startAll();
    window.setAutomatic(true);
    QCOMPARE(window.shown, QStringList(2, windowMessage(Outcome::TestImageRefused)));
    QVERIFY(!window.automatic());
    QVERIFY(!window.busy());
}

// Ports, log, the automatic switch and the sound outlive the window; the file is the test's own.
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
        first.soundSwitch()->setChecked(false);
    }
    RecordingStation second(options);
    second.restore();
    QStringList ports;
    for (const PortTile* tile : second.tiles())
        ports << tile->setup().port;
    QCOMPARE(ports, (QStringList{QStringLiteral("COM3"), QStringLiteral("COM12")}));
    QCOMPARE(second.logPath(), log);
    QVERIFY(second.automatic());
    QVERIFY(!second.soundSwitch()->isChecked());
    QVERIFY(second.shown.isEmpty());
}

// Each way a run ends, through a tile on a simulated radio: what the tile shows (its text, the
// colour of the whole tile, its counts), the station's total, the sound, and the log's record. A
// Stop is the operator's: grey, counted as stopped, logged as a stop, and no failure anywhere.
void tst_stationwindow::eachEnding_data()
{
    QTest::addColumn<QByteArray>("programReply");
    QTest::addColumn<bool>("stop");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<PortTile::Look>("look");
    QTest::addColumn<QList<int>>("counts"); // completed, failed, stopped
    QTest::addColumn<QList<int>>("beeps");
    QTest::addColumn<QByteArrayList>("logged");

    QTest::newRow("completed") << QByteArray("OK") << false << QStringLiteral("Completed.")
                               << QString() << PortTile::Look::Completed << QList<int>{1, 0, 0}
                               << QList<int>{1}
                               << QByteArrayList{"\"outcome\":\"Completed.\"", "\"stop\":null",
                                                 "\"exit\":0,", "\"step\":null"};
    // The first block is named by its address, never ten times it.
    QTest::newRow("write refused")
        << QByteArray("NG") << false << QStringLiteral("Write failed.")
        << QStringLiteral("write step, block 0xC0000") << PortTile::Look::Failed
        << QList<int>{0, 1, 0} << QList<int>{3}
        << QByteArrayList{"\"outcome\":\"Write failed.\"", "\"stop\":null", "\"step\":\"write\""};
    QTest::newRow("operator's stop")
        << QByteArray("OK") << true << QStringLiteral("Stopped")
        << QStringLiteral("by the operator, write step") << PortTile::Look::Stopped
        << QList<int>{0, 0, 1} << QList<int>{}
        << QByteArrayList{"\"stop\":\"operator\"", "\"exit\":7,", "\"step\":\"write\""};
}

void tst_stationwindow::eachEnding()
{
    QFETCH(QByteArray, programReply);
    QFETCH(bool, stop);
    QFETCH(QString, text);
    QFETCH(QString, detail);
    QFETCH(PortTile::Look, look);
    QFETCH(QList<int>, counts);
    QFETCH(QList<int>, beeps);
    QFETCH(QByteArrayList, logged);

    sim::SimRadio radio;
    QString error;
    QVERIFY2(radio.start(&error), qPrintable(error));
    radio.setReplyLetters(sim::Command::Program, programReply);
    QTemporaryDir dir;
    RecordingStation window(optionsIn(dir));
    window.restore();
    QVERIFY(window.setLogPath(dir.filePath(QStringLiteral("runs.jsonl"))));
    QVERIFY(!window.addPort(radio.devicePath()));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    PortTile* tile = window.tiles().constFirst();

    // At the first block the tile writes in blue with its bar and its progress, the window will
    // not close, and the operator may press Stop.
    QString writing;
    bool closeRefused = false;
    connect(
        &tile->watch(), &PortWatch::blockWritten, this,
        [&] {
            tile->refresh();
            writing = tile->bar()->isVisible() && tile->look() == PortTile::Look::Writing
                          ? tile->detailLabel()->text()
                          : QStringLiteral("not writing");
            closeRefused = !window.close() && window.isVisible();
            if (stop)
                QTest::mouseClick(tile->stopButton(), Qt::LeftButton);
        },
        Qt::SingleShotConnection);
    std::optional<RunReport> report;
    connect(tile, &PortTile::runFinished, this, [&](const RunReport& r) { report = r; });
    window.startAll();
    QTRY_VERIFY_WITH_TIMEOUT(report.has_value(), 30000);
    QTRY_VERIFY(!window.busy());
    tile->refresh();

    if (programReply == "OK") {
        QVERIFY2(writing.startsWith(QStringLiteral("block 2 of ")), qPrintable(writing));
        QVERIFY(closeRefused);
        QCOMPARE(window.shown.size(), 1);
        QVERIFY2(window.shown.constFirst().contains(QLatin1String("Stop all")),
                 qPrintable(window.shown.constFirst()));
    }
    QCOMPARE(tile->stateLabel()->text(), text);
    // Where a stop came depends on when it was pressed.
    QVERIFY2(tile->detailLabel()->text().startsWith(detail) &&
                 tile->detailLabel()->text().isEmpty() == detail.isEmpty(),
             qPrintable(tile->detailLabel()->text()));
    QCOMPARE(tile->adviceLabel()->text(), windowAdvice(*report).join(QLatin1Char('\n')));
    QVERIFY(!tile->adviceLabel()->text().contains(QStringLiteral("tq-b9-cli")));
    QCOMPARE(tile->look(), look);
    QCOMPARE(tile->palette().color(QPalette::Window), PortTile::background(look));
    QCOMPARE(textColour(tile->stateLabel()), PortTile::foreground(look));
    QVERIFY(!tile->bar()->isVisible());
    QCOMPARE((QList<int>{tile->completed(), tile->failed(), tile->stopped()}), counts);
    QCOMPARE(window.totalLabel()->text(),
             QStringLiteral("Since the window opened: %1 completed · %2 failed · %3 stopped")
                 .arg(counts.at(0))
                 .arg(counts.at(1))
                 .arg(counts.at(2)));
    QCOMPARE(window.beeps, beeps);

    QFile file(window.logPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 2);
    for (const QByteArray& field : logged)
        QVERIFY2(lines.constFirst().contains(field), lines.constFirst().constData());
    QVERIFY(window.close());
}

// A step that has gone quiet says it waits for the radio, so a bar that stopped moving never looks
// frozen, and progress takes that back at once. A radio held on its cable says what to do with it;
// one just written keeps its outcome on the tile, also once taken off, till the next run begins.
void tst_stationwindow::tileSaysWhatItWaitsFor()
{
    Run::Setup setup;
    setup.setPort(QStringLiteral("/nonexistent/tty"), {});
    PortTile tile(setup, setup.port, {});
    const auto saysWaiting = [&] {
        tile.refresh();
        return tile.adviceLabel()->text() == QStringLiteral("Waiting for the radio's answer...");
    };
    PortWatch& watch = tile.watch();
    emit watch.stateChanged(PortWatch::State::Writing);
    emit watch.writeBegins(4);
    emit watch.blockWritten(0.2);
    QVERIFY(!saysWaiting());
    QCOMPARE(tile.detailLabel()->text(), QStringLiteral("block 2 of 4 · 25 %"));
    QTRY_VERIFY(saysWaiting());
    emit watch.blockWritten(1.4);
    QVERIFY(!saysWaiting());

    // A window run out without an answer turns the tile red at once, while the step tries again;
    // the next block written turns it back.
    emit watch.unanswered(Step::Write);
    tile.refresh();
    QCOMPARE(tile.look(), PortTile::Look::Failed);
    QCOMPARE(tile.stateLabel()->text(), QStringLiteral("No answer"));
    QCOMPARE(tile.detailLabel()->text(),
             QStringLiteral("write step, block 3 of 4, unanswered once"));
    emit watch.blockWritten(2.6);
    tile.refresh();
    QCOMPARE(tile.look(), PortTile::Look::Writing);

    emit watch.stateChanged(PortWatch::State::Held);
    tile.refresh();
    QCOMPARE(tile.stateLabel()->text(),
             QStringLiteral("On the cable, not written: remove it, or press Start"));
    QCOMPARE(tile.look(), PortTile::Look::Held);

    emit watch.stateChanged(PortWatch::State::Writing);
    RunReport written;
    written.outcome = Outcome::Completed;
    emit watch.runFinished(written);
    for (const PortWatch::State state : {PortWatch::State::Held, PortWatch::State::Waiting}) {
        emit watch.stateChanged(state);
        tile.refresh();
        QCOMPARE(tile.stateLabel()->text(), QStringLiteral("Completed."));
        QCOMPARE(tile.look(), PortTile::Look::Completed);
    }
    QVERIFY2(tile.timeLabel()->text().endsWith(QStringLiteral("waiting for the next radio")),
             qPrintable(tile.timeLabel()->text()));
    QCOMPARE((QList<int>{tile.completed(), tile.failed()}), (QList<int>{1, 0}));
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
