#include <cstdlib>
#include <ctime>
#include <system_error>

#include "platform/environment.h"
#include "platform/local_time.h"

namespace platform {

std::tm localTime(std::time_t t) {
    std::tm result{};
    localtime_r(&t, &result);
    return result;
}

std::string getEnvironmentVariable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? std::string(value) : std::string();
}

std::string systemErrorText(unsigned long code) {
    return std::generic_category().message(static_cast<int>(code));
}

}  // namespace platform
