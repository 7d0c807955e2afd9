// The command line's words for why a run failed and what to do next, from the engine's finding.
#include "cli/advice.h"

#include <gtest/gtest.h>

namespace tqb9::cli {
namespace {

Failure portFailure(QSerialPort::SerialPortError kind, const QString& error,
                    const QString& device = QStringLiteral("/dev/ttyUSB0"))
{
    Failure f;
    f.device = device;
    f.errorKind = kind;
    f.error = device + QStringLiteral(": ") + error;
    return f;
}

DeviceFacts present(const QString& group = {}, const QString& holder = {}, const QString& name = {})
{
    DeviceFacts facts;
    facts.exists = true;
    facts.accessible = true;
    facts.group = group;
    facts.holder = holder;
    facts.name = name;
    return facts;
}

QString worded(const Failure& f, const DeviceFacts& facts)
{
    RunReport report;
    report.outcome = f.outcome;
    report.step = f.step;
    report.writeStoppedAt = f.blockAddress;
    report.blocksWritten = f.blocksDone;
    report.blocksToWrite = f.blocksTotal;
    report.finding = classify(f, facts);
    return adviceFor(report).join(QLatin1Char('\n'));
}

// Each finding in the command line's words: what the text says, and what it must not.
TEST(Advice, SaysWhyAndWhatToDoForEachFinding)
{
    const auto check = [](const char* name, const Failure& f, const DeviceFacts& facts,
                          const QStringList& says, const QStringList& never = {}) {
        const QString text = worded(f, facts);
        for (const QString& part : says)
            EXPECT_TRUE(text.contains(part)) << name << ":\n" << text.toStdString();
        for (const QString& part : never)
            EXPECT_FALSE(text.contains(part)) << name << ":\n" << text.toStdString();
    };
    Failure unmapped;
    unmapped.port = 4;
    unmapped.errorKind = QSerialPort::DeviceNotFoundError;
    check("COM number leading nowhere", unmapped, {},
          {"COM4 does not lead to any serial port", "tq-b9-cli --list-ports", "--com 4=DEVICE"});
    check("absent device", portFailure(QSerialPort::DeviceNotFoundError, "No such file"), {},
          {"/dev/ttyUSB0 (COM1): no such device.\nIs the cable plugged in?"});

    // The busy port, named as the system calls it: Windows' friendly name usually carries the
    // number; one without it gets it added; no name leaves the device as it is.
    const Failure denied = portFailure(QSerialPort::PermissionError, "Access is denied.", "COM23");
    check("busy, named with its number", denied, present({}, {}, "USB Serial Port (COM23)"),
          {"Cannot open USB Serial Port (COM23): another"});
    check("busy, named without its number", denied,
          present({}, {}, "Prolific USB-to-Serial Comm Port"),
          {"Cannot open COM23 (Prolific USB-to-Serial Comm Port): "});
    check("busy, not named", denied, present(), {"Cannot open COM23: "});

    Failure silent;
    silent.device = QStringLiteral("/dev/ttyUSB0");
    silent.exchanged = true;
    silent.sent = 10;
    check("silent radio", silent, present(),
          {"cable is plugged in at both ends and that the radio is switched on"});
    silent.received = 10;
    check("echo only", silent, present(),
          {"did not answer the model query step within 5 s", "If a run on this port was stopped"});

    Failure write = silent;
    write.outcome = Outcome::WriteFailed;
    write.step = Step::Write;
    write.sent = 1032;
    write.received = 1036;
    write.code = reply::NG;
    write.blockAddress = 0xC0400;
    write.blocksDone = 1;
    write.blocksTotal = 250;
    check("refused block", write, present(),
          {"answered \"NG\" to the write step", "block at 0xC0400 (1 of 250 blocks written)",
           "run tq-b9-cli again"});

    // After a stop the radio may sit in flash mode, deaf to the query: off and on, not just again.
    RunReport unanswered;
    unanswered.finding = classify(silent, present());
    unanswered.finding.afterStopInFlashMode = true;
    const QString afterStop = adviceFor(unanswered).join(QLatin1Char('\n'));
    EXPECT_TRUE(afterStop.contains(QStringLiteral("The last run on this port was stopped")))
        << afterStop.toStdString();
    EXPECT_FALSE(afterStop.contains(QStringLiteral("If a run on this port was stopped")));

    // The advice names Linux tools; macOS and Windows give their own.
#ifdef Q_OS_LINUX
    const Failure permission = portFailure(QSerialPort::PermissionError, "Permission denied");
    DeviceFacts outside = present("dialout");
    outside.accessible = false;
    check("permission denied", permission, outside,
          {"Cannot open /dev/ttyUSB0: permission denied", "sudo usermod -aG dialout $USER"});
    outside.inGroupDatabase = true;
    check("permission denied, group joined", permission, outside,
          {"log out and in again, or run: newgrp dialout"}, {"usermod"});
    check("busy, held by a program",
          portFailure(QSerialPort::PermissionError, "Device or resource busy"),
          present("dialout", "ModemManager (pid 812)"),
          {"another program holds it (/dev/ttyUSB0: Device or resource busy). Open by: "
           "ModemManager (pid 812).",
           "sudo systemctl stop ModemManager"},
          {"usermod"});
#endif
}

} // namespace
} // namespace tqb9::cli
