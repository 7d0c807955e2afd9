#include "dropping.h"
#include "sim/simradio.h"
#include "ui/commandline.h"
#include "ui/frmmain.h"
#include "ui/wording.h"

#include <chrono>
#include <functional>
#include <QAction>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace tqb9;

namespace {

// The window with its message box replaced by a recorder, so no test blocks on a modal box. What
// the window looks like while the "box" is open is recorded with it.
class RecordingWindow : public frmMain {
public:
    struct Shown {
        QString text;
        int style = -1;
        QString title;
        QString informative;
        bool barVisible = false;
        int barValue = 0;
        bool startEnabled = true;
        bool running = false;
    };

    QList<Shown> shown;
    // Runs while the box would be open.
    std::function<void()> whileShown;
    QStringList closeRefusals;

protected:
    void showMessage(const QString& text, int style, const QString& title,
                     const QString& informative) override
    {
        shown.append({text, style, title, informative, bar()->isVisible(), bar()->value(),
                      cmdZumil()->isEnabled(), running()});
        if (whileShown)
            whileShown();
    }
    void showCloseRefused(const QString& why) override { closeRefusals << why; }
};

QList<int> checkedItems(frmMain& window)
{
    QList<int> checked;
    for (int index = 1; index <= 16; ++index) {
        if (window.mnuCom(index)->isChecked())
            checked.append(index);
    }
    return checked;
}

// Long enough for a pseudo-terminal round trip, short enough that a silent radio costs little.
constexpr std::chrono::milliseconds kShortWindow{200};

// Two 1 KB blocks, the first and the last the write reaches, so a run is quick and the bar still
// travels its whole way.
constexpr long kFirstBlock = 0xC000;
constexpr long kLastBlock = 0xFEC0;

void useTwoBlockFirmware(MemoryImage& image)
{
    image.ClearMemory();
    for (const long row : {kFirstBlock, kLastBlock}) {
        for (int column = 0; column < MemoryImage::kColumns; ++column)
            image.setMemory(row, column, static_cast<std::int16_t>((row + column) & 0x7F));
        image.markRowUsed(row);
    }
}

// A shown window on COM1 wired to a simulated radio, loaded with the two-block firmware.
struct Rig {
    sim::SimRadio radio;
    RecordingWindow window;

    bool start()
    {
        QString error;
        if (!radio.start(&error)) {
            qWarning("simulated radio: %s", qPrintable(error));
            return false;
        }
        window.ports().bind(1, radio.devicePath());
        window.Form_Load();
        MemoryImage image;
        useTwoBlockFirmware(image);
        window.setFirmware(Firmware::fromImage(image));
        window.setReplyWindow(kShortWindow);
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
};

} // namespace

class tst_frmmain : public QObject {
    Q_OBJECT

private slots:
    void startUp();
    void geometry();
    void textsFit();
    void fittingFontShrinksOnlyWhenNeeded();
    void menuTree();
    void menuMirrorsEngine();
    void statusTipsNameTheDevice();
    void portsAboveSixteenAfterASeparator();
    void comBindings();

    void outcomes_data();
    void outcomes();
    void menuChoiceTakesEffectAtNextStart();
    void closeRefusedWhileRunning();
    void queryUnansweredAfterAStopSaysSwitchOffAndOn();

    void testImageRefusedWithOneBox();
    void droppedFileIsLoadedOrRefused();
};

void tst_frmmain::startUp()
{
    RecordingWindow window;
    // Created with two marks; the start-up step leaves one.
    QCOMPARE(checkedItems(window), (QList<int>{1, 3}));
    window.Form_Load();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The repository's build carries the test image, and says so before Start is pressed.
    if (window.firmware().isTestImage()) {
        QCOMPARE(window.windowTitle(), QStringLiteral("TQ-B9 ver E5.000 (test image)"));
        QCOMPARE(window.Label1()->text(), QStringLiteral("TEST IMAGE"));
    } else {
        QCOMPARE(window.windowTitle(), QStringLiteral("TQ-B9 ver ") + builtInFirmwareVersion());
    }
    QCOMPARE(checkedItems(window), QList<int>{1});
    QCOMPARE(window.GetCOM(), 1);
    QVERIFY(!window.bar()->isVisible());
    QVERIFY(window.cmdZumil()->isEnabled());
    QVERIFY(!window.running());
    QVERIFY(window.shown.isEmpty());

    // Only Start takes the focus; everything else on the client area is for looking at.
    QList<QWidget*> reachable;
    for (QWidget* child : window.centralWidget()->findChildren<QWidget*>()) {
        if (child->isVisible() && child->isEnabled() && child->focusPolicy() != Qt::NoFocus)
            reachable.append(child);
    }
    QCOMPARE(reachable, QList<QWidget*>{window.cmdZumil()});
}

void tst_frmmain::geometry()
{
    frmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget* client = window.centralWidget();
    QCOMPARE(client->size(), QSize(160, 111));
    // The menu bar sits above the client area, not on it.
    QCOMPARE(client->y(), window.menuBar()->height());

    // Creation order is stacking order; twips at 15 to the pixel.
    const QList<std::pair<QString, QRect>> expected{{"bar", {8, 88, 145, 17}},
                                                    {"cmdZumil", {32, 48, 97, 33}},
                                                    {"Label1", {40, 16, 97, 25}},
                                                    {"Line1", {8, 0, 145, 1}}};
    QList<std::pair<QString, QRect>> actual;
    for (QObject* child : client->children()) {
        if (child->isWidgetType())
            actual.append({child->objectName(), qobject_cast<QWidget*>(child)->geometry()});
    }
    QCOMPARE(actual, expected);
}

void tst_frmmain::textsFit()
{
    frmMain window;
    QCOMPARE(window.bar()->minimum(), 49152);
    QCOMPARE(window.bar()->maximum(), 65535);
    QCOMPARE(window.cmdZumil()->text(), QStringLiteral("Start"));
    QCOMPARE(window.Label1()->text(), QStringLiteral("Ver E5.000"));

    // Whatever face this system stands in with, the texts stay whole and near the design size.
    const auto check = [](QWidget* control, const QString& text, int designed) {
        const QFont font = control->font();
        QVERIFY(font.pixelSize() <= designed);
        QVERIFY2(font.pixelSize() >= designed * 3 / 4, qPrintable(font.family()));
        QCOMPARE(font.weight(), QFont::Normal);
        const QFontMetrics metrics(font);
        QVERIFY(metrics.horizontalAdvance(text) <= control->width());
        QVERIFY(metrics.tightBoundingRect(text).height() <= control->height());
    };
    check(window.cmdZumil(), QStringLiteral("Start"), 29);
    check(window.Label1(), QStringLiteral("Ver E5.000"), 19);
}

void tst_frmmain::fittingFontShrinksOnlyWhenNeeded()
{
    const QFont roomy = fittingFont(19, QStringLiteral("Ver"), QSize(400, 100));
    QCOMPARE(roomy.pixelSize(), 19);

    const QString text = QStringLiteral("Ver E5.000");
    const QFont tight = fittingFont(19, text, QSize(60, 25));
    QVERIFY(tight.pixelSize() < 19);
    QVERIFY(QFontMetrics(tight).horizontalAdvance(text) <= 60);
    // As large as it can be: one step up would not fit.
    QFont bigger = tight;
    bigger.setPixelSize(tight.pixelSize() + 1);
    QVERIFY(QFontMetrics(bigger).horizontalAdvance(text) > 60);
}

void tst_frmmain::menuTree()
{
    frmMain window;
    QCOMPARE(window.mnuSetting()->title(), QStringLiteral("COM"));
    QCOMPARE(window.mnuSetting()->actions().size(), 1);
    QCOMPARE(window.mnuSetting()->actions().constFirst()->menu(), window.mnuPort());
    QCOMPARE(window.mnuPort()->title(), QStringLiteral("COM port"));

    const QList<QAction*> items = window.mnuPort()->actions();
    QCOMPARE(items.size(), 16);
    for (int index = 1; index <= 16; ++index) {
        QAction* item = items.at(index - 1);
        QCOMPARE(item, window.mnuCom(index));
        QCOMPARE(item->text(), QStringLiteral("COM%1").arg(index));
        QVERIFY(item->isCheckable());
        // Qt must not manage the marks: the engine's menu is the truth.
        QVERIFY(!item->actionGroup());
    }
    QVERIFY(!window.mnuCom(0));
    QVERIFY(!window.mnuCom(17));
}

void tst_frmmain::menuMirrorsEngine()
{
    frmMain window;
    window.Form_Load();

    window.mnuCom(3)->trigger();
    QCOMPARE(checkedItems(window), QList<int>{3});
    QCOMPARE(window.GetCOM(), 3);
    QCOMPARE(window.menu().GetCOM(), 3);

    // Qt unchecks a checked item on a click; the engine puts the mark back.
    window.mnuCom(3)->trigger();
    QCOMPARE(checkedItems(window), QList<int>{3});

    // A change made to the marks themselves shows in the menu.
    window.menu().mnuCom_Click(16);
    QCOMPARE(checkedItems(window), QList<int>{16});
    QCOMPARE(window.GetCOM(), 16);
}

void tst_frmmain::statusTipsNameTheDevice()
{
    frmMain window;
    window.ports().bind(2, QStringLiteral("/dev/fake-radio"));
    emit window.mnuPort()->aboutToShow();

    const QString tip = window.mnuCom(2)->statusTip();
    QVERIFY2(tip.contains(QLatin1String("/dev/fake-radio")), qPrintable(tip));
    QVERIFY2(tip.contains(QLatin1String("bound with --com")), qPrintable(tip));
    QCOMPARE(window.mnuCom(2)->toolTip(), tip);
    // An item with nothing behind it says so.
    const QString last = window.mnuCom(16)->statusTip();
    const QString device = window.ports().portFor(16).device;
    QVERIFY2(last.startsWith(QLatin1String("COM16: ")), qPrintable(last));
    QVERIFY2(last.contains(device.isEmpty() ? QStringLiteral("no serial port") : device),
             qPrintable(last));

    // Refreshed each time the menu opens.
    window.ports().bind(2, QStringLiteral("/dev/other-radio"));
    emit window.mnuPort()->aboutToShow();
    QVERIFY(window.mnuCom(2)->statusTip().contains(QLatin1String("/dev/other-radio")));
}

void tst_frmmain::portsAboveSixteenAfterASeparator()
{
    frmMain window;
    window.Form_Load();
    const QList<QAction*> original = window.mnuPort()->actions();
    QCOMPARE(original.size(), 16);

    window.showPortsAbove({23, 17});
    const QList<QAction*> shown = window.mnuPort()->actions();
    QCOMPARE(shown.mid(0, 16), original);
    QCOMPARE(shown.size(), 19);
    QVERIFY(shown.at(16)->isSeparator());
    QCOMPARE(shown.at(17)->text(), QStringLiteral("COM17"));
    QCOMPARE(shown.at(18)->text(), QStringLiteral("COM23"));
    QCOMPARE(window.mnuComAbove(23), shown.at(18));
    QVERIFY(!window.mnuComAbove(23)->actionGroup());

    // The engine decides the mark, as for the items 1 to 16: on Windows COM23 is then the port,
    // elsewhere there is no such number and no item keeps a mark.
    window.mnuComAbove(23)->trigger();
    const bool windows = PortMap::kLastComNumber > 16;
    QCOMPARE(window.mnuComAbove(23)->isChecked(), windows);
    QCOMPARE(window.mnuCom(1)->isChecked(), false);
    QCOMPARE(int(window.GetCOM()), windows ? 23 : int(PortMenu::kNoneChecked));

    // Unplugged, a port leaves the menu, unless it is the one checked.
    window.showPortsAbove({17});
    QCOMPARE(window.mnuComAbove(23) != nullptr, windows);
    window.mnuCom(2)->trigger();
    window.showPortsAbove({});
    QCOMPARE(window.mnuPort()->actions(), original);
    QVERIFY(!window.mnuComAbove(17));
}

// The window binds --com as the engine reads it, and names a value it cannot use in its own words.
void tst_frmmain::comBindings()
{
    PortMap ports;
    QVERIFY(bindPorts(ports, {QStringLiteral("2=/dev/a")}).isEmpty());
    QCOMPARE(ports.portFor(2).device, QStringLiteral("/dev/a"));
    const QString error =
        bindPorts(ports, {QStringLiteral("1=/dev/b"), QStringLiteral("x=/dev/c")});
    QVERIFY2(error.startsWith(QLatin1String("--com \"x=/dev/c\"")), qPrintable(error));
    // Refused as a whole: the ports stay as they were.
    QCOMPARE(ports.portFor(2).device, QStringLiteral("/dev/a"));
}

void tst_frmmain::outcomes_data()
{
    QTest::addColumn<int>("faulty");       // the command the radio answers differently, -1: none
    QTest::addColumn<QByteArray>("reply"); // its reply letters; empty: no reply at all
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("barAtBox"); // where the bar stood while the box was open
    // What the box's informative text says besides the window's own text: why, and what next.
    QTest::addColumn<QStringList>("why");

    // One row for each box the window can show; how each step fails, how often it retries and
    // that nothing after it is sent is the fault matrix's, through the same engine.

    const auto row = [](const char* name, sim::Command command, const char* reply) -> QTestData& {
        return QTest::newRow(name) << static_cast<int>(command) << QByteArray(reply);
    };

    const QString offAndOn = QStringLiteral("Switch the radio off and on, then press Start again");
    QTest::newRow("completed") << -1 << QByteArray() << "Completed." << 0 << "OK" << int(kLastBlock)
                               << QStringList();
    row("region refused", sim::Command::Query, "RE")
        << "Region error" << 48 << "NG" << int(kFirstBlock)
        << QStringList{"not the model and region this firmware is made for"};
    row("query unanswered", sim::Command::Query, "")
        << "Error" << 48 << "NG" << int(kFirstBlock)
        << QStringList{"The radio did not answer the model query step.", "switched on"};
    row("erase answered OK", sim::Command::Erase, "OK")
        << "Erase failed." << 48 << "NG" << int(kFirstBlock)
        << QStringList{"The radio answered \"OK\" to the erase step.", "flash mode", offAndOn};
    row("write refused", sim::Command::Program, "NG")
        << "Write failed." << 48 << "NG" << int(kFirstBlock)
        << QStringList{"The radio answered \"NG\" to the write step.",
                       "stopped at the block at 0xC0000", offAndOn};
    row("end answered OK", sim::Command::End, "OK")
        << "Disconnect failed." << 48 << "NG" << int(kLastBlock)
        << QStringList{"The radio answered \"OK\" to the end of session step.", offAndOn};
}

void tst_frmmain::outcomes()
{
    QFETCH(int, faulty);
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);
    QFETCH(int, style);
    QFETCH(QString, title);
    QFETCH(int, barAtBox);
    QFETCH(QStringList, why);

    Rig rig;
    QVERIFY(rig.start());
    const auto command = static_cast<sim::Command>(faulty);
    if (faulty >= 0 && !reply.isEmpty())
        rig.radio.setReplyLetters(command, reply);

    // The empty bar is on screen and Start is off from the first exchange on.
    bool emptyBarAtQuery = false;
    rig.radio.setScript([&](const sim::Request& request) -> std::optional<sim::Response> {
        if (request.command == sim::Command::Query)
            emptyBarAtQuery = rig.window.bar()->isVisible() &&
                              rig.window.bar()->value() == rig.window.bar()->minimum() &&
                              !rig.window.cmdZumil()->isEnabled();
        if (faulty >= 0 && reply.isEmpty() && request.command == command)
            return sim::Response{.reply = QByteArray()};
        return std::nullopt;
    });

    // A run left before: the bar must start empty again.
    rig.window.bar()->setValue(rig.window.bar()->maximum());
    QTest::mouseClick(rig.window.cmdZumil(), Qt::LeftButton);

    QCOMPARE(rig.window.shown.size(), 1);
    const RecordingWindow::Shown& box = rig.window.shown.constFirst();
    QCOMPARE(box.text, text);
    QCOMPARE(box.style, style);
    QCOMPARE(box.title, title);
    // The same one box says why and what next, in the window's words.
    for (const QString& part : why)
        QVERIFY2(box.informative.contains(part), qPrintable(box.informative));
    QCOMPARE(box.informative.isEmpty(), why.isEmpty());
    QVERIFY(!box.informative.contains(QLatin1String("tq-b9-cli")));
    QVERIFY(emptyBarAtQuery);
    // The box is modal and shown from inside the run: the bar stays where the run left it.
    QVERIFY(box.barVisible);
    QCOMPARE(box.barValue, barAtBox);
    QVERIFY(!box.startEnabled);
    QVERIFY(box.running);

    QVERIFY(!rig.window.bar()->isVisible());
    QVERIFY(rig.window.cmdZumil()->isEnabled());
    QVERIFY(!rig.window.running());
    // The window ran the engine's Run and holds its report, the same the box was worded from.
    QVERIFY(rig.window.lastReport());
    QCOMPARE(messageFor(rig.window.lastReport()->outcome), text);
}

void tst_frmmain::menuChoiceTakesEffectAtNextStart()
{
    Rig rig;
    QVERIFY(rig.start());
    sim::SimRadio second;
    QVERIFY(second.start());
    rig.window.ports().bind(2, second.devicePath());

    // The operator picks COM2 while the connect waits for its reply on COM1: the mark moves, and
    // the run stays on the radio it started with.
    rig.radio.setScript([&](const sim::Request& request) -> std::optional<sim::Response> {
        if (request.command == sim::Command::Connect)
            rig.window.mnuCom(2)->trigger();
        return std::nullopt;
    });
    rig.window.cmdZumil_Click();

    QCOMPARE(checkedItems(rig.window), QList<int>{2});
    QVERIFY(second.log().isEmpty());
    QCOMPARE(rig.window.shown.size(), 1);
    QCOMPARE(rig.window.shown.constFirst().text, QStringLiteral("Completed."));

    // The next Start runs on COM2.
    rig.window.cmdZumil_Click();
    QCOMPARE(second.writtenBlocks().size(), 2);
    QCOMPARE(rig.window.shown.size(), 2);
    QCOMPARE(rig.window.shown.constLast().text, QStringLiteral("Completed."));
}

void tst_frmmain::closeRefusedWhileRunning()
{
    Rig rig;
    QVERIFY(rig.start());

    bool closedWhileWaiting = true;
    rig.radio.setScript([&](const sim::Request& request) -> std::optional<sim::Response> {
        if (request.command == sim::Command::Erase) {
            closedWhileWaiting = rig.window.close();
            // Start is off: a click does not begin a second run inside this one.
            QTest::mouseClick(rig.window.cmdZumil(), Qt::LeftButton);
        }
        return std::nullopt;
    });
    bool closedWhileShown = true;
    rig.window.whileShown = [&] {
        closedWhileShown = rig.window.close();
    };

    rig.window.cmdZumil_Click();
    QVERIFY(!closedWhileWaiting);
    QVERIFY(!closedWhileShown);
    // Said in the window each time, not in a second box.
    QCOMPARE(rig.window.closeRefusals, QStringList(2, closeRefusedText()));
    QVERIFY(rig.window.isVisible());
    QCOMPARE(rig.window.shown.size(), 1);
    QCOMPARE(rig.window.shown.constFirst().text, QStringLiteral("Completed."));
    QCOMPARE(rig.radio.count(sim::Command::Query), 1);

    // Idle again: Start works at once, from Enter as from Space or a click, and begins with a
    // fresh query; closing is allowed.
    rig.radio.setScript({});
    rig.window.whileShown = {};
    rig.window.cmdZumil()->setFocus();
    QTest::keyClick(rig.window.cmdZumil(), Qt::Key_Return);
    QCOMPARE(rig.window.shown.size(), 2);
    QCOMPARE(rig.radio.count(sim::Command::Query), 2);
    QVERIFY(rig.window.close());
    QVERIFY(!rig.window.isVisible());
    QCOMPARE(rig.window.closeRefusals.size(), 2);
}

// A write stopped half-way can leave the radio in flash mode, where it does not answer the model
// query: the stop's advice, and an unanswered query the engine found just after a stop, say to
// switch the radio off and on; an unanswered query alone does not.
void tst_frmmain::queryUnansweredAfterAStopSaysSwitchOffAndOn()
{
    RunReport stopped;
    stopped.outcome = Outcome::WriteFailed;
    stopped.step = Step::Write;
    stopped.stoppedBy = StoppedBy::Sigterm;
    stopped.finding.reason = Finding::Reason::Stopped;
    stopped.finding.mayBeInFlashMode = true;
    RunReport unanswered;
    unanswered.step = Step::Query;
    unanswered.finding.reason = Finding::Reason::NoAnswer;
    const QString offAndOn = QStringLiteral("Switch the radio off and on");
    QVERIFY(windowAdvice(stopped).join(QLatin1Char(' ')).contains(offAndOn));
    QVERIFY(!windowAdvice(unanswered).join(QLatin1Char(' ')).contains(offAndOn));
    unanswered.finding.afterStopInFlashMode = true;
    QVERIFY(windowAdvice(unanswered).join(QLatin1Char(' ')).contains(offAndOn));
}

void tst_frmmain::testImageRefusedWithOneBox()
{
    Rig rig;
    QVERIFY(rig.start());
    // The built-in firmware, which this build has as the test image.
    rig.window.Form_Load();
    if (!rig.window.firmware().isTestImage())
        QSKIP("the built-in firmware is not the test image");

    QTest::mouseClick(rig.window.cmdZumil(), Qt::LeftButton);
    QCOMPARE(rig.window.shown.size(), 1);
    const RecordingWindow::Shown& box = rig.window.shown.constFirst();
    QCOMPARE(box.title, QStringLiteral("NG"));
    QCOMPARE(box.style, 48);
    QVERIFY(box.text.contains(QStringLiteral("test image")));
    QVERIFY(box.text.contains(QStringLiteral("--firmware FILE")));
    QVERIFY(!box.barVisible);
    QVERIFY(rig.radio.log().isEmpty());

    // Allowed, the same press writes it.
    rig.window.setAllowTestFirmware(true);
    QTest::mouseClick(rig.window.cmdZumil(), Qt::LeftButton);
    QCOMPARE(rig.window.shown.size(), 2);
    QCOMPARE(rig.window.shown.constLast().text, QStringLiteral("Completed."));
}

void tst_frmmain::droppedFileIsLoadedOrRefused()
{
    Rig rig;
    QVERIFY(rig.start());
    rig.window.Form_Load();
    QTemporaryDir dir;
    const auto write = [&](const char* name, const QByteArray& text) {
        return test::writeFile(dir, name, text);
    };
    const QString good = write("radio.hex", test::kFourBytesPerEraseBlock);
    const QString bad = write("bad.hex", ":02000004000CEE\n:0400000001020304F3\n:00000001FF\n");
    // Valid, but the erase would leave seven blocks blank: the window has no way to allow it.
    const QString partial = write("one.hex", ":02000004000CEE\n:0400000001020304F2\n:00000001FF\n");

    QVERIFY(test::drop(rig.window, good));
    QCOMPARE(rig.window.Label1()->text(), QStringLiteral("radio.hex"));
    QCOMPARE(rig.window.windowTitle(), QStringLiteral("TQ-B9 - radio.hex"));
    QCOMPARE(rig.window.firmware().image().byteAt(0xC0003), 0x04);
    QVERIFY(rig.window.shown.isEmpty());

    // A bad file: one box naming its line, and the window keeps the firmware it had.
    QVERIFY(test::drop(rig.window, bad));
    QCOMPARE(rig.window.shown.size(), 1);
    QCOMPARE(rig.window.shown.constFirst().title, QStringLiteral("NG"));
    QCOMPARE(rig.window.shown.constFirst().text,
             bad + QStringLiteral(":2: checksum 0xF3, expected 0xF2"));
    QCOMPARE(rig.window.Label1()->text(), QStringLiteral("radio.hex"));
    QCOMPARE(rig.window.firmware().image().byteAt(0xC0003), 0x04);
    QVERIFY(test::drop(rig.window, partial));
    QCOMPARE(rig.window.shown.size(), 2);
    QVERIFY(rig.window.shown.constLast().text.endsWith(
        QStringLiteral("would be erased and left blank")));
    QCOMPARE(rig.window.Label1()->text(), QStringLiteral("radio.hex"));
    QCOMPARE(rig.window.firmware().image().byteAt(0xD0003), 0x04);

    // During a run a drop is refused and the image the run is writing stays.
    bool tookDrop = true;
    rig.radio.setScript([&](const sim::Request& request) -> std::optional<sim::Response> {
        if (request.command == sim::Command::Erase)
            tookDrop = test::drop(rig.window, bad) || test::drop(rig.window, good);
        return std::nullopt;
    });
    rig.window.Form_Load();
    rig.window.setAllowTestFirmware(true);
    rig.window.cmdZumil_Click();
    QVERIFY(!tookDrop);
    QCOMPARE(rig.window.shown.size(), 3);
    QCOMPARE(rig.window.shown.constLast().text, QStringLiteral("Completed."));
    QCOMPARE(rig.window.Label1()->text(), rig.window.firmware().isTestImage()
                                              ? QStringLiteral("TEST IMAGE")
                                              : QStringLiteral("Ver ") + builtInFirmwareVersion());
}

QTEST_MAIN(tst_frmmain)
#include "tst_frmmain.moc"
