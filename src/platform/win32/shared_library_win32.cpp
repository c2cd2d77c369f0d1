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
    // The altered search path finds the library's own dependencies beside it.
    const HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
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

bool librariesBesideExecutable() {
    return true;
}

}  // namespace platform
