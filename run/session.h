#pragma once

#include "flash/flasher.h"
#include "image/firmware.h"
#include "link/link.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <QObject>
#include <QString>

namespace tqb9 {

// The steps of a Start run, in order.
enum class Step { Query, Connect, Erase, Write, End };

// The one message a Start run ends with.
enum class Outcome {
    Completed,
    RegionError,
    Error,
    ConnectFailed,
    EraseFailed,
    WriteFailed,
    DisconnectFailed,
    // The image is a test image and writing one was not allowed: nothing was sent.
    TestImageRefused
};

// The one message a Start run ends with, as the window shows it: "Completed.", "Write failed.";
// for a refused test image only a label for logs, which each front end words for itself.
QString messageFor(Outcome outcome);
// "model query", "end of session": in sentences. "query", "end": keys for scripts and logs.
const char* stepName(Step step);
const char* stepKey(Step step);

// The steps of a Start run over the link and the flash operations, writing the firmware it is
// given. A Run is the shell around one of these: it sets what it writes and where, and watches
// what it reports, but never reaches into its parts.
class Session : public QObject {
    Q_OBJECT
public:
    explicit Session(QObject* parent = nullptr);

    // What the runs to come write. Refused while a run is in progress: the flasher reads the
    // image while it waits.
    bool setFirmware(Firmware firmware);
    const Firmware& firmware() const { return m_firmware; }

    // A test image is written only when this was set; a Start run refuses it before anything
    // reaches the port, whichever front end asked.
    void setAllowTestFirmware(bool allow) { m_allowTestFirmware = allow; }
    bool refusesFirmware() const { return !m_firmware.mayBeWritten(m_allowTestFirmware); }

    // Between runs: a test's scripted line and virtual clock, or a shorter reply window.
    void setLine(std::unique_ptr<SerialLine> line);
    void setReplyWindow(std::unique_ptr<ReplyWindow> window)
    {
        m_link.setWindow(std::move(window));
    }
    std::chrono::milliseconds replyWindowLength() { return m_link.window().length(); }
    bool portOpen() const { return m_link.line().isOpen(); }

    // The query step, which starts a run on COM number com, opening device: every step of the
    // run opens that device whatever the menu says meanwhile. nullopt when the radio agreed,
    // otherwise the failure to report.
    std::optional<Outcome> runQuery(int com, const QString& device);
    // The programming sequence that follows an agreed query: connect, erase, write, end. Stops
    // at the first failed step.
    Outcome runProgramming();
    // Both, as one Start press runs them.
    Outcome runStart(int com, const QString& device);
    // Ends the current wait, and every later one, as a failure (Ctrl-C, the program quitting).
    void abort(const QString& reason) { m_link.abort(reason); }

    // The step running now, or the last one that ran.
    Step currentStep() const { return m_step; }
    // The device the current or last run opened.
    QString device() const { return m_link.device(); }
    // What went wrong in the last failed step, for a diagnostic.
    QString lastError() const { return m_link.lastError(); }
    QSerialPort::SerialPortError lastErrorKind() const { return m_link.lastErrorKind(); }
    // The first address of the block a failed write stopped at.
    std::optional<long> writeStoppedAt() const { return m_flasher.writeStoppedAt(); }

signals:
    void stepStarted(tqb9::Step step);
    // The port was opened; lowLatency says how the system's latency setting went.
    void lineOpened(const QString& device, const QString& lowLatency);
    // Every text command and packet attempt, with the reply as recognised.
    void exchanged(const QByteArray& sent, const QByteArray& received, std::int16_t code);
    // The first row of each block, skipped ones included, as the write reaches it.
    void barValue(int row);
    // A program packet was acknowledged.
    void blockWritten(int row);

private:
    void enter(Step step);
    void watchLine();
    class Busy;

    Firmware m_firmware;
    Link m_link;
    Flasher m_flasher;
    Step m_step = Step::Query;
    bool m_allowTestFirmware = false;
    bool m_busy = false;
};

} // namespace tqb9
