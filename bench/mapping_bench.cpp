// The road of a panel event: an input report queued at a virtual panel,
// read by the HID manager, dispatched by the mapping engine, queued by the
// MobiFlight client and written into the emulated simulator's command area.
// Debug logging is off, as in a normal run. Built twice, once per way to the
// simulator (bench_transport.h): mapping_bench in-process, and
// mapping_bench_loopback through the network client and the emulator's wire
// front on 127.0.0.1. Each benchmark's label names the way.
//
//   BM_PressLatency           one press at a time: report in, command out; the
//                             counters p50_us, p99_us and p999_us are the
//                             latency's percentiles over the final run's presses
//                             (p99.9 is the slowest of the last thousandth)
//   BM_PressThroughput/N      bursts of presses spread over N panels
//   BM_EncoderFlood           interleaved detents of two knobs; every step is
//                             written exactly once, and the counter "runs"
//                             counts the stretches of one text in the written
//                             commands: while the writer is behind, one queue
//                             entry per text gives few long stretches (one
//                             entry per detent would alternate the texts)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/app_config.h"
#include "config/button_config.h"
#include "config/event_map.h"
#include "emulation/sim_emulator.h"
#include "emulation/virtual_hid_bus.h"
#include "hid/hid_manager.h"
#include "log/logger.h"
#include "mapping/mapping_engine.h"
#include "mapping/session_link.h"
#include "mapping/hid_panel_output.h"
#include "sim/mobiflight_session.h"
#include "sim/simconnect_client.h"

#include "bench_transport.h"

namespace {

const char kButtons[] = R"json({
  "buttons": [{"name": "SOFTKEY_1", "commands": {"PRESS": {"DEFAULT": "(>H:SOFTKEY_1)"
}
}
}],
  "knobs": [
    {"name": "HDG", "commands": {"CW": {"DEFAULT": "(>K:HEADING_BUG_INC)"}}},
    {"name": "ALT", "commands": {"CW": {"DEFAULT": "(>K:AP_ALT_VAR_INC)"}}}
  ]
})json";
const char kEvents[] = R"({
  "event_types": {"BUTTON": 1, "ENCODER": 2},
  "control_ids": {"SOFTKEY_1": 41, "HDG": 20, "ALT": 21}
})";
const std::string kPress = "MF.SimVars.Set.1 (>H:SOFTKEY_1)";
const std::string kHdg = "MF.SimVars.Set.1 (>K:HEADING_BUG_INC)";
const std::string kAlt = "MF.SimVars.Set.1 (>K:AP_ALT_VAR_INC)";

// Counts the commands the emulated module receives, and the stretches of
// one text in a row.
class CommandCounter {
public:
    void onTrace(const std::string& line) {
        if (line.rfind("command MF.SimVars.Set.1 ", 0) != 0) return;
        const std::string text = line.substr(8);
        std::lock_guard<std::mutex> guard(mutex_);
        ++counts_[text];
        ++total_;
        if (text != last_) ++runs_;
        last_ = text;
        changed_.notify_all();
    }
    // Real-time wait until `total` commands were received in all.
    bool waitTotal(std::uint64_t total) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return total_ >= total; });
    }
    std::uint64_t total() {
        std::lock_guard<std::mutex> guard(mutex_);
        return total_;
    }
    std::uint64_t runs() {
        std::lock_guard<std::mutex> guard(mutex_);
        return runs_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, std::uint64_t> counts_;
    std::uint64_t total_ = 0;
    std::uint64_t runs_ = 0;
    std::string last_;
};

// The program's parts as the Application wires them, on `panels` virtual
// panels and a running simulator with a registered MobiFlight client.
class Rig {
public:
    Rig(int panels, BenchLink link)
        : transport_(link == BenchLink::InProcess ? makeInProcessTransport(error_)
                                                  : makeLoopbackTransport(error_)),
          sim_(transport_ ? &transport_->simulator() : nullptr) {
        if (!sim_) return;
        simConnect_ = std::make_unique<SimConnectClient>(transport_->library(), Clock::system(),
                                                         sim_->processProbe());
        const auto folder = std::filesystem::temp_directory_path() / "corvane-bench";
        std::filesystem::create_directories(folder);
        Logger::instance().open(folder.string(), "bench", 5242880, 2, false);
        Logger::instance().setDebugEnabled(false);

        config_.vid = "0x2E8A";
        config_.pid = "0x10C0";
        config_.outputs.profiles["DEFAULT"] = OutputProfile{};
        std::string error;
        buttons_.loadFromText(kButtons, error);
        events_.loadFromText(kEvents, error);
        for (int i = 0; i < panels; ++i)
            panels_.push_back(addPanel(i));

        sim_->setTraceSink([this](const std::string& line) { counter.onTrace(line); });
        sim_->setSimulatorRunning(true);
        simConnect_->setSimulatorPolicy(transport_->policy());
        session_ = std::make_unique<MobiFlightSession>(*simConnect_, config_.mobiflight);
        link_ = std::make_unique<SessionLink>(*simConnect_, *session_, Clock::system());
        simConnect_->setClientDataHandler(
            [this](std::uint32_t requestId, const std::uint8_t* data, std::uint32_t size) {
                engine_.post(engine_event::ClientData{
                    requestId, std::vector<std::uint8_t>(data, data + (data ? size : 0))});
            });
        ok_ = engine_.start(config_, buttons_, events_, *link_, output_, error) &&
              simConnect_->start(
                  "CorvaneHID", [this](bool c) { onConnection(c); }, {}, error);
        const HidSettings settings{config_.vid, config_.pid, 2, 1000};
        ok_ = ok_ && hid_.start(
                         settings,
                         [this](const HidProtocol::HidEvent& e, const std::string& name,
                                std::int32_t index) { engine_.submit(e, name, index); },
                         error);
        ok_ = ok_ && SimEmulator::waitUntil([this] { return registered(); }) &&
              hid_.deviceCount() == static_cast<std::size_t>(panels);
        error_ = error;
    }
    ~Rig() {
        engine_.stop();
        if (simConnect_) {
            simConnect_->stop();
            simConnect_->setClientDataHandler({});
        }
        if (session_) session_->stop();
        hid_.stop();
        Logger::instance().close();
    }

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const char* label() const { return transport_ ? transport_->label() : ""; }
    emulation::VirtualPanel& panel(std::size_t i) { return panels_[i % panels_.size()]; }

    CommandCounter counter;

private:
    // The session subscribed the backlight: it was ready in the same step.
    bool registered() const {
        const auto texts = sim_->moduleCommandTexts();
        return std::count(texts.begin(), texts.end(),
                          "MF.SimVars.Add.(L:LIGHTING_POTENTIOMETER_5)") > 0;
    }
    emulation::VirtualPanel addPanel(int i) {
        emulation::VirtualPanelSpec description;
        description.path = "virtual://panel" + std::to_string(10 + i);
        description.vendorId = 0x2E8A;
        description.productId = 0x10C0;
        description.serial = "SN" + std::to_string(i);
        description.boardId =
            std::array<std::uint8_t, 8>{0xC0, 0x4A, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(i)};
        description.protocol = HidProtocol::ProtocolInfo{1, 0, 0};
        return bus_.addPanel(description);
    }
    void onConnection(bool connected) {
        hid_.setSimConnected(connected);
        engine_.post(engine_event::LinkChanged{connected});
    }

    std::string error_;  // first: the transport's set-up writes it
    AppConfig config_;
    ButtonConfig buttons_;
    EventMap events_;
    std::unique_ptr<BenchTransport> transport_;
    SimEmulator* sim_;  // the transport's
    std::unique_ptr<SimConnectClient> simConnect_;
    std::unique_ptr<MobiFlightSession> session_;  // the engine thread's
    emulation::VirtualHidBus bus_;
    HidManager hid_{bus_};
    std::unique_ptr<SessionLink> link_;
    HidPanelOutput output_{hid_};
    MappingEngine engine_;
    std::vector<emulation::VirtualPanel> panels_;
    bool ok_ = false;
};

// The nearest-rank percentile `fraction` of sorted `samples`.
double percentile(const std::vector<double>& samples, double fraction) {
    if (samples.empty()) return 0.0;
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * samples.size()));
    return samples[std::min(samples.size(), std::max<std::size_t>(rank, 1)) - 1];
}

void BM_PressLatency(benchmark::State& state, BenchLink link) {
    Rig rig(1, link);
    if (!rig.ok()) return state.SkipWithError(("set-up failed: " + rig.error()).c_str());
    state.SetLabel(rig.label());
    std::uint64_t sent = 0;
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        rig.panel(0).pushButton(41, 1);
        if (!rig.counter.waitTotal(++sent)) return state.SkipWithError("command lost");
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    state.SetItemsProcessed(state.iterations());
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = percentile(micros, 0.50);
    state.counters["p99_us"] = percentile(micros, 0.99);
    state.counters["p999_us"] = percentile(micros, 0.999);
}
BENCHMARK_CAPTURE(BM_PressLatency, inprocess, BenchLink::InProcess)
    ->MinTime(1.0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PressLatency, loopback, BenchLink::Loopback)
    ->MinTime(1.0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

void BM_PressThroughput(benchmark::State& state, BenchLink link) {
    const int panels = static_cast<int>(state.range(0));
    constexpr int kBurst = 256;
    Rig rig(panels, link);
    if (!rig.ok()) return state.SkipWithError(("set-up failed: " + rig.error()).c_str());
    state.SetLabel(rig.label());
    std::uint64_t sent = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBurst; ++i)
            rig.panel(static_cast<std::size_t>(i)).pushButton(41, 1);
        sent += kBurst;
        if (!rig.counter.waitTotal(sent)) return state.SkipWithError("command lost");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(sent));
}
BENCHMARK_CAPTURE(BM_PressThroughput, inprocess, BenchLink::InProcess)
    ->Arg(1)
    ->Arg(8)
    ->MinTime(1.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PressThroughput, loopback, BenchLink::Loopback)
    ->Arg(1)
    ->Arg(8)
    ->MinTime(1.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_EncoderFlood(benchmark::State& state, BenchLink link) {
    constexpr int kDetents = 2000;  // per knob and iteration
    Rig rig(1, link);
    if (!rig.ok()) return state.SkipWithError(("set-up failed: " + rig.error()).c_str());
    state.SetLabel(rig.label());
    std::uint64_t sent = 0;
    const std::uint64_t runsBefore = rig.counter.runs();
    for (auto _ : state) {
        for (int i = 0; i < kDetents; ++i) {
            rig.panel(0).pushEncoder(20, 1);
            rig.panel(0).pushEncoder(21, 1);
        }
        sent += 2 * kDetents;
        if (!rig.counter.waitTotal(sent)) return state.SkipWithError("steps lost");
    }
    const std::uint64_t runs = rig.counter.runs() - runsBefore;
    state.SetItemsProcessed(static_cast<std::int64_t>(sent));
    state.counters["runs"] = static_cast<double>(runs);
    state.counters["steps_per_run"] = static_cast<double>(sent) / static_cast<double>(runs);
    if (rig.counter.total() != sent) state.SkipWithError("more steps written than turned");
}
BENCHMARK_CAPTURE(BM_EncoderFlood, inprocess, BenchLink::InProcess)
    ->MinTime(1.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EncoderFlood, loopback, BenchLink::Loopback)
    ->MinTime(1.0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
