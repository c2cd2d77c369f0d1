#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/lvar_payload.h"
#include "sim/sim_variables.h"

// The MobiFlight WASM module's side of the link, as this program uses it:
// the client-data areas, definitions and request ids, the command texts
// the module understands, the bounds on what waits for it, and the
// decoding of what it writes back. Named here once for the MobiFlight
// client and the MobiFlight session.
//
// Pure values and functions; any thread.
namespace mobiflight {

// Areas: the module's default channels (which belong to MobiFlight's own
// program otherwise) and this program's own channels once registered.
inline constexpr std::uint32_t kCommandAreaId = 0x1000;
inline constexpr std::uint32_t kResponseAreaId = 0x1001;
inline constexpr std::uint32_t kClientCommandAreaId = 0x1010;
inline constexpr std::uint32_t kClientResponseAreaId = 0x1011;
inline constexpr std::uint32_t kClientLVarsAreaId = 0x1012;
// Definitions (a definition belongs to no area: the own channels use them too).
inline constexpr std::uint32_t kCommandDefinition = 0x1100;
inline constexpr std::uint32_t kResponseDefinition = 0x1101;
inline constexpr std::uint32_t kLVarsDefinition = 0x1102;
// Requests: answers on the default channel, L-variables on change, answers
// on the own channel, L-variables read once.
inline constexpr std::uint32_t kResponseRequest = 0x1200;
inline constexpr std::uint32_t kLVarsRequest = 0x1201;
inline constexpr std::uint32_t kClientResponseRequest = 0x1202;
inline constexpr std::uint32_t kLVarsReadRequest = 0x1203;
// A command (and a response) block; a longer text is cut to kBlockSize - 1
// bytes and its zero.
inline constexpr std::uint32_t kBlockSize = 1024;
inline constexpr std::uint32_t kLVarsSize = 4096;

// The module's command and answer texts.
inline constexpr char kSetPrefix[] = "MF.SimVars.Set.1 ";
// Written after every command: the module only sees a command whose bytes
// differ from the previous one.
inline constexpr char kDummy[] = "MF.DummyCmd";
inline constexpr char kPing[] = "MF.Ping";
inline constexpr char kRegisterPrefix[] = "MF.Clients.Add.";
inline constexpr char kFinishedSuffix[] = ".Finished";
inline constexpr char kClear[] = "MF.SimVars.Clear";
inline const std::string kAddBacklight =
    std::string("MF.SimVars.Add.(L:") + kBacklightVariable + ")";
// A client's own channels are its name with these suffixes.
inline constexpr char kCommandSuffix[] = ".Command";
inline constexpr char kResponseSuffix[] = ".Response";
inline constexpr char kLVarsSuffix[] = ".LVars";

// Bounds on what waits to be written (each reported by one WARN).
// A few seconds of presses from both hands on every panel at once.
inline constexpr std::size_t kMaxQueuedPresses = 256;
// A few seconds of a knob spun as fast as a hand can.
inline constexpr std::int32_t kMaxEncoderBacklog = 512;

// Payload text: the bytes up to the first zero, or all of them.
std::string payloadText(const std::uint8_t* data, std::uint32_t size);

// What the L-var handler is handed for a payload of the L-var area: text
// when the bytes read as text, else the little-endian float they start
// with; false when the payload carries nothing usable (too short, or not a
// finite number).
bool decodeLVarPayload(const std::uint8_t* data, std::uint32_t size, LVarPayload& payload);

}  // namespace mobiflight
