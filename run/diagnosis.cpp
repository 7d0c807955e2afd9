#include "run/diagnosis.h"

namespace tqb9 {

Finding classify(const Failure& f, const DeviceFacts& facts)
{
    using Reason = Finding::Reason;
    Finding finding;
    finding.comPort = f.port;
    finding.device = f.device;
    finding.deviceGiven = f.deviceGiven;
    finding.facts = facts;
    finding.systemError = f.error;
    finding.sent = f.sent;
    finding.received = f.received;
    finding.code = f.code;
    finding.window = f.interval;
    finding.mayBeInFlashMode =
        f.step == Step::Erase || f.step == Step::Write || f.step == Step::End;
    if (f.outcome == Outcome::Completed)
        finding.reason = Reason::None;
    else if (f.outcome == Outcome::TestImageRefused)
        finding.reason = Reason::TestImage;
    else if (f.device.isEmpty())
        finding.reason = Reason::PortLeadsNowhere;
    else if (f.errorKind != QSerialPort::NoError) {
        if (f.errorKind == QSerialPort::DeviceNotFoundError || !facts.exists)
            finding.reason = Reason::NoSuchDevice;
        else if (!facts.accessible)
            finding.reason = Reason::PermissionDenied;
        // QSerialPort says a device another program holds (busy, or locked by it) is a
        // permission error; the device's own permissions were ruled out above.
        else if (f.errorKind == QSerialPort::PermissionError ||
                 f.errorKind == QSerialPort::OpenError)
            finding.reason = Reason::PortBusy;
        else if (f.errorKind == QSerialPort::ResourceError)
            finding.reason = Reason::PortFailed;
        else
            finding.reason = Reason::PortError;
    } else if (!f.exchanged || f.code == reply::None) {
        if (f.received == 0)
            finding.reason = Reason::Silent;
        else if (f.received < f.sent)
            finding.reason = Reason::ShortEcho;
        else
            finding.reason = Reason::NoAnswer;
    } else if (f.outcome == Outcome::RegionError) {
        finding.reason = Reason::RegionRefused;
    } else {
        finding.reason = Reason::WrongAnswer;
    }
    return finding;
}

} // namespace tqb9
