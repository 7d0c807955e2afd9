#include "link/reply.h"

#include <gtest/gtest.h>
#include <QByteArray>
#include <string>

namespace tqb9 {
namespace {

struct Case {
    const char* name;
    QByteArray buffer;
    qsizetype pos;
    std::int16_t code;
};

// The copy of the 9-byte connect command stands before every plain reply on the wire.
const QByteArray kEcho = QByteArrayLiteral("ZK~FLASH\r");

class PlainReply : public ::testing::TestWithParam<Case> {};

TEST_P(PlainReply, RecognisesOnlyTheFourBytesAtItsPosition)
{
    const Case& c = GetParam();
    EXPECT_EQ(ParseReply(c.buffer, c.pos), c.code) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PlainReply,
    ::testing::Values(
        Case{"ok", kEcho + "OK\r\n", 9, reply::OK}, Case{"ng", kEcho + "NG\r\n", 9, reply::NG},
        Case{"ed", kEcho + "ED\r\n", 9, reply::ED}, Case{"ct", kEcho + "CT\r\n", 9, reply::CT},
        Case{"be", kEcho + "BE\r\n", 9, reply::BE}, Case{"pg", kEcho + "PG\r\n", 9, reply::PG},
        Case{"ra", kEcho + "RA\r\n", 9, reply::RA}, Case{"ee", kEcho + "EE\r\n", 9, reply::EE},
        Case{"letters_reversed", kEcho + "AR\r\n", 9, reply::None},
        Case{"lower_case", kEcho + "ok\r\n", 9, reply::None},
        Case{"cr_without_lf", kEcho + "OK\rX", 9, reply::None},
        Case{"lf_without_cr", kEcho + "OK\n\n", 9, reply::None},
        Case{"second_reply_after_it_is_ignored", kEcho + "CT\r\nNG\r\n", 9, reply::CT},
        Case{"echo_bytes_are_ignored", QByteArray("garbage!!CT\r\n"), 9, reply::CT},
        Case{"one_byte_short", kEcho + "OK\r", 9, reply::None},
        Case{"position_past_the_end", kEcho + "OK\r\n", 12, reply::None},
        Case{"negative_position", QByteArray("OK\r\n"), -1, reply::None},
        Case{"empty_buffer", QByteArray(), 0, reply::None}),
    [](const auto& param) { return std::string(param.param.name); });

const QByteArray kQueryEcho = QByteArrayLiteral("ZK~TQ-B9E\r");

class FramedReply : public ::testing::TestWithParam<Case> {};

TEST_P(FramedReply, NeedsCrLfOnBothSides)
{
    const Case& c = GetParam();
    EXPECT_EQ(ParseFramedReply(c.buffer, c.pos), c.code) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FramedReply,
    ::testing::Values(Case{"ok", kQueryEcho + "\r\nOK\r\n", 10, reply::OK},
                      Case{"ng", kQueryEcho + "\r\nNG\r\n", 10, reply::NG},
                      Case{"00", kQueryEcho + "\r\n00\r\n", 10, reply::Framed00},
                      Case{"01", kQueryEcho + "\r\n01\r\n", 10, reply::Framed01},
                      Case{"02", kQueryEcho + "\r\n02\r\n", 10, reply::Framed02},
                      Case{"03", kQueryEcho + "\r\n03\r\n", 10, reply::Framed03},
                      Case{"re", kQueryEcho + "\r\nRE\r\n", 10, reply::RE},
                      Case{"er", kQueryEcho + "\r\nER\r\n", 10, reply::None},
                      Case{"04", kQueryEcho + "\r\n04\r\n", 10, reply::None},
                      Case{"plain_ok_without_leading_crlf", kQueryEcho + "OK\r\n\r\n", 10,
                           reply::None},
                      Case{"plain_letters_only", kQueryEcho + "CT\r\n", 10, reply::None},
                      Case{"trailing_lf_missing", kQueryEcho + "\r\nOK\r ", 10, reply::None},
                      Case{"leading_lf_missing", kQueryEcho + "\r OK\r\n", 10, reply::None},
                      Case{"five_bytes_only", kQueryEcho + "\r\nOK\r", 10, reply::None}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace tqb9
