#include "emulation/mobiflight_module.h"
#include "common/ascii.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

// Plain character arrays: constant-initialised, so usable from the drop-in
// library's global emulator, which is built while the library loads.
const char kDefaultClient[] = "MobiFlight";
const char kAddClient[] = "MF.Clients.Add.";
const char kFinished[] = ".Finished";
const char kAddVar[] = "MF.SimVars.Add.";
const char kSetVar[] = "MF.SimVars.Set.";
const char kClear[] = "MF.SimVars.Clear";
const char kPing[] = "MF.Ping";
const char kPong[] = "MF.Pong";
const char kVersionGet[] = "MF.Version.Get";
const char kVersion[] = "MF.Version.1.0.1";
const char kCommandSuffix[] = ".Command";

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string upper(const std::string& text) {
    return toUpperAscii(text);
}

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// "(L:NAME)" or "(L:NAME, unit)" -> NAME; empty when the code is not one L-var read.
std::string lvarNameOf(const std::string& rpn) {
    const std::string code = trim(rpn);
    if (code.size() < 5 || code.compare(0, 3, "(L:") != 0 || code.back() != ')') return {};
    std::string name = code.substr(3, code.size() - 4);
    return trim(name.substr(0, name.find(',')));
}

std::vector<std::uint8_t> floatBytes(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

// An answer as the module writes it: 1024 bytes read from where its text
// lies, so whatever follows the text's zero in its memory comes along.
// The same text always brings the same bytes.
std::vector<std::uint8_t> answerBlock(const std::string& text, std::size_t size) {
    std::vector<std::uint8_t> block(size, 0);
    std::uint32_t state = 2166136261u;
    for (const char c : text)
        state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        block[i] = static_cast<std::uint8_t>(state >> 16);
    }
    const std::size_t length = std::min(text.size(), size - 1);
    std::memcpy(block.data(), text.data(), length);
    block[length] = 0;
    return block;
}

}  // namespace

MobiFlightModule::MobiFlightModule(MobiFlightModuleHost& host, std::size_t recordLimit)
    : host_(host), commands_(recordLimit) {}

void MobiFlightModule::load() {
    if (loaded_) return;
    loaded_ = true;
    addClient(kDefaultClient);
}

void MobiFlightModule::unload() {
    if (!loaded_) return;
    loaded_ = false;
    for (const std::string& area : areas_)
        host_.removeArea(area);
    areas_.clear();
    clients_.clear();
}

void MobiFlightModule::addClient(const std::string& client) {
    for (const auto& [suffix, size] :
         std::vector<std::pair<const char*, std::uint32_t>>{{kCommandSuffix, kCommandSize},
                                                            {".Response", kResponseSize},
                                                            {".LVars", kLVarsSize},
                                                            {".StringVars", kStringVarsSize}}) {
        host_.createArea(client + suffix, size);
        areas_.push_back(client + suffix);
    }
    // It subscribes to the command area from the bytes that are there now.
    clients_[client].lastCommand = host_.readArea(client + kCommandSuffix);
}

std::vector<std::string> MobiFlightModule::variables(const std::string& client) const {
    const auto it = clients_.find(client);
    return it == clients_.end() ? std::vector<std::string>{} : it->second.variables;
}

void MobiFlightModule::onAreaWritten(const std::string& area, int connection,
                                     Clock::TimePoint time) {
    const std::size_t suffix = std::strlen(kCommandSuffix);
    if (!loaded_ || area.size() <= suffix ||
        area.compare(area.size() - suffix, suffix, kCommandSuffix) != 0) {
        return;
    }
    const std::string client = area.substr(0, area.size() - suffix);
    auto it = clients_.find(client);
    if (it == clients_.end()) return;
    std::vector<std::uint8_t> bytes = host_.readArea(area);
    if (it->second.lastCommand == bytes) return;  // unchanged bytes: not seen
    it->second.lastCommand = bytes;
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    std::string text(bytes.begin(), end);
    commands_.push({text, area, connection, time});
    execute(client, text);
}

void MobiFlightModule::execute(const std::string& client, const std::string& text) {
    if (startsWith(text, kAddClient)) {
        registerClient(client, text.substr(std::strlen(kAddClient)));
    } else if (text == kClear) {
        clearVariables(client);
    } else if (startsWith(text, kAddVar)) {
        addVariable(client, text.substr(std::strlen(kAddVar)));
    } else if (startsWith(text, kSetVar)) {
        runSetCode(text.substr(std::strlen(kSetVar)));
    } else if (text == kPing) {
        respond(client, kPong);
    } else if (text == kVersionGet) {
        respond(client, kVersion);
    }
    // Anything else (MF.DummyCmd among it) is ignored, as the module does.
}

void MobiFlightModule::respond(const std::string& client, const std::string& text) {
    host_.writeArea(client + ".Response", 0, answerBlock(text, kResponseSize));
}

void MobiFlightModule::registerClient(const std::string& client, const std::string& name) {
    if (reply_ == RegistrationReply::None || name.empty()) return;
    if (clients_.find(name) == clients_.end()) {
        if (clients_.size() >= kMaxClients) return;  // left unanswered
        addClient(name);
    }
    respond(client, std::string(kAddClient) + name + kFinished);
}

void MobiFlightModule::clearVariables(const std::string& client) {
    Client& record = clients_[client];
    for (std::size_t i = 0; i < record.variables.size(); ++i)
        writeSlot(client, i, 0.0f, true);
    record.variables.clear();
}

void MobiFlightModule::addVariable(const std::string& client, const std::string& rpn) {
    Client& record = clients_[client];
    if (record.variables.size() >= kLVarsSize / 4) return;
    record.variables.push_back(rpn);
    writeSlot(client, record.variables.size() - 1, evaluate(rpn), true);
}

// The slot is written (and so its area's subscribers hear of it only if the
// bytes changed); `always` off skips the write when the value is unchanged.
void MobiFlightModule::writeSlot(const std::string& client, std::size_t index, float value,
                                 bool always) {
    const std::string area = client + ".LVars";
    const std::vector<std::uint8_t> bytes = floatBytes(value);
    const std::vector<std::uint8_t> current = host_.readArea(area);
    const std::size_t offset = index * 4;
    if (!always && offset + 4 <= current.size() &&
        std::equal(bytes.begin(), bytes.end(), current.begin() + static_cast<long>(offset))) {
        return;
    }
    host_.writeArea(area, static_cast<std::uint32_t>(offset), bytes);
}

float MobiFlightModule::evaluate(const std::string& rpn) const {
    const std::string name = lvarNameOf(rpn);
    if (!name.empty()) return host_.lvar(name);
    char* end = nullptr;
    const std::string code = trim(rpn);
    const float number = std::strtof(code.c_str(), &end);
    return (end && *end == '\0' && !code.empty()) ? number : 0.0f;
}

void MobiFlightModule::runSetCode(const std::string& code) {
    // Understands "<number> (>L:NAME)"; any other calculator code is only recorded.
    const std::string text = trim(code);
    const std::size_t blank = text.find(' ');
    if (blank == std::string::npos) return;
    const std::string target = trim(text.substr(blank + 1));
    if (target.size() < 6 || target.compare(0, 4, "(>L:") != 0 || target.back() != ')') return;
    char* end = nullptr;
    const std::string number = text.substr(0, blank);
    const float value = std::strtof(number.c_str(), &end);
    if (!end || *end != '\0') return;
    host_.setLVarFromModule(trim(target.substr(4, target.size() - 5)), value);
}

void MobiFlightModule::onLVarChanged(const std::string& name) {
    for (auto& [client, record] : clients_) {
        for (std::size_t i = 0; i < record.variables.size(); ++i) {
            if (upper(lvarNameOf(record.variables[i])) == upper(name)) {
                writeSlot(client, i, host_.lvar(name), false);
            }
        }
    }
}
