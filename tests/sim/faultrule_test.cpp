#include "sim/faultrule.h"

#include <gtest/gtest.h>

namespace tqb9::sim {
namespace {

using namespace std::chrono_literals;
constexpr int kAll = FaultRule::kNoLimit;

struct Valid {
    const char* text;
    Command command;
    std::optional<quint32> address;
    int first;
    int last;
    Response response;
};

class ValidFaultTest : public ::testing::TestWithParam<Valid> {};

TEST_P(ValidFaultTest, Parses)
{
    const Valid& c = GetParam();
    QString error;
    const auto rule = parseFault(QString::fromLatin1(c.text), &error);
    ASSERT_TRUE(rule) << error.toStdString();
    EXPECT_EQ(rule->command, c.command);
    EXPECT_EQ(rule->address, c.address);
    EXPECT_EQ(rule->firstAttempt, c.first);
    EXPECT_EQ(rule->lastAttempt, c.last);
    EXPECT_EQ(rule->response.reply, c.response.reply);
    EXPECT_EQ(rule->response.cut, c.response.cut);
    EXPECT_EQ(rule->response.garbage, c.response.garbage);
    EXPECT_EQ(rule->response.delay, c.response.delay);
    EXPECT_EQ(rule->response.echo, c.response.echo);
    EXPECT_EQ(rule->response.hangUp, c.response.hangUp);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ValidFaultTest,
    ::testing::Values(
        // The query's own form is framed, every other reply plain.
        Valid{"query:reply=RE", Command::Query, {}, 1, kAll, {.reply = "\r\nRE\r\n"}},
        Valid{"erase:reply=NG", Command::Erase, {}, 1, kAll, {.reply = "NG\r\n"}},
        Valid{"program@0xC0400#1-3:reply=none", Command::Program, 0xC0400, 1, 3, {.reply = ""}},
        Valid{"end:delay=6000", Command::End, {}, 1, kAll, {.delay = 6000ms}},
        Valid{"connect#2-:garbage=3,nolf",
              Command::Connect,
              {},
              2,
              kAll,
              {.cut = 1, .garbage = QByteArray("\x00\xFF\x55", 3)}},
        Valid{"program@c0800#4:reply=framed:OK,noecho,hangup",
              Command::Program,
              0xC0800,
              4,
              4,
              {.reply = "\r\nOK\r\n", .echo = false, .hangUp = true}},
        Valid{"Query:reply=plain:ok", Command::Query, {}, 1, kAll, {.reply = "ok\r\n"}},
        Valid{"other:reply=hex:4f4B0d,garbage=hex:00FF",
              Command::Other,
              {},
              1,
              kAll,
              {.reply = "OK\r", .garbage = QByteArray("\x00\xFF", 2)}},
        Valid{" end : short , cut=2 ", Command::End, {}, 1, kAll, {.cut = 2}}));

class InvalidFaultTest : public ::testing::TestWithParam<const char*> {};

TEST_P(InvalidFaultTest, IsRefusedWithAReason)
{
    QString error;
    EXPECT_FALSE(parseFault(QString::fromLatin1(GetParam()), &error));
    EXPECT_TRUE(error.contains(QString::fromLatin1(GetParam()))) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Grammar, InvalidFaultTest,
                         ::testing::Values("query", "query:", "flash:reply=OK",
                                           "erase@0xCFFFE:reply=NG", "program@0xZZ:reply=NG",
                                           "program@0x1000000:reply=NG", "program#0:reply=none",
                                           "program#3-2:reply=none", "program#x:reply=none",
                                           "query:reply=OKAY", "query:reply=framed:O",
                                           "query:reply=hex:4F4", "query:reply=hex:4G",
                                           "query:delay=-5", "query:bogus", "query:noecho=1",
                                           "query:garbage=0", "query:cut=x"));

TEST(FaultScriptTest, EveryMatchingRuleAppliesTheLaterOneWinning)
{
    QList<FaultRule> rules;
    for (const char* text : {"program:delay=100,reply=PG", "program@0xC0400#2:reply=none",
                             "program@0xC0400#2-:garbage=2"})
        rules.append(*parseFault(QString::fromLatin1(text)));
    const Script script = faultScript(rules);

    const auto first = script(Request{Command::Program, 0xC0400, 1, 1});
    ASSERT_TRUE(first);
    EXPECT_EQ(first->reply, "PG\r\n");
    EXPECT_EQ(first->delay, 100ms);
    EXPECT_TRUE(first->garbage.isEmpty());

    const auto second = script(Request{Command::Program, 0xC0400, 2, 3});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->reply, "");
    EXPECT_EQ(second->delay, 100ms);
    EXPECT_EQ(second->garbage.size(), 2);

    EXPECT_EQ(script(Request{Command::Program, 0xC0800, 2, 4})->reply, "PG\r\n");
    EXPECT_FALSE(script(Request{Command::Erase, 0, 1, 1}));
}

TEST(FaultScriptTest, HangUpAfterBlocksCountsProgramPacketsAtAnyAddress)
{
    const Script script = faultScript({hangUpAfterBlocks(3)});
    EXPECT_FALSE(script(Request{Command::Program, 0xC0000, 1, 2}));
    EXPECT_FALSE(script(Request{Command::End, 0, 1, 3}));
    const auto third = script(Request{Command::Program, 0xC0000, 2, 3});
    ASSERT_TRUE(third);
    EXPECT_TRUE(third->hangUp);
    EXPECT_FALSE(third->reply); // answered first, then the line drops
}

} // namespace
} // namespace tqb9::sim
