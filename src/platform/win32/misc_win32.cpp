#include <windows.h>

#include <ctime>

#include "platform/environment.h"
#include "platform/local_time.h"

namespace platform {

std::tm localTime(std::time_t t) {
    std::tm result{};
    localtime_s(&result, &t);
    return result;
}

std::string getEnvironmentVariable(const std::string& name) {
    const DWORD needed = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (needed == 0) return {};
    std::string value(needed, '\0');
    const DWORD n = GetEnvironmentVariableA(name.c_str(), value.data(), needed);
    if (n == 0 || n >= needed) return {};
    value.resize(n);
    return value;
}

std::string systemErrorText(unsigned long code) {
    char* buffer = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = (n > 0 && buffer) ? std::string(buffer, n) : std::string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.empty()) text = "error " + std::to_string(code);
    return text;
}

}  // namespace platform
