#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>

#include "common/clock.h"
#include "common/mutex.h"

// Integer values are part of the contract: callers may pass any int, and
// values outside this set are written with the "INFO" label.
enum LogLevel : int {
    Info = 0,
    Warn = 1,
    Error = 2,
    Debug = 3,
};

// The file-system calls of log rotation. The logger uses system() unless a
// test hands it another (one that fails a rename, say). Called only under
// the logger's lock, so an implementation needs no lock of its own for that.
class LogFileSystem {
public:
    virtual ~LogFileSystem() = default;
    virtual bool exists(const std::string& path) = 0;
    // False when the size cannot be read.
    virtual bool size(const std::string& path, std::uint64_t& bytes) = 0;
    // Moves `from` to `to`, replacing a file at `to`; false when it failed.
    virtual bool rename(const std::string& from, const std::string& to) = 0;
    virtual void remove(const std::string& path) = 0;

    static LogFileSystem& system();
};

// The process-wide, levelled, size-rotated log.
//
// Every operation may be called from any thread, before open() and after
// close(): a closed file is reopened on demand at filePath. One
// non-recursive mutex serialises all file and console output, so lines
// never interleave. That mutex is the last lock: any other lock of the
// program may be held while logging, and under it the logger calls only its
// file-system and clock seams, which must not log. Nothing here throws for
// I/O problems.
//
// Every line is written with its control bytes shown as \xNN
// (withoutControlBytes, log/outside_text.h): one message is one line.
//
// Lines the file does not take (it cannot be opened, or a write fails) are
// counted, and the first line it takes again is preceded by one WARN
// "<n> log lines lost: <reason>" (echoed too when the console echo is on),
// the reason being that of the first lost line. The console echo itself
// loses nothing; open() starts the count afresh.
//
// Rotation never costs history: the current file is first renamed aside,
// and only then are the numbered files moved up into the first free number
// (the file pushed beyond maxFiles is deleted). A current file that cannot
// be renamed (on Windows: held open by another program without delete
// sharing) is kept and written on, and the next rotation is tried at most
// once a minute.
class Logger {
public:
    // How long a failed rotation waits before it is tried again.
    static constexpr std::chrono::minutes kRotationRetry{1};

    static Logger& instance();

    // Stores the settings, creates the folder (failures ignored), deletes
    // stale rotated files and opens directory/baseName.log for appending.
    // An empty directory means the current folder. An empty baseName
    // writes no file at all: only the console echo, if any.
    void open(const std::string& directory, const std::string& baseName, std::uint64_t maxBytes,
              std::int32_t maxFiles, bool consoleEcho) EXCLUDES(lock_);

    void log(LogLevel level, const std::string& message) EXCLUDES(lock_);

    // Written with the "DEBUG" label only while debug output is enabled;
    // otherwise returns without touching the file.
    void debug(const std::string& message) EXCLUDES(lock_);

    void setDebugEnabled(bool enabled) EXCLUDES(lock_);

    // Lock-free peek for hot paths that want to skip building a debug text.
    bool isDebugEnabled() const { return debugEnabled_.load(std::memory_order_relaxed); }

    // Flushes and closes the file if it is open.
    void close() EXCLUDES(lock_);

    std::string filePath() const EXCLUDES(lock_);

    // Seams for tests; null restores the system's. The objects must outlive
    // their use by the logger. Setting either clears a pending rotation retry.
    void setFileSystem(LogFileSystem* files) EXCLUDES(lock_);
    void setClock(Clock* clock) EXCLUDES(lock_);

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger() = default;

    void writeLocked(const char* label, const std::string& message) REQUIRES(lock_);
    static std::string formatLine(const char* label, const std::string& message);
    static void echo(const std::string& line);
    // False when the line did not reach the file.
    bool writeFileLocked(const std::string& line) REQUIRES(lock_);
    void countLostLocked() REQUIRES(lock_);
    void reportLostLocked() REQUIRES(lock_);
    void openFileLocked() REQUIRES(lock_);
    void rotateIfNeededLocked() REQUIRES(lock_);
    bool rotateLocked() REQUIRES(lock_);
    bool shiftNumberedLocked() REQUIRES(lock_);
    void removeStaleFilesLocked() REQUIRES(lock_);
    std::string numberedLocked(std::int64_t number) const REQUIRES(lock_);

    mutable Mutex lock_;
    std::ofstream file_ GUARDED_BY(lock_);
    std::string directory_ GUARDED_BY(lock_);
    std::string baseName_ GUARDED_BY(lock_);
    std::string filePath_ GUARDED_BY(lock_);
    std::uint64_t maxBytes_ GUARDED_BY(lock_) = 0;
    std::int32_t maxFiles_ GUARDED_BY(lock_) = 0;
    bool consoleEcho_ GUARDED_BY(lock_) = false;
    std::atomic<bool> debugEnabled_{false};
    LogFileSystem* files_ GUARDED_BY(lock_) = &LogFileSystem::system();
    Clock* clock_ GUARDED_BY(lock_) = &Clock::system();
    bool rotationDeferred_ GUARDED_BY(lock_) = false;  // the last rotation failed
    Clock::TimePoint rotationRetryAt_ GUARDED_BY(lock_){};
    std::uint64_t lostLines_ GUARDED_BY(lock_) = 0;  // since the file last took a line
    std::string lostReason_ GUARDED_BY(lock_);       // why the first of them was lost
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
