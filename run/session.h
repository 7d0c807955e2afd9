#pragma once

#include "flash/flasher.h"
#include "image/firmware.h"
#include "image/firmwaretable.h"
#include "image/memoryimage.h"
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

// The one message a Start run ends with, as the window shows it: "Completed.", "Write failed.".
QString messageFor(Outcome outcome);
// "model query", "end of session": in sentences. "query", "end": keys for scripts and logs.
const char* stepName(Step step);
const char* stepKey(Step step);

// Everything a programming run needs that is not a widget: the image and its firmware table, the
// link and the flash operations, and the steps of a Start run over them. The window and the
// command line's runs are thin shells around one of these; they set what it writes and where,
// and watch what it reports, but never reach into its parts.
class Session : public QObject {
    Q_OBJECT
public:
    explicit Session(QObject* parent = nullptr);

    // Start-up: image cleared and filled from the built-in firmware.
    void Form_Load();

    // Replaces the firmware with the file's once the strict reader has accepted all of it and it
    // would not leave the radio blank (allowBlankBlocks lets it leave some erase blocks blank).
    // Otherwise, and always while a run is in progress, the firmware stays as it was and the
    // error says why.
    std::optional<FirmwareFileError> loadFirmwareFile(const QString& path,
                                                      bool allowBlankBlocks = false);
    // Replaces the image with one already loaded and checked (a station loads it once for all its
    // runs). Refused while a run is in progress, like a file.
    bool setImage(const MemoryImage& image);
    const MemoryImage& image() const { return m_image; }
    const FirmwareInfo& firmwareInfo() const { return m_firmwareInfo; }
    // firmwareInfo() with its figures, the built-in firmware's included.
    FirmwareInfo describeFirmware() const;

    // A test image is written only when this was set; a Start run refuses it before anything
    // reaches the port, whichever front end asked.
    void setAllowTestFirmware(bool allow) { m_allowTestFirmware = allow; }
    // Looks at the image itself, not at where it came from: whatever put the test image's bytes
    // there, they are what a run would send.
    bool refusesFirmware() const { return !m_allowTestFirmware && isTestImage(m_image); }

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

    MemoryImage m_image;
    FirmwareTable m_table;
    Link m_link;
    Flasher m_flasher;
    Step m_step = Step::Query;
    FirmwareInfo m_firmwareInfo;
    bool m_allowTestFirmware = false;
    bool m_busy = false;
};

} // namespace tqb9
