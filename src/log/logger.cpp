#include "log/logger.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "log/outside_text.h"
#include "platform/local_time.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

const char* levelLabel(LogLevel level) {
    switch (level) {
        case LogLevel::Warn:
            return "WARN";
        case LogLevel::Error:
            return "ERROR";
        case LogLevel::Debug:
            return "DEBUG";
        case LogLevel::Info:
        default:
            return "INFO";
    }
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local = platform::localTime(now);
    char text[32];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, n);
}

class SystemLogFileSystem final : public LogFileSystem {
public:
    bool exists(const std::string& path) override {
        std::error_code ec;
        return fs::exists(platform::toPath(path), ec) && !ec;
    }
    bool size(const std::string& path, std::uint64_t& bytes) override {
        std::error_code ec;
        const std::uintmax_t value = fs::file_size(platform::toPath(path), ec);
        if (ec) return false;
        bytes = value;
        return true;
    }
    bool rename(const std::string& from, const std::string& to) override {
        std::error_code ec;
        fs::rename(platform::toPath(from), platform::toPath(to), ec);
        return !ec;
    }
    void remove(const std::string& path) override {
        std::error_code ec;
        fs::remove(platform::toPath(path), ec);
    }
};

// Where the current file waits while the numbered files move up.
constexpr const char* kAsideSuffix = ".rotating";

}  // namespace

LogFileSystem& LogFileSystem::system() {
    static SystemLogFileSystem files;
    return files;
}

Logger& Logger::instance() {
    // Function-local static: initialisation is thread-safe, and the logger
    // lives until process exit so late log calls from any thread are safe.
    static Logger* logger = new Logger();
    return *logger;
}

void Logger::open(const std::string& directory, const std::string& baseName, std::uint64_t maxBytes,
                  std::int32_t maxFiles, bool consoleEcho) {
    MutexLock guard(lock_);
    directory_ = directory;
    baseName_ = baseName;
    maxBytes_ = maxBytes;
    maxFiles_ = maxFiles;
    consoleEcho_ = consoleEcho;
    rotationDeferred_ = false;
    lostLines_ = 0;
    lostReason_.clear();
    if (baseName_.empty()) {
        filePath_.clear();
    } else {
        if (!directory_.empty()) {
            std::error_code ec;
            fs::create_directories(platform::toPath(directory_), ec);
        }
        filePath_ = directory_.empty() ? baseName_ + ".log"
                                       : platform::joinPath(directory_, baseName_ + ".log");
    }
    removeStaleFilesLocked();
    openFileLocked();
}

void Logger::log(LogLevel level, const std::string& message) {
    MutexLock guard(lock_);
    writeLocked(levelLabel(level), message);
}

void Logger::debug(const std::string& message) {
    if (!debugEnabled_.load(std::memory_order_relaxed)) return;
    MutexLock guard(lock_);
    writeLocked("DEBUG", message);
}

void Logger::setDebugEnabled(bool enabled) {
    MutexLock guard(lock_);
    debugEnabled_.store(enabled, std::memory_order_relaxed);
}

void Logger::close() {
    MutexLock guard(lock_);
    if (file_.is_open()) {
        file_.flush();
        file_.close();
    }
}

std::string Logger::filePath() const {
    MutexLock guard(lock_);
    return filePath_;
}

void Logger::writeLocked(const char* label, const std::string& message) {
    if (!file_.is_open()) openFileLocked();
    rotateIfNeededLocked();
    const std::string line = formatLine(label, message);
    if (!filePath_.empty()) {
        if (lostLines_ > 0) reportLostLocked();
        if (!writeFileLocked(line)) countLostLocked();
    }
    if (consoleEcho_) echo(line);
}

std::string Logger::formatLine(const char* label, const std::string& message) {
    std::string line = timestamp();
    line += " [";
    line += label;
    line += "] ";
    line += withoutControlBytes(message);
    line += '\n';
    return line;
}

void Logger::echo(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

bool Logger::writeFileLocked(const std::string& line) {
    if (!file_.is_open()) return false;
    file_.write(line.data(), static_cast<std::streamsize>(line.size()));
    file_.flush();
    if (file_) return true;
    if (lostLines_ == 0) lostReason_ = "writing " + filePath_ + " failed";
    file_.close();  // a failed stream is reopened by the next line
    return false;
}

void Logger::countLostLocked() {
    if (lostReason_.empty()) lostReason_ = "cannot open " + filePath_;
    ++lostLines_;
}

// Said once the file takes lines again, before the line that found it so.
void Logger::reportLostLocked() {
    const std::string notice =
        formatLine("WARN", std::to_string(lostLines_) + " log lines lost: " + lostReason_);
    if (!writeFileLocked(notice)) return;
    if (consoleEcho_) echo(notice);
    lostLines_ = 0;
    lostReason_.clear();
}

void Logger::openFileLocked() {
    if (file_.is_open()) file_.close();
    file_.clear();
    if (filePath_.empty()) return;
    errno = 0;
    file_.open(platform::toPath(filePath_), std::ios::out | std::ios::app);
    if (file_.is_open() || lostLines_ > 0) return;
    lostReason_ = "cannot open " + filePath_;
    if (errno != 0) lostReason_ += std::string(": ") + std::strerror(errno);
}

void Logger::setFileSystem(LogFileSystem* files) {
    MutexLock guard(lock_);
    files_ = files ? files : &LogFileSystem::system();
    rotationDeferred_ = false;
}

void Logger::setClock(Clock* clock) {
    MutexLock guard(lock_);
    clock_ = clock ? clock : &Clock::system();
    rotationDeferred_ = false;
}

std::string Logger::numberedLocked(std::int64_t number) const {
    return filePath_ + "." + std::to_string(number);
}

void Logger::rotateIfNeededLocked() {
    if (maxBytes_ == 0 || maxFiles_ < 1 || filePath_.empty()) return;
    if (rotationDeferred_ && clock_->now() < rotationRetryAt_) return;
    std::uint64_t size = 0;
    if (!files_->exists(filePath_) || !files_->size(filePath_, size) || size < maxBytes_) return;

    file_.flush();
    file_.close();
    rotationDeferred_ = !rotateLocked();
    if (rotationDeferred_) rotationRetryAt_ = clock_->now() + kRotationRetry;
    openFileLocked();
}

// Nothing is shifted, and so nothing dropped, unless the current file could
// be moved aside first. A file left aside by a rotation that was cut short
// (the process ended in between) is placed first; the current file then
// rotates with the next line.
bool Logger::rotateLocked() {
    const std::string aside = filePath_ + kAsideSuffix;
    const bool leftover = files_->exists(aside);
    if (!leftover && !files_->rename(filePath_, aside)) return false;
    if (shiftNumberedLocked() && files_->rename(aside, numberedLocked(1))) {
        removeStaleFilesLocked();
        return true;
    }
    if (!leftover && !files_->exists(filePath_)) files_->rename(aside, filePath_);
    return false;
}

// Frees number 1 by moving the files below the first free number up by
// one. Every move goes to a free number, apart from the one beyond maxFiles
// (deleted anyway), so a move that fails halfway costs no file.
bool Logger::shiftNumberedLocked() {
    std::int64_t gap = 1;
    while (gap <= maxFiles_ && files_->exists(numberedLocked(gap)))
        ++gap;
    for (std::int64_t i = gap - 1; i >= 1; --i) {
        if (!files_->rename(numberedLocked(i), numberedLocked(i + 1))) return false;
    }
    return true;
}

void Logger::removeStaleFilesLocked() {
    if (filePath_.empty()) return;
    // Covers the file pushed out by a rotation and leftovers of a larger
    // earlier maxFiles setting.
    const std::int64_t first = static_cast<std::int64_t>(maxFiles_) + 1;
    for (std::int64_t i = first; i <= first + 31; ++i) {
        if (i >= 1) files_->remove(numberedLocked(i));
    }
}
