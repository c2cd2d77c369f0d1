#include "emulation/sim_emulator.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

#include "common/ascii.h"
#include "common/command_table.h"
#include "common/program_name.h"
#include "emulation/sim_event_names.h"
#include "sim/sim_variables.h"

using namespace simconnect;

namespace {

constexpr DWORD kMessageVersion = 4;
constexpr std::uintptr_t kHandleBase = 0x5C0000;
// Fixed-size string fields of the wire format: longer names are refused.
constexpr std::size_t kMaxNameLength = 255;
const char kDefaultCommandArea[] = "MobiFlight.Command";

// The aircraft and flight every emulator starts with.
const char kDefaultAircraftPath[] = R"(SimObjects\Airplanes\Emulated_Trainer\aircraft.cfg)";
const char kDefaultAircraftTitle[] = "Emulated Trainer";
const char kDefaultAircraftModel[] = "TRAINER";
const char kFlightPath[] = R"(flights\emulated.FLT)";

// System events (compared in lower case) and states (as documented).
const char kEventAircraftLoaded[] = "aircraftloaded";
const char kEventFlightLoaded[] = "flightloaded";
const char kEventSimStart[] = "simstart";
const char kEventSimStop[] = "simstop";
const char kEventSim[] = "sim";
const char kEventPause[] = "pause";
const char kEventFrame[] = "frame";
const char kStateAircraftLoaded[] = "AircraftLoaded";
const char kStateFlightLoaded[] = "FlightLoaded";
const char kStateSim[] = "Sim";
const char kStateDialogMode[] = "DialogMode";
const char kStateFlightPlan[] = "FlightPlan";

// String SimVars of the user aircraft.
const char kTitleVariable[] = "TITLE";
const char kAtcModelVariable[] = "ATC MODEL";

// A frame event reports the simulation running at real-time speed.
constexpr float kSimSpeed = 1.0f;
// A client that makes no call for longer misses the events of the older
// frames (a second's worth are kept).
constexpr double kCatchUpSeconds = 1.0;

std::string upper(const std::string& text) {
    return toUpperAscii(text);
}

std::uintptr_t handleValue(HANDLE handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

HANDLE handleFor(int number) {
    // Never null, and far from small integers a caller might pass by mistake.
    return reinterpret_cast<HANDLE>(kHandleBase + static_cast<unsigned>(number));
}

void putDword(std::vector<std::uint8_t>& bytes, std::size_t offset, DWORD value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(value));
}

std::vector<std::uint8_t> header(std::size_t size, DWORD id) {
    std::vector<std::uint8_t> bytes(size, 0);
    putDword(bytes, 0, static_cast<DWORD>(size));
    putDword(bytes, 4, kMessageVersion);
    putDword(bytes, 8, id);
    return bytes;
}

std::vector<std::uint8_t> dataMessage(DWORD id, DWORD requestId, DWORD defineId, DWORD flags,
                                      DWORD count, const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> bytes = header(kRecvDataPayloadOffset + payload.size(), id);
    putDword(bytes, 12, requestId);
    putDword(bytes, 16, SIMCONNECT_OBJECT_ID_USER);
    putDword(bytes, 20, defineId);
    putDword(bytes, 24, flags);
    putDword(bytes, 28, 1);
    putDword(bytes, 32, 1);
    putDword(bytes, 36, count);
    std::copy(payload.begin(), payload.end(), bytes.begin() + kRecvDataPayloadOffset);
    return bytes;
}

std::uint32_t sizeOfType(DWORD sizeOrType) {
    switch (sizeOrType) {
        case SIMCONNECT_CLIENTDATATYPE_INT8:
            return 1;
        case SIMCONNECT_CLIENTDATATYPE_INT16:
            return 2;
        case SIMCONNECT_CLIENTDATATYPE_INT32:
            return 4;
        case SIMCONNECT_CLIENTDATATYPE_INT64:
            return 8;
        case SIMCONNECT_CLIENTDATATYPE_FLOAT32:
            return 4;
        case SIMCONNECT_CLIENTDATATYPE_FLOAT64:
            return 8;
        default:
            return sizeOrType;
    }
}

// A definition's datums add up to at most this many bytes (a client-data
// area's largest size): one answer to a request never holds more.
constexpr std::size_t kMaxDefinitionBytes = SIMCONNECT_CLIENTDATA_MAX_SIZE;

// The bytes a sim-variable datum of `type` takes in an answer.
std::size_t simDatumSize(SIMCONNECT_DATATYPE type) {
    return type == SIMCONNECT_DATATYPE_INT32 || type == SIMCONNECT_DATATYPE_FLOAT32 ? 4 : 8;
}

template <typename T>
void appendValue(std::vector<std::uint8_t>& bytes, T value) {
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&value);
    bytes.insert(bytes.end(), raw, raw + sizeof(T));
}

// The field size of a fixed-length string type; 0 for other types.
std::size_t stringTypeSize(SIMCONNECT_DATATYPE type) {
    switch (type) {
        case SIMCONNECT_DATATYPE_STRING8:
            return 8;
        case SIMCONNECT_DATATYPE_STRING32:
            return 32;
        case SIMCONNECT_DATATYPE_STRING64:
            return 64;
        case SIMCONNECT_DATATYPE_STRING128:
            return 128;
        case SIMCONNECT_DATATYPE_STRING256:
            return 256;
        case SIMCONNECT_DATATYPE_STRING260:
            return 260;
        default:
            return 0;
    }
}

// `text` in a field of `size` bytes: cut to leave room for the NUL, then zeros.
void putText(std::vector<std::uint8_t>& bytes, std::size_t offset, const std::string& text,
             std::size_t size) {
    const std::size_t n = std::min(text.size(), size - 1);
    std::copy_n(text.begin(), n, bytes.begin() + static_cast<long>(offset));
}

std::vector<std::uint8_t> eventMessage(DWORD eventId, DWORD data) {
    std::vector<std::uint8_t> bytes = header(sizeof(SIMCONNECT_RECV_EVENT), SIMCONNECT_RECV_ID_EVENT);
    putDword(bytes, offsetof(SIMCONNECT_RECV_EVENT, uGroupID), SIMCONNECT_UNKNOWN_GROUP);
    putDword(bytes, offsetof(SIMCONNECT_RECV_EVENT, uEventID), eventId);
    putDword(bytes, offsetof(SIMCONNECT_RECV_EVENT, dwData), data);
    return bytes;
}

std::vector<std::uint8_t> fileEventMessage(DWORD eventId, const std::string& path) {
    std::vector<std::uint8_t> bytes =
        header(sizeof(SIMCONNECT_RECV_EVENT_FILENAME), SIMCONNECT_RECV_ID_EVENT_FILENAME);
    putDword(bytes, offsetof(SIMCONNECT_RECV_EVENT_FILENAME, uGroupID), SIMCONNECT_UNKNOWN_GROUP);
    putDword(bytes, offsetof(SIMCONNECT_RECV_EVENT_FILENAME, uEventID), eventId);
    putText(bytes, offsetof(SIMCONNECT_RECV_EVENT_FILENAME, szFileName), path, SIMCONNECT_MAX_PATH);
    return bytes;
}

std::vector<std::uint8_t> frameEventMessage(DWORD eventId, float frameRate) {
    std::vector<std::uint8_t> bytes =
        header(sizeof(SIMCONNECT_RECV_EVENT_FRAME), SIMCONNECT_RECV_ID_EVENT_FRAME);
    putDword(bytes, offsetof(SIMCONNECT_RECV_EVENT_FRAME, uGroupID), SIMCONNECT_UNKNOWN_GROUP);
    putDword(bytes, offsetof(SIMCONNECT_RECV_EVENT_FRAME, uEventID), eventId);
    std::memcpy(bytes.data() + offsetof(SIMCONNECT_RECV_EVENT_FRAME, fFrameRate), &frameRate,
                sizeof frameRate);
    std::memcpy(bytes.data() + offsetof(SIMCONNECT_RECV_EVENT_FRAME, fSimSpeed), &kSimSpeed,
                sizeof kSimSpeed);
    return bytes;
}

std::vector<std::uint8_t> systemStateMessage(DWORD requestId, DWORD integer,
                                             const std::string& text) {
    std::vector<std::uint8_t> bytes =
        header(sizeof(SIMCONNECT_RECV_SYSTEM_STATE), SIMCONNECT_RECV_ID_SYSTEM_STATE);
    putDword(bytes, offsetof(SIMCONNECT_RECV_SYSTEM_STATE, dwRequestID), requestId);
    putDword(bytes, offsetof(SIMCONNECT_RECV_SYSTEM_STATE, dwInteger), integer);
    putText(bytes, offsetof(SIMCONNECT_RECV_SYSTEM_STATE, szString), text, SIMCONNECT_MAX_PATH);
    return bytes;
}

}  // namespace

SimEmulator::SimEmulator(Clock& clock, std::size_t recordLimit)
    : clock_(clock),
      recordLimit_(recordLimit ? recordLimit : 1),
      knownEvents_(emulation::knownSimEventNames()),
      eventMappings_(recordLimit),
      transmittedEvents_(recordLimit),
      exceptions_(recordLimit),
      openTimes_(recordLimit),
      module_(*this, recordLimit) {
    {
        MutexLock guard(mutex_);
        module_.load();
        aircraft_ = defaultAircraft();
        frameOrigin_ = clock_.now();
    }
}

SimEmulator::~SimEmulator() = default;

// --- scripting -------------------------------------------------------------

void SimEmulator::setSimulatorRunning(bool running) {
    MutexLock guard(mutex_);
    running_ = running;
}

bool SimEmulator::simulatorRunning() const {
    MutexLock guard(mutex_);
    return running_;
}

std::function<bool()> SimEmulator::processProbe() {
    return [this] { return simulatorRunning(); };
}

void SimEmulator::setOpenResult(HRESULT result) {
    MutexLock guard(mutex_);
    openResult_ = result;
}

void SimEmulator::failNextOpens(int count, HRESULT result) {
    MutexLock guard(mutex_);
    failOpens_ = count;
    failOpenResult_ = result;
}

int SimEmulator::openAttempts() const {
    MutexLock guard(mutex_);
    return openAttempts_;
}

int SimEmulator::connectionCount() const {
    MutexLock guard(mutex_);
    return connectionCount_;
}

int SimEmulator::openConnectionCount() const {
    MutexLock guard(mutex_);
    return static_cast<int>(connections_.size());
}

std::string SimEmulator::clientName(int connection) const {
    MutexLock guard(mutex_);
    const auto it = clientNames_.find(connection);
    return it == clientNames_.end() ? std::string() : it->second;
}

int SimEmulator::callsOnClosedHandles() const {
    MutexLock guard(mutex_);
    return callsOnClosedHandles_;
}

void SimEmulator::breakConnections(HRESULT result) {
    MutexLock guard(mutex_);
    for (auto& entry : connections_)
        entry.second.brokenResult = result;
}

void SimEmulator::setAnswersOpen(bool answers) {
    MutexLock guard(mutex_);
    answersOpen_ = answers;
}

void SimEmulator::setBreakAfterOpen(HRESULT result) {
    MutexLock guard(mutex_);
    breakAfterOpen_ = result;
}

void SimEmulator::vanishSilently() {
    MutexLock guard(mutex_);
    running_ = false;
    for (auto& entry : connections_) {
        entry.second.silent = true;
        entry.second.inbox.clear();
    }
    traceLocked("vanish");
}

std::vector<Clock::TimePoint> SimEmulator::openTimes() const {
    MutexLock guard(mutex_);
    return openTimes_.entries();
}

void SimEmulator::sendQuit() {
    MutexLock guard(mutex_);
    for (auto& entry : connections_) {
        entry.second.inbox.push_back(header(sizeof(SIMCONNECT_RECV_QUIT), SIMCONNECT_RECV_ID_QUIT));
        traceLocked("quit " + std::to_string(entry.second.number));
    }
}

void SimEmulator::exitSimulator() {
    MutexLock guard(mutex_);
    running_ = false;
    for (auto& entry : connections_) {
        entry.second.inbox.push_back(header(sizeof(SIMCONNECT_RECV_QUIT), SIMCONNECT_RECV_ID_QUIT));
        entry.second.breakAfterDispatch = true;
        entry.second.breakResult = PIPE_DISCONNECTED_RESULT;
        traceLocked("quit " + std::to_string(entry.second.number));
    }
}

void SimEmulator::failCalls(const std::string& function, HRESULT result, int count) {
    MutexLock guard(mutex_);
    callFailures_[function] = {result, count};
}

void SimEmulator::clearCallFailures() {
    MutexLock guard(mutex_);
    callFailures_.clear();
}

void SimEmulator::queueMessage(const std::vector<std::uint8_t>& bytes) {
    MutexLock guard(mutex_);
    for (auto& entry : connections_)
        entry.second.inbox.push_back(bytes);
}

void SimEmulator::setSimVar(const std::string& name, double value) {
    MutexLock guard(mutex_);
    simVars_[upper(name)] = value;
    evaluateSimRequestsLocked();
}

void SimEmulator::setBattery(bool on) {
    setSimVar(kBatteryVariable, on ? 1.0 : 0.0);
}

SimEmulator::Aircraft SimEmulator::defaultAircraft() {
    return {kDefaultAircraftPath, kDefaultAircraftTitle, kDefaultAircraftModel};
}

void SimEmulator::setAircraft(const Aircraft& aircraft) {
    MutexLock guard(mutex_);
    tickLocked();
    const bool newFile = aircraft.path != aircraft_.path;
    aircraft_ = aircraft;
    traceLocked("aircraft " + aircraft.title + " (" + aircraft.path + "), ATC model " +
                aircraft.atcModel);
    if (newFile) {
        systemEventLocked(kEventAircraftLoaded,
                          [&](DWORD id) { return fileEventMessage(id, aircraft.path); });
    }
    evaluateSimRequestsLocked();
}

SimEmulator::Aircraft SimEmulator::aircraft() const {
    MutexLock guard(mutex_);
    return aircraft_;
}

bool SimEmulator::startFlight() {
    MutexLock guard(mutex_);
    tickLocked();
    if (flying_) return false;
    flying_ = true;
    paused_ = false;
    traceLocked("flight started");
    systemEventLocked(kEventFlightLoaded, [](DWORD id) { return fileEventMessage(id, kFlightPath); });
    simpleSystemEventLocked(kEventSimStart, 0);
    simpleSystemEventLocked(kEventSim, 1);
    return true;
}

bool SimEmulator::stopFlight() {
    MutexLock guard(mutex_);
    tickLocked();
    if (!flying_) return false;
    if (paused_) simpleSystemEventLocked(kEventPause, 0);
    flying_ = false;
    paused_ = false;
    traceLocked("flight stopped");
    simpleSystemEventLocked(kEventSimStop, 0);
    simpleSystemEventLocked(kEventSim, 0);
    return true;
}

bool SimEmulator::setPaused(bool paused) {
    MutexLock guard(mutex_);
    tickLocked();
    if (!flying_ || paused_ == paused) return false;
    paused_ = paused;
    traceLocked(paused ? "flight paused" : "flight resumed");
    simpleSystemEventLocked(kEventPause, paused ? 1 : 0);
    return true;
}

bool SimEmulator::flying() const {
    MutexLock guard(mutex_);
    return flying_;
}

bool SimEmulator::paused() const {
    MutexLock guard(mutex_);
    return paused_;
}

bool SimEmulator::setFrameRate(double framesPerSecond) {
    if (!(framesPerSecond > 0.0 && framesPerSecond <= kMaxFrameRate)) return false;
    MutexLock guard(mutex_);
    tickLocked();
    frameRate_ = framesPerSecond;
    if (!stallUntil_) {
        frameOrigin_ = clock_.now();
        framesSinceOrigin_ = 0;
    }
    return true;
}

double SimEmulator::frameRate() const {
    MutexLock guard(mutex_);
    return frameRate_;
}

void SimEmulator::stallFrames(Clock::Duration duration) {
    MutexLock guard(mutex_);
    tickLocked();
    const Clock::TimePoint end = clock_.now() + duration;
    if (!stallUntil_ || *stallUntil_ < end) stallUntil_ = end;
}

std::uint64_t SimEmulator::frameCount() const {
    MutexLock guard(mutex_);
    return frameCount_;
}

void SimEmulator::setFrameHook(std::function<void(std::uint64_t)> hook) {
    MutexLock guard(mutex_);
    tickLocked();
    frameHook_ = std::move(hook);
}

std::optional<Clock::TimePoint> SimEmulator::nextFrameDue() const {
    MutexLock guard(mutex_);
    if (!frameHook_ && !frameSubscribedLocked()) return std::nullopt;
    if (stallUntil_) return *stallUntil_ + (frameEndLocked(1) - frameOrigin_);
    return frameEndLocked(framesSinceOrigin_ + 1);
}

void SimEmulator::runDueFrames() {
    MutexLock guard(mutex_);
    tickLocked();
}

std::vector<SimEmulator::EventMapping> SimEmulator::eventMappings() const {
    MutexLock guard(mutex_);
    return eventMappings_.entries();
}

std::vector<SimEmulator::TransmittedEvent> SimEmulator::transmittedEvents() const {
    MutexLock guard(mutex_);
    return transmittedEvents_.entries();
}

std::vector<SimEmulator::ServerException> SimEmulator::serverExceptions() const {
    MutexLock guard(mutex_);
    return exceptions_.entries();
}

void SimEmulator::forgetSimEvent(const std::string& name) {
    MutexLock guard(mutex_);
    knownEvents_.erase(std::remove(knownEvents_.begin(), knownEvents_.end(), name),
                       knownEvents_.end());
}

void SimEmulator::createClientData(const std::string& name, std::uint32_t size) {
    MutexLock guard(mutex_);
    createArea(name, size);
}

std::vector<std::uint8_t> SimEmulator::clientData(const std::string& name) const {
    MutexLock guard(mutex_);
    return readArea(name);
}

void SimEmulator::writeClientData(const std::string& name, std::uint32_t offset,
                                  const std::vector<std::uint8_t>& bytes) {
    MutexLock guard(mutex_);
    writeAreaLocked(name, offset, bytes, 0);
}

void SimEmulator::setRegistrationReply(RegistrationReply reply) {
    MutexLock guard(mutex_);
    module_.setRegistrationReply(reply);
}

void SimEmulator::setModuleLoaded(bool loaded) {
    MutexLock guard(mutex_);
    moduleLoadPending_ = false;
    moduleLoadScheduled_ = false;
    if (loaded) {
        module_.load();
    } else {
        module_.unload();
    }
}

bool SimEmulator::moduleLoaded() const {
    MutexLock guard(mutex_);
    return module_.loaded();
}

void SimEmulator::loadModuleAfterOpen(Clock::Duration delay) {
    MutexLock guard(mutex_);
    module_.unload();
    moduleLoadPending_ = true;
    moduleLoadScheduled_ = false;
    moduleLoadDelay_ = delay;
}

void SimEmulator::moduleRespond(const std::string& text, const std::string& client) {
    MutexLock guard(mutex_);
    module_.respond(client, text);
}

void SimEmulator::startSecondClient(const std::vector<std::string>& rpns) {
    MutexLock guard(mutex_);
    writeCommandLocked(kDefaultCommandArea, "MF.DummyCmd", 0);
    writeCommandLocked(kDefaultCommandArea, "MF.SimVars.Clear", 0);
    for (const std::string& rpn : rpns)
        writeCommandLocked(kDefaultCommandArea, "MF.SimVars.Add." + rpn, 0);
}

void SimEmulator::writeCommandLocked(const std::string& area, const std::string& text, int writer) {
    std::vector<std::uint8_t> block(MobiFlightModule::kCommandSize, 0);
    std::copy(text.begin(), text.begin() + std::min(text.size(), block.size() - 1), block.begin());
    writeAreaLocked(area, 0, block, writer);
}

std::uint64_t SimEmulator::moduleCommandCount() const {
    MutexLock guard(mutex_);
    return module_.commands().total();
}

std::vector<SimEmulator::ModuleCommand> SimEmulator::moduleCommands() const {
    MutexLock guard(mutex_);
    return module_.commands().entries();
}

std::vector<std::string> SimEmulator::moduleCommandTexts() const {
    MutexLock guard(mutex_);
    std::vector<std::string> texts;
    for (const ModuleCommand& command : module_.commands().entries())
        texts.push_back(command.text);
    return texts;
}

std::vector<std::string> SimEmulator::moduleVariables(const std::string& client) const {
    MutexLock guard(mutex_);
    return module_.variables(client);
}

void SimEmulator::setLVar(const std::string& name, float value) {
    MutexLock guard(mutex_);
    setLVarLocked(name, value);
}

float SimEmulator::lvarValue(const std::string& name) const {
    MutexLock guard(mutex_);
    return lvar(name);
}

void SimEmulator::pushLVarText(const std::string& text, const std::string& area) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    MutexLock guard(mutex_);
    writeAreaLocked(area, 0, bytes, 0);
}

void SimEmulator::setTraceSink(std::function<void(const std::string&)> sink) {
    MutexLock guard(mutex_);
    traceSink_ = std::move(sink);
}

void SimEmulator::setDispatchHook(std::function<void()> hook) {
    MutexLock guard(mutex_);
    dispatchHook_ = std::move(hook);
}

void SimEmulator::setClientDataCallHook(std::function<void(const std::string&)> hook) {
    MutexLock guard(mutex_);
    clientDataCallHook_ = std::move(hook);
}

void SimEmulator::runClientDataCallHook(const char* function) {
    std::function<void(const std::string&)> hook;
    {
        MutexLock guard(mutex_);
        hook = clientDataCallHook_;
    }
    if (hook) hook(function);
}

bool SimEmulator::waitUntil(const std::function<bool()>& condition,
                            std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

namespace {

using Words = CommandTable::Words;

// An option "key=yes|no": `set` gets true for yes; any other value is
// refused.
CommandTable::Handler either(const char* yes, const char* no, std::function<void(bool)> set) {
    return [yes, no, set](const Words& w) {
        if (w[1] != yes && w[1] != no) return false;
        set(w[1] == yes);
        return true;
    };
}

// An option "key=<value>": an empty value is refused.
CommandTable::Handler valued(std::function<void(const std::string&)> set) {
    return [set](const Words& w) {
        if (w[1].empty()) return false;
        set(w[1]);
        return true;
    };
}

}  // namespace

// The configuration options; each handler gets {key, value} and refuses a
// value it does not take. `self` is null when only the help is wanted.
CommandTable SimEmulator::optionTable(SimEmulator* self) {
    CommandTable options;
    options
        .add("running|stopped", "", "the simulator runs, or has not started yet",
             [self](const Words& w) {
                 self->setSimulatorRunning(w[0] == "running");
                 return true;
             })
        .add("flight", "=running|stopped", "a flight runs, or the main menu shows",
             either("running", "stopped",
                    [self](bool running) {
                        if (running) {
                            self->startFlight();
                        } else {
                            self->stopFlight();
                        }
                    }))
        .add("battery", "=on|off", "the master battery",
             either("on", "off", [self](bool on) { self->setBattery(on); }))
        .add("backlight", "=<value>", "the panel backlight potentiometer",
             valued([self](const std::string& v) {
                 self->setLVar(kBacklightVariable, std::strtof(v.c_str(), nullptr));
             }))
        .add("reply", "=finished|none", "the module answers registrations, or ignores them",
             either("finished", "none",
                    [self](bool finished) {
                        self->setRegistrationReply(finished ? RegistrationReply::Finished
                                                            : RegistrationReply::None);
                    }))
        .add("module", "=loaded|absent", "the MobiFlight module loaded now, or not installed",
             either("loaded", "absent", [self](bool loaded) { self->setModuleLoaded(loaded); }))
        .add("module-late", "=<seconds>", "the module loads that long after the next connection",
             valued([self](const std::string& v) {
                 self->loadModuleAfterOpen(std::chrono::milliseconds(
                     static_cast<long long>(std::strtod(v.c_str(), nullptr) * 1000)));
             }))
        .add("open-fail", "=<count>", "that many next connection attempts fail",
             valued([self](const std::string& v) { self->failNextOpens(std::atoi(v.c_str())); }));
    return options;
}

std::string SimEmulator::optionsHelp() {
    return optionTable(nullptr).help(24);
}

bool SimEmulator::configure(const std::string& options, std::string& error) {
    const CommandTable table = optionTable(this);
    std::size_t start = 0;
    while (start <= options.size()) {
        std::size_t comma = options.find(',', start);
        if (comma == std::string::npos) comma = options.size();
        std::string option = options.substr(start, comma - start);
        option.erase(0, option.find_first_not_of(' '));
        option.erase(option.find_last_not_of(' ') + 1);
        start = comma + 1;
        if (option.empty()) continue;
        const std::size_t eq = option.find('=');
        const std::string key = option.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : option.substr(eq + 1);
        if (table.run({key, value}) != std::optional<bool>(true)) {
            error = "Unknown simulator emulator option: " + option;
            return false;
        }
    }
    return true;
}

// --- module host -----------------------------------------------------------

void SimEmulator::createArea(const std::string& name, std::uint32_t size) {
    if (areas_.count(name) == 0) areas_[name].assign(size, 0);
}

// The area goes, and with it every request on it: a request outlives no area.
void SimEmulator::removeArea(const std::string& name) {
    areas_.erase(name);
    for (auto& entry : connections_) {
        Connection& connection = entry.second;
        for (auto it = connection.clientRequests.begin(); it != connection.clientRequests.end();) {
            const auto area = connection.areaNames.find(it->second.areaOrDefine);
            const bool onIt = area != connection.areaNames.end() && area->second == name;
            it = onIt ? connection.clientRequests.erase(it) : std::next(it);
        }
    }
}

void SimEmulator::writeArea(const std::string& name, std::uint32_t offset,
                            const std::vector<std::uint8_t>& bytes) {
    writeAreaLocked(name, offset, bytes, 0);
}

std::vector<std::uint8_t> SimEmulator::readArea(const std::string& name) const {
    const auto it = areas_.find(name);
    return it == areas_.end() ? std::vector<std::uint8_t>{} : it->second;
}

float SimEmulator::lvar(const std::string& name) const {
    const auto it = lvars_.find(upper(name));
    return it == lvars_.end() ? 0.0f : it->second;
}

void SimEmulator::setLVarFromModule(const std::string& name, float value) {
    setLVarLocked(name, value);
}

void SimEmulator::setLVarLocked(const std::string& name, float value) {
    lvars_[upper(name)] = value;
    module_.onLVarChanged(name);
}

void SimEmulator::traceLocked(const std::string& line) {
    if (traceSink_) traceSink_(line);
}

// --- internals -------------------------------------------------------------

void SimEmulator::tickLocked() {
    advanceFramesLocked();
    if (!moduleLoadScheduled_ || clock_.now() < moduleLoadAt_) return;
    moduleLoadScheduled_ = false;
    module_.load();
    traceLocked("module loaded");
}

bool SimEmulator::isClosedHandleLocked(HANDLE handle) const {
    const std::uintptr_t value = handleValue(handle);
    if (value <= kHandleBase || value > kHandleBase + static_cast<unsigned>(connectionCount_)) {
        return false;
    }
    return connections_.count(value) == 0;
}

SimEmulator::Connection* SimEmulator::findLocked(HANDLE handle, const char* function,
                                                 HRESULT& result, Sends sends) {
    tickLocked();
    const auto it = connections_.find(handleValue(handle));
    if (it == connections_.end()) {
        if (isClosedHandleLocked(handle)) ++callsOnClosedHandles_;
        result = E_FAIL_RESULT;
        return nullptr;
    }
    Connection& connection = it->second;
    if (connection.brokenResult < 0) {
        result = connection.brokenResult;
        return nullptr;
    }
    result = S_OK_RESULT;
    if (connection.silent) return nullptr;
    const auto failure = callFailures_.find(function);
    if (failure != callFailures_.end() && failure->second.remaining != 0) {
        result = failure->second.result;
        if (failure->second.remaining > 0) --failure->second.remaining;
        return nullptr;
    }
    if (sends == Sends::Yes) ++connection.sendId;
    return &connection;
}

bool SimEmulator::nameTooLong(const char* name) {
    return name && std::strlen(name) > kMaxNameLength;
}

void SimEmulator::exceptionLocked(Connection& connection, DWORD exception, const char* function) {
    std::vector<std::uint8_t> bytes =
        header(sizeof(SIMCONNECT_RECV_EXCEPTION), SIMCONNECT_RECV_ID_EXCEPTION);
    putDword(bytes, 12, exception);
    putDword(bytes, 16, connection.sendId);
    putDword(bytes, 20, SIMCONNECT_UNUSED);
    connection.inbox.push_back(std::move(bytes));
    exceptions_.push({connection.number, exception, function, connection.sendId});
}

void SimEmulator::writeAreaLocked(const std::string& name, std::uint32_t offset,
                                  const std::vector<std::uint8_t>& bytes, int writer) {
    auto it = areas_.find(name);
    if (it == areas_.end()) return;
    std::vector<std::uint8_t>& area = it->second;
    if (offset >= area.size()) return;
    const std::size_t count = std::min<std::size_t>(bytes.size(), area.size() - offset);
    std::copy(bytes.begin(), bytes.begin() + static_cast<long>(count),
              area.begin() + static_cast<long>(offset));
    notifyClientDataLocked(name);
    const std::uint64_t before = module_.commands().total();
    module_.onAreaWritten(name, writer, clock_.now());
    for (const ModuleCommand& command : module_.commands().since(before))
        traceLocked("command " + command.text);
}

void SimEmulator::notifyClientDataLocked(const std::string& area) {
    for (auto& entry : connections_) {
        Connection& connection = entry.second;
        if (connection.brokenResult < 0 || connection.silent) continue;
        for (auto& request : connection.clientRequests) {
            const auto name = connection.areaNames.find(request.second.areaOrDefine);
            if (name == connection.areaNames.end() || name->second != area) continue;
            sendClientDataLocked(connection, request.first, request.second, false);
        }
    }
}

std::vector<std::uint8_t> SimEmulator::requestedBytesLocked(const Connection& connection,
                                                            const Request& request) const {
    std::vector<std::uint8_t> payload;
    const auto definition = connection.clientDefinitions.find(request.defineId);
    const auto name = connection.areaNames.find(request.areaOrDefine);
    if (definition == connection.clientDefinitions.end() || name == connection.areaNames.end()) {
        return payload;
    }
    const std::vector<std::uint8_t> area = readArea(name->second);
    for (const Datum& datum : definition->second) {
        for (std::uint32_t i = 0; i < datum.size; ++i) {
            const std::size_t at = std::size_t{datum.offset} + i;
            payload.push_back(at < area.size() ? area[at] : 0);
        }
    }
    return payload;
}

void SimEmulator::sendClientDataLocked(Connection& connection, DWORD requestId, Request& request,
                                       bool force) {
    const auto definition = connection.clientDefinitions.find(request.defineId);
    if (definition == connection.clientDefinitions.end()) return;
    std::vector<std::uint8_t> payload = requestedBytesLocked(connection, request);
    const bool changedOnly = (request.flags & SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED) != 0;
    if (!force && changedOnly && request.sent && request.last == payload) return;
    request.sent = true;
    connection.inbox.push_back(dataMessage(SIMCONNECT_RECV_ID_CLIENT_DATA, requestId,
                                           request.defineId, request.flags,
                                           static_cast<DWORD>(definition->second.size()), payload));
    request.last = std::move(payload);
}

void SimEmulator::sendSimDataLocked(Connection& connection, DWORD requestId, Request& request,
                                    bool force) {
    const auto definition = connection.dataDefinitions.find(request.defineId);
    if (definition == connection.dataDefinitions.end()) return;
    std::vector<std::uint8_t> payload;
    for (const SimDatum& datum : definition->second)
        appendSimDatumLocked(payload, datum);
    const bool changedOnly = (request.flags & SIMCONNECT_DATA_REQUEST_FLAG_CHANGED) != 0;
    if (!force && changedOnly && request.sent && request.last == payload) return;
    request.sent = true;
    request.last = payload;
    connection.inbox.push_back(dataMessage(SIMCONNECT_RECV_ID_SIMOBJECT_DATA, requestId,
                                           request.defineId, request.flags,
                                           static_cast<DWORD>(definition->second.size()), payload));
}

// One datum's bytes: a string type gets the aircraft's text for TITLE and
// ATC MODEL (empty for any other name), a number type the variable's value.
void SimEmulator::appendSimDatumLocked(std::vector<std::uint8_t>& payload,
                                       const SimDatum& datum) const {
    const std::string name = upper(datum.name);
    if (const std::size_t size = stringTypeSize(datum.type)) {
        const std::size_t at = payload.size();
        payload.resize(at + size, 0);
        const std::string text = name == kTitleVariable      ? aircraft_.title
                                 : name == kAtcModelVariable ? aircraft_.atcModel
                                                             : std::string();
        putText(payload, at, text, size);
        return;
    }
    const auto var = simVars_.find(name);
    const double value = var == simVars_.end() ? 0.0 : var->second;
    switch (datum.type) {
        case SIMCONNECT_DATATYPE_INT32:
            appendValue(payload, static_cast<std::int32_t>(value));
            break;
        case SIMCONNECT_DATATYPE_INT64:
            appendValue(payload, static_cast<std::int64_t>(value));
            break;
        case SIMCONNECT_DATATYPE_FLOAT32:
            appendValue(payload, static_cast<float>(value));
            break;
        default:
            appendValue(payload, value);
            break;
    }
}

void SimEmulator::systemEventLocked(const std::string& name,
                                    const std::function<std::vector<std::uint8_t>(DWORD)>& message) {
    for (auto& entry : connections_) {
        Connection& connection = entry.second;
        if (connection.brokenResult < 0 || connection.silent) continue;
        for (const auto& subscription : connection.systemEvents) {
            if (subscription.second == name) connection.inbox.push_back(message(subscription.first));
        }
    }
}

void SimEmulator::simpleSystemEventLocked(const std::string& name, DWORD data) {
    systemEventLocked(name, [data](DWORD id) { return eventMessage(id, data); });
}

bool SimEmulator::frameSubscribedLocked() const {
    if (!flying_ || paused_) return false;
    for (const auto& entry : connections_) {
        for (const auto& subscription : entry.second.systemEvents) {
            if (subscription.second == kEventFrame) return true;
        }
    }
    return false;
}

Clock::TimePoint SimEmulator::frameEndLocked(std::uint64_t frame) const {
    const double nanoseconds = std::ceil(static_cast<double>(frame) * 1e9 / frameRate_);
    return frameOrigin_ +
           std::chrono::duration_cast<Clock::Duration>(
               std::chrono::nanoseconds(static_cast<std::int64_t>(nanoseconds)));
}

void SimEmulator::advanceFramesLocked() {
    const Clock::TimePoint now = clock_.now();
    if (stallUntil_) {
        if (now < *stallUntil_) return;
        frameOrigin_ = *stallUntil_;
        framesSinceOrigin_ = 0;
        stallUntil_.reset();
    }
    // The last frame that ended by now, from an estimate corrected both ways.
    const double elapsed = std::chrono::duration<double>(now - frameOrigin_).count();
    std::uint64_t last = static_cast<std::uint64_t>(std::max(0.0, elapsed * frameRate_));
    while (last > 0 && frameEndLocked(last) > now)
        --last;
    while (frameEndLocked(last + 1) <= now)
        ++last;
    if (last <= framesSinceOrigin_) return;
    std::uint64_t due = last - framesSinceOrigin_;
    const auto keep = static_cast<std::uint64_t>(std::max(1.0, frameRate_ * kCatchUpSeconds));
    if (due > keep || (!frameHook_ && !frameSubscribedLocked())) {
        // Frames nobody waits for, or too old to matter, end without work.
        const std::uint64_t skipped = frameHook_ || frameSubscribedLocked() ? due - keep : due;
        frameCount_ += skipped;
        framesSinceOrigin_ += skipped;
        due -= skipped;
    }
    for (; due > 0; --due) {
        ++framesSinceOrigin_;
        endFrameLocked();
    }
}

// The end of one frame: Frame to its subscribers during a running, unpaused
// flight, then the frame hook.
void SimEmulator::endFrameLocked() {
    ++frameCount_;
    if (flying_ && !paused_) {
        const auto rate = static_cast<float>(frameRate_);
        systemEventLocked(kEventFrame, [rate](DWORD id) { return frameEventMessage(id, rate); });
    }
    if (frameHook_) frameHook_(frameCount_);
}

void SimEmulator::evaluateSimRequestsLocked() {
    // Each change of a simulation variable counts as one simulation frame.
    for (auto& entry : connections_) {
        if (entry.second.brokenResult < 0 || entry.second.silent) continue;
        for (auto& request : entry.second.dataRequests) {
            sendSimDataLocked(entry.second, request.first, request.second, false);
        }
    }
}

// --- the SimConnect functions ----------------------------------------------

SimEmulator::HRESULT SimEmulator::open(HANDLE* handle, const char* name) {
    MutexLock guard(mutex_);
    tickLocked();
    ++openAttempts_;
    if (!handle) return E_INVALIDARG_RESULT;
    *handle = nullptr;
    if (!running_) return E_FAIL_RESULT;  // what the real library says without a simulator
    if (failOpens_ > 0) {
        --failOpens_;
        return failOpenResult_;
    }
    if (openResult_ < 0) return openResult_;
    Connection connection;
    connection.number = ++connectionCount_;
    connection.name = name ? name : "";
    connection.sendId = 1;  // the open message itself
    if (answersOpen_) {
        std::vector<std::uint8_t> opened =
            header(sizeof(SIMCONNECT_RECV_OPEN), SIMCONNECT_RECV_ID_OPEN);
        const char application[] = "CorvaneHID simulator emulator";
        std::memcpy(opened.data() + offsetof(SIMCONNECT_RECV_OPEN, szApplicationName), application,
                    sizeof(application));
        connection.inbox.push_back(std::move(opened));
    }
    if (breakAfterOpen_ < 0) {
        connection.breakAfterDispatch = true;
        connection.breakResult = breakAfterOpen_;
    }
    if (moduleLoadPending_) {
        moduleLoadPending_ = false;
        moduleLoadScheduled_ = true;
        moduleLoadAt_ = clock_.now() + moduleLoadDelay_;
    }
    clientNames_[connection.number] = connection.name;
    if (clientNames_.size() > recordLimit_) clientNames_.erase(clientNames_.begin());
    openTimes_.push(clock_.now());
    *handle = handleFor(connection.number);
    traceLocked("open " + connection.name);
    connections_[handleValue(*handle)] = std::move(connection);
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::close(HANDLE handle) {
    MutexLock guard(mutex_);
    const auto it = connections_.find(handleValue(handle));
    if (it == connections_.end()) {
        if (isClosedHandleLocked(handle)) ++callsOnClosedHandles_;
        return E_FAIL_RESULT;
    }
    traceLocked("close " + std::to_string(it->second.number));
    connections_.erase(it);
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::callDispatch(HANDLE handle, DispatchProc proc, void* context) {
    std::function<void()> hook;
    {
        MutexLock guard(mutex_);
        hook = dispatchHook_;
    }
    if (hook) hook();
    std::deque<std::vector<std::uint8_t>> batch;
    {
        MutexLock guard(mutex_);
        HRESULT result = 0;
        Connection* connection = findLocked(handle, "SimConnect_CallDispatch", result, Sends::No);
        if (!connection) return result;
        if (!proc) return E_INVALIDARG_RESULT;
        batch.swap(connection->inbox);
        if (connection->breakAfterDispatch) connection->brokenResult = connection->breakResult;
    }
    // The procedure runs unlocked: it may call back in, or close the handle.
    for (std::vector<std::uint8_t>& message : batch) {
        {
            MutexLock guard(mutex_);
            if (connections_.count(handleValue(handle)) == 0) break;
        }
        proc(reinterpret_cast<SIMCONNECT_RECV*>(message.data()), static_cast<DWORD>(message.size()),
             context);
    }
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::addToDataDefinition(HANDLE handle, DWORD defineId,
                                                      const char* datum, SIMCONNECT_DATATYPE type) {
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_AddToDataDefinition", result);
    if (!connection) return result;
    if (nameTooLong(datum)) return INSUFFICIENT_BUFFER_RESULT;
    if (!datum || !*datum) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED,
                        "SimConnect_AddToDataDefinition");
        return S_OK_RESULT;
    }
    std::vector<SimDatum>& datums = connection->dataDefinitions[defineId];
    std::size_t bytes = simDatumSize(type);
    for (const SimDatum& existing : datums)
        bytes += simDatumSize(existing.type);
    if (bytes > kMaxDefinitionBytes) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE,
                        "SimConnect_AddToDataDefinition");
        return S_OK_RESULT;
    }
    datums.push_back({datum, type});
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::requestDataOnSimObject(HANDLE handle, DWORD requestId,
                                                         DWORD defineId, SIMCONNECT_PERIOD period,
                                                         DWORD flags) {
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_RequestDataOnSimObject", result);
    if (!connection) return result;
    if (connection->dataDefinitions.count(defineId) == 0) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID,
                        "SimConnect_RequestDataOnSimObject");
        return S_OK_RESULT;
    }
    connection->dataRequests.erase(requestId);  // a reused id replaces the request
    if (period == SIMCONNECT_PERIOD_NEVER) return S_OK_RESULT;
    Request request;
    request.defineId = defineId;
    request.period = period;
    request.flags = flags;
    sendSimDataLocked(*connection, requestId, request, true);
    if (period != SIMCONNECT_PERIOD_ONCE) connection->dataRequests[requestId] = request;
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::mapClientEventToSimEvent(HANDLE handle, DWORD eventId,
                                                           const char* name) {
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_MapClientEventToSimEvent", result);
    if (!connection) return result;
    if (nameTooLong(name)) return INSUFFICIENT_BUFFER_RESULT;
    const std::string text = name ? name : "";
    if (connection->events.count(eventId) != 0 || connection->systemEvents.count(eventId) != 0) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE,
                        "SimConnect_MapClientEventToSimEvent");
        return S_OK_RESULT;
    }
    if (!emulation::isAcceptedEventName(knownEvents_, text)) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_NAME_UNRECOGNIZED,
                        "SimConnect_MapClientEventToSimEvent");
        return S_OK_RESULT;
    }
    connection->events[eventId] = text;
    eventMappings_.push({connection->number, eventId, text});
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::transmitClientEvent(HANDLE handle, DWORD eventId, DWORD data,
                                                      DWORD groupId, DWORD flags) {
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_TransmitClientEvent", result);
    if (!connection) return result;
    const auto event = connection->events.find(eventId);
    if (event == connection->events.end()) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID,
                        "SimConnect_TransmitClientEvent");
        return S_OK_RESULT;
    }
    transmittedEvents_.push({connection->number, eventId, event->second, data, groupId, flags});
    traceLocked("event " + event->second);
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::mapClientDataNameToId(HANDLE handle, const char* name,
                                                        DWORD clientDataId) {
    runClientDataCallHook("SimConnect_MapClientDataNameToID");
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_MapClientDataNameToID", result);
    if (!connection) return result;
    if (nameTooLong(name)) return INSUFFICIENT_BUFFER_RESULT;
    const std::string text = name ? name : "";
    const auto existing = connection->areaNames.find(clientDataId);
    if (text.empty() || (existing != connection->areaNames.end() && existing->second != text)) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_DUPLICATE_ID,
                        "SimConnect_MapClientDataNameToID");
        return S_OK_RESULT;
    }
    connection->areaNames[clientDataId] = text;
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::addToClientDataDefinition(HANDLE handle, DWORD defineId,
                                                            DWORD offset, DWORD sizeOrType) {
    runClientDataCallHook("SimConnect_AddToClientDataDefinition");
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_AddToClientDataDefinition", result);
    if (!connection) return result;
    std::vector<Datum>& datums = connection->clientDefinitions[defineId];
    const std::uint32_t size = sizeOfType(sizeOrType);
    if (offset == SIMCONNECT_CLIENTDATAOFFSET_AUTO) {
        offset = datums.empty() ? 0 : datums.back().offset + datums.back().size;
    }
    std::size_t bytes = size;
    for (const Datum& existing : datums)
        bytes += existing.size;
    if (size == 0 || size > SIMCONNECT_CLIENTDATA_MAX_SIZE ||
        offset > SIMCONNECT_CLIENTDATA_MAX_SIZE - size || bytes > kMaxDefinitionBytes) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_INVALID_DATA_SIZE,
                        "SimConnect_AddToClientDataDefinition");
        return S_OK_RESULT;
    }
    datums.push_back({offset, size});
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::requestClientData(HANDLE handle, DWORD clientDataId,
                                                    DWORD requestId, DWORD defineId,
                                                    SIMCONNECT_CLIENT_DATA_PERIOD period,
                                                    DWORD flags) {
    runClientDataCallHook("SimConnect_RequestClientData");
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_RequestClientData", result);
    if (!connection) return result;
    const auto name = connection->areaNames.find(clientDataId);
    // An area nobody created yet cannot be asked for (the harsh reading).
    if (name == connection->areaNames.end() || areas_.count(name->second) == 0 ||
        connection->clientDefinitions.count(defineId) == 0) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID,
                        "SimConnect_RequestClientData");
        return S_OK_RESULT;
    }
    connection->clientRequests.erase(requestId);  // a reused id replaces the request
    if (period == SIMCONNECT_CLIENT_DATA_PERIOD_NEVER) return S_OK_RESULT;
    Request request;
    request.areaOrDefine = clientDataId;
    request.defineId = defineId;
    request.period = period;
    request.flags = flags;
    if (period == SIMCONNECT_CLIENT_DATA_PERIOD_ONCE) {
        sendClientDataLocked(*connection, requestId, request, true);
        return S_OK_RESULT;
    }
    if ((flags & SIMCONNECT_CLIENT_DATA_REQUEST_FLAG_CHANGED) != 0) {
        // Changes count from the bytes there now: what is already there never comes.
        request.sent = true;
        request.last = requestedBytesLocked(*connection, request);
    }
    // Other periods are served on every write into the area.
    connection->clientRequests[requestId] = request;
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::setClientData(HANDLE handle, DWORD clientDataId, DWORD defineId,
                                                DWORD unitSize, const void* data) {
    runClientDataCallHook("SimConnect_SetClientData");
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_SetClientData", result);
    if (!connection) return result;
    if (!data) return E_INVALIDARG_RESULT;
    const auto name = connection->areaNames.find(clientDataId);
    const auto definition = connection->clientDefinitions.find(defineId);
    if (name == connection->areaNames.end() || definition == connection->clientDefinitions.end() ||
        areas_.count(name->second) == 0) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID,
                        "SimConnect_SetClientData");
        return S_OK_RESULT;
    }
    std::uint32_t total = 0;
    for (const Datum& datum : definition->second)
        total += datum.size;
    if (unitSize != total) {  // the server insists on the definition's exact size
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_SIZE_MISMATCH,
                        "SimConnect_SetClientData");
        return S_OK_RESULT;
    }
    const int writer = connection->number;
    const std::string area = name->second;
    const std::vector<Datum> datums = definition->second;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint32_t consumed = 0;
    for (const Datum& datum : datums) {
        if (datum.offset + datum.size > areas_[area].size()) {
            exceptionLocked(*connection, SIMCONNECT_EXCEPTION_OUT_OF_BOUNDS,
                            "SimConnect_SetClientData");
            return S_OK_RESULT;
        }
        std::copy(bytes + consumed, bytes + consumed + datum.size,
                  areas_[area].begin() + static_cast<long>(datum.offset));
        consumed += datum.size;
    }
    // One notification for the whole set, after every datum is in place.
    writeAreaLocked(area, 0, {}, writer);
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::createClientData(HANDLE handle, DWORD clientDataId, DWORD size,
                                                   DWORD /*flags*/) {
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_CreateClientData", result);
    if (!connection) return result;
    const auto name = connection->areaNames.find(clientDataId);
    if (name == connection->areaNames.end() || size == 0 || size > SIMCONNECT_CLIENTDATA_MAX_SIZE) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID,
                        "SimConnect_CreateClientData");
        return S_OK_RESULT;
    }
    if (areas_.count(name->second) != 0) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_ALREADY_CREATED,
                        "SimConnect_CreateClientData");
        return S_OK_RESULT;
    }
    createArea(name->second, size);
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::getLastSentPacketId(HANDLE handle, DWORD* sendId) {
    MutexLock guard(mutex_);
    if (!sendId) return E_INVALIDARG_RESULT;
    *sendId = 0;
    const auto it = connections_.find(handleValue(handle));
    if (it == connections_.end()) return E_FAIL_RESULT;
    if (it->second.brokenResult < 0) return it->second.brokenResult;
    *sendId = it->second.sendId;
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::clearDataDefinition(HANDLE handle, DWORD defineId) {
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_ClearDataDefinition", result);
    if (!connection) return result;
    // Requests on the definition stay, and deliver nothing until it has datums again.
    if (connection->dataDefinitions.erase(defineId) == 0) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID,
                        "SimConnect_ClearDataDefinition");
    }
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::subscribeToSystemEvent(HANDLE handle, DWORD eventId,
                                                         const char* name) {
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_SubscribeToSystemEvent", result);
    if (!connection) return result;
    if (nameTooLong(name)) return INSUFFICIENT_BUFFER_RESULT;
    // A client event id names one thing: a mapped event or a subscription.
    if (connection->systemEvents.count(eventId) != 0 || connection->events.count(eventId) != 0) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_EVENT_ID_DUPLICATE,
                        "SimConnect_SubscribeToSystemEvent");
        return S_OK_RESULT;
    }
    connection->systemEvents[eventId] = toLowerAscii(name ? name : "");
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::unsubscribeFromSystemEvent(HANDLE handle, DWORD eventId) {
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_UnsubscribeFromSystemEvent", result);
    if (!connection) return result;
    if (connection->systemEvents.erase(eventId) == 0) {
        exceptionLocked(*connection, SIMCONNECT_EXCEPTION_UNRECOGNIZED_ID,
                        "SimConnect_UnsubscribeFromSystemEvent");
    }
    return S_OK_RESULT;
}

SimEmulator::HRESULT SimEmulator::requestSystemState(HANDLE handle, DWORD requestId,
                                                     const char* state) {
    MutexLock guard(mutex_);
    HRESULT result = 0;
    Connection* connection = findLocked(handle, "SimConnect_RequestSystemState", result);
    if (!connection) return result;
    if (nameTooLong(state)) return INSUFFICIENT_BUFFER_RESULT;
    const std::string name = state ? state : "";
    if (name == kStateAircraftLoaded) {
        connection->inbox.push_back(systemStateMessage(requestId, 0, aircraft_.path));
    } else if (name == kStateFlightLoaded) {
        connection->inbox.push_back(systemStateMessage(requestId, 0, flying_ ? kFlightPath : ""));
    } else if (name == kStateSim) {
        connection->inbox.push_back(systemStateMessage(requestId, flying_ ? 1 : 0, ""));
    } else if (name == kStateDialogMode || name == kStateFlightPlan) {
        connection->inbox.push_back(systemStateMessage(requestId, 0, ""));
    }
    // Any other name: no answer (what the simulator does is not documented).
    return S_OK_RESULT;
}

void SimEmulator::setNextSendId(HANDLE handle, DWORD sendId) {
    MutexLock guard(mutex_);
    const auto it = connections_.find(handleValue(handle));
    // A sending call counts one on before it acts.
    if (it != connections_.end()) it->second.sendId = sendId - 1;
}
