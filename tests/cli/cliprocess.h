#pragma once

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace tqb9::testing {

struct CliResult {
    int status = -1; // -1: crashed, hung or did not start
    QString out;
    QString err;
    QElapsedTimer finished; // started the moment the program was seen to finish
};

// Runs a program (tq-b9-cli unless told) while this thread's event loop keeps the simulated
// radios answering. onStderr sees the standard error collected so far, each time more arrives.
inline CliResult runCli(const QStringList& args,
                        const std::function<void(QProcess&, const QString&)>& onStderr = {},
                        const QString& program = QStringLiteral(TQB9_CLI))
{
    QProcess cli;
    cli.setProgram(program);
    cli.setArguments(args);
    // A test runner started in the background passes SIGINT on ignored; the program keeps an
    // ignored SIGINT ignored, as a background job should.
    cli.setChildProcessModifier([] { ::signal(SIGINT, SIG_DFL); });
    CliResult result;
    QEventLoop loop;
    QObject::connect(&cli, &QProcess::finished, &loop, [&] {
        result.finished.start();
        loop.quit();
    });
    QObject::connect(&cli, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    QObject::connect(&cli, &QProcess::readyReadStandardError, &loop, [&] {
        result.err += QString::fromLocal8Bit(cli.readAllStandardError());
        if (onStderr)
            onStderr(cli, result.err);
    });
    QTimer::singleShot(std::chrono::seconds{30}, &loop, [&] {
        ADD_FAILURE() << "tq-b9-cli did not finish";
        cli.kill();
        loop.quit();
    });
    cli.start();
    loop.exec();
    cli.waitForFinished(1000);
    result.err += QString::fromLocal8Bit(cli.readAllStandardError());
    result.out = QString::fromLocal8Bit(cli.readAllStandardOutput());
    if (cli.exitStatus() == QProcess::NormalExit && cli.error() != QProcess::FailedToStart)
        result.status = cli.exitCode();
    return result;
}

} // namespace tqb9::testing
