// Runs a fuzz target's body over its committed inputs: the seeds, and every input a fuzz run has
// found a fault with. Keeps those faults fixed in the ordinary build, without clang or libFuzzer.
#include <cstdint>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

TEST(FuzzReplay, EveryCommittedInputPasses)
{
    const QDir corpus(QStringLiteral(TQB9_CORPUS_DIR));
    const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty()) << "no inputs in " << TQB9_CORPUS_DIR;
    for (const QString& name : names) {
        QFile file(corpus.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray input = file.readAll();
        SCOPED_TRACE(name.toStdString());
        // A failing body aborts with its own message; reaching the next line is the pass.
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.constData()),
                                         static_cast<std::size_t>(input.size())),
                  0);
    }
}

} // namespace
