// libFuzzer target: one arbitrary line into a fresh image. The out-of-range failure is the reader's
// one expected way out; any other exception escapes and is reported as a crash.
#include "image/memoryimage.h"
#include "image/srecord.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One image, cleared before each line the way start-up clears it: allocating 528 KB per input
    // under AddressSanitizer costs more than the reading does.
    static auto* const image = new tqb9::MemoryImage;
    image->ClearMemory();
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    try {
        tqb9::ReadSRecLine(*image, line);
    } catch (const tqb9::ImageRangeError&) {
    }
    // A record carries at most 255 bytes, so it can reach no more than 17 rows.
    if (image->usedRowCount() > 17) {
        std::fprintf(stderr, "one line flagged %d rows\n", image->usedRowCount());
        std::abort();
    }
    return 0;
}
