#pragma once

#include "flash/flasher.h"
#include "image/firmware.h"
#include "image/firmwaretable.h"
#include "image/memoryimage.h"
#include "link/link.h"
#include "link/portmap.h"
#include "link/portmenu.h"

#include <cstdint>
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
// port menu's state, the link and the flash operations. The window and the command line front
// end are thin shells around one of these.
class Session : public QObject {
    Q_OBJECT
public:
    explicit Session(QObject* parent = nullptr);

    // Start-up: COM1 checked, image cleared and filled from the built-in firmware.
    void Form_Load();

    // Replaces the firmware with the file's once the strict reader has accepted all of it and it
    // would not leave the radio blank (allowBlankBlocks lets it leave some erase blocks blank).
    // Otherwise, and always while a run is in progress, the firmware stays as it was and the
    // error says why.
    std::optional<FirmwareFileError> loadFirmwareFile(const QString& path,
                                                      bool allowBlankBlocks = false);
    const FirmwareInfo& firmwareInfo() const { return m_firmwareInfo; }
    // firmwareInfo() with its figures, the built-in firmware's included.
    FirmwareInfo describeFirmware() const;

    // A test image is written only when this was set; a Start run refuses it before anything
    // reaches the port, whichever front end asked.
    void setAllowTestFirmware(bool allow) { m_allowTestFirmware = allow; }
    // Looks at the image itself, not at where it came from: whatever put the test image's bytes
    // there, they are what a run would send.
    bool refusesFirmware() const { return !m_allowTestFirmware && isTestImage(m_image); }

    MemoryImage& image() { return m_image; }
    FirmwareTable& firmware() { return m_table; }
    PortMenu& menu() { return m_menu; }
    PortMap& ports() { return m_ports; }
    Link& link() { return m_link; }
    const Link& link() const { return m_link; }
    Flasher& flasher() { return m_flasher; }

    // The query step, which starts a run: the checked COM number is resolved to its device here,
    // once, and every step of the run opens that device whatever the menu says meanwhile.
    // nullopt when the radio agreed, otherwise the failure to report.
    std::optional<Outcome> runQuery();
    // The programming sequence that follows an agreed query: connect, erase, write, end. Stops
    // at the first failed step.
    Outcome runProgramming();
    // Both, as one Start press runs them.
    Outcome runStart();

    // The step running now, or the last one that ran.
    Step currentStep() const { return m_step; }

signals:
    void stepStarted(tqb9::Step step);

private:
    void enter(Step step);
    class Busy;

    MemoryImage m_image;
    FirmwareTable m_table;
    PortMenu m_menu;
    PortMap m_ports;
    Link m_link;
    Flasher m_flasher;
    Step m_step = Step::Query;
    FirmwareInfo m_firmwareInfo;
    bool m_allowTestFirmware = false;
    bool m_busy = false;
};

} // namespace tqb9
