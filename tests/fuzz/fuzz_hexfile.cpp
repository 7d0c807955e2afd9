// libFuzzer target: a whole Intel HEX file through the strict reader.
#include "fuzz/firmwarefile_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return tqb9::fuzz::readFirmwareFileInput(':', data, size);
}
