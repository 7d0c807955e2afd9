// The window's side of tq-b9-perf: frmMain as tq-b9 builds it, on the offscreen platform so no
// display is needed, with Start pressed once against the device given. Run as a child process so
// its peak memory is the window's alone.
#include "bench/perf.h"
#include "ui/frmmain.h"

#include <cstdio>
#include <QApplication>

namespace tqb9::perf {
namespace {

// The message box is the only thing that would wait for a person; the text is all we need.
class UnattendedWindow : public frmMain {
public:
    QString message;

protected:
    void showMessage(const QString& text, int, const QString&) override { message = text; }
};

} // namespace

int windowRun(int argc, char** argv, const char* device)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UnattendedWindow window;
    window.ports().bind(1, QString::fromLocal8Bit(device));
    window.Form_Load();
    window.session().setAllowTestFirmware(true);
    window.show();
    window.cmdZumil_Click();
    std::printf("%s\n", qPrintable(window.message));
    return window.message == QLatin1String("Completed.") ? 0 : 1;
}

} // namespace tqb9::perf
