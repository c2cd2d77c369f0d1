#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "fakes/temp_dir.h"

// The lines of a log file as they are on disk at construction time.
class LogLines {
public:
    explicit LogLines(const std::string& path);

    const std::vector<std::string>& lines() const { return lines_; }
    // Only the message parts (after "[LEVEL] ") of the lines whose label is level
    // ("INFO", "WARN", "ERROR", "DEBUG"), or of all lines when level is empty.
    std::vector<std::string> messages(const std::string& level = "") const;
    // Number of lines whose message contains text.
    int count(const std::string& text) const;
    bool contains(const std::string& text) const { return count(text) > 0; }
    std::string dump() const;

private:
    std::vector<std::string> lines_;
};

// Points the process-wide Logger at a private folder for the life of the
// object (debug lines on, no rotation, no console echo) and reads back what
// was written. The Logger is closed again on destruction.
class LogCapture {
public:
    explicit LogCapture(bool debugEnabled = true);
    ~LogCapture();

    LogLines snapshot() const;
    std::vector<std::string> lines() const { return snapshot().lines(); }
    std::vector<std::string> messages(const std::string& level = "") const {
        return snapshot().messages(level);
    }
    int count(const std::string& text) const { return snapshot().count(text); }
    bool contains(const std::string& text) const { return count(text) > 0; }
    std::string dump() const { return snapshot().dump(); }
    // Polls (real time) until a line containing text appears.
    bool waitFor(const std::string& text,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;

    const std::string& folder() const { return dir_.path(); }
    std::string filePath() const;

private:
    TempDir dir_;
};
