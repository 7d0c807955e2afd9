#include "cli/options.h"
#include "cli/progress.h"

#include <gtest/gtest.h>
#include <QRegularExpression>

namespace tqb9::cli {
namespace {

ParsedArguments parse(QStringList args)
{
    args.prepend(QStringLiteral("tq-b9-cli"));
    return parseArguments(args);
}

TEST(Arguments, DefaultIsComOneWithoutTraceOrBinding)
{
    const auto parsed = parse({});
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(parsed.options->action, Options::Action::Run);
    EXPECT_TRUE(parsed.options->ports.isEmpty());
    EXPECT_TRUE(parsed.options->bindings.isEmpty());
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

// What a port text runs on is the run setup's to say; the arguments keep each as given, in order,
// beside the bindings.
TEST(Arguments, PortsAreKeptAsGivenInOrderBesideTheBindings)
{
    const auto parsed =
        parse(manyPorts(kMaxPorts) << QStringLiteral("--com") << QStringLiteral("3=/dev/ttyUSB1")
                                   << QStringLiteral("--log") << QStringLiteral("runs.jsonl"));
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options->ports.size(), kMaxPorts);
    EXPECT_EQ(parsed.options->ports.at(5), QStringLiteral("/dev/radio5"));
    const QList<std::pair<int, QString>> expected{{3, QStringLiteral("/dev/ttyUSB1")}};
    EXPECT_EQ(parsed.options->bindings, expected);
    EXPECT_EQ(parsed.options->logPath, QStringLiteral("runs.jsonl"));
}

TEST(Arguments, MistakesAreUsageErrorsWithAReason)
{
    const QList<QStringList> mistakes{
        {QStringLiteral("--port"), QStringLiteral("COM0")},
        {QStringLiteral("--port"), QStringLiteral("COM257")},
        {QStringLiteral("--port")},
        // A bad one among several; too many.
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

// Scripts branch on these numbers, so each is pinned here, not only kept apart.
TEST(ExitStatus, OnlyCompletedIsZeroAndEveryFailureHasItsOwn)
{
    const QList<std::pair<Outcome, int>> failures{
        {Outcome::Error, 1},       {Outcome::RegionError, 2}, {Outcome::ConnectFailed, 3},
        {Outcome::EraseFailed, 4}, {Outcome::WriteFailed, 5}, {Outcome::DisconnectFailed, 6}};
    EXPECT_EQ(exitStatusFor(Outcome::Completed), 0);
    for (const auto& [outcome, status] : failures) {
        EXPECT_EQ(exitStatusFor(outcome), status) << messageFor(outcome).toStdString();
        // The help documents the same numbers.
        const QString row = QStringLiteral("%1  %2").arg(status, 5).arg(messageFor(outcome));
        EXPECT_TRUE(helpText().contains(row)) << row.toStdString();
    }
}

TEST(ProgressLine, RateAndTimeLeftFollowTheBlocksDone)
{
    EXPECT_EQ(progressLine(125, 250, 20.0),
              QStringLiteral("write: 125/250 blocks  50%  6400 B/s  0:20 left"));
    EXPECT_EQ(progressLine(0, 250, 0.0),
              QStringLiteral("write: 0/250 blocks   0%  -- B/s  -:-- left"));
    EXPECT_EQ(progressLine(10, 250, 2.0).right(9), QStringLiteral("0:48 left"));
}

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
    QString out;
    Progress progress(false, [&out](const QString& text) { out += text; });
    fullRun(progress, 250, 0.2);
    for (const QChar c : out)
        EXPECT_TRUE(c == QLatin1Char('\n') || c.unicode() >= 0x20) << int(c.unicode());
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // query, connect, erase, "250 blocks to send", four quarters, end.
    ASSERT_EQ(lines.size(), 9) << out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("tq-b9-cli: model query on COM1 (/dev/pts/3)"));
    EXPECT_EQ(lines[3], QStringLiteral("tq-b9-cli: write: 250 blocks to send"));
    EXPECT_TRUE(lines[4].contains(QStringLiteral("63/250 blocks  25%"))) << lines[4].toStdString();
    EXPECT_TRUE(lines[7].contains(QStringLiteral("250/250 blocks 100%")));
    EXPECT_EQ(lines[8], QStringLiteral("tq-b9-cli: end of session"));
}

TEST(Progress, TerminalOutputIsOneLineRedrawnInPlace)
{
    QString out;
    Progress progress(true, [&out](const QString& text) { out += text; });
    fullRun(progress, 250, 0.01);
    EXPECT_EQ(out.count(QLatin1Char('\n')), 1);
    // The last text is padded over the longer write line before it.
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("\\rend of session {10,}\\n$")).match(out).hasMatch())
        << out.toStdString();
    // 2.5 s of writing is redrawn about ten times a second, and the last block is always shown.
    const qsizetype redraws = out.count(QStringLiteral("\rwrite: "));
    EXPECT_GE(redraws, 20);
    EXPECT_LE(redraws, 30);
    EXPECT_TRUE(out.contains(QStringLiteral("\rwrite: 250/250 blocks 100%")));
}

} // namespace
} // namespace tqb9::cli
