#include "sim/simradio.h"
#include "tests/sim/client.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace tqb9::sim::test {
namespace {

// Starts tq-b9-sim and reads the device from its first line.
class SimProgram {
public:
    explicit SimProgram(const QStringList& arguments)
    {
        m_process.start(QStringLiteral(TQB9_SIM_PROGRAM), arguments);
    }
    ~SimProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(1000);
        }
    }

    QString device()
    {
        QSignalSpy output(&m_process, &QProcess::readyReadStandardOutput);
        while (!m_process.canReadLine() && output.wait(2000)) {
        }
        return QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    bool finished(int ms = 3000)
    {
        QSignalSpy done(&m_process, &QProcess::finished);
        return m_process.state() == QProcess::NotRunning || done.wait(ms);
    }
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
};

TEST(SimProgramTest, RunsASessionThenDumpsTheFlashAndRemovesItsLink)
{
    QTemporaryDir dir;
    const QString link = dir.filePath("radio");
    const QString dump = dir.filePath("flash.bin");
    SimProgram sim({"--link", link, "--dump", dump, "--exit-after-end"});
    const QString device = sim.device();
    ASSERT_TRUE(device.startsWith("/dev/pts/")) << device.toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), device);

    Client client(link);
    QByteArray data(1024, '\x5A');
    const QByteArray block = programPacket(0xC0400, data);
    const QByteArray erase = packet("BE", QByteArray::fromHex("000CFFFEFFFFFFFF"));
    const QByteArray end = packet("ED");
    ASSERT_TRUE(client.open());
    EXPECT_EQ(client.exchange("ZK~TQ-B9E\r", 16), "ZK~TQ-B9E\r\r\nOK\r\n");
    EXPECT_EQ(client.exchange("ZK~FLASH\r", 13), "ZK~FLASH\rCT\r\n");
    EXPECT_EQ(client.sendPacket(erase), erase + "BE\r\n");
    EXPECT_EQ(client.sendPacket(block), block + "OK\r\n");
    EXPECT_EQ(client.sendPacket(end), end + "ED\r\n");
    client.close();

    ASSERT_TRUE(sim.finished());
    EXPECT_EQ(sim.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.process().exitCode(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(sim.process().readAllStandardError().contains("5 requests"));

    QFile file(dump);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray flash = file.readAll();
    ASSERT_EQ(flash.size(), kFlashSize);
    EXPECT_EQ(flash.sliced(0x400, 1024), data);
    EXPECT_EQ(flash.sliced(0, 1024), QByteArray(1024, '\xFF'));
    EXPECT_EQ(static_cast<quint8>(flash[0x10000]), SimRadio::blankByte(0xD0000));
}

TEST(SimProgramTest, TerminationSignalStillWritesTheDump)
{
    QTemporaryDir dir;
    const QString dump = dir.filePath("flash.bin");
    SimProgram sim({"--dump", dump, "--quiet", "--fault", "query:reply=RE"});
    Client client(sim.device());
    ASSERT_TRUE(client.open());
    EXPECT_EQ(client.exchange("ZK~TQ-B9E\r", 16), "ZK~TQ-B9E\r\r\nRE\r\n");
    client.close();

    sim.process().terminate();
    ASSERT_TRUE(sim.finished());
    EXPECT_EQ(sim.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(sim.process().exitCode(), 0);
    EXPECT_EQ(QFileInfo(dump).size(), kFlashSize);
    EXPECT_TRUE(sim.process().readAllStandardError().isEmpty());
}

TEST(SimProgramTest, AMistakenFaultIsAUsageError)
{
    SimProgram sim({"--fault", "erase@0xC0000:reply=NG"});
    ASSERT_TRUE(sim.finished());
    EXPECT_EQ(sim.process().exitCode(), 2);
    EXPECT_TRUE(sim.process().readAllStandardError().contains("erase@0xC0000"));
}

} // namespace
} // namespace tqb9::sim::test
