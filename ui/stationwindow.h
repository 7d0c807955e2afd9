#pragma once

#include "run/runlog.h"
#include "run/session.h"
#include "run/watch.h"
#include "ui/porttile.h"

#include <memory>
#include <optional>
#include <QList>
#include <QMainWindow>
#include <utility>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QSettings;
class QTimer;

namespace tqb9 {

// The flashing station: one firmware, one tile per chosen port, each tile's port watched and
// written on a thread of its own (PortWatch). The window only shows what the watches say, logs
// every run, and remembers the ports, the log and the automatic switch between sessions.
class StationWindow : public QMainWindow {
    Q_OBJECT
public:
    struct Options {
        PortBindings bindings; // --com
        bool allowTestFirmware = false;
        // Where the window keeps what it remembers; the user's own settings when empty.
        QString settingsFile;
        PortWatch::Timing timing;
    };

    explicit StationWindow(Options options, QWidget* parent = nullptr);
    ~StationWindow() override;

    // What the last session chose: its ports, its log (or the default one) and the automatic
    // switch. After the firmware is settled, as automatic may start writing it at once.
    void restore();

    // The file's firmware for every run to come, unless a port is busy or the file is refused as
    // the original window refuses it.
    std::optional<FirmwareFileError> loadFirmwareFile(const QString& path);
    // A tile for "COMn" or a device, unless that port already has one; why not, otherwise.
    std::optional<QString> addPort(const QString& port);
    void removePort(PortTile* tile);

    void startAll();
    void stopAll();
    void setAutomatic(bool on);
    bool automatic() const;

    // Some tile is writing, or waiting for a radio to write.
    bool busy() const;
    bool writing() const;

    // The run log; false and a message shown when it cannot be written.
    bool setLogPath(const QString& path);
    QString logPath() const { return m_log ? m_log->path() : QString(); }
    static QString defaultLogPath();

    const QList<PortTile*>& tiles() const { return m_tiles; }
    QLabel* firmwareLabel() const { return m_firmwareName; }
    QLabel* firmwareFacts() const { return m_firmwareFacts; }
    QComboBox* portChooser() const { return m_chooser; }
    QCheckBox* automaticSwitch() const { return m_automatic; }
    QPushButton* startAllButton() const { return m_startAll; }
    QPushButton* stopAllButton() const { return m_stopAll; }
    QPushButton* firmwareButton() const { return m_firmwareButton; }
    QLabel* logLabel() const { return m_logLabel; }
    QPushButton* logOpenButton() const { return m_logOpen; }
    QCheckBox* soundSwitch() const { return m_sound; }
    // The radios completed, failed and stopped since the window opened, removed ports included.
    QLabel* totalLabel() const { return m_total; }

protected:
    // The one way the window speaks to the operator besides its tiles: a modal box.
    virtual void showMessage(const QString& text, const QString& title);
    // Asks whether to do action instead, for what could not be done; true when it is wanted.
    virtual bool offer(const QString& text, const QString& action);
    // The sound of a radio's end, when the switch is on: one beep for a completed radio, a quick
    // run of them for a failure, so the two tell apart from across the room.
    virtual void chime(int beeps);
    // Refused while any port writes, as the original window refuses it during its run.
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // The tiles flow into as many columns as the window's width has room for.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showFirmware();
    bool refusesFirmware() const { return !m_firmware.mayBeWritten(m_options.allowTestFirmware); }
    // Opens the run log in the program the system has for it, or offers its folder.
    void openLog();
    void fillChooser();
    void startTile(PortTile* tile);
    // False, with the reason shown, when the firmware may not be written.
    bool mayWrite();
    void logRun(const RunReport& report);
    void countRun(const RunReport& report);
    void showTotal();
    void scheduleRefresh();
    void refresh();
    void placeTiles();
    int columnsThatFit() const;
    void remember();

    Options m_options;
    std::unique_ptr<QSettings> m_settings;
    Firmware m_firmware;
    std::unique_ptr<RunLog> m_log; // the log being written, once one could be opened
    QList<PortTile*> m_tiles;
    QTimer* m_refresh = nullptr;
    bool m_restoring = false;

    QLabel* m_firmwareName = nullptr;
    QLabel* m_firmwareFacts = nullptr;
    QPushButton* m_firmwareButton = nullptr;
    QComboBox* m_chooser = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_startAll = nullptr;
    QPushButton* m_stopAll = nullptr;
    QCheckBox* m_automatic = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_tileArea = nullptr;
    int m_columns = 1;
    QGridLayout* m_grid = nullptr;
    QLabel* m_logLabel = nullptr;
    QPushButton* m_logChange = nullptr;
    QPushButton* m_logOpen = nullptr;
    QCheckBox* m_sound = nullptr;
    QLabel* m_total = nullptr;
    PortTile::Tally m_tally;
};

} // namespace tqb9
