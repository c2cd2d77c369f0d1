#include <cstddef>
#include <cstdint>
#include <string>

#include "config/json.h"

// Keeps the fuzz build alive until the real targets exist.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)parseJson(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
