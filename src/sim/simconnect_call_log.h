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
// the failure its own way) is reported at debug level.
//
// Bounded: the latest kRememberedCalls calls and kMaxCases cases are kept.
// Not thread-safe: the SimConnect client guards it.
class SimConnectCallLog {
public:
    enum class Level { None, Debug, Warn };
    struct Report {
        Level level = Level::None;
        std::string text;
    };

    static constexpr std::size_t kRememberedCalls = 4096;
    static constexpr std::size_t kMaxCases = 256;

    // A new connection: its send ids start again. Reported cases stay reported.
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
    // True the first time `key` is seen (within the bound).
    bool firstTime(const std::string& key);

    std::deque<Call> calls_;
    std::set<std::string> reported_;
    std::set<std::string> refusedEvents_;
};
