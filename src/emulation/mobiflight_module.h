#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/clock.h"
#include "emulation/bounded_log.h"

// What the MobiFlight module needs from the simulator it lives in: the
// client-data areas and the L-variables. SimEmulator implements it.
class MobiFlightModuleHost {
public:
    virtual ~MobiFlightModuleHost() = default;
    virtual void createArea(const std::string& name, std::uint32_t size) = 0;
    virtual void removeArea(const std::string& name) = 0;
    virtual void writeArea(const std::string& name, std::uint32_t offset,
                           const std::vector<std::uint8_t>& bytes) = 0;
    virtual std::vector<std::uint8_t> readArea(const std::string& name) const = 0;
    virtual float lvar(const std::string& name) const = 0;
    virtual void setLVarFromModule(const std::string& name, float value) = 0;
};

// The MobiFlight WASM module as seen through its client-data areas:
// "<client>.Command" (1024 bytes), ".Response" (1024), ".LVars" (4096) and
// ".StringVars" (8192) for the default client "MobiFlight" and for each
// registered client. It takes the harsh reading wherever the real module's
// behaviour allows one:
// - it sees a command only when the command area's bytes differ from those
//   it saw last (its subscription asks for changes only, starting from the
//   area's bytes when it subscribed): a repeated command is lost;
// - "MF.Clients.Add.<Name>" creates the four areas of <Name> (a name seen
//   before reuses its record, variables included) and answers
//   "MF.Clients.Add.<Name>.Finished" on the response area of the channel
//   it came on; "MF.Ping" answers "MF.Pong"; nothing ever answers ".Error";
//   unknown commands are ignored;
// - every answer is a 1024-byte write: the text, a zero, and then bytes of
//   the module's memory (the same ones for the same text, so an answer
//   that repeats the area's text changes nothing);
// - "MF.SimVars.Clear" writes 0 into the client's used slots and forgets
//   them; "MF.SimVars.Add.(…)" appends a variable and writes its value into
//   slot 4·i of the client's ".LVars"; afterwards a slot is rewritten only
//   when its value changes. "MF.SimVars.Set.<v> (>L:NAME)" sets an
//   L-variable; other calculator code is recorded only;
// - it can be absent (no areas, no answers) and loaded later.
//
// Not thread-safe by itself: SimEmulator calls it under its own lock.
class MobiFlightModule {
public:
    // Whether the module answers "MF.Clients.Add." (an older module does not).
    enum class RegistrationReply { Finished, None };

    struct Command {
        std::string text;     // as read: the bytes up to the first zero
        std::string channel;  // the command area's name
        int connection = 0;   // emulator connection number of the writer (0: none)
        Clock::TimePoint time;
    };

    static constexpr std::uint32_t kCommandSize = 1024;
    static constexpr std::uint32_t kResponseSize = 1024;
    static constexpr std::uint32_t kLVarsSize = 4096;
    static constexpr std::uint32_t kStringVarsSize = 8192;
    // Clients it registers (the default one included), each with 14 KiB of
    // areas; a registration beyond is left unanswered, so no stream of new
    // names grows it without end.
    static constexpr std::size_t kMaxClients = 64;

    // The command record keeps the latest `recordLimit` commands.
    explicit MobiFlightModule(MobiFlightModuleHost& host,
                              std::size_t recordLimit = kDefaultRecordLimit);

    // The module's start-up: the default client's areas. Does nothing when loaded.
    void load();
    // The module goes away with every area and record it made.
    void unload();
    bool loaded() const { return loaded_; }

    void setRegistrationReply(RegistrationReply reply) { reply_ = reply; }

    // Called after every write into any area.
    void onAreaWritten(const std::string& area, int connection, Clock::TimePoint time);
    // Called when an L-variable changes: refreshes every slot subscribed to it.
    void onLVarChanged(const std::string& name);
    // Writes `text` as an answer on `client`'s response area.
    void respond(const std::string& client, const std::string& text);

    const BoundedLog<Command>& commands() const { return commands_; }
    // Variables of a client ("MobiFlight" is the default client) in slot order.
    std::vector<std::string> variables(const std::string& client) const;

private:
    struct Client {
        std::vector<std::string> variables;
        std::vector<std::uint8_t> lastCommand;  // command area bytes last seen
    };

    void addClient(const std::string& client);
    void execute(const std::string& client, const std::string& text);
    void registerClient(const std::string& client, const std::string& name);
    void clearVariables(const std::string& client);
    void addVariable(const std::string& client, const std::string& rpn);
    void runSetCode(const std::string& code);
    void writeSlot(const std::string& client, std::size_t index, float value, bool always);
    float evaluate(const std::string& rpn) const;

    MobiFlightModuleHost& host_;
    bool loaded_ = false;
    RegistrationReply reply_ = RegistrationReply::Finished;
    std::map<std::string, Client> clients_;
    std::vector<std::string> areas_;  // every area the module created
    BoundedLog<Command> commands_;
};
