#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/mutex.h"
#include "emulation/bounded_log.h"
#include "emulation/mobiflight_module.h"
#include "sim/simconnect_api.h"

// A scriptable flight simulator behind the SimConnect functions, as strict
// as the real one: where the real simulator's behaviour is unknown it takes
// the harsher reading.
//
// The library (corvane_sim_emulator_core) holds the emulator and its
// MobiFlight module; a transport puts the SimConnect functions in front of
// it: EmulatorLibrary (emulation/emulator_library.h) in-process, the wire
// front (src/simulator) over the network, the drop-in SimConnect.dll for
// process tests. There is no process-wide emulator: whoever makes one
// hands it to its transport.
//
// What it emulates:
// - the simulator process (processProbe() serves as the client's probe);
//   SimConnect_Open succeeds only while the simulator runs, unless a failure
//   code is scripted, and returns before the simulator answers: RECV_OPEN
//   comes with the first dispatch (or never, when scripted so). Each
//   successful open is a new connection numbered 1, 2, 3 … whose handle
//   becomes invalid at SimConnect_Close (later calls fail with E_FAIL);
// - send ids as the SDK's library gives them: 1 for the open, then one per
//   call that sends a message (also one refused for a name of 256
//   characters or more, with 0x8007007A); CallDispatch, Close and
//   GetLastSentPacketID send nothing;
// - the user aircraft (its aircraft.cfg path, TITLE and ATC MODEL) and the
//   flight (running or not, paused or not): a default aircraft and a
//   running flight from the start;
// - system events, each only to the connections subscribed to it (by the
//   client's event id) and only for what happens after the subscription:
//   AircraftLoaded (RECV_EVENT_FILENAME with the path) when the aircraft's
//   file changes, FlightLoaded when a flight starts, SimStart/SimStop and
//   Sim (1/0) when a flight starts and stops, Pause (1/0), and Frame
//   (RECV_EVENT_FRAME) at the end of every frame of a running, unpaused
//   flight. Other names are accepted and never sent (the real simulator's
//   answer to an unknown name is not documented; the harsher reading);
//   event names without regard to case, as the SDK documents;
// - system states: AircraftLoaded and FlightLoaded (szString), Sim and
//   DialogMode (dwInteger), FlightPlan (empty); any other state name gets
//   no answer at all;
// - frames: the simulator runs in frames at a settable rate (default 30
//   per second) on its clock; a stall holds them for a while. Frames are
//   run lazily: every call into the emulator first runs the frames whose
//   end has come, so on a manual clock they are exact. A transport that
//   waits for the next frame asks nextFrameDue();
// - messages: SIMOBJECT_DATA for sim-variable requests (at request time
//   and, with the CHANGED flag, only when the value changed; the string
//   types STRING8 to STRING260 for TITLE and ATC MODEL, packed in the
//   order of the definition; period NEVER ends a request); CLIENT_DATA
//   for client-data requests: PERIOD_ONCE delivers the requested bytes once;
//   ON_SET delivers after each write into the area, and with CHANGED only
//   when the requested bytes differ from those that request last received,
//   a new request starting from the area's bytes of that moment (so it gets
//   nothing for what was already there); EXCEPTION (with the send id of the
//   offending call) for server-side errors, which the real library reports
//   only after the call returned S_OK: an event name the simulator does not
//   know, a request or write on an area nobody created, sizes that do not
//   match the definition, a datum that takes a definition past 8 KiB (the
//   largest client-data area; for sim-variable definitions too), unmapped
//   ids;
// - broken connections: CallDispatch and every other call on them return a
//   chosen code (0xC00000B0 by default, what follows the simulator closing);
//   silent ones: every call succeeds and nothing arrives or has an effect;
// - a MobiFlight module (MobiFlightModule) behind the client-data areas:
//   loaded, absent, or loading some time after a connection opened; and
//   another program's client on its default channel;
// - records of event mappings, transmitted events, module commands and
//   exceptions, each keeping its latest entries (BoundedLog) so that a long
//   run keeps a flat memory.
//
// Thread safety: every public operation may be called from any thread.
// CallDispatch runs the client's dispatch procedure on the calling thread
// without holding the emulator's lock, so the procedure may call back in.
// Destroy the emulator only after every client using it has stopped.
class CommandTable;

class SimEmulator final : private MobiFlightModuleHost {
public:
    using HRESULT = simconnect::HRESULT;
    using DWORD = simconnect::DWORD;
    using RegistrationReply = MobiFlightModule::RegistrationReply;
    using ModuleCommand = MobiFlightModule::Command;

    struct EventMapping {
        int connection;
        DWORD eventId;
        std::string name;
    };
    struct TransmittedEvent {
        int connection;
        DWORD eventId;
        std::string name;  // the name mapped to eventId on that connection
        DWORD data;
        DWORD groupId;
        DWORD flags;
    };
    struct ServerException {
        int connection;
        DWORD exception;  // a SIMCONNECT_EXCEPTION value
        std::string function;
        DWORD sendId;  // of the offending call
    };

    // The simulator starts not running, with the MobiFlight module loaded
    // and answering registrations with ".Finished". Times recorded come from
    // `clock`.
    // Each record (and the client names) keeps its latest `recordLimit`
    // entries.
    explicit SimEmulator(Clock& clock = Clock::system(),
                         std::size_t recordLimit = kDefaultRecordLimit);
    ~SimEmulator();

    SimEmulator(const SimEmulator&) = delete;
    SimEmulator& operator=(const SimEmulator&) = delete;

    // --- the simulator process and connections ---
    void setSimulatorRunning(bool running);
    bool simulatorRunning() const;
    // A callable that reports simulatorRunning(); it must not outlive this.
    std::function<bool()> processProbe();
    // Result of SimConnect_Open while the simulator runs: S_OK (the default)
    // accepts, a negative code refuses every open until changed.
    void setOpenResult(HRESULT result);
    // The next `count` opens fail with `result` (before setOpenResult applies).
    void failNextOpens(int count, HRESULT result = simconnect::E_FAIL_RESULT);
    int openAttempts() const;
    // Successful opens so far, i.e. the number of the latest connection.
    int connectionCount() const;
    int openConnectionCount() const;
    std::string clientName(int connection) const;
    // Calls made with a handle after SimConnect_Close released it (a client
    // that keeps its handle valid for each call never makes one).
    int callsOnClosedHandles() const;
    // Every open connection becomes broken: its calls return `result`.
    void breakConnections(HRESULT result = simconnect::PIPE_DISCONNECTED_RESULT);
    // With false, opens still succeed but RECV_OPEN never comes (a server
    // that accepts the connection and never answers). True by default.
    void setAnswersOpen(bool answers);
    // With a negative code, every new connection breaks right after it
    // opened: its first dispatch brings RECV_OPEN, every later call returns
    // `result`. 0 (the default) turns it off.
    void setBreakAfterOpen(HRESULT result);
    // The simulator's process disappears and every open link goes silent:
    // calls keep succeeding, nothing arrives, nothing has an effect, and no
    // QUIT comes (what the SDK's library can do when its pipe breaks).
    void vanishSilently();
    // Times of the successful opens still recorded, oldest first.
    std::vector<Clock::TimePoint> openTimes() const;
    // Queues a QUIT message on every open connection.
    void sendQuit();
    // The simulator shuts down: QUIT to every connection, the process goes
    // away, and calls on the old connections fail with 0xC00000B0 once the
    // QUIT was dispatched.
    void exitSimulator();
    // The next `count` calls (-1: all calls until cleared) of the named
    // function ("SimConnect_SetClientData", …) return `result`.
    void failCalls(const std::string& function, HRESULT result, int count = -1);
    void clearCallFailures();
    // Queues raw message bytes on every open connection (malformed ones too).
    void queueMessage(const std::vector<std::uint8_t>& bytes);

    // --- the user aircraft and the flight ---
    struct Aircraft {
        std::string path;      // its aircraft.cfg, as AircraftLoaded reports it
        std::string title;     // the string SimVar TITLE
        std::string atcModel;  // the string SimVar ATC MODEL
    };
    static Aircraft defaultAircraft();
    // Loads another aircraft: AircraftLoaded goes to its subscribers when
    // the path differs from the last one; requests on TITLE and ATC MODEL
    // see the new values.
    void setAircraft(const Aircraft& aircraft);
    Aircraft aircraft() const;
    // A flight starts (FlightLoaded, SimStart, Sim 1) or ends (Pause 0 when
    // it was paused, SimStop, Sim 0); false when it already ran, or did not.
    bool startFlight();
    bool stopFlight();
    // Pause 1 or Pause 0; false without a running flight, or when the
    // flight already is in that state.
    bool setPaused(bool paused);
    bool flying() const;
    bool paused() const;

    // --- frames ---
    static constexpr double kDefaultFrameRate = 30.0;
    static constexpr double kMaxFrameRate = 1000.0;
    // Frames per second, above 0 and up to kMaxFrameRate (false otherwise);
    // the next frame starts now.
    bool setFrameRate(double framesPerSecond);
    double frameRate() const;
    // No frame ends for `duration` from now; frames start again after it.
    void stallFrames(Clock::Duration duration);
    // Frames ended so far.
    std::uint64_t frameCount() const;
    // Called at the end of every frame, with its number, under the
    // emulator's lock (keep it short, don't call back): the place for work
    // done once per frame.
    void setFrameHook(std::function<void(std::uint64_t frame)> hook);
    // When the next frame ends, if anything waits for it (a Frame
    // subscriber during a running, unpaused flight, or a frame hook);
    // nullopt when nothing does, so a transport need not wake for frames.
    std::optional<Clock::TimePoint> nextFrameDue() const;
    // Runs the frames whose end has come (every call does so first).
    void runDueFrames();
    Clock& clock() const { return clock_; }

    // --- simulation variables ---
    // Names are compared without regard to case.
    void setSimVar(const std::string& name, double value);
    void setBattery(bool on);  // "ELECTRICAL MASTER BATTERY:2"

    // --- events ---
    // Mappings the simulator accepted; a name it does not know (see
    // sim_event_names.h) is refused with NAME_UNRECOGNIZED instead.
    std::vector<EventMapping> eventMappings() const;
    std::vector<TransmittedEvent> transmittedEvents() const;
    std::vector<ServerException> serverExceptions() const;
    // The simulator no longer knows this event name (another version of it).
    void forgetSimEvent(const std::string& name);

    // --- client data ---
    void createClientData(const std::string& name, std::uint32_t size);
    // The area's bytes; empty when it does not exist.
    std::vector<std::uint8_t> clientData(const std::string& name) const;
    // Writes as another client would: subscribers and the module see it.
    void writeClientData(const std::string& name, std::uint32_t offset,
                         const std::vector<std::uint8_t>& bytes);

    // --- the MobiFlight module ---
    void setRegistrationReply(RegistrationReply reply);
    // Loads the module now (true) or takes it away with its areas (false).
    void setModuleLoaded(bool loaded);
    bool moduleLoaded() const;
    // Takes the module away; it loads `delay` after the next successful open.
    void loadModuleAfterOpen(Clock::Duration delay);
    // Writes `text` on a client's response area as the module answers.
    void moduleRespond(const std::string& text, const std::string& client = "MobiFlight");
    // Another program's client on the module's default channel (as
    // MobiFlight's own program would be): it clears the default client's
    // variable list and adds `rpns` to it. Needs the module loaded.
    void startSecondClient(const std::vector<std::string>& rpns);
    // All module commands ever seen, including those no longer recorded.
    std::uint64_t moduleCommandCount() const;
    std::vector<ModuleCommand> moduleCommands() const;
    std::vector<std::string> moduleCommandTexts() const;
    // Variables of a module client ("MobiFlight" is the default client).
    std::vector<std::string> moduleVariables(const std::string& client = "MobiFlight") const;
    // Sets an L-variable; subscribed slots whose value changes are pushed.
    void setLVar(const std::string& name, float value);
    float lvarValue(const std::string& name) const;
    // Writes text and a zero at offset 0 of an L-var area (for text payloads).
    void pushLVarText(const std::string& text, const std::string& area = "MobiFlight.LVars");

    // --- observing ---
    // Called (under the emulator's lock: keep it short, don't call back) with
    // one line per notable happening: "open <name>", "close <n>",
    // "event <name>", "command <text>", "quit <n>".
    void setTraceSink(std::function<void(const std::string&)> sink);
    // Runs at the start of every SimConnect_CallDispatch, unlocked, on the
    // dispatching thread (the drop-in library checks its quit file there).
    void setDispatchHook(std::function<void()> hook);
    // Runs at the start of every client-data call (map, define, request,
    // set), unlocked, on the calling thread, with the function's name: a
    // test can make something happen at an exact point of a client's work.
    void setClientDataCallHook(std::function<void(const std::string&)> hook);
    // Polls `condition` in real time until it holds or `timeout` passes.
    static bool waitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

    // Applies a configuration text: comma-separated options "running",
    // "stopped", "flight=running|stopped", "battery=on|off", "backlight=<value>",
    // "reply=finished|none", "module=loaded|absent", "module-late=<seconds>",
    // "open-fail=<count>". False with an error for an unknown option.
    bool configure(const std::string& options, std::string& error);
    // One line per option, generated from the same table.
    static std::string optionsHelp();

    // --- the SimConnect functions (called through EmulatorLibrary) ---
    HRESULT open(simconnect::HANDLE* handle, const char* name);
    HRESULT close(simconnect::HANDLE handle);
    HRESULT callDispatch(simconnect::HANDLE handle, simconnect::DispatchProc proc, void* context);
    HRESULT addToDataDefinition(simconnect::HANDLE handle, DWORD defineId, const char* datum,
                                simconnect::SIMCONNECT_DATATYPE type);
    HRESULT requestDataOnSimObject(simconnect::HANDLE handle, DWORD requestId, DWORD defineId,
                                   simconnect::SIMCONNECT_PERIOD period, DWORD flags);
    HRESULT mapClientEventToSimEvent(simconnect::HANDLE handle, DWORD eventId, const char* name);
    HRESULT transmitClientEvent(simconnect::HANDLE handle, DWORD eventId, DWORD data, DWORD groupId,
                                DWORD flags);
    HRESULT mapClientDataNameToId(simconnect::HANDLE handle, const char* name, DWORD clientDataId);
    HRESULT addToClientDataDefinition(simconnect::HANDLE handle, DWORD defineId, DWORD offset,
                                      DWORD sizeOrType);
    HRESULT requestClientData(simconnect::HANDLE handle, DWORD clientDataId, DWORD requestId,
                              DWORD defineId, simconnect::SIMCONNECT_CLIENT_DATA_PERIOD period,
                              DWORD flags);
    HRESULT setClientData(simconnect::HANDLE handle, DWORD clientDataId, DWORD defineId,
                          DWORD unitSize, const void* data);
    HRESULT createClientData(simconnect::HANDLE handle, DWORD clientDataId, DWORD size,
                             DWORD flags);
    HRESULT getLastSentPacketId(simconnect::HANDLE handle, DWORD* sendId);
    HRESULT clearDataDefinition(simconnect::HANDLE handle, DWORD defineId);
    HRESULT subscribeToSystemEvent(simconnect::HANDLE handle, DWORD eventId, const char* name);
    HRESULT unsubscribeFromSystemEvent(simconnect::HANDLE handle, DWORD eventId);
    HRESULT requestSystemState(simconnect::HANDLE handle, DWORD requestId, const char* state);

    // For a transport whose client numbers its own messages (a network
    // front passes the send id from each message's header): the next call
    // on `handle` that sends a message carries `sendId` instead of the next
    // number, in its exceptions and in GetLastSentPacketID. Unknown handles
    // are ignored.
    void setNextSendId(simconnect::HANDLE handle, DWORD sendId);

private:
    static CommandTable optionTable(SimEmulator* self);
    struct Datum {
        std::uint32_t offset;
        std::uint32_t size;
    };
    struct SimDatum {
        std::string name;
        simconnect::SIMCONNECT_DATATYPE type;
    };
    struct Request {
        DWORD areaOrDefine = 0;  // client data id, or data definition id
        DWORD defineId = 0;
        std::int32_t period = 0;
        DWORD flags = 0;
        bool sent = false;
        std::vector<std::uint8_t> last;  // the bytes this request last received
    };
    struct Connection {
        int number = 0;
        std::string name;
        HRESULT brokenResult = 0;  // non-zero: every call fails with it
        bool breakAfterDispatch = false;
        HRESULT breakResult = simconnect::PIPE_DISCONNECTED_RESULT;
        bool silent = false;  // calls succeed and do nothing
        std::deque<std::vector<std::uint8_t>> inbox;
        std::map<DWORD, std::string> areaNames;
        std::map<DWORD, std::vector<Datum>> clientDefinitions;
        std::map<DWORD, Request> clientRequests;
        std::map<DWORD, std::vector<SimDatum>> dataDefinitions;
        std::map<DWORD, Request> dataRequests;
        std::map<DWORD, std::string> events;
        std::map<DWORD, std::string> systemEvents;  // event id → name in lower case
        DWORD sendId = 0;
    };
    struct CallFailure {
        HRESULT result;
        int remaining;  // -1: until cleared
    };
    // What findLocked does with the call besides finding its connection.
    enum class Sends { No, Yes };

    // MobiFlightModuleHost (called with mutex_ held).
    void createArea(const std::string& name, std::uint32_t size) override REQUIRES(mutex_);
    void removeArea(const std::string& name) override REQUIRES(mutex_);
    void writeArea(const std::string& name, std::uint32_t offset,
                   const std::vector<std::uint8_t>& bytes) override REQUIRES(mutex_);
    std::vector<std::uint8_t> readArea(const std::string& name) const override REQUIRES(mutex_);
    float lvar(const std::string& name) const override REQUIRES(mutex_);
    void setLVarFromModule(const std::string& name, float value) override REQUIRES(mutex_);

    // The connection a call acts on, or null with the call's result (an
    // error, or S_OK for a silent link). A sending call uses up a send id.
    Connection* findLocked(simconnect::HANDLE handle, const char* function, HRESULT& result,
                           Sends sends = Sends::Yes) REQUIRES(mutex_);
    // A name the library refuses on its side (256 characters or more).
    static bool nameTooLong(const char* name);
    void exceptionLocked(Connection& connection, DWORD exception, const char* function)
        REQUIRES(mutex_);
    void writeAreaLocked(const std::string& name, std::uint32_t offset,
                         const std::vector<std::uint8_t>& bytes, int writer) REQUIRES(mutex_);
    void notifyClientDataLocked(const std::string& area) REQUIRES(mutex_);
    std::vector<std::uint8_t> requestedBytesLocked(const Connection& connection,
                                                   const Request& request) const REQUIRES(mutex_);
    void sendClientDataLocked(Connection& connection, DWORD requestId, Request& request, bool force)
        REQUIRES(mutex_);
    void sendSimDataLocked(Connection& connection, DWORD requestId, Request& request, bool force)
        REQUIRES(mutex_);
    void evaluateSimRequestsLocked() REQUIRES(mutex_);
    void appendSimDatumLocked(std::vector<std::uint8_t>& payload, const SimDatum& datum) const
        REQUIRES(mutex_);
    // Queues `message(eventId)` for every subscription to the system event.
    void systemEventLocked(const std::string& name,
                           const std::function<std::vector<std::uint8_t>(DWORD)>& message)
        REQUIRES(mutex_);
    void simpleSystemEventLocked(const std::string& name, DWORD data) REQUIRES(mutex_);
    bool frameSubscribedLocked() const REQUIRES(mutex_);
    Clock::TimePoint frameEndLocked(std::uint64_t frame) const REQUIRES(mutex_);
    // Runs the frames that ended by now (at most a second's worth).
    void advanceFramesLocked() REQUIRES(mutex_);
    void endFrameLocked() REQUIRES(mutex_);
    void setLVarLocked(const std::string& name, float value) REQUIRES(mutex_);
    void traceLocked(const std::string& line) REQUIRES(mutex_);
    void runClientDataCallHook(const char* function) EXCLUDES(mutex_);
    // Work that waits for the emulator's clock (a module loading late).
    void tickLocked() REQUIRES(mutex_);
    bool isClosedHandleLocked(simconnect::HANDLE handle) const REQUIRES(mutex_);
    void writeCommandLocked(const std::string& area, const std::string& text, int writer)
        REQUIRES(mutex_);

    Clock& clock_;
    const std::size_t recordLimit_;
    mutable Mutex mutex_;  // guards everything below
    bool running_ GUARDED_BY(mutex_) = false;
    HRESULT openResult_ GUARDED_BY(mutex_) = 0;
    int failOpens_ GUARDED_BY(mutex_) = 0;
    HRESULT failOpenResult_ GUARDED_BY(mutex_) = 0;
    bool answersOpen_ GUARDED_BY(mutex_) = true;
    HRESULT breakAfterOpen_ GUARDED_BY(mutex_) = 0;
    int openAttempts_ GUARDED_BY(mutex_) = 0;
    int connectionCount_ GUARDED_BY(mutex_) = 0;
    std::map<std::uintptr_t, Connection> connections_ GUARDED_BY(mutex_);  // by handle value
    std::map<int, std::string> clientNames_ GUARDED_BY(mutex_);  // the latest connections only
    int callsOnClosedHandles_ GUARDED_BY(mutex_) = 0;
    std::map<std::string, CallFailure> callFailures_ GUARDED_BY(mutex_);
    std::map<std::string, double> simVars_ GUARDED_BY(mutex_);  // upper-case names
    std::map<std::string, float> lvars_ GUARDED_BY(mutex_);     // upper-case names
    std::map<std::string, std::vector<std::uint8_t>> areas_ GUARDED_BY(mutex_);
    std::vector<std::string> knownEvents_ GUARDED_BY(mutex_);
    BoundedLog<EventMapping> eventMappings_ GUARDED_BY(mutex_);
    BoundedLog<TransmittedEvent> transmittedEvents_ GUARDED_BY(mutex_);
    BoundedLog<ServerException> exceptions_ GUARDED_BY(mutex_);
    BoundedLog<Clock::TimePoint> openTimes_ GUARDED_BY(mutex_);
    std::function<void(const std::string&)> traceSink_ GUARDED_BY(mutex_);
    std::function<void()> dispatchHook_ GUARDED_BY(mutex_);
    std::function<void(const std::string&)> clientDataCallHook_ GUARDED_BY(mutex_);
    MobiFlightModule module_ GUARDED_BY(mutex_);
    // The module loads this long after the next open (pending), then at loadAt.
    bool moduleLoadPending_ GUARDED_BY(mutex_) = false;
    Clock::Duration moduleLoadDelay_ GUARDED_BY(mutex_){};
    bool moduleLoadScheduled_ GUARDED_BY(mutex_) = false;
    Clock::TimePoint moduleLoadAt_ GUARDED_BY(mutex_){};
    Aircraft aircraft_ GUARDED_BY(mutex_);
    bool flying_ GUARDED_BY(mutex_) = true;
    bool paused_ GUARDED_BY(mutex_) = false;
    // Frame n since the origin ends at frameEndLocked(n).
    double frameRate_ GUARDED_BY(mutex_) = kDefaultFrameRate;
    Clock::TimePoint frameOrigin_ GUARDED_BY(mutex_){};
    std::uint64_t framesSinceOrigin_ GUARDED_BY(mutex_) = 0;
    std::uint64_t frameCount_ GUARDED_BY(mutex_) = 0;
    std::optional<Clock::TimePoint> stallUntil_ GUARDED_BY(mutex_);
    std::function<void(std::uint64_t)> frameHook_ GUARDED_BY(mutex_);
};
