#include "run/session.h"

#include "link/reply.h"
#include "run/exitstatus.h"

namespace tqb9 {

QString messageFor(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Completed:
        return QStringLiteral("Completed.");
    case Outcome::RegionError:
        return QStringLiteral("Region error");
    case Outcome::Error:
        break;
    case Outcome::ConnectFailed:
        return QStringLiteral("Connect failed.");
    case Outcome::EraseFailed:
        return QStringLiteral("Erase failed.");
    case Outcome::WriteFailed:
        return QStringLiteral("Write failed.");
    case Outcome::DisconnectFailed:
        return QStringLiteral("Disconnect failed.");
    case Outcome::TestImageRefused:
        return QStringLiteral("Test image refused.");
    }
    return QStringLiteral("Error");
}

namespace {

// Each step's name in a sentence and its short key for scripts and logs, in the order of Step.
struct StepNames {
    const char* text;
    const char* key;
};
constexpr StepNames kStepNames[] = {{"model query", "query"},
                                    {"connect", "connect"},
                                    {"erase", "erase"},
                                    {"write", "write"},
                                    {"end of session", "end"}};

} // namespace

const char* stepName(Step step)
{
    return kStepNames[static_cast<int>(step)].text;
}

const char* stepKey(Step step)
{
    return kStepNames[static_cast<int>(step)].key;
}

Session::Session(QObject* parent) : QObject(parent), m_flasher(m_link, m_firmware.image())
{
    connect(&m_link, &Link::exchanged, this, &Session::exchanged);
    connect(&m_flasher, &Flasher::barValue, this, &Session::barValue);
    connect(&m_flasher, &Flasher::blockWritten, this, &Session::blockWritten);
    watchLine();
}

void Session::setLine(std::unique_ptr<SerialLine> line)
{
    m_link.setLine(std::move(line));
    watchLine();
}

void Session::watchLine()
{
    connect(&m_link.line(), &SerialLine::opened, this, &Session::lineOpened);
}

// Marks a run in progress for its whole length: the flasher reads the image while it waits.
class Session::Busy {
public:
    explicit Busy(bool& busy) : m_busy(busy) { m_busy = true; }
    ~Busy() { m_busy = false; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    bool& m_busy;
};

bool Session::setFirmware(Firmware firmware)
{
    if (m_busy)
        return false;
    m_firmware = std::move(firmware);
    m_flasher.setImage(m_firmware.image());
    return true;
}

void Session::enter(Step step)
{
    m_step = step;
    m_link.clearLastError();
    emit stepStarted(step);
}

std::optional<Outcome> Session::runQuery(int com, const QString& device)
{
    // Before the port is even opened: a radio never hears about a test image.
    if (refusesFirmware())
        return Outcome::TestImageRefused;
    const Busy busy(m_busy);
    m_link.clearAbort();
    m_link.setDevice(device, QStringLiteral("COM%1").arg(com));
    enter(Step::Query);
    const std::int16_t result = m_link.QueryModel();
    if (result == reply::OK)
        return std::nullopt;
    return result == reply::RE ? Outcome::RegionError : Outcome::Error;
}

Outcome Session::runProgramming()
{
    if (refusesFirmware())
        return Outcome::TestImageRefused;
    const Busy busy(m_busy);
    // Each step has exactly one success code; the radio's plain "OK" is a failure everywhere
    // except on a program packet.
    enter(Step::Connect);
    if (m_link.ConnectRadio() != reply::CT)
        return Outcome::ConnectFailed;
    enter(Step::Erase);
    if (m_flasher.EraseBlocks() != Flasher::kErase.success)
        return Outcome::EraseFailed;
    enter(Step::Write);
    if (m_flasher.WriteBlocks() != Flasher::kWrite.success)
        return Outcome::WriteFailed;
    enter(Step::End);
    if (m_flasher.EndSession() != Flasher::kEnd.success)
        return Outcome::DisconnectFailed;
    return Outcome::Completed;
}

Outcome Session::runStart(int com, const QString& device)
{
    if (const auto failed = runQuery(com, device))
        return *failed;
    return runProgramming();
}

int exitStatusFor(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Completed:
        return exitstatus::Completed;
    case Outcome::Error:
        return exitstatus::Error;
    case Outcome::RegionError:
        return exitstatus::RegionError;
    case Outcome::ConnectFailed:
        return exitstatus::ConnectFailed;
    case Outcome::EraseFailed:
        return exitstatus::EraseFailed;
    case Outcome::WriteFailed:
        return exitstatus::WriteFailed;
    case Outcome::DisconnectFailed:
        return exitstatus::DisconnectFailed;
    case Outcome::TestImageRefused:
        return exitstatus::TestImage;
    }
    return exitstatus::Error;
}

} // namespace tqb9
