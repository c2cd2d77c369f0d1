#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <set>
#include <string>

// Turns the server's exception messages, which name only the send id of the
// offending call, back into that call: the client records the send id of
// each call it makes (SimConnect_GetLastSentPacketID right after it), and an
// exception is reported with its name and the call ("SimConnect exception
// NAME_UNRECOGNIZED for SimConnect_MapClientEventToSimEvent(AP_FLC)").
//
// Each distinct case (exception, call, subject) is reported once per life
// of the log; so is an exception whose call is no longer remembered, per
// exception name. A transmission of an event whose name the server already
// refused is part of that case. A call recorded as quiet (its caller reports
// the failure its own way) is reported at debug level. Subjects are quoted
// through outsideText().
//
// A server may send exceptions at will, so each connection may report at
// most kMaxCases new cases; beyond them each new case is an OverBudget
// report with one fixed text, for the caller's repeat limiter. A new
// connection has the whole budget again, so a flood on one connection
// silences none of the next.
//
// Bounded: the latest kRememberedCalls calls, kRememberedCases reported
// cases and kMaxCases refused event names are kept; a case beyond what is
// remembered may be reported again on a later connection.
// Not thread-safe: the SimConnect client guards it.
class SimConnectCallLog {
public:
    enum class Level { None, Debug, Warn, OverBudget };
    struct Report {
        Level level = Level::None;
        std::string text;
    };

    static constexpr std::size_t kRememberedCalls = 4096;
    static constexpr std::size_t kMaxCases = 256;
    static constexpr std::size_t kRememberedCases = 4096;

    // A new connection: its send ids start again, its budget is whole.
    // Reported cases stay reported.
    void newConnection();
    void record(std::uint32_t sendId, const char* function, std::string subject, bool quiet);
    // The call recorded under this id sent nothing after all.
    void forget(std::uint32_t sendId);
    Report onException(std::uint32_t exception, std::uint32_t sendId);

    // The SDK's name of an exception without its prefix ("NAME_UNRECOGNIZED"),
    // or "exception <n>" for a value it does not list.
    static std::string exceptionName(std::uint32_t exception);

private:
    struct Call {
        std::uint32_t sendId;
        const char* function;
        std::string subject;
        bool quiet;
    };

    const Call* find(std::uint32_t sendId) const;
    // The report for a case not reported before, within the budget.
    Report reportOnce(const std::string& key, Level level, std::string text);

    std::deque<Call> calls_;
    std::set<std::string> reported_;
    std::set<std::string> refusedEvents_;
    std::size_t reportedThisConnection_ = 0;
};
