#include "mapping_fixture.h"

#include "fakes/panels.h"

const char kMappingButtons[] = R"({
  "buttons": [
    {"name": "MAP_LEFT", "commands": {"PRESS": {"PFD": "ML_PRESS"}, "HOLD": {"PFD": "ML_HOLD"}}},
    {"name": "MAP_RIGHT", "commands": {"PRESS": {"DEFAULT": "MR_PRESS"}}},
    {"name": "MAP_UP", "commands": {"PRESS": {"DEFAULT": "MU_PRESS"}}},
    {"name": "AP_MASTER", "commands": {"PRESS": {"DEFAULT": "APM_PRESS"}}},
    {"name": "AP_ALT", "commands": {"PRESS": {"MFD": "ALT_MFD"}}},
    {"name": "NOSE_UP", "commands": {"PRESS": {"DEFAULT": "NU_PRESS"},
                                     "HOLD": {"DEFAULT": "NU_HOLD"},
                                     "RELEASE": {"DEFAULT": "NU_RELEASE"}}},
    {"name": "NOSE_DN", "commands": {"PRESS": {"DEFAULT": "ND"}, "HOLD": {"DEFAULT": "ND"}}},
    {"name": "NAV_SWAP", "commands": {"PRESS": {"DEFAULT": "SWAP_PRESS"},
                                      "HOLD": {"DEFAULT": "SWAP_HOLD"}}},
    {"name": "SOFTKEY_1", "commands": {"PRESS": {"PFD": "SK_PFD", "MFD": "SK_MFD",
                                                 "DEFAULT": "SK_DEFAULT"}}},
    {"name": "GATE", "commands": {"PRESS": {"DEFAULT": "GATE"}}}
  ],
  "knobs": [
    {"name": "HDG", "commands": {"CW": {"DEFAULT": "HDG_INC"}, "CCW": {"DEFAULT": "HDG_DEC"},
                                 "CW_FAST": {"DEFAULT": "HDG_INC_FAST"}}},
    {"name": "ALT", "commands": {"CW": {"DEFAULT": "ALT_INC"}, "CCW": {"DEFAULT": "ALT_DEC"}}}
  ]
})";

const char kMappingEvents[] = R"({
  "event_types": {"BUTTON": 1, "ENCODER": 2, "MODE_CHANGE": 4},
  "control_ids": {"MAP_LEFT": 1, "MAP_RIGHT": 2, "MAP_UP": 3, "AP_MASTER": 5, "AP_HDG": 7,
                  "AP_ALT": 8, "NOSE_UP": 15, "NOSE_DN": 17, "NAV_SWAP": 18, "HDG": 20, "ALT": 21,
                  "SOFTKEY_1": 41, "GATE": 60}
})";

namespace {

const char kSetPrefix[] = "MF.SimVars.Set.1 ";

emulation::VirtualPanel addPanel(emulation::VirtualHidBus& bus, const std::string& path,
                                 const std::string& boardId) {
    return bus.addPanel(fakes::panelSpec(path, boardId, "SN-" + boardId));
}

}  // namespace

MappingTest::MappingTest()
    : pfd{"E6614103E7452D2F", -1, addPanel(bus, "virtual://a-pfd", "E6614103E7452D2F")},
      aux{"C04A4E0000000009", -1, addPanel(bus, "virtual://b-aux", "C04A4E0000000009")} {
    config.vid = "0x2E8A";
    config.pid = "0x10C0";
    config.mobiflight.mapHoldRepeatMs = 100;
    config.outputs.debounceMs = 50;
    config.outputs.profiles["DEFAULT"] = OutputProfile{};
    config.devices.push_back(DeviceConfig{"E6614103E7452D2F", -1, "PFD", ""});
    std::string error;
    EXPECT_TRUE(buttons.loadFromText(kMappingButtons, error)) << error;
    EXPECT_TRUE(eventMap.loadFromText(kMappingEvents, error)) << error;
    sim.setTraceSink([this](const std::string& line) { gate.onTrace(line); });
}

void MappingTest::TearDown() {
    gate.open();
    if (engine) engine->stop();
    simConnect.stop();
    simConnect.setClientDataHandler({});
    if (session) session->stop();
    hid.stop();
}

void MappingTest::startEngine(Clock& engineClock) {
    engine = std::make_unique<MappingEngine>(engineClock);
    session = std::make_unique<MobiFlightSession>(simConnect, config.mobiflight);
    session->setLVarHandler(
        [this](const LVarPayload& payload) { engine->post(engine_event::LVarValue{payload}); });
    link = std::make_unique<SessionLink>(simConnect, *session, engineClock);
    std::string error;
    ASSERT_TRUE(engine->start(config, buttons, eventMap, *link, output, error)) << error;
    hid.setPanelListener([this](const PanelChange& change) {
        if (change.kind == PanelChange::Kind::Added) {
            engine->post(engine_event::PanelAdded{change.name, change.index, change.connection});
        } else {
            engine->post(engine_event::PanelRemoved{change.name, change.index, change.connection});
        }
    });
    const HidSettings settings{config.vid, config.pid, 1, 1000};
    auto sink = [this](const HidProtocol::HidEvent& event, const std::string& name,
                       std::int32_t index) { engine->submit(event, name, index); };
    ASSERT_TRUE(hid.start(settings, sink, error)) << error;
    const std::vector<HidDeviceInfo> devices = hid.listDevices();
    ASSERT_EQ(devices.size(), 2u);
    for (const HidDeviceInfo& device : devices) {
        Panel& panel = device.name == pfd.name ? pfd : aux;
        ASSERT_EQ(device.name, panel.name);
        panel.index = device.index;
    }
}

void MappingTest::startLink(bool waitReady) {
    sim.setSimulatorRunning(true);
    std::string error;
    if (config.mobiflight.enabled) {
        simConnect.setClientDataHandler(
            [this](std::uint32_t requestId, const std::uint8_t* data, std::uint32_t size) {
                engine->post(engine_event::ClientData{
                    requestId, std::vector<std::uint8_t>(data, data + (data ? size : 0))});
            });
    }
    auto onConnection = [this](bool connected) {
        engine->post(engine_event::LinkChanged{connected});
    };
    ASSERT_TRUE(simConnect.start("CorvaneHID", onConnection, {}, error)) << error;
    ASSERT_TRUE(SimEmulator::waitUntil([this] { return simConnect.isConnected(); }));
    if (!waitReady) return;
    ASSERT_TRUE(SimEmulator::waitUntil([this] {
        const auto texts = sim.moduleCommandTexts();
        return log.count("MobiFlight client registered") > 0 &&
               std::count(texts.begin(), texts.end(),
                          "MF.SimVars.Add.(L:LIGHTING_POTENTIOMETER_5)") > 0;
    }));
}

HidProtocol::HidEvent MappingTest::button(std::uint16_t id, std::int8_t value, std::uint8_t mode) {
    HidProtocol::HidEvent event;
    event.type = HidProtocol::kEventButton;
    event.controlId = id;
    event.value = value;
    event.mode = mode;
    return event;
}

HidProtocol::HidEvent MappingTest::encoder(std::uint16_t id, std::int8_t value, std::uint8_t speed,
                                           std::uint8_t mode) {
    HidProtocol::HidEvent event = button(id, value, mode);
    event.type = HidProtocol::kEventEncoder;
    event.speed = speed;
    return event;
}

std::vector<std::string> MappingTest::rpnTexts() const {
    std::vector<std::string> result;
    for (const std::string& text : sim.moduleCommandTexts()) {
        if (text.rfind(kSetPrefix, 0) == 0) result.push_back(text.substr(sizeof kSetPrefix - 1));
    }
    return result;
}

int MappingTest::countRpn(const std::string& rpn) const {
    const std::vector<std::string> texts = rpnTexts();
    return static_cast<int>(std::count(texts.begin(), texts.end(), rpn));
}

bool MappingTest::waitRpn(const std::string& rpn, int times) const {
    return SimEmulator::waitUntil([&] { return countRpn(rpn) >= times; });
}

std::vector<std::string> MappingTest::transmittedEvents() const {
    std::vector<std::string> names;
    for (const auto& event : sim.transmittedEvents())
        names.push_back(event.name);
    return names;
}

std::vector<std::string> MappingTest::traces() const {
    std::vector<std::string> result;
    for (const std::string& message : log.messages("DEBUG")) {
        if (message.rfind("HID event from ", 0) == 0) result.push_back(message);
    }
    return result;
}

bool MappingTest::waitTraces(std::size_t count) const {
    return SimEmulator::waitUntil([&] { return traces().size() >= count; });
}

void MappingTest::blockEngineInGate() {
    gate.close(std::string(kSetPrefix) + "GATE");
    submit(pfd, button(kGate, 1));
    ASSERT_TRUE(gate.waitBlocked());
}

std::vector<LedCommand> MappingTest::ledReports(const Panel& panel) {
    std::vector<LedCommand> result;
    for (const emulation::ReceivedReport& report : panel.device.received()) {
        LedCommand command;
        if (HidProtocol::parseLedCtlReport(report.bytes.data(), report.bytes.size(), command))
            result.push_back(command);
    }
    return result;
}

bool MappingTest::waitLedReports(const Panel& panel, std::size_t count) {
    return SimEmulator::waitUntil([&] { return ledReports(panel).size() >= count; });
}
