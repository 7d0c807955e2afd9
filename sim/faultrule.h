#pragma once

#include "sim/scriptedresponse.h"

#include <limits>
#include <optional>
#include <QList>
#include <QString>

namespace tqb9::sim {

// One fault of the simulated radio's command line: which requests it matches and how it bends
// the radio's answer to them.
struct FaultRule {
    static constexpr int kNoLimit = std::numeric_limits<int>::max();

    Command command = Command::Query;
    std::optional<quint32> address; // program packets only; any address when unset
    // Request::attempt must lie in this range.
    int firstAttempt = 1;
    int lastAttempt = kNoLimit;
    // Request::number must lie in this range (not reachable from the grammar; see
    // hangUpAfterBlocks).
    int firstNumber = 1;
    int lastNumber = kNoLimit;
    Response response;

    bool matches(const Request& request) const;
};

// The grammar parseFault() reads, as --help shows it.
QString faultGrammar();

// Parses "WHAT[@ADDRESS][#ATTEMPTS]:ACTION[,ACTION...]", for example
// "program@0xC0400#1-3:reply=none". On a mistake: nullopt and a reason in error.
std::optional<FaultRule> parseFault(QStringView text, QString* error = nullptr);

// Hangs up once the n-th program packet (n >= 1) has been answered and its reply read.
FaultRule hangUpAfterBlocks(int blocks);

// The fields of over that differ from a default Response, laid over base.
Response overlay(Response base, const Response& over);

// A script applying every matching rule in order, a later rule winning for each field it sets.
// Requests no rule matches keep the radio's own behaviour.
Script faultScript(QList<FaultRule> rules);

} // namespace tqb9::sim
