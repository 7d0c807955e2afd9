// Pulling the cable in the middle of the write, with the window driving the run: one "Write
// failed." box as soon as the port fails, and the window ready for the next Start.
#include "faults/unplug.h"
#include "ui/frmmain.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QProgressBar>
#include <QPushButton>

namespace tqb9::faults {
namespace {

// The window with its modal box replaced by a note of what it would have said, and when.
class Window : public frmMain {
public:
    explicit Window(const Unplug& unplug) : m_unplug(unplug) {}

    QStringList shown;
    qint64 ms = -1;

protected:
    void showMessage(const QString& text, int /*style*/, const QString& /*title*/) override
    {
        shown.append(text);
        ms = m_unplug.elapsedMs();
    }

private:
    const Unplug& m_unplug;
};

TEST(Unplugging, InTheMiddleOfTheWriteEndsTheWindowsRunWithinOneWindow)
{
    sim::SimRadio radio;
    QString why;
    ASSERT_TRUE(radio.start(&why)) << why.toStdString();
    Unplug unplug(radio, kUnpluggedAtBlock);

    Window window(unplug);
    window.Form_Load();
    window.session().setAllowTestFirmware(true);
    window.ports().bind(1, radio.devicePath());
    // The window's own reply window is the radio's 5000 ms, as long as kLongWindow.
    window.show();

    window.cmdZumil()->click();

    EXPECT_EQ(window.shown, QStringList{QStringLiteral("Write failed.")});
    ASSERT_GE(window.ms, 0) << "the radio never hung up";
    EXPECT_LT(window.ms, kNoticeWithin.count());
    EXPECT_TRUE(window.cmdZumil()->isEnabled());
    EXPECT_FALSE(window.bar()->isVisible());
    EXPECT_FALSE(window.session().portOpen());
    EXPECT_EQ(radio.count(sim::Command::Program), kUnpluggedAtBlock);
    EXPECT_EQ(radio.count(sim::Command::End), 0);
    ::testing::Test::RecordProperty("ms_from_hang_up_to_message", static_cast<int>(window.ms));
}

} // namespace
} // namespace tqb9::faults

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
