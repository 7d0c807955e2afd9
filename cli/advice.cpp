#include "cli/advice.h"

#include "image/firmware.h"

namespace tqb9::cli {
namespace {

using Reason = Finding::Reason;

// The device as the user knows it: Windows' friendly name usually carries the number itself.
QString shown(const QString& device, const DeviceFacts& facts)
{
    if (facts.name.isEmpty())
        return device;
    if (facts.name.contains(device, Qt::CaseInsensitive))
        return facts.name;
    return QStringLiteral("%1 (%2)").arg(device, facts.name);
}

QStringList why(const RunReport& report)
{
    const Finding& f = report.finding;
    const QString com = QStringLiteral("COM%1").arg(f.comPort);
    const QString step = QString::fromLatin1(stepName(report.step));
    switch (f.reason) {
    case Reason::None:
    case Reason::TestImage:
        return {};
    case Reason::Stopped: {
        QString where = report.stoppedBy == StoppedBy::Operator
                            ? QStringLiteral("Stopped during the %1 step").arg(step)
                            : QStringLiteral("Interrupted by %1 during the %2 step")
                                  .arg(stopName(report.stoppedBy), step);
        if (report.step == Step::Write)
            where += QStringLiteral(" (%1 of %2 blocks written)")
                         .arg(report.blocksWritten)
                         .arg(report.blocksToWrite);
        return {where + QStringLiteral("; the port is closed.")};
    }
    case Reason::PortLeadsNowhere:
        return {QStringLiteral("%1 does not lead to any serial port.").arg(com),
                QStringLiteral("See the ports present with: tq-b9-cli --list-ports; or name the "
                               "device with --port DEVICE or --com %1=DEVICE.")
                    .arg(f.comPort)};
    case Reason::NoSuchDevice:
        return {f.deviceGiven ? QStringLiteral("%1: no such device.").arg(f.device)
                              : QStringLiteral("%1 (%2): no such device.").arg(f.device, com),
                QStringLiteral("Is the cable plugged in? See the ports present with: "
                               "tq-b9-cli --list-ports")};
    case Reason::PermissionDenied: {
        QStringList lines{
            QStringLiteral("Cannot open %1: permission denied.").arg(shown(f.device, f.facts))};
        lines << platform::permissionAdvice(f.device, f.facts);
        return lines;
    }
    case Reason::PortBusy: {
        QString busy = QStringLiteral("Cannot open %1: another program holds it (%2).")
                           .arg(shown(f.device, f.facts), f.systemError);
        if (!f.facts.holder.isEmpty())
            busy += QStringLiteral(" Open by: %1.").arg(f.facts.holder);
        return {busy, platform::busyAdvice()};
    }
    case Reason::PortFailed:
        return {QStringLiteral("%1 stopped working during the %2 step (%3).")
                    .arg(shown(f.device, f.facts), step, f.systemError),
                QStringLiteral("The cable was unplugged or the adapter reset: plug it in again "
                               "and run again.")};
    case Reason::PortError:
        return {QStringLiteral("%1: %2").arg(f.device, f.systemError)};
    case Reason::Silent:
        return {QStringLiteral("Nothing came back from the radio on %1 during the %2 step, not "
                               "even the echo of what was sent.")
                    .arg(f.device, step),
                QStringLiteral("Check that the cable is plugged in at both ends and that the "
                               "radio is switched on.")};
    case Reason::ShortEcho:
        return {QStringLiteral("Only %1 of the %2 bytes sent came back during the %3 step.")
                    .arg(f.received)
                    .arg(f.sent)
                    .arg(step),
                QStringLiteral("Check the cable and that the radio is switched on.")};
    case Reason::NoAnswer: {
        QStringList lines{QStringLiteral("The radio did not answer the %1 step within %2 s; only "
                                         "the echo of what was sent came back.")
                              .arg(step)
                              .arg(static_cast<double>(f.window.count()) / 1000.0),
                          QStringLiteral("Check that the radio is switched on and that the plug "
                                         "is fully in.")};
        // A run stopped by an earlier tq-b9-cli leaves no trace this one could find.
        if (report.step == Step::Query && !f.afterStopInFlashMode)
            lines << QStringLiteral("If a run on this port was stopped, the radio may still be in "
                                    "flash mode: switch it off and on, then run tq-b9-cli again.");
        return lines;
    }
    case Reason::RegionRefused:
        return {QStringLiteral("The radio answered \"RE\": it is not the model and region this "
                               "firmware is made for. Nothing was written.")};
    case Reason::WrongAnswer:
        return {QStringLiteral("The radio answered \"%1\" to the %2 step, which is not the "
                               "answer that step needs.")
                    .arg(QString::fromLatin1(replyName(f.code)), step)};
    }
    return {};
}

} // namespace

QStringList adviceFor(const RunReport& report)
{
    const Finding& f = report.finding;
    QStringList lines = why(report);
    if (f.reason != Reason::Stopped && report.step == Step::Write && report.writeStoppedAt) {
        lines << QStringLiteral("The write stopped at the block at %1 (%2 of %3 blocks written).")
                     .arg(addressText(static_cast<std::uint32_t>(*report.writeStoppedAt)))
                     .arg(report.blocksWritten)
                     .arg(report.blocksToWrite);
    }
    if (f.mayBeInFlashMode)
        lines << QStringLiteral("The radio may be left in flash mode, where it does not answer "
                                "the model query: switch it off and on, then run tq-b9-cli again "
                                "to write the whole firmware.");
    if (f.afterStopInFlashMode)
        lines << QStringLiteral("The last run on this port was stopped after the radio may have "
                                "entered flash mode, where it does not answer the model query: "
                                "switch it off and on, then run tq-b9-cli again.");
    return lines;
}

} // namespace tqb9::cli
