#pragma once

#include <cstdint>
#include <QByteArrayView>

namespace tqb9 {

// Result codes of the radio's replies. 8 doubles as the link's general failure: no reply, a short
// or unknown reply, or a serial-port error.
namespace reply {
inline constexpr std::int16_t OK = 0;
inline constexpr std::int16_t NG = 1;
inline constexpr std::int16_t ED = 2;
inline constexpr std::int16_t CT = 3;
inline constexpr std::int16_t BE = 4;
inline constexpr std::int16_t PG = 5;
inline constexpr std::int16_t RA = 6;
inline constexpr std::int16_t EE = 7;
inline constexpr std::int16_t None = 8;
inline constexpr std::int16_t Framed00 = 9;
inline constexpr std::int16_t Framed01 = 10;
inline constexpr std::int16_t Framed02 = 11;
inline constexpr std::int16_t Framed03 = 12;
inline constexpr std::int16_t RE = 13;
} // namespace reply

// Plain reply: two letters, CR, LF at pos. Bytes outside pos..pos+3 are ignored; a buffer too
// short to hold the reply gives reply::None.
std::int16_t ParseReply(QByteArrayView bytRxBuf, qsizetype intPos);

// Framed reply: CR, LF, two characters, CR, LF at pos.
std::int16_t ParseFramedReply(QByteArrayView bytRxBuf, qsizetype intPos);

// "OK", "NG", ... for a trace; "--" for codes without letters.
const char* replyName(std::int16_t code);

} // namespace tqb9
