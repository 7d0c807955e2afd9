#pragma once

#include "image/firmware.h"
#include "image/memoryimage.h"

#include <QString>

namespace tqb9 {

// The project's version, set in project() in CMakeLists.txt.
QString projectVersion();

// What a program's --version shows after its own name: the project's version, the built-in
// firmware's version, and the firmware the program holds now with the CRC-32 of 0xC0000..0xFEFFF
// as the radio will hold them. The one place to change what that says.
QString versionText(const Firmware& firmware);

} // namespace tqb9
