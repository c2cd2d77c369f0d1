#include <windows.h>

#include "platform/environment.h"
#include "platform/shared_library.h"

namespace platform {
namespace {

class Win32Library final : public SharedLibrary {
public:
    explicit Win32Library(HMODULE module) : module_(module) {}
    ~Win32Library() override { FreeLibrary(module_); }

    bool exports(const std::string& name) const override {
        return GetProcAddress(module_, name.c_str()) != nullptr;
    }

    void* symbol(const std::string& name) const override {
        return reinterpret_cast<void*>(GetProcAddress(module_, name.c_str()));
    }

    std::string filePath() const override {
        char buffer[MAX_PATH];
        const DWORD n = GetModuleFileNameA(module_, buffer, MAX_PATH);
        return n == 0 || n >= MAX_PATH ? std::string() : std::string(buffer, n);
    }

    Win32Library(const Win32Library&) = delete;
    Win32Library& operator=(const Win32Library&) = delete;

private:
    HMODULE module_;
};

}  // namespace

std::unique_ptr<SharedLibrary> loadSharedLibrary(const std::string& path, std::string& error) {
    // A damaged or missing dependency must give an error code, not a
    // message box that waits for a person.
    DWORD previousMode = 0;
    const bool modeSet =
        SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != 0;
    // The altered search path finds the library's own dependencies beside
    // it; it is defined for full paths only, so a bare name takes the usual
    // search order.
    const bool bareName = path.find_first_of("\\/:") == std::string::npos;
    const HMODULE module =
        LoadLibraryExA(path.c_str(), nullptr, bareName ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = GetLastError();
    if (modeSet) SetThreadErrorMode(previousMode, nullptr);
    if (module == nullptr) {
        error = systemErrorText(code);
        return nullptr;
    }
    return std::make_unique<Win32Library>(module);
}

std::string sharedLibraryFileName(const std::string& name) {
    return name + ".dll";
}

}  // namespace platform
