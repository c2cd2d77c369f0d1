#pragma once

#include <memory>
#include <string>

// A library file loaded at run time: to see whether it loads and which
// functions it offers (--check), or to call them (the SDK's SimConnect.dll
// when the configuration asks for it). Its initialisation code runs while
// it is loaded (DllMain, constructors). Any thread; the functions found
// stay valid while the object lives.
namespace platform {

class SharedLibrary {
public:
    // Unloads it (FreeLibrary, dlclose). A library the process had loaded
    // already stays loaded: the system counts the loads.
    virtual ~SharedLibrary() = default;

    // Whether the library exports a function or variable of this name.
    virtual bool exports(const std::string& name) const = 0;
    // The address of the exported function or variable, or null.
    virtual void* symbol(const std::string& name) const = 0;
    // The file the system loaded (a bare name resolved to its folder).
    virtual std::string filePath() const = 0;
};

// Loads the library at `path` with its dependencies, without error dialogs.
// A bare file name ("SimConnect.dll") is looked for on the system's usual
// search path for libraries.
// Null when it cannot be loaded, with the system's text in `error` (a
// missing file, a missing dependency, a library for another processor).
std::unique_ptr<SharedLibrary> loadSharedLibrary(const std::string& path, std::string& error);

// The file name of the library `name` on this system ("name.dll" on
// Windows, "libname.so" on Linux).
std::string sharedLibraryFileName(const std::string& name);

}  // namespace platform
