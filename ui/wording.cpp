#include "ui/wording.h"

#include "image/firmware.h"

namespace tqb9 {

QString windowMessage(Outcome outcome)
{
    if (outcome == Outcome::TestImageRefused)
        return QStringLiteral(
            "This is the test image, not firmware for a radio, so nothing was "
            "written. Drop the radio's firmware file (S-record or Intel HEX) on "
            "this window or start it with --firmware FILE; to write the test image "
            "into a simulated radio, start it with --allow-test-firmware.");
    return messageFor(outcome);
}

QStringList windowAdvice(const RunReport& report)
{
    using Reason = Finding::Reason;
    const Finding& f = report.finding;
    const QString step = QString::fromLatin1(stepName(report.step));
    const QString device = f.facts.name.isEmpty() ? f.device : f.facts.name;
    QStringList lines;
    switch (f.reason) {
    case Reason::None:
    case Reason::TestImage:
        return {};
    case Reason::Stopped:
        lines << (report.stoppedBy == StoppedBy::Operator
                      ? QStringLiteral("Stopped during the %1 step; the port is closed.").arg(step)
                      : QStringLiteral("Interrupted by %1 during the %2 step; the port is closed.")
                            .arg(stopName(report.stoppedBy), step));
        break;
    case Reason::PortLeadsNowhere:
        lines << QStringLiteral("COM%1 does not lead to any serial port.").arg(f.comPort)
              << QStringLiteral("Plug the cable in, or choose the port it is on.");
        break;
    case Reason::NoSuchDevice:
        lines << QStringLiteral("%1: no such device.").arg(device)
              << QStringLiteral("Is the cable plugged in?");
        break;
    case Reason::PermissionDenied:
        lines << QStringLiteral("Cannot open %1: permission denied.").arg(device);
        if (!f.facts.group.isEmpty() && f.facts.group != QLatin1String("root"))
            lines << QStringLiteral("Your account needs the group \"%1\"; after joining it, log "
                                    "out and in again.")
                         .arg(f.facts.group);
        else
            lines << QStringLiteral("Ask an administrator for access to it.");
        break;
    case Reason::PortBusy:
        lines << QStringLiteral("Cannot open %1: another program holds it%2.")
                     .arg(device, f.facts.holder.isEmpty()
                                      ? QString()
                                      : QStringLiteral(" (%1)").arg(f.facts.holder))
              << QStringLiteral("Close that program, then press Start again.");
        break;
    case Reason::PortFailed:
        lines << QStringLiteral("%1 stopped working during the %2 step.").arg(device, step)
              << QStringLiteral("The cable was unplugged or the adapter reset: plug it in again.");
        break;
    case Reason::PortError:
        lines << QStringLiteral("%1: %2").arg(device, f.systemError);
        break;
    case Reason::Silent:
        lines << QStringLiteral("Nothing came back from the radio during the %1 step.").arg(step)
              << QStringLiteral("Check that the cable is plugged in at both ends and that the "
                                "radio is switched on.");
        break;
    case Reason::ShortEcho:
        lines
            << QStringLiteral("Only part of what was sent came back during the %1 step.").arg(step)
            << QStringLiteral("Check the cable and that the radio is switched on.");
        break;
    case Reason::NoAnswer:
        lines << QStringLiteral("The radio did not answer the %1 step.").arg(step)
              << QStringLiteral("Check that the radio is switched on and that the plug is fully "
                                "in.");
        break;
    case Reason::RegionRefused:
        lines << QStringLiteral("The radio is not the model and region this firmware is made "
                                "for. Nothing was written.");
        break;
    case Reason::WrongAnswer:
        lines << QStringLiteral("The radio answered \"%1\" to the %2 step.")
                     .arg(QString::fromLatin1(replyName(f.code)), step);
        break;
    }
    if (f.reason != Reason::Stopped && report.step == Step::Write && report.writeStoppedAt)
        lines << QStringLiteral("The write stopped at the block at %1.")
                     .arg(addressText(static_cast<std::uint32_t>(*report.writeStoppedAt)));
    // In flash mode the radio does not answer the model query, so Start alone cannot wake it.
    const QString offAndOn =
        QStringLiteral("Switch the radio off and on, then press Start again to write the whole "
                       "firmware.");
    if (f.mayBeInFlashMode)
        lines << QStringLiteral("The radio may be left in flash mode.") << offAndOn;
    else if (f.afterStopInFlashMode)
        lines << QStringLiteral("The run stopped before this one may have left the radio in "
                                "flash mode.")
              << offAndOn;
    return lines;
}

QString closeRefusedText()
{
    return QStringLiteral(
        "A radio is being written: the window can be closed once the run has ended. "
        "Closing it now could leave the radio half written.");
}

} // namespace tqb9
