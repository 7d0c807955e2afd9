// The start-up load as the window runs it: clear the image, fill the table, read every line.
#include "image/firmwaretable.h"
#include "image/memoryimage.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

void BM_LoadBuiltInFirmware(benchmark::State& state)
{
    auto image = std::make_unique<tqb9::MemoryImage>();
    auto table = std::make_unique<tqb9::FirmwareTable>();
    for (auto _ : state) {
        tqb9::LoadBuiltInFirmware(*image, *table);
        benchmark::DoNotOptimize(image.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * 605574);
}
BENCHMARK(BM_LoadBuiltInFirmware)->Unit(benchmark::kMicrosecond);

} // namespace
