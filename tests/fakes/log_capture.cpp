#include "fakes/log_capture.h"

#include <sstream>
#include <thread>

#include "log/logger.h"
#include "platform/paths.h"

LogLines::LogLines(const std::string& path) {
    std::istringstream in(readFileBytes(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(line);
    }
}

std::vector<std::string> LogLines::messages(const std::string& level) const {
    std::vector<std::string> result;
    for (const std::string& line : lines_) {
        const std::size_t open = line.find(" [");
        const std::size_t close = line.find("] ", open == std::string::npos ? 0 : open);
        if (open == std::string::npos || close == std::string::npos) continue;
        if (!level.empty() && line.compare(open + 2, close - open - 2, level) != 0) continue;
        result.push_back(line.substr(close + 2));
    }
    return result;
}

int LogLines::count(const std::string& text) const {
    int n = 0;
    for (const std::string& message : messages()) {
        if (message.find(text) != std::string::npos) ++n;
    }
    return n;
}

std::string LogLines::dump() const {
    std::string all;
    for (const std::string& line : lines_)
        all += line + "\n";
    return all;
}

LogCapture::LogCapture(bool debugEnabled) {
    Logger::instance().open(dir_.path(), "capture", 0, 0, false);
    Logger::instance().setDebugEnabled(debugEnabled);
}

LogCapture::~LogCapture() {
    Logger::instance().setDebugEnabled(false);
    Logger::instance().close();
}

std::string LogCapture::filePath() const {
    return platform::joinPath(dir_.path(), "capture.log");
}

LogLines LogCapture::snapshot() const {
    return LogLines(filePath());
}

bool LogCapture::waitFor(const std::string& text, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!contains(text)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
