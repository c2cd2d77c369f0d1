#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"

// What the MobiFlight module needs from the simulator it lives in: the
// client-data areas and the L-variables. SimEmulator implements it.
class MobiFlightModuleHost {
public:
    virtual ~MobiFlightModuleHost() = default;
    virtual void createArea(const std::string& name, std::uint32_t size) = 0;
    virtual void writeArea(const std::string& name, std::uint32_t offset,
                           const std::vector<std::uint8_t>& bytes) = 0;
    virtual std::vector<std::uint8_t> readArea(const std::string& name) const = 0;
    virtual float lvar(const std::string& name) const = 0;
    virtual void setLVarFromModule(const std::string& name, float value) = 0;
};

// The MobiFlight WASM module as seen through its client-data areas:
// "<client>.Command" (1024 bytes), ".Response" (1024), ".LVars" (4096) and
// ".StringVars" (8192) for the default client "MobiFlight" and for each
// registered client.
//
// Like the real module it subscribes to each command area with ON_SET +
// CHANGED, so it only sees a command whose area bytes differ from the last
// ones it saw (a repeated identical command is lost). It answers
// "MF.Clients.Add.<Name>" with "<...>.Finished" (or, scripted, ".Error" or
// nothing) on the response area belonging to the command area used, keeps
// each client's variable list ("MF.SimVars.Clear", "MF.SimVars.Add.(…)")
// and writes float values at offset 4·i of the client's L-var area when
// added and whenever they change. "MF.SimVars.Set.<v> (>L:NAME)" sets an
// L-variable; other RPN code is recorded only.
//
// Not thread-safe by itself: SimEmulator calls it under its own lock.
class MobiFlightModule {
public:
    enum class RegistrationReply { Finished, Error, None };

    struct Command {
        std::string text;     // as read: the bytes up to the first zero
        std::string channel;  // the command area's name
        int connection = 0;   // emulator connection number of the writer
        Clock::TimePoint time;
    };

    static constexpr std::uint32_t kCommandSize = 1024;
    static constexpr std::uint32_t kResponseSize = 1024;
    static constexpr std::uint32_t kLVarsSize = 4096;
    static constexpr std::uint32_t kStringVarsSize = 8192;

    explicit MobiFlightModule(MobiFlightModuleHost& host);

    // Creates the default client's areas (the module's start-up).
    void load();

    void setRegistrationReply(RegistrationReply reply) { reply_ = reply; }

    // Called after every write into any area.
    void onAreaWritten(const std::string& area, int connection, Clock::TimePoint time);
    // Called when an L-variable changes: refreshes every slot subscribed to it.
    void onLVarChanged(const std::string& name);

    const std::vector<Command>& commands() const { return commands_; }
    // Variables of a client ("MobiFlight" is the default client) in slot order.
    std::vector<std::string> variables(const std::string& client) const;

private:
    struct Client {
        std::vector<std::string> variables;
        std::optional<std::vector<std::uint8_t>> lastCommand;
    };

    void addClientAreas(const std::string& client);
    void execute(const std::string& client, const std::string& text);
    void respond(const std::string& client, const std::string& text);
    void registerClient(const std::string& client, const std::string& name);
    void clearVariables(const std::string& client);
    void addVariable(const std::string& client, const std::string& rpn);
    void runSetCode(const std::string& code);
    void writeSlot(const std::string& client, std::size_t index, float value, bool always);
    float evaluate(const std::string& rpn) const;

    MobiFlightModuleHost& host_;
    RegistrationReply reply_ = RegistrationReply::Finished;
    std::map<std::string, Client> clients_;
    std::vector<Command> commands_;
};
