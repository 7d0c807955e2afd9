// Loading a firmware file as --firmware and a drop do it: read the file, check all of it with the
// strict reader, convert it and read the lines into the image. The S-record file is the test
// image itself (605,574 characters); the Intel HEX file holds the same image.
#include "firmwaretext.h"
#include "image/firmware.h"
#include "image/memoryimage.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <fstream>
#include <memory>
#include <QDir>
#include <QFileInfo>
#include <QString>

namespace {

const QString kSRecordFile = QStringLiteral(TQB9_SOURCE_DIR "/image/firmware.s19");

// The test image as Intel HEX with 32-byte records and 04 address records.
QString intelHexFile()
{
    static const QString path = [] {
        const auto read = tqb9::readFirmwareFileAt(kSRecordFile.toStdString());
        const auto& file = std::get<tqb9::FirmwareFile>(read);
        tqb9::testfiles::Image image;
        for (std::uint32_t a = tqb9::kImageFirst; a < tqb9::kImageEnd; ++a) {
            if (file.given(a))
                image[a] = file.at(a);
        }
        const QString out = QDir::temp().filePath(QStringLiteral("tq-b9-bench-firmware.hex"));
        std::ofstream(out.toStdString(), std::ios::binary)
            << tqb9::testfiles::joined(tqb9::testfiles::hexLines(image, 4));
        return out;
    }();
    return path;
}

void load(benchmark::State& state, const QString& path)
{
    auto image = std::make_unique<tqb9::MemoryImage>();
    for (auto _ : state) {
        const auto loaded = tqb9::loadFirmwareFile(path, *image);
        if (!std::holds_alternative<tqb9::FirmwareInfo>(loaded)) {
            state.SkipWithError("the file was refused");
            return;
        }
        benchmark::DoNotOptimize(image.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(path).size());
}

void BM_LoadSRecordFile(benchmark::State& state)
{
    load(state, kSRecordFile);
}
void BM_LoadIntelHexFile(benchmark::State& state)
{
    load(state, intelHexFile());
}
BENCHMARK(BM_LoadSRecordFile)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(11)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_LoadIntelHexFile)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(11)
    ->ReportAggregatesOnly(true);

} // namespace
