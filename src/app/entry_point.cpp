#include "app/entry_point.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "addon/exe_xml_registrar.h"
#include "app/application.h"
#include "app/program_check.h"
#include "common/program_name.h"
#include "log/logger.h"
#include "platform/console.h"
#include "platform/hid_bus.h"
#include "platform/paths.h"
#include "platform/single_instance.h"

namespace {

const std::string kSingletonName = std::string("Local\\") + kProgramName + ".singleton";

// The Application that the console stop handler reaches. Set before the
// handler is installed and never cleared: the handler may run at any time.
std::atomic<Application*> g_application{nullptr};

bool stopFromConsole() {
    Application* app = g_application.load();
    if (!app) return false;
    app->requestStop();
    return true;
}

int listExeXml() {
    const std::vector<ExeXmlInspection> files = ExeXmlRegistrar().inspectAll(kProgramName);
    if (files.empty()) std::printf("No MSFS installations detected.\n");
    for (const ExeXmlInspection& file : files)
        std::printf("%s\n", exeXmlListLine(file).c_str());
    std::fflush(stdout);
    return 0;
}

int updateExeXml(bool doRegister, const std::string& configPath) {
    ExeXmlRegistrar registrar;
    std::string error;
    const int count = doRegister ? registrar.registerAll(kProgramName, platform::executablePath(),
                                                         registrationArguments(configPath), error)
                                 : registrar.unregisterAll(kProgramName, error);
    if (!error.empty()) {
        std::fprintf(stderr, "EXE.xml update failed after %d file(s): %s\n", count, error.c_str());
        std::fflush(stderr);
        return 1;
    }
    std::printf("%s %d MSFS EXE.xml file(s).\n", doRegister ? "Registered in" : "Unregistered from",
                count);
    std::fflush(stdout);
    return 0;
}

int runNormally(const CommandLine& options) {
    platform::SingleInstance instance(kSingletonName);
    if (instance.state() == platform::SingleInstance::State::AlreadyRunning) {
        // Started by the simulator while a copy runs is normal: exit 0, and
        // only a console user is told.
        if (options.consoleMode) {
            std::printf("%s is already running; this copy ends.\n", kProgramName);
            std::fflush(stdout);
        }
        return 0;
    }

    std::unique_ptr<platform::HidBus> bus = platform::createSystemHidBus();
    int exitCode = 0;
    {
        Application app(AppServices::system(*bus));
        if (options.hidTrace) app.setHidTraceOverride(true);
        if (options.consoleMode) {
            g_application.store(&app);
            platform::installConsoleStopHandler(stopFromConsole);
        }
        std::string error;
        if (app.initialize(options.configPath, options.consoleMode, error)) {
            app.run();
        } else {
            logError("Failed to initialize: " + error);
            exitCode = 1;
        }
        Logger::instance().close();
        // The handler stays installed until the process ends; from here on it
        // must not reach the Application any more.
        g_application.store(nullptr);
    }
    // A console close waits for this before Windows ends the process.
    platform::consoleStopFinished();
    return exitCode;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--console") {
            options.consoleMode = true;
        } else if (arg == "--hid-trace") {
            options.hidTrace = true;
        } else if (arg == "--register") {
            options.doRegister = true;
        } else if (arg == "--unregister") {
            options.doUnregister = true;
        } else if (arg == "--list-exe-xml") {
            options.listExeXml = true;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--config" && i + 1 < args.size()) {
            options.configPath = args[++i];
        }
    }
    return options;
}

std::string defaultConfigPath(const std::string& executablePath, const std::string& appDataDir) {
    const std::string exeDir = executablePath.empty() ? "" : platform::parentPath(executablePath);
    const std::vector<std::string> order = defaultConfigSearchOrder(exeDir, appDataDir);
    std::error_code ec;
    if (!exeDir.empty() && std::filesystem::exists(platform::toPath(order.front()), ec))
        return order.front();
    if (!appDataDir.empty()) return order.back();
    return exeDir.empty() ? platform::joinPath("config", "config.json") : order.front();
}

std::string registrationArguments(const std::string& configPath) {
    // The simulator starts the program from a folder of its own, where a
    // relative path would lead nowhere: register the full path.
    std::string path = configPath;
    if (!path.empty()) {
        std::error_code ec;
        const std::filesystem::path full = std::filesystem::absolute(platform::toPath(path), ec);
        if (!ec) path = platform::fromPath(full.lexically_normal());
    }
    return "--config \"" + path + "\"";
}

int runProgram(int argc, char** argv) {
    platform::attachParentConsole();
    const CommandLine options =
        parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    CommandLine resolved = options;
    if (resolved.configPath.empty()) {
        resolved.configPath =
            defaultConfigPath(platform::executablePath(), platform::commonAppDataDir());
    }
    // Before everything else: a check changes nothing, whatever else is asked.
    if (resolved.check) return runProgramCheck(resolved.configPath);
    if (resolved.listExeXml) return listExeXml();
    if (resolved.doRegister || resolved.doUnregister) {
        return updateExeXml(resolved.doRegister, resolved.configPath);
    }
    return runNormally(resolved);
}
