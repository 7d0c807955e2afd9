#include "cli/cliprocess.h"
#include "firmwaretext.h"
#include "run/session.h"
#include "sim/simradio.h"
#include "simscript.h"

#include <csignal>
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

namespace tqb9 {
namespace {

using sim::Command;
using namespace std::chrono_literals;

using Result = testing::CliResult;
using testing::runCli;

bool plainText(const QString& text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c == QLatin1Char('\n') || c.unicode() >= 0x20; });
}

class CliRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString why;
        ASSERT_TRUE(radio.start(&why)) << why.toStdString();
        // The built-in firmware is the test image, which only a simulated radio should get.
        port = {QStringLiteral("--port"), radio.devicePath(),
                QStringLiteral("--allow-test-firmware")};
    }

    static int builtInBlocks()
    {
        const Firmware session = Firmware::builtIn();
        return static_cast<int>(session.blocks().size());
    }

    sim::SimRadio radio;
    QStringList port;
};

TEST_F(CliRun, CompletedRunLeavesTheBuiltInFirmwareInTheRadio)
{
    const Result r = runCli(port);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Completed.\n"));

    const Firmware session = Firmware::builtIn();
    const int blocks = static_cast<int>(session.blocks().size());
    QByteArray expected;
    for (long address = 0xC0000; address <= 0xFEFFF; ++address)
        expected.append(static_cast<char>(session.image().byteAt(address)));
    EXPECT_TRUE(radio.flash().first(expected.size()) == expected);
    EXPECT_EQ(radio.writtenBlocks().size(), blocks);
    EXPECT_EQ(radio.count(Command::End), 1);
    EXPECT_TRUE(radio.errors().isEmpty());

    // Standard error is a pipe here: plain progress lines, from the device's step to the end of
    // the write; how each line reads is the progress' own test.
    EXPECT_TRUE(plainText(r.err)) << r.err.toStdString();
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("tq-b9-cli: model query on %1\n").arg(radio.devicePath())));
    if (blocks > 0) {
        EXPECT_TRUE(r.err.contains(QStringLiteral("%1/%1 blocks 100%").arg(blocks)));
    }
    EXPECT_TRUE(r.err.endsWith(QStringLiteral("tq-b9-cli: end of session\n")));
}

TEST_F(CliRun, AbsentDeviceIsNamedWithTheWayToListPorts)
{
    const Result r = runCli({QStringLiteral("--port"), QStringLiteral("/dev/tq-b9-no-such-port"),
                             QStringLiteral("--allow-test-firmware"), QStringLiteral("--trace")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, QStringLiteral("Error\n"));
    // Given as a device, it is named as given, never as the COM number it runs as.
    EXPECT_TRUE(r.err.contains(QStringLiteral("/dev/tq-b9-no-such-port: no such device")))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("COM1"))) << r.err.toStdString();
    // Nothing reached a port that never opened, and the trace says nothing was sent.
    EXPECT_FALSE(r.err.contains(QStringLiteral("bytes"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("tq-b9-cli --list-ports")));
    EXPECT_EQ(radio.count(Command::Query), 0);
}

TEST_F(CliRun, BusyPortNamesTheProgramHoldingIt)
{
    QSerialPort holder(radio.devicePath());
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite)) << holder.errorString().toStdString();
    const Result r = runCli(port);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, QStringLiteral("Error\n"));
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("Cannot open %1: another program holds it").arg(radio.devicePath())))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("(pid %1)").arg(QCoreApplication::applicationPid())));
    EXPECT_EQ(radio.count(Command::Query), 0);
}

// How an exchange is laid out is the trace's own test; here, that --trace shows the real one. The
// failed run ends as any does: its line on standard output, its outcome's own exit status (each
// outcome's number is ExitStatus's test, which step fails on which reply the fault matrix's).
TEST_F(CliRun, TraceShowsEachExchangeWithItsReply)
{
    radio.setReplyLetters(Command::Query, "RE");
    const Result r = runCli(port + QStringList{QStringLiteral("--trace")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, QStringLiteral("Region error\n"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("reply: RE\n"))) << r.err.toStdString();
    // A pseudo-terminal has no serial driver to ask for low latency; the run goes on without.
    EXPECT_TRUE(r.err.contains(QStringLiteral("opened %1; low latency: not offered by the driver")
                                   .arg(radio.devicePath())))
        << r.err.toStdString();
}

TEST_F(CliRun, CtrlCEndsTheStepWithThePortClosedAndExits130)
{
    // The radio sits on the erase long enough to be interrupted in the middle of it.
    radio.setScript(simscript::forCommand(Command::Erase, sim::Response{.delay = 20s}));
    QElapsedTimer interrupted;
    const Result r = runCli(port, [&](QProcess& cli, const QString& err) {
        if (!interrupted.isValid() && err.contains(QStringLiteral("tq-b9-cli: erase\n"))) {
            interrupted.start();
            ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
        }
    });
    ASSERT_TRUE(interrupted.isValid());
    EXPECT_EQ(r.status, 130) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Erase failed.\n"));
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("Interrupted by Ctrl-C during the erase step; the port is closed.")));
    // At once, not at the end of the 5000 ms window: only a clock can tell that of another
    // process, so the margin stays wide.
    EXPECT_LT(interrupted.msecsTo(r.finished), 4000);
    EXPECT_EQ(radio.count(Command::Program), 0);

    // Closed indeed: the device opens again at once.
    QSerialPort again(radio.devicePath());
    EXPECT_TRUE(again.open(QIODevice::ReadWrite)) << again.errorString().toStdString();
}

// The watch holds a radio that was on its cable when it started, with one line, and writes it only
// once it has been taken off and put on again. Ctrl-C in the middle of that write ends the run at
// its step, its line is printed with the advice to switch the radio off and on, and the program
// ends with the signal's status.
TEST_F(CliRun, WatchWritesOnlyARadioPutOnAndCtrlCEndsItsRunAtItsStep)
{
    radio.setPacing(true);
    int programs = 0;
    qint64 pid = 0;
    radio.setScript([&](const sim::Request& request) -> std::optional<sim::Response> {
        if (request.command == Command::Program && ++programs == 3)
            ::kill(static_cast<pid_t>(pid), SIGINT);
        return std::nullopt;
    });
    const QString held = QStringLiteral("a radio was on the cable already: not written");
    bool takenOff = false;
    const Result r = runCli({QStringLiteral("--watch"), QStringLiteral("--port"),
                             radio.devicePath(), QStringLiteral("--allow-test-firmware")},
                            [&](QProcess& cli, const QString& err) {
                                pid = cli.processId();
                                if (!takenOff && err.contains(held)) {
                                    takenOff = true;
                                    radio.setPresent(false);
                                } else if (takenOff && !radio.isPresent() &&
                                           err.endsWith(QStringLiteral("waiting for a radio\n"))) {
                                    radio.setPresent(true);
                                }
                            });
    EXPECT_EQ(r.status, 130) << r.err.toStdString();
    EXPECT_EQ(r.err.count(held), 1) << r.err.toStdString();
    EXPECT_EQ(radio.radioNumber(), 2);
    EXPECT_EQ(r.out, radio.devicePath() + QStringLiteral(": Write failed.\n"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Interrupted by Ctrl-C during the write step")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("switch it off and on"))) << r.err.toStdString();
    EXPECT_EQ(radio.count(Command::End), 0);
}

// What surrounds the program in a script or an SSH session must not stop a run half-way: a reader
// that goes away, or a hang-up. The run goes on to its end and the exit status tells it.
TEST_F(CliRun, LostReaderNeitherStopsTheRunNorHidesItsOutcome)
{
    const struct {
        const char* pipeline; // bash; $0 is the program, $1 the device
        int linesOut;         // lines the reader saw; -1: not looked at
    } cases[] = {
        // The reader of both streams stops after the third progress line, before the write.
        {R"("$0" --port "$1" --allow-test-firmware 2>&1 | head -3)", 3},
        // Nobody reads the outcome line.
        {R"("$0" --port "$1" --allow-test-firmware 2>/dev/null | true)", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pipeline);
        sim::SimRadio fresh;
        ASSERT_TRUE(fresh.start());
        const Result r = runCli({QStringLiteral("-c"),
                                 QString::fromLatin1(c.pipeline) + "; exit ${PIPESTATUS[0]}",
                                 QStringLiteral(TQB9_CLI), fresh.devicePath()},
                                {}, QStringLiteral("bash"));
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        if (c.linesOut >= 0) {
            EXPECT_EQ(r.out.count(QLatin1Char('\n')), c.linesOut) << r.out.toStdString();
        }
        EXPECT_EQ(fresh.writtenBlocks().size(), builtInBlocks());
        EXPECT_EQ(fresh.count(Command::End), 1);
    }
}

TEST_F(CliRun, HangUpInTheMiddleOfTheWriteDoesNotStopIt)
{
    // The radio takes its time over the second block, so the hang-up lands inside the write.
    radio.setScript(simscript::onCommand(Command::Program, [](const sim::Request& request) {
        return request.number == 2 ? std::optional(sim::Response{.delay = 500ms}) : std::nullopt;
    }));
    bool sent = false;
    const Result r = runCli(port, [&](QProcess& cli, const QString& err) {
        if (!sent && err.contains(QStringLiteral("blocks to send"))) {
            sent = true;
            ::kill(static_cast<pid_t>(cli.processId()), SIGHUP);
        }
    });
    ASSERT_TRUE(sent);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Completed.\n"));
    EXPECT_EQ(radio.writtenBlocks().size(), builtInBlocks());
}

TEST_F(CliRun, HelpSaysWhatEachExitStatusMeans)
{
    const Result help = runCli({QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("Exit status:")));
}

TEST_F(CliRun, ListPortsShowsABindingUnderItsComNumber)
{
    const Result r = runCli({QStringLiteral("--list-ports"), QStringLiteral("--com"),
                             QStringLiteral("7=") + radio.devicePath(), QStringLiteral("--com"),
                             QStringLiteral("8=/dev/tq-b9-no-such-port")});
    EXPECT_EQ(r.status, 0);
    for (const QString& line :
         {QStringLiteral("COM7 +%1 +bound with --com")
              .arg(QRegularExpression::escape(radio.devicePath())),
          QStringLiteral("COM8 +/dev/tq-b9-no-such-port +bound with --com; no such device")}) {
        const QRegularExpression alone(QLatin1Char('^') + line + QLatin1Char('$'),
                                       QRegularExpression::MultilineOption);
        EXPECT_TRUE(alone.match(r.out).hasMatch()) << r.out.toStdString();
    }
    EXPECT_EQ(radio.count(Command::Query), 0);
}

TEST_F(CliRun, ExportImageWritesTheWholeRangeAsTheRadioShouldHoldIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.bin"));
    const Result r = runCli({QStringLiteral("--export-image"), path});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 0x40000);
    const Firmware session = Firmware::builtIn();
    for (long address : {0xC0000L, 0xC0400L, 0xFEFFFL, 0xFF000L, 0xFFFFFL})
        EXPECT_EQ(static_cast<std::uint8_t>(bytes[static_cast<qsizetype>(address - 0xC0000)]),
                  session.image().byteAt(address));

    const Result refused =
        runCli({QStringLiteral("--export-image"), dir.filePath("no/such/dir/x")});
    EXPECT_EQ(refused.status, 73);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("cannot write"))) << refused.err.toStdString();
}

// The reflected CRC-32 of zlib and PNG, bit by bit: an oracle of the test's own.
quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

// Firmware files: what a service shop runs.
class CliFirmware : public CliRun {
protected:
    QString write(const QString& name, const std::string& text)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.data(), static_cast<qsizetype>(text.size()));
        return path;
    }
    QStringList radioPort() const { return {QStringLiteral("--port"), radio.devicePath()}; }
    bool nothingSent() const { return radio.log().isEmpty() && radio.errors().isEmpty(); }

    QTemporaryDir dir;
    const QString testImage = QStringLiteral(TQB9_SOURCE_DIR "/image/firmware.s19");
};

TEST_F(CliFirmware, HexFileIsWrittenExactlyWithoutTheTestOption)
{
    const testfiles::Image image = testfiles::sampleImage();
    const QString path =
        write(QStringLiteral("real.hex"), testfiles::joined(testfiles::hexLines(image, 4), "\r\n"));
    const Result r = runCli(radioPort() << QStringLiteral("--firmware") << path);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("Completed.\n"));
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("tq-b9-cli: warning: %1: 256 bytes in the boot "
                                                "block 0xFF000..0xFFFFF are not written\n")
                                     .arg(path)))
        << r.err.toStdString();

    // The write range holds the file's bytes and 0xFF where it gives none; the boot block part
    // of the file is not written, so the radio's own content stays there.
    long wrong = 0;
    for (std::uint32_t a = 0xC0000; a < 0x100000; ++a) {
        const auto given = image.find(a);
        const int expected = a >= 0xFF000           ? sim::SimRadio::blankByte(a)
                             : given == image.end() ? 0xFF
                                                    : given->second;
        wrong += static_cast<std::uint8_t>(radio.flash()[a - 0xC0000]) != expected ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0);
    // 0xC0000..0xC1233, 0xE0FF0..0xE200F and 0xFEF00..0xFEFFF touch 5 + 6 + 1 blocks, and
    // each of the five small sections one.
    EXPECT_EQ(radio.writtenBlocks().size(), 17);
}

// A file is refused in one line, with its exit status, before any radio hears a byte. Which files
// are refused, and why, is the reader's test (StrictReaderRefuses, and for the blocks a file would
// leave blank StrictReader.FilesThatWouldLeaveTheRadioBlank); that the engine refuses the test
// image too is the fault matrix's (TestImage). Here, one of each exit status and how each reads.
TEST_F(CliFirmware, RefusedFileSaysWhyInOneLineAndNothingIsSent)
{
    testfiles::Image image;
    for (std::uint32_t a = 0xC0000; a < 0xC0010; ++a)
        image[a] = static_cast<std::uint8_t>(a);
    // The erase wipes all eight flash blocks, so a file that refills only some of them is written
    // only when asked for.
    const QString partial =
        write(QStringLiteral("one.hex"), testfiles::joined(testfiles::hexLines(image, 4)));
    const QString checksum =
        write(QStringLiteral("bad.s19"), "S0030000FC\nS2050C00000100\nS804000000FB\n");
    const QString missing = dir.filePath(QStringLiteral("missing.s19"));
    const struct {
        QString path;
        int status;
        QString starts;
        QString ends;
    } cases[] = {
        {testImage, 77,
         QStringLiteral("refused: the firmware is the test image in %1").arg(testImage),
         QStringLiteral("--firmware FILE (S-record or Intel HEX), or add --allow-test-firmware to "
                        "write the test image into a simulated radio\n")},
        {checksum, 65, checksum + QStringLiteral(":2: checksum 0x00, expected 0xED"), {}},
        {missing, 66, missing + QStringLiteral(": cannot be read: No such file or directory"), {}},
        {partial, 65, partial + QStringLiteral(": 0xD0000.."),
         QStringLiteral(" would be erased and left blank; add --allow-partial-firmware to write "
                        "it anyway\n")},
    };
    for (const auto& c : cases) {
        const Result r = runCli(radioPort() << QStringLiteral("--firmware") << c.path);
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("tq-b9-cli: ") + c.starts))
            << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith(c.ends)) << r.err.toStdString();
    }
    EXPECT_TRUE(nothingSent());

    // An export is what a run would write: refused alike, unless allowed.
    const QString allowPartial = QStringLiteral("--allow-partial-firmware");
    const QStringList exportPartial{QStringLiteral("--export-image"),
                                    dir.filePath(QStringLiteral("x")), QStringLiteral("--firmware"),
                                    partial};
    EXPECT_EQ(runCli(exportPartial).status, 65);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("x"))));
    EXPECT_EQ(runCli(exportPartial + QStringList{allowPartial}).status, 0);

    // Allowed, each is written like any firmware.
    const Result allowed =
        runCli(radioPort() << QStringLiteral("--firmware") << partial << allowPartial);
    ASSERT_EQ(allowed.status, 0) << allowed.err.toStdString();
    EXPECT_EQ(allowed.out, QStringLiteral("Completed.\n"));
    EXPECT_EQ(radio.writtenBlocks(), QList<quint32>{0xC0000});
    EXPECT_EQ(runCli(port + QStringList{QStringLiteral("--firmware"), testImage}).status, 0);
}

TEST_F(CliFirmware, InfoDescribesAFileWithoutTouchingAPort)
{
    const testfiles::Image image = testfiles::sampleImage();
    const QString path =
        write(QStringLiteral("real.s28"), testfiles::joined(testfiles::srecLines(image, 2)));
    const Result r = runCli({QStringLiteral("--info"), QStringLiteral("--firmware"), path});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();

    QByteArray written(0xFF000 - 0xC0000, char(0xFF));
    for (const auto& [address, value] : image) {
        if (address < 0xFF000)
            written[address - 0xC0000] = static_cast<char>(value);
    }
    const QString expected =
        QStringLiteral("source:         file %1 (S-record)\n"
                       "records:        %2\n"
                       "address range:  0xC0000..0xFF0FF\n"
                       "data bytes:     9,380 (256 of them in the boot block 0xFF000..0xFFFFF, "
                       "not written)\n"
                       "blocks:         17 of 1 KB to write\n"
                       "CRC-32:         0x%3 (0xC0000..0xFEFFF, 258,048 bytes as the radio will "
                       "hold them)\n"
                       "SHA-256:        %4\n")
            .arg(path)
            .arg(testfiles::srecLines(image, 2).size())
            .arg(QString::number(crc32(written), 16).toUpper().rightJustified(8, u'0'))
            .arg(QString::fromLatin1(
                QCryptographicHash::hash(written, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(r.out.toStdString(), expected.toStdString());
    EXPECT_TRUE(nothingSent());
}

// Four radios from one command, each with its own fate. The silent one costs its own 5000 ms
// window; the others end before it, and the exit status is the first failing port's in the order
// given, not the first to fail.
TEST_F(CliRun, StationRunsEveryRadioOnItsOwnAndReportsEachPortInOrder)
{
    if (builtInBlocks() < 4)
        GTEST_SKIP() << "the built-in firmware has too few blocks to hang up in the write";
    sim::SimRadio refusing;
    sim::SimRadio vanishing;
    sim::SimRadio silent;
    for (sim::SimRadio* other : {&refusing, &vanishing, &silent})
        ASSERT_TRUE(other->start());
    refusing.setReplyLetters(Command::Erase, "NG");
    // Pulled out right after its third block, whatever the program is sending by then.
    QObject::connect(&vanishing, &sim::SimRadio::requestHandled, &vanishing, [&vanishing] {
        if (vanishing.count(Command::Program) == 3)
            QTimer::singleShot(0, &vanishing, &sim::SimRadio::hangUp);
    });
    silent.setScript([](const sim::Request&) {
        return std::optional(sim::Response{.reply = QByteArray(), .echo = false});
    });

    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("runs.jsonl"));
    {
        QFile earlier(logPath);
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("{\"earlier\":true}\n");
    }
    const QStringList devices{radio.devicePath(), vanishing.devicePath(), refusing.devicePath(),
                              silent.devicePath()};
    QStringList args{QStringLiteral("--allow-test-firmware"), QStringLiteral("--log"), logPath};
    for (const QString& device : devices)
        args << QStringLiteral("--port") << device;
    const Result r = runCli(args);

    EXPECT_EQ(r.out, QStringLiteral("%1: Completed.\n%2: Write failed.\n%3: Erase failed.\n"
                                    "%4: Error\n")
                         .arg(devices[0], devices[1], devices[2], devices[3]))
        << r.err.toStdString();
    EXPECT_EQ(r.status, 5);
    EXPECT_TRUE(plainText(r.err));
    EXPECT_TRUE(r.err.contains(QStringLiteral("tq-b9-cli: %1: Completed.\n").arg(devices[0])));
    EXPECT_EQ(refusing.count(Command::Program), 0);
    EXPECT_EQ(vanishing.count(Command::End), 0);
    EXPECT_EQ(silent.count(Command::Connect), 0);

    QFile file(logPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(),
              6); // the earlier line, four runs, and the empty rest after the last
    EXPECT_EQ(lines.takeFirst(), QByteArray("{\"earlier\":true}"));
    EXPECT_TRUE(lines.takeLast().isEmpty());
    struct Expected {
        const char* outcome;
        int exit;
        QJsonValue step;
        const char* attemptsStep;
        int attempts;
    };
    const QList<Expected> expected{{"Completed.", 0, QJsonValue::Null, "write", builtInBlocks()},
                                   {"Write failed.", 5, QStringLiteral("write"), "erase", 1},
                                   {"Erase failed.", 4, QStringLiteral("erase"), "erase", 3},
                                   {"Error", 1, QStringLiteral("query"), "query", 1}};
    QStringList finished; // a run's line is written as it ends
    for (const QByteArray& line : std::as_const(lines)) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        const qsizetype i = devices.indexOf(record.value(QStringLiteral("port")).toString());
        ASSERT_GE(i, 0) << line.toStdString();
        finished << devices[i];
        const Expected& e = expected[i];
        EXPECT_EQ(record.value(QStringLiteral("device")).toString(), devices[i]);
        EXPECT_EQ(record.value(QStringLiteral("outcome")).toString(), QLatin1String(e.outcome));
        EXPECT_EQ(record.value(QStringLiteral("exit")).toInt(-1), e.exit);
        EXPECT_EQ(record.value(QStringLiteral("step")), e.step) << e.outcome;
        EXPECT_EQ(record.value(QStringLiteral("attempts"))
                      .toObject()
                      .value(QLatin1String(e.attemptsStep))
                      .toInt(),
                  e.attempts)
            << e.outcome;
        EXPECT_TRUE(record.value(QStringLiteral("time")).toString().endsWith(QLatin1Char('Z')));
        EXPECT_TRUE(record.value(QStringLiteral("firmware"))
                        .toObject()
                        .value(QStringLiteral("crc32"))
                        .toString()
                        .startsWith(QStringLiteral("0x")));
    }
    // A line for each run, and the silent radio's window held up nobody but itself: the others had
    // ended when it did.
    EXPECT_EQ(QSet<QString>(finished.begin(), finished.end()).size(), devices.size());
    EXPECT_EQ(finished.constLast(), devices[3]) << finished.join(' ').toStdString();
}

// Refused before any radio hears a byte: an unknown option beside a port the radio is on (which
// arguments are mistakes is the parser's test), a log that cannot be written, and one device named
// twice (here once through a COM number bound to it).
TEST_F(CliRun, RefusedArgumentsTouchNoPort)
{
    sim::SimRadio other;
    ASSERT_TRUE(other.start());
    const struct {
        QStringList args;
        int status;
        QString says;
    } cases[] = {
        {{QStringLiteral("--port"), radio.devicePath(), QStringLiteral("--no-such-option")},
         64,
         QStringLiteral("Usage: tq-b9-cli")},
        {{QStringLiteral("--log"), QStringLiteral("/nonexistent-dir/runs.jsonl"),
          QStringLiteral("--port"), radio.devicePath(), QStringLiteral("--port"),
          other.devicePath()},
         73,
         {}},
        {{QStringLiteral("--com"), QStringLiteral("2=") + radio.devicePath(),
          QStringLiteral("--port"), other.devicePath(), QStringLiteral("--port"),
          QStringLiteral("COM2"), QStringLiteral("--port"), radio.devicePath()},
         64,
         {}},
    };
    for (const auto& c : cases) {
        const Result r = runCli(c.args + QStringList{QStringLiteral("--allow-test-firmware")});
        EXPECT_EQ(r.status, c.status) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
    }
    EXPECT_EQ(radio.count(Command::Query) + other.count(Command::Query), 0);
}

} // namespace
} // namespace tqb9
