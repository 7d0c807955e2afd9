// The command line's words for why a run failed and what to do next, from the engine's finding.
#include "cli/advice.h"

#include <gtest/gtest.h>

namespace tqb9::cli {
namespace {

struct Case {
    const char* name;
    Failure failure;
    DeviceFacts facts;
    QStringList says;
    QStringList never;
};

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

QList<Case> cases()
{
    QList<Case> all;
    {
        Failure unmapped;
        unmapped.port = 4;
        unmapped.errorKind = QSerialPort::DeviceNotFoundError;
        all.append({"COM number leading nowhere",
                    unmapped,
                    {},
                    {QStringLiteral("COM4 does not lead to any serial port"),
                     QStringLiteral("tq-b9-cli --list-ports"), QStringLiteral("--com 4=DEVICE")},
                    {}});
    }
    all.append({"absent device",
                portFailure(QSerialPort::DeviceNotFoundError, QStringLiteral("No such file")),
                {},
                {QStringLiteral("/dev/ttyUSB0 (COM1): no such device.\nIs the cable plugged in?")},
                {}});
    // The busy port, named as the system calls it: Windows' friendly name usually carries the
    // number; one without it gets it added; no name leaves the device as it is.
    const Failure denied = portFailure(
        QSerialPort::PermissionError, QStringLiteral("Access is denied."), QStringLiteral("COM23"));
    all.append({"busy, named with its number",
                denied,
                present({}, {}, QStringLiteral("USB Serial Port (COM23)")),
                {QStringLiteral("Cannot open USB Serial Port (COM23): another")},
                {}});
    all.append({"busy, named without its number",
                denied,
                present({}, {}, QStringLiteral("Prolific USB-to-Serial Comm Port")),
                {QStringLiteral("Cannot open COM23 (Prolific USB-to-Serial Comm Port): ")},
                {}});
    all.append({"busy, not named", denied, present(), {QStringLiteral("Cannot open COM23: ")}, {}});
    {
        Failure silent;
        silent.device = QStringLiteral("/dev/ttyUSB0");
        silent.exchanged = true;
        silent.sent = 10;
        all.append({"silent radio",
                    silent,
                    present(),
                    {QStringLiteral("cable is plugged in at both ends and that the radio is "
                                    "switched on")},
                    {}});
        Failure echoOnly = silent;
        echoOnly.received = 10;
        all.append({"echo only",
                    echoOnly,
                    present(),
                    {QStringLiteral("did not answer the model query step within 5 s")},
                    {}});
    }
    {
        Failure write;
        write.outcome = Outcome::WriteFailed;
        write.step = Step::Write;
        write.device = QStringLiteral("/dev/ttyUSB0");
        write.exchanged = true;
        write.sent = 1032;
        write.received = 1036;
        write.code = reply::NG;
        write.blockAddress = 0xC0400;
        write.blocksDone = 1;
        write.blocksTotal = 250;
        all.append({"refused block",
                    write,
                    present(),
                    {QStringLiteral("answered \"NG\" to the write step"),
                     QStringLiteral("block at 0xC0400 (1 of 250 blocks written)"),
                     QStringLiteral("run tq-b9-cli again")},
                    {}});
    }
    // The advice names Linux tools; macOS and Windows give their own.
#ifdef Q_OS_LINUX
    const Failure permission =
        portFailure(QSerialPort::PermissionError, QStringLiteral("Permission denied"));
    DeviceFacts outside = present(QStringLiteral("dialout"));
    outside.accessible = false;
    all.append({"permission denied",
                permission,
                outside,
                {QStringLiteral("Cannot open /dev/ttyUSB0: permission denied"),
                 QStringLiteral("sudo usermod -aG dialout $USER")},
                {}});
    DeviceFacts joined = outside;
    joined.inGroupDatabase = true;
    all.append({"permission denied, group joined",
                permission,
                joined,
                {QStringLiteral("log out and in again, or run: newgrp dialout")},
                {QStringLiteral("usermod")}});
    all.append(
        {"busy, held by a program",
         portFailure(QSerialPort::PermissionError, QStringLiteral("Device or resource busy")),
         present(QStringLiteral("dialout"), QStringLiteral("ModemManager (pid 812)")),
         {QStringLiteral("another program holds it (/dev/ttyUSB0: Device or resource "
                         "busy). Open by: ModemManager (pid 812)."),
          QStringLiteral("sudo systemctl stop ModemManager")},
         {QStringLiteral("usermod")}});
#endif
    return all;
}

TEST(Advice, SaysWhyAndWhatToDoForEachFinding)
{
    for (const Case& c : cases()) {
        const QString text = worded(c.failure, c.facts);
        for (const QString& part : c.says)
            EXPECT_TRUE(text.contains(part)) << c.name << ":\n" << text.toStdString();
        for (const QString& part : c.never)
            EXPECT_FALSE(text.contains(part)) << c.name << ":\n" << text.toStdString();
    }
}

} // namespace
} // namespace tqb9::cli
