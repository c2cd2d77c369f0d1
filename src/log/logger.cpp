#include "log/logger.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

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

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(platform::toPath(path), ec) && !ec;
}

}  // namespace

Logger& Logger::instance() {
    // Function-local static: initialisation is thread-safe, and the logger
    // lives until process exit so late log calls from any thread are safe.
    static Logger* logger = new Logger();
    return *logger;
}

void Logger::open(const std::string& directory, const std::string& baseName, std::uint64_t maxBytes,
                  std::int32_t maxFiles, bool consoleEcho) {
    std::lock_guard<std::mutex> guard(lock_);
    directory_ = directory;
    baseName_ = baseName;
    maxBytes_ = maxBytes;
    maxFiles_ = maxFiles;
    consoleEcho_ = consoleEcho;
    if (!directory_.empty()) {
        std::error_code ec;
        fs::create_directories(platform::toPath(directory_), ec);
    }
    filePath_ = directory_.empty() ? baseName_ + ".log"
                                   : platform::joinPath(directory_, baseName_ + ".log");
    removeStaleFilesLocked();
    openFileLocked();
}

void Logger::log(LogLevel level, const std::string& message) {
    std::lock_guard<std::mutex> guard(lock_);
    writeLocked(levelLabel(level), message);
}

void Logger::debug(const std::string& message) {
    if (!debugEnabled_.load(std::memory_order_relaxed)) return;
    std::lock_guard<std::mutex> guard(lock_);
    writeLocked("DEBUG", message);
}

void Logger::setDebugEnabled(bool enabled) {
    std::lock_guard<std::mutex> guard(lock_);
    debugEnabled_.store(enabled, std::memory_order_relaxed);
}

void Logger::close() {
    std::lock_guard<std::mutex> guard(lock_);
    if (file_.is_open()) {
        file_.flush();
        file_.close();
    }
}

std::string Logger::filePath() const {
    std::lock_guard<std::mutex> guard(lock_);
    return filePath_;
}

void Logger::writeLocked(const char* label, const std::string& message) {
    if (!file_.is_open()) openFileLocked();
    rotateIfNeededLocked();
    std::string line = timestamp();
    line += " [";
    line += label;
    line += "] ";
    line += message;
    line += '\n';
    if (file_.is_open()) {
        file_.write(line.data(), static_cast<std::streamsize>(line.size()));
        file_.flush();
        if (!file_) file_.close();  // a failed stream is reopened by the next line
    }
    if (consoleEcho_) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
}

void Logger::openFileLocked() {
    if (file_.is_open()) file_.close();
    file_.clear();
    if (filePath_.empty()) return;
    file_.open(platform::toPath(filePath_), std::ios::out | std::ios::app);
}

void Logger::rotateIfNeededLocked() {
    if (maxBytes_ == 0 || maxFiles_ < 1 || filePath_.empty()) return;
    std::error_code ec;
    const fs::path current = platform::toPath(filePath_);
    if (!fs::exists(current, ec) || ec) return;
    const std::uintmax_t size = fs::file_size(current, ec);
    if (ec || size < maxBytes_) return;

    file_.flush();
    file_.close();
    for (std::int32_t i = maxFiles_; i >= 1; --i) {
        const std::string from = filePath_ + "." + std::to_string(i);
        if (exists(from)) {
            fs::rename(platform::toPath(from),
                       platform::toPath(filePath_ + "." + std::to_string(i + 1)), ec);
        }
    }
    if (exists(filePath_)) fs::rename(current, platform::toPath(filePath_ + ".1"), ec);
    removeStaleFilesLocked();
    openFileLocked();
}

void Logger::removeStaleFilesLocked() {
    if (filePath_.empty()) return;
    // Covers the file pushed out by a rotation and leftovers of a larger
    // earlier maxFiles setting.
    const std::int64_t first = static_cast<std::int64_t>(maxFiles_) + 1;
    for (std::int64_t i = first; i <= first + 31; ++i) {
        if (i < 1) continue;
        std::error_code ec;
        fs::remove(platform::toPath(filePath_ + "." + std::to_string(i)), ec);
    }
}
