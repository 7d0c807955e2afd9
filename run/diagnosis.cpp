#include "run/diagnosis.h"

#include "image/firmware.h"

namespace tqb9 {
namespace {

// The device as the user knows it: Windows' friendly name usually carries the number itself.
QString shown(const QString& device, const DeviceFacts& facts)
{
    if (facts.name.isEmpty())
        return device;
    if (facts.name.contains(device, Qt::CaseInsensitive))
        return facts.name;
    return QStringLiteral("%1 (%2)").arg(device, facts.name);
}

QStringList openFailure(const Failure& f, const DeviceFacts& facts)
{
    const QString com = QStringLiteral("COM%1").arg(f.port);
    if (f.device.isEmpty()) {
        return {QStringLiteral("%1 does not lead to any serial port.").arg(com),
                QStringLiteral("See the ports present with: tq-b9-cli --list-ports; or name the "
                               "device with --port DEVICE or --com %1=DEVICE.")
                    .arg(f.port)};
    }
    if (f.errorKind == QSerialPort::DeviceNotFoundError || !facts.exists) {
        return {QStringLiteral("%1 (%2): no such device.").arg(f.device, com),
                QStringLiteral("Is the cable plugged in? See the ports present with: "
                               "tq-b9-cli --list-ports")};
    }
    if (!facts.accessible) {
        QStringList lines{
            QStringLiteral("Cannot open %1: permission denied.").arg(shown(f.device, facts))};
        lines << platform::permissionAdvice(f.device, facts);
        return lines;
    }
    // QSerialPort says a device another program holds (busy, or locked by it) is a permission
    // error; the device's own permissions were ruled out above.
    if (f.errorKind == QSerialPort::PermissionError || f.errorKind == QSerialPort::OpenError) {
        QString busy = QStringLiteral("Cannot open %1: another program holds it (%2).")
                           .arg(shown(f.device, facts), f.error);
        if (!facts.holder.isEmpty())
            busy += QStringLiteral(" Open by: %1.").arg(facts.holder);
        return {busy, platform::busyAdvice()};
    }
    if (f.errorKind == QSerialPort::ResourceError) {
        return {QStringLiteral("%1 stopped working during the %2 step (%3).")
                    .arg(shown(f.device, facts), QString::fromLatin1(stepName(f.step)), f.error),
                QStringLiteral("The cable was unplugged or the adapter reset: plug it in again "
                               "and run again.")};
    }
    return {QStringLiteral("%1: %2").arg(f.device, f.error)};
}

QStringList silence(const Failure& f)
{
    const QString step = QString::fromLatin1(stepName(f.step));
    const double seconds = static_cast<double>(f.interval.count()) / 1000.0;
    if (f.received == 0) {
        return {QStringLiteral("Nothing came back from the radio on %1 during the %2 step, not "
                               "even the echo of what was sent.")
                    .arg(f.device, step),
                QStringLiteral("Check that the cable is plugged in at both ends and that the "
                               "radio is switched on.")};
    }
    if (f.received < f.sent) {
        return {QStringLiteral("Only %1 of the %2 bytes sent came back during the %3 step.")
                    .arg(f.received)
                    .arg(f.sent)
                    .arg(step),
                QStringLiteral("Check the cable and that the radio is switched on.")};
    }
    return {QStringLiteral("The radio did not answer the %1 step within %2 s; only the echo of "
                           "what was sent came back.")
                .arg(step)
                .arg(seconds),
            QStringLiteral("Check that the radio is switched on and that the plug is fully in.")};
}

} // namespace

QStringList diagnose(const Failure& f, const DeviceFacts& facts)
{
    if (f.outcome == Outcome::Completed)
        return {};
    QStringList lines;
    if (f.errorKind != QSerialPort::NoError || f.device.isEmpty())
        lines = openFailure(f, facts);
    else if (!f.exchanged || f.code == reply::None)
        lines = silence(f);
    else if (f.outcome == Outcome::RegionError)
        lines << QStringLiteral("The radio answered \"RE\": it is not the model and region this "
                                "firmware is made for. Nothing was written.");
    else
        lines << QStringLiteral("The radio answered \"%1\" to the %2 step, which is not the "
                                "answer that step needs.")
                     .arg(QString::fromLatin1(replyName(f.code)),
                          QString::fromLatin1(stepName(f.step)));

    if (f.step == Step::Write && f.blockAddress) {
        lines << QStringLiteral("The write stopped at the block at %1 (%2 of %3 blocks written).")
                     .arg(addressText(static_cast<std::uint32_t>(*f.blockAddress)))
                     .arg(f.blocksDone)
                     .arg(f.blocksTotal);
    }
    if (f.step == Step::Erase || f.step == Step::Write || f.step == Step::End)
        lines << QStringLiteral("The radio may be left in flash mode; run tq-b9-cli again to "
                                "write the whole firmware.");
    return lines;
}

} // namespace tqb9
