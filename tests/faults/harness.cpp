#include "faults/harness.h"

#include "support/scriptedline.h"

#include <map>
#include <QEventLoop>
#include <QTimer>

namespace tqb9::faults {
namespace {

constexpr long kTopOfWrite = 0xFF000;

// The kernel hands bytes from one end of a pseudo-terminal to the other within a few
// milliseconds; the margin is for a loaded machine and the sanitizer build.
constexpr std::chrono::milliseconds kSettle{40};

std::uint8_t pattern(long address)
{
    return static_cast<std::uint8_t>((address * 7) ^ (address >> 8));
}

} // namespace

Bench::Bench(Line line, std::chrono::milliseconds ptyWindow) : m_line(line)
{
    // The matrix counts the test image's blocks; a build with other firmware loads it as a file.
    Firmware firmware = Firmware::builtIn();
    if (!firmware.isTestImage()) {
        auto loaded = Firmware::fromFile(QStringLiteral(TQB9_SOURCE_DIR "/image/firmware.s19"));
        if (!std::holds_alternative<Firmware>(loaded)) {
            m_problem = QStringLiteral("image/firmware.s19 was refused");
            return;
        }
        firmware = std::get<Firmware>(std::move(loaded));
    }
    session.setFirmware(firmware);
    // The simulated radio is where the test image belongs.
    session.setAllowTestFirmware(true);
    if (line == Line::Scripted) {
        session.setLine(std::make_unique<testing::ScriptedLine>(clock, sim));
        session.setReplyWindow(std::make_unique<testing::VirtualWindow>(clock));
        m_device = testing::ScriptedLine::kDevice;
    } else {
        if (!sim.start(&m_problem))
            return;
        m_device = sim.devicePath();
        session.setReplyWindow(std::make_unique<PreciseWindow>(ptyWindow));
    }
    QObject::connect(&session, &Session::stepStarted, &session, [this](Step step) {
        steps += (steps.empty() ? "" : ", ") + std::string(stepName(step));
    });
}

void Bench::hangUpSoon()
{
    if (m_line == Line::Scripted)
        clock.schedule(std::chrono::milliseconds{0}, [this] { sim.hangUp(); });
    else
        QTimer::singleShot(0, &sim, &sim::SimRadio::hangUp);
}

void Bench::settle()
{
    if (m_line == Line::Scripted) {
        clock.runAll();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(kSettle, &loop, &QEventLoop::quit);
    loop.exec();
}

std::string word(const sim::Request& request)
{
    if (request.command == sim::Command::Program)
        return QString::number(request.address, 16).toUpper().toStdString();
    return sim::commandName(request.command).toStdString();
}

MemoryImage threeBlocks()
{
    MemoryImage image;
    image.ClearMemory();
    for (const long block : {0xC0000L, 0xE0000L, 0xFEC00L, 0xFF000L}) {
        for (long address = block; address < block + 1024; ++address)
            image.setMemory(address >> 4, address & 0xF, pattern(address));
        for (long row = block >> 4; row < (block + 1024) >> 4; ++row)
            image.markRowUsed(row);
    }
    return image;
}

std::string received(const sim::SimRadio& sim)
{
    std::string list;
    const auto& log = sim.log();
    for (qsizetype i = 0; i < log.size();) {
        const std::string current = word(log[i].request);
        qsizetype repeats = 1;
        while (i + repeats < log.size() && word(log[i + repeats].request) == current)
            ++repeats;
        list += (list.empty() ? "" : " ") + current;
        if (repeats > 1)
            list += "*" + std::to_string(repeats);
        i += repeats;
    }
    return list;
}

int stepsEntered(Outcome outcome)
{
    static const std::map<Outcome, int> kFailedAt{
        {Outcome::TestImageRefused, 0}, {Outcome::RegionError, 1}, {Outcome::Error, 1},
        {Outcome::ConnectFailed, 2},    {Outcome::EraseFailed, 3}, {Outcome::WriteFailed, 4}};
    const auto failed = kFailedAt.find(outcome);
    // A run that got to the end of session entered every step, whatever the radio said there.
    return failed == kFailedAt.end() ? 5 : failed->second;
}

std::string stepsUpTo(Outcome outcome)
{
    std::string steps;
    for (int step = 0; step < stepsEntered(outcome); ++step)
        steps += (steps.empty() ? "" : ", ") + std::string(stepName(static_cast<Step>(step)));
    return steps;
}

std::string text(Outcome outcome)
{
    return messageFor(outcome).toStdString();
}

bool flashMatchesImage(const sim::SimRadio& sim, const MemoryImage& image)
{
    const QByteArray& flash = sim.flash();
    for (long address = sim::kFlashStart; address < kTopOfWrite; ++address) {
        if (static_cast<std::uint8_t>(flash[static_cast<qsizetype>(address - sim::kFlashStart)]) !=
            image.byteAt(address))
            return false;
    }
    return true;
}

} // namespace tqb9::faults
