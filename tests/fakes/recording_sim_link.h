#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "mapping/sim_link.h"

// A simulator link that records what the mapping engine asks of it. Like the
// real link it starts neither connected nor ready, refuses a direct send
// ("MobiFlight not ready") and a simulator event ("SimConnect is not
// connected") until told otherwise, and can refuse every send. Thread-safe:
// a test may set it while an engine thread calls it.
class RecordingSimLink final : public SimLink {
public:
    struct Call {
        std::string what;  // "queue", "now", "drop" or "event"
        std::string text;  // the command text or the event name
        Kind kind = kPlain;
        std::int32_t amount = 0;

        bool operator==(const Call& o) const {
            return what == o.what && text == o.text && kind == o.kind && amount == o.amount;
        }
    };

    void setReady(bool ready) {
        std::lock_guard<std::mutex> guard(mutex_);
        ready_ = ready;
    }
    void setConnected(bool connected) {
        std::lock_guard<std::mutex> guard(mutex_);
        connected_ = connected;
    }
    // Every later send fails with `error` (empty: sends work again).
    void failSends(const std::string& error) {
        std::lock_guard<std::mutex> guard(mutex_);
        failure_ = error;
    }

    std::vector<Call> calls() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return calls_;
    }
    // The texts of the calls of one kind ("queue", "now", ...), in order.
    std::vector<std::string> texts(const std::string& what) const {
        std::vector<std::string> result;
        for (const Call& call : calls()) {
            if (call.what == what) result.push_back(call.text);
        }
        return result;
    }

    bool ready() const override {
        std::lock_guard<std::mutex> guard(mutex_);
        return ready_;
    }
    bool connected() const override {
        std::lock_guard<std::mutex> guard(mutex_);
        return connected_;
    }
    bool queueCommand(const std::string& rpn, Kind kind, std::int32_t amount,
                      std::string& error) override {
        return record({"queue", rpn, kind, amount}, Needs::Nothing, error);
    }
    bool sendNow(const std::string& rpn, std::string& error) override {
        return record({"now", rpn, kPlain, 1}, Needs::Ready, error);
    }
    void dropPending(const std::string& rpn) override {
        std::lock_guard<std::mutex> guard(mutex_);
        calls_.push_back({"drop", rpn, kPlain, 0});
    }
    bool transmitEvent(const std::string& name, std::string& error) override {
        return record({"event", name, kPlain, 1}, Needs::Connected, error);
    }

private:
    enum class Needs { Nothing, Ready, Connected };

    // A refused call is not recorded: nothing reached the simulator.
    bool record(const Call& call, Needs needs, std::string& error) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (needs == Needs::Ready && !ready_) {
            error = "MobiFlight not ready";
        } else if (needs == Needs::Connected && !connected_) {
            error = "SimConnect is not connected";
        } else {
            error = failure_;
        }
        if (!error.empty()) return false;
        calls_.push_back(call);
        return true;
    }

    mutable std::mutex mutex_;
    bool ready_ = false;       // guarded by mutex_
    bool connected_ = false;   // guarded by mutex_
    std::string failure_;      // guarded by mutex_
    std::vector<Call> calls_;  // guarded by mutex_
};
