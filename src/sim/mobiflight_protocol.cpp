#include "sim/mobiflight_protocol.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "sim/simconnect_client.h"

namespace mobiflight {

static_assert(kBlockSize == SimConnectClient::kCommandBlockSize,
              "a command block is what the SimConnect client writes");

namespace {

bool isTextCharacter(unsigned char c) {
    return (c >= 0x20 && c <= 0x7E) || (c >= 0x09 && c <= 0x0D);
}

bool isCompleteNumber(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && errno != ERANGE;
}

std::uint32_t littleEndianWord(const std::uint8_t* data) {
    return std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 | std::uint32_t{data[2]} << 16 |
           std::uint32_t{data[3]} << 24;
}

// Whether the L-var payload is text rather than a float. The module writes
// 4-byte floats, whose bytes are often printable or contain a zero (0.4f is
// CD CC CC 3E, 1.0f is 00 00 80 3F), so only a clear case counts as text:
// printable characters that are longer than a float, or hold an "=", or are
// a whole number that cannot be a float's bytes.
bool looksLikeText(const std::string& text, const std::uint8_t* data, std::uint32_t size) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (!isTextCharacter(static_cast<unsigned char>(c))) return false;
    }
    if (size < 4) return true;
    if (text.size() > 4 || text.find('=') != std::string::npos) return true;
    if (!isCompleteNumber(text)) return false;
    if (text.size() == 4) return true;
    // A shorter number ends inside the float's four bytes: those bytes are
    // text only when they make no normal float (zero exponent bits).
    return ((littleEndianWord(data) >> 23) & 0xFFu) == 0;
}

}  // namespace

std::string payloadText(const std::uint8_t* data, std::uint32_t size) {
    const void* zero = std::memchr(data, 0, size);
    const std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - data) : size;
    return std::string(reinterpret_cast<const char*>(data), length);
}

bool decodeLVarPayload(const std::uint8_t* data, std::uint32_t size, LVarPayload& payload) {
    if (!data || size == 0) return false;
    std::string prefix = payloadText(data, size);
    if (looksLikeText(prefix, data, size)) {
        payload = LVarPayload{false, 0.0, std::move(prefix)};
        return true;
    }
    if (size < 4) return false;
    const std::uint32_t bits = littleEndianWord(data);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof(value));
    if (!std::isfinite(value)) return false;
    payload = LVarPayload{true, static_cast<double>(value), {}};
    return true;
}

}  // namespace mobiflight
