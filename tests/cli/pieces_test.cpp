#include "cli/diagnosis.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/trace.h"

#include <gtest/gtest.h>
#include <QRegularExpression>
#include <QSet>

namespace tqb9::cli {
namespace {

ParsedArguments parse(QStringList args)
{
    args.prepend(QStringLiteral("tq-b9-cli"));
    return parseArguments(args);
}

TEST(Arguments, ComNumberChecksThatMenuItem)
{
    const auto parsed = parse({QStringLiteral("--port"), QStringLiteral("com12")});
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options->port, 12);
    EXPECT_TRUE(parsed.options->bindings.isEmpty());
}

TEST(Arguments, DeviceRunsAsComOneBoundToIt)
{
    const auto parsed = parse({QStringLiteral("--com"), QStringLiteral("3=/dev/ttyUSB1"),
                               QStringLiteral("--port"), QStringLiteral("/dev/pts/7")});
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options->port, 1);
    const QList<std::pair<int, QString>> expected{{3, QStringLiteral("/dev/ttyUSB1")},
                                                  {1, QStringLiteral("/dev/pts/7")}};
    EXPECT_EQ(parsed.options->bindings, expected);
}

TEST(Arguments, DefaultIsComOneWithoutTraceOrBinding)
{
    const auto parsed = parse({});
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(parsed.options->action, Options::Action::Run);
    EXPECT_EQ(parsed.options->port, 1);
    EXPECT_FALSE(parsed.options->trace);
}

TEST(Arguments, TraceFullImpliesTrace)
{
    const auto parsed = parse({QStringLiteral("--trace-full")});
    ASSERT_TRUE(parsed.options);
    EXPECT_TRUE(parsed.options->trace);
    EXPECT_TRUE(parsed.options->traceFull);
}

QStringList manyPorts(int count)
{
    QStringList args;
    for (int i = 0; i < count; ++i)
        args << QStringLiteral("--port") << QStringLiteral("/dev/radio%1").arg(i);
    return args;
}

TEST(Arguments, SeveralPortsAreKeptInTheOrderGiven)
{
    const auto parsed =
        parse(manyPorts(kMaxPorts) << QStringLiteral("--log") << QStringLiteral("runs.jsonl"));
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options->ports.size(), kMaxPorts);
    EXPECT_EQ(parsed.options->ports.at(5), QStringLiteral("/dev/radio5"));
    EXPECT_EQ(parsed.options->logPath, QStringLiteral("runs.jsonl"));
}

TEST(Arguments, MistakesAreUsageErrorsWithAReason)
{
    const QList<QStringList> mistakes{
        {QStringLiteral("--port"), QStringLiteral("COM0")},
        {QStringLiteral("--port"), QStringLiteral("COM257")},
        {QStringLiteral("--port")},
        // The same port twice, however it is written; a bad one among several; too many.
        {QStringLiteral("--port"), QStringLiteral("com3"), QStringLiteral("--port"),
         QStringLiteral("COM3")},
        {QStringLiteral("--port"), QStringLiteral("/dev/a"), QStringLiteral("--port"),
         QStringLiteral("/dev/b"), QStringLiteral("--port"), QStringLiteral("/dev/../dev/a")},
        {QStringLiteral("--port"), QStringLiteral("/dev/a"), QStringLiteral("--port"),
         QStringLiteral("COM257")},
        manyPorts(kMaxPorts + 1),
        {QStringLiteral("--log"), QString()},
        {QStringLiteral("--com"), QStringLiteral("1=/dev/a"), QStringLiteral("--port"),
         QStringLiteral("/dev/b")},
        {QStringLiteral("--com"), QStringLiteral("/dev/ttyUSB0")},
        {QStringLiteral("--com"), QStringLiteral("0=/dev/ttyUSB0")},
        // A shorter reply window is for tests, which reach it through the engine.
        {QStringLiteral("--interval"), QStringLiteral("300")},
        {QStringLiteral("--list-ports"), QStringLiteral("--export-image"), QStringLiteral("f")},
        {QStringLiteral("--info"), QStringLiteral("--export-image"), QStringLiteral("f")},
        {QStringLiteral("--firmware"), QStringLiteral("a.hex"), QStringLiteral("--firmware"),
         QStringLiteral("b.hex")},
        {QStringLiteral("--firmware=")},
        {QStringLiteral("--frobnicate")},
        {QStringLiteral("COM3")},
    };
    for (const QStringList& args : mistakes) {
        const auto parsed = parse(args);
        EXPECT_FALSE(parsed.options) << args.join(' ').toStdString();
        EXPECT_FALSE(parsed.error.isEmpty()) << args.join(' ').toStdString();
    }
}

TEST(ExitStatus, OnlyCompletedIsZeroAndEveryFailureHasItsOwn)
{
    const QList<Outcome> failures{Outcome::RegionError,   Outcome::Error,
                                  Outcome::ConnectFailed, Outcome::EraseFailed,
                                  Outcome::WriteFailed,   Outcome::DisconnectFailed};
    EXPECT_EQ(exitStatusFor(Outcome::Completed), 0);
    QSet<int> seen;
    for (const Outcome outcome : failures) {
        const int status = exitStatusFor(outcome);
        EXPECT_NE(status, 0);
        EXPECT_NE(status, exitstatus::Usage);
        EXPECT_LT(status, exitstatus::SignalBase);
        seen.insert(status);
    }
    EXPECT_EQ(seen.size(), failures.size());
    // The help documents the same numbers.
    for (const Outcome outcome : failures) {
        const QString row =
            QStringLiteral("%1  %2").arg(exitStatusFor(outcome), 5).arg(messageFor(outcome));
        EXPECT_TRUE(helpText().contains(row)) << row.toStdString();
    }
}

TEST(Trace, TextCommandShowsBytesTextEchoAndReply)
{
    const QByteArray sent("ZK~TQ-B9E\r");
    const QString text = formatExchange(0.25, sent, sent + "\r\nOK\r\n", 0, false);
    EXPECT_TRUE(
        text.contains(QStringLiteral("sent 10 bytes: 5A 4B 7E 54 51 2D 42 39 45 0D  |ZK~TQ-B9E.|")))
        << text.toStdString();
    EXPECT_TRUE(
        text.contains(QStringLiteral("received 16 bytes: echo of all 10 sent, then 0D 0A 4F 4B")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("reply: OK\n")));
    EXPECT_TRUE(text.startsWith(QStringLiteral("[   0.250s]")));
}

TEST(Trace, PacketIsShortenedUnlessFull)
{
    QByteArray packet(1032, '\x11');
    packet.replace(0, 7, QByteArray::fromHex("fffe50470c0400"));
    const QByteArray received = packet + "PG\r\n";

    const QString shortText = formatExchange(1, packet, received, 5, false);
    EXPECT_TRUE(shortText.contains(QStringLiteral("(packet PG, address 0xC0400)")));
    EXPECT_TRUE(shortText.contains(
        QStringLiteral("FF FE 50 47 0C 04 00 11 ...(1016 more)... 11 11 11 11 11 11 11 11")))
        << shortText.toStdString();
    EXPECT_TRUE(shortText.contains(QStringLiteral("echo of all 1032 sent, then 50 47 0D 0A")));
    EXPECT_LT(shortText.size(), 400);

    const QString fullText = formatExchange(1, packet, received, 5, true);
    EXPECT_TRUE(fullText.contains(QStringLiteral("1024: 11 11 11 11 11 11 11 11\n")))
        << fullText.toStdString();
    EXPECT_GT(fullText.size(), 3 * 1032);
}

TEST(Trace, SilenceShortEchoAndForeignBytesAreTold)
{
    const QByteArray sent("ZK~FLASH\r");
    EXPECT_TRUE(formatExchange(0, sent, {}, 8, false)
                    .contains(QStringLiteral("received 0 bytes: nothing\n")));
    EXPECT_TRUE(formatExchange(0, sent, "ZK~", 8, false)
                    .contains(QStringLiteral("echo of only 3 of the 9 sent")));
    const QString noise = formatExchange(0, sent, "ZK#FLASH\rCT\r\n", 8, false);
    EXPECT_TRUE(noise.contains(QStringLiteral("differs from the echo at byte 2")))
        << noise.toStdString();
    EXPECT_TRUE(noise.contains(QStringLiteral("reply: none recognised")));
}

TEST(ProgressLine, RateAndTimeLeftFollowTheBlocksDone)
{
    EXPECT_EQ(progressLine(125, 250, 20.0),
              QStringLiteral("write: 125/250 blocks  50%  6400 B/s  0:20 left"));
    EXPECT_EQ(progressLine(0, 250, 0.0),
              QStringLiteral("write: 0/250 blocks   0%  -- B/s  -:-- left"));
    EXPECT_EQ(progressLine(10, 250, 2.0).right(9), QStringLiteral("0:48 left"));
}

struct Captured {
    QString text;
    Progress::Sink sink()
    {
        return [this](const QString& s) {
            text += s;
        };
    }
};

void fullRun(Progress& progress, int blocks, double secondsPerBlock)
{
    progress.step(Step::Query, QStringLiteral("on COM1 (/dev/pts/3)"));
    progress.step(Step::Connect);
    progress.step(Step::Erase);
    progress.step(Step::Write);
    progress.writeBegins(blocks);
    for (int i = 1; i <= blocks; ++i)
        progress.blockWritten(secondsPerBlock * i);
    progress.step(Step::End);
    progress.finish();
}

TEST(Progress, PlainOutputIsAFewLinesWithoutControlCharacters)
{
    Captured out;
    Progress progress(false, out.sink());
    fullRun(progress, 250, 0.2);
    for (const QChar c : out.text)
        EXPECT_TRUE(c == QLatin1Char('\n') || c.unicode() >= 0x20) << int(c.unicode());
    const QStringList lines = out.text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // query, connect, erase, "250 blocks to send", four quarters, end.
    ASSERT_EQ(lines.size(), 9) << out.text.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("tq-b9-cli: model query on COM1 (/dev/pts/3)"));
    EXPECT_EQ(lines[3], QStringLiteral("tq-b9-cli: write: 250 blocks to send"));
    EXPECT_TRUE(lines[4].contains(QStringLiteral("63/250 blocks  25%"))) << lines[4].toStdString();
    EXPECT_TRUE(lines[7].contains(QStringLiteral("250/250 blocks 100%")));
    EXPECT_EQ(lines[8], QStringLiteral("tq-b9-cli: end of session"));
}

TEST(Progress, TerminalOutputIsOneLineRedrawnInPlace)
{
    Captured out;
    Progress progress(true, out.sink());
    fullRun(progress, 250, 0.01);
    EXPECT_EQ(out.text.count(QLatin1Char('\n')), 1);
    // The last text is padded over the longer write line before it.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\\rend of session {10,}\\n$"))
                    .match(out.text)
                    .hasMatch())
        << out.text.toStdString();
    // 2.5 s of writing is redrawn about ten times a second, and the last block is always shown.
    const qsizetype redraws = out.text.count(QStringLiteral("\rwrite: "));
    EXPECT_GE(redraws, 20);
    EXPECT_LE(redraws, 30);
    EXPECT_TRUE(out.text.contains(QStringLiteral("\rwrite: 250/250 blocks 100%")));
}

Failure portFailure(QSerialPort::SerialPortError kind, const QString& error)
{
    Failure f;
    f.device = QStringLiteral("/dev/ttyUSB0");
    f.errorKind = kind;
    f.error = QStringLiteral("/dev/ttyUSB0: ") + error;
    return f;
}

DeviceFacts present(const QString& group = {}, const QString& holder = {})
{
    DeviceFacts facts;
    facts.exists = true;
    facts.accessible = true;
    facts.group = group;
    facts.holder = holder;
    return facts;
}

QString joined(const QStringList& lines)
{
    return lines.join(QLatin1Char('\n'));
}

// The advice names Linux tools; macOS and Windows give their own.
#ifdef Q_OS_LINUX
TEST(Diagnosis, PermissionDeniedNamesTheGroupToJoin)
{
    const Failure f =
        portFailure(QSerialPort::PermissionError, QStringLiteral("Permission denied"));
    DeviceFacts facts = present(QStringLiteral("dialout"));
    facts.accessible = false;
    const QString text = joined(diagnose(f, facts));
    EXPECT_TRUE(text.contains(QStringLiteral("Cannot open /dev/ttyUSB0: permission denied")));
    EXPECT_TRUE(text.contains(QStringLiteral("sudo usermod -aG dialout $USER")))
        << text.toStdString();

    facts.inGroupDatabase = true;
    const QString again = joined(diagnose(f, facts));
    EXPECT_TRUE(again.contains(QStringLiteral("log out and in again, or run: newgrp dialout")));
    EXPECT_FALSE(again.contains(QStringLiteral("usermod")));
}

TEST(Diagnosis, BusyPortNamesWhatHoldsIt)
{
    const Failure f =
        portFailure(QSerialPort::PermissionError, QStringLiteral("Device or resource busy"));
    const DeviceFacts facts =
        present(QStringLiteral("dialout"), QStringLiteral("ModemManager (pid 812)"));
    const QString text = joined(diagnose(f, facts));
    EXPECT_TRUE(text.contains(QStringLiteral("another program holds it (/dev/ttyUSB0: Device or "
                                             "resource busy). Open by: ModemManager (pid 812).")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("sudo systemctl stop ModemManager")));
    EXPECT_FALSE(text.contains(QStringLiteral("usermod")));
}
#endif

TEST(Diagnosis, AbsentPortPointsToTheList)
{
    const Failure f = portFailure(QSerialPort::DeviceNotFoundError, QStringLiteral("No such file"));
    EXPECT_TRUE(joined(diagnose(f, DeviceFacts{}))
                    .contains(QStringLiteral(
                        "/dev/ttyUSB0 (COM1): no such device.\nIs the cable plugged in?")));

    Failure unmapped;
    unmapped.port = 4;
    unmapped.errorKind = QSerialPort::DeviceNotFoundError;
    const QString text = joined(diagnose(unmapped, DeviceFacts{}));
    EXPECT_TRUE(text.contains(QStringLiteral("COM4 does not lead to any serial port")));
    EXPECT_TRUE(text.contains(QStringLiteral("tq-b9-cli --list-ports")));
    EXPECT_TRUE(text.contains(QStringLiteral("--com 4=DEVICE")));
}

TEST(Diagnosis, SilentRadioAsksForCableAndPower)
{
    Failure f;
    f.device = QStringLiteral("/dev/ttyUSB0");
    f.exchanged = true;
    f.sent = 10;
    f.received = 0;
    const DeviceFacts facts = present();
    EXPECT_TRUE(joined(diagnose(f, facts))
                    .contains(QStringLiteral("cable is plugged in at both ends and that the radio "
                                             "is switched on")));
    f.received = 10;
    f.interval = std::chrono::milliseconds{5000};
    EXPECT_TRUE(joined(diagnose(f, facts))
                    .contains(QStringLiteral("did not answer the model query step within 5 s")));
}

TEST(Diagnosis, FailedWriteSaysWhereItStopped)
{
    Failure f;
    f.outcome = Outcome::WriteFailed;
    f.step = Step::Write;
    f.device = QStringLiteral("/dev/ttyUSB0");
    f.exchanged = true;
    f.sent = 1032;
    f.received = 1036;
    f.code = reply::NG;
    f.blockAddress = 0xC0400;
    f.blocksDone = 1;
    f.blocksTotal = 250;
    const QString text = joined(diagnose(f, present()));
    EXPECT_TRUE(text.contains(QStringLiteral("answered \"NG\" to the write step")));
    EXPECT_TRUE(text.contains(QStringLiteral("block at 0xC0400 (1 of 250 blocks written)")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("run tq-b9-cli again")));
}

#ifdef Q_OS_UNIX
TEST(Diagnosis, ProbeReadsTheDevicesGroup)
{
    const DeviceFacts null = probeDevice(QStringLiteral("/dev/null"));
    EXPECT_TRUE(null.exists);
    EXPECT_TRUE(null.accessible);
    EXPECT_FALSE(null.group.isEmpty());
    EXPECT_FALSE(probeDevice(QStringLiteral("/dev/no-such-tty")).exists);
}
#endif

} // namespace
} // namespace tqb9::cli
