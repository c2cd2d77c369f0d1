#include <dlfcn.h>
#include <link.h>

#include "platform/shared_library.h"

namespace platform {
namespace {

class PosixLibrary final : public SharedLibrary {
public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    ~PosixLibrary() override { dlclose(handle_); }

    bool exports(const std::string& name) const override {
        return dlsym(handle_, name.c_str()) != nullptr;
    }

    void* symbol(const std::string& name) const override { return dlsym(handle_, name.c_str()); }

    std::string filePath() const override {
        link_map* map = nullptr;
        if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
        return map->l_name;
    }

    PosixLibrary(const PosixLibrary&) = delete;
    PosixLibrary& operator=(const PosixLibrary&) = delete;

private:
    void* handle_;
};

}  // namespace

std::unique_ptr<SharedLibrary> loadSharedLibrary(const std::string& path, std::string& error) {
    // Every reference bound now, as the loader binds the program's imports.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* text = dlerror();
        error = text ? text : "cannot be loaded";
        return nullptr;
    }
    return std::make_unique<PosixLibrary>(handle);
}

std::string sharedLibraryFileName(const std::string& name) {
    return "lib" + name + ".so";
}

}  // namespace platform
