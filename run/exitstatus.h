#pragma once

// Exit statuses of both programs. Scripts on a production line branch on these, so each outcome
// keeps its own number and the numbers never change meaning.

namespace tqb9 {

enum class Outcome;

namespace exitstatus {
inline constexpr int Completed = 0;
inline constexpr int Error = 1;
inline constexpr int RegionError = 2;
inline constexpr int ConnectFailed = 3;
inline constexpr int EraseFailed = 4;
inline constexpr int WriteFailed = 5;
inline constexpr int DisconnectFailed = 6;
inline constexpr int Stopped = 7; // the operator's Stop ended the run (a window's; the run log)
inline constexpr int Usage = 64;  // EX_USAGE
inline constexpr int BadFirmware = 65;  // EX_DATAERR: the firmware file breaks a rule
inline constexpr int NoFirmware = 66;   // EX_NOINPUT: the firmware file cannot be read
inline constexpr int CannotCreate = 73; // EX_CANTCREAT: --export-image or --log cannot write
inline constexpr int TestImage = 77;    // EX_NOPERM: a test image, not allowed to be written
inline constexpr int SignalBase = 128;  // 130 after Ctrl-C (SIGINT), 143 after SIGTERM
} // namespace exitstatus

int exitStatusFor(Outcome outcome);

} // namespace tqb9
