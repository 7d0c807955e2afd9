#pragma once

#include "link/portmap.h"
#include "run/run.h"
#include "ui/portmenu.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <QMainWindow>
#include <QMap>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace tqb9 {

// The program's one window. Start runs the engine's Run on the port the COM menu has checked,
// its procedures each running their part of it; the bar follows the block write, and the one
// message the run ends with is shown. No protocol logic lives here.
class frmMain : public QMainWindow {
    Q_OBJECT
public:
    // The window is drawn in twips at 15 to the pixel, the unit its layout was made in.
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kClientWidth = 2400 / kTwipsPerPixel;
    static constexpr int kClientHeight = 1665 / kTwipsPerPixel;

    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Start-up: COM1 checked and the built-in firmware loaded. Runs before the window is shown.
    void Form_Load();
    // The file's firmware in place of the one held, shown in the caption and label; on an error
    // the window keeps the firmware it had. Refused while a run is in progress.
    std::optional<FirmwareFileError> loadFirmwareFile(const QString& path);
    // The firmware Start writes; another is refused while a run is in progress.
    const Firmware& firmware() const { return m_firmware; }
    bool setFirmware(Firmware firmware);
    // --allow-test-firmware: Start writes the test image too.
    void setAllowTestFirmware(bool allow) { m_allowTestFirmware = allow; }
    // A shorter reply window than the radio's 5000 ms, for the runs to come.
    void setReplyWindow(std::chrono::milliseconds window) { m_replyWindow = window; }

    std::int16_t GetCOM();
    void mnuCom_Click(int index);
    void cmdZumil_Click();
    void cmdMacro_Click(std::int16_t index);

    // True from the moment Start is pressed until its message box has been closed.
    bool running() const { return m_running; }
    // The port of the run going, or of the last one, is open.
    bool portOpen() const { return m_run && m_run->portOpen(); }
    // The last run's report, once its box has been shown.
    const std::optional<RunReport>& lastReport() const { return m_lastReport; }
    // Which device each COM number opens: the system's ports, and any bound by --com.
    PortMap& ports() { return m_ports; }
    PortMenu& menu() { return m_menu; }

    QProgressBar* bar() const { return m_bar; }
    QPushButton* cmdZumil() const { return m_cmdZumil; }
    QLabel* Label1() const { return m_label1; }
    QFrame* Line1() const { return m_line1; }
    QMenu* mnuSetting() const { return m_mnuSetting; }
    QMenu* mnuPort() const { return m_mnuPort; }
    QAction* mnuCom(int index) const;
    // The item for a port above 16 (Windows' COM17 and up), present since the menu last opened.
    QAction* mnuComAbove(int number) const { return m_mnuAbove.value(number); }
    // After COM16 and a separator, an item for each of these ports and for the one checked, if it
    // is above 16; the menu does this each time it opens, with the ports present.
    void showPortsAbove(QList<int> numbers);

protected:
    // The one way the window speaks to the operator: a modal box with an OK button, the
    // exclamation icon for style 48 and none for style 0, and informative, the why and what next,
    // below the text when there is one. Returns when the box has been closed.
    virtual void showMessage(const QString& text, int style, const QString& title,
                             const QString& informative = {});
    // Refused while Start runs: a radio left between erase and end of session does not start.
    // The window says so without a box of its own, since a run has exactly one.
    void closeEvent(QCloseEvent* event) override;
    // Shows why over the window for a few seconds; the run goes on underneath.
    virtual void showCloseRefused(const QString& why);
    // A firmware file dropped on the window is loaded, unless a run is in progress.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Enter presses the focused Start button, as Space does, the way a focused button behaves on
    // the system the window comes from.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A completed run gets the plain box titled "OK", any failure the exclamation box "NG".
    void report(const RunReport& report);
    void report(Outcome outcome, const QString& informative = {});
    void mirrorChecks();
    void describePorts();
    // Caption and label name the firmware held; a test image says so in both.
    void showFirmware();

    Firmware m_firmware;
    bool m_allowTestFirmware = false;
    std::chrono::milliseconds m_replyWindow{0};
    std::unique_ptr<Run> m_run;
    std::optional<RunReport> m_lastReport;
    PortMenu m_menu;
    PortMap m_ports;
    bool m_running = false;

    QProgressBar* m_bar = nullptr;
    QPushButton* m_cmdZumil = nullptr;
    QLabel* m_label1 = nullptr;
    QFrame* m_line1 = nullptr;
    QMenu* m_mnuSetting = nullptr;
    QMenu* m_mnuPort = nullptr;
    std::array<QAction*, PortMenu::kItems + 1> m_mnuCom{}; // index 0 unused, like the menu
    QAction* m_aboveSeparator = nullptr;
    QMap<int, QAction*> m_mnuAbove;
};

// The faces the window's big texts are drawn in, best first: the one the window was designed
// with, the faces that stand in for it on other systems, then faces most desktops have.
QStringList preferredFamilies();

// The first of preferredFamilies() the system has, at pixelSize or smaller, so that text fits
// inside a box of the given size.
QFont fittingFont(int pixelSize, const QString& text, QSize box);

} // namespace tqb9
