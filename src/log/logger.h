#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

// Integer values are part of the contract: callers may pass any int, and
// values outside this set are written with the "INFO" label.
enum LogLevel : int {
    Info = 0,
    Warn = 1,
    Error = 2,
    Debug = 3,
};

// The process-wide, levelled, size-rotated log.
//
// Every operation may be called from any thread, before open() and after
// close(): a closed file is reopened on demand at filePath. One
// non-recursive mutex serialises all file and console output, so lines
// never interleave. Nothing here throws for I/O problems, and the logger
// never reports its own failures.
class Logger {
public:
    static Logger& instance();

    // Stores the settings, creates the folder (failures ignored), deletes
    // stale rotated files and opens directory/baseName.log for appending.
    // An empty directory means the current folder.
    void open(const std::string& directory, const std::string& baseName, std::uint64_t maxBytes,
              std::int32_t maxFiles, bool consoleEcho);

    void log(LogLevel level, const std::string& message);

    // Written with the "DEBUG" label only while debug output is enabled;
    // otherwise returns without touching the file.
    void debug(const std::string& message);

    void setDebugEnabled(bool enabled);

    // Lock-free peek for hot paths that want to skip building a debug text.
    bool isDebugEnabled() const { return debugEnabled_.load(std::memory_order_relaxed); }

    // Flushes and closes the file if it is open.
    void close();

    std::string filePath() const;

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger() = default;

    void writeLocked(const char* label, const std::string& message);
    void openFileLocked();
    void rotateIfNeededLocked();
    void removeStaleFilesLocked();

    mutable std::mutex lock_;
    std::ofstream file_;
    std::string directory_;
    std::string baseName_;
    std::string filePath_;
    std::uint64_t maxBytes_ = 0;
    std::int32_t maxFiles_ = 0;
    bool consoleEcho_ = false;
    std::atomic<bool> debugEnabled_{false};
};

// Shorthands used throughout the program.
inline void logInfo(const std::string& message) {
    Logger::instance().log(LogLevel::Info, message);
}
inline void logWarn(const std::string& message) {
    Logger::instance().log(LogLevel::Warn, message);
}
inline void logError(const std::string& message) {
    Logger::instance().log(LogLevel::Error, message);
}
inline void logDebug(const std::string& message) {
    Logger::instance().debug(message);
}
