#pragma once

#include <ctime>

namespace platform {

// Thread-safe conversion of a calendar time to local time.
std::tm localTime(std::time_t t);

}  // namespace platform
