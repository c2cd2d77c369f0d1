#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "fakes/temp_dir.h"

// Points the process-wide Logger at a private folder for the life of the
// object (debug lines on, no rotation, no console echo) and reads back what
// was written. The Logger is closed again on destruction.
class LogCapture {
public:
    explicit LogCapture(bool debugEnabled = true);
    ~LogCapture();

    // Every line written so far, without line ends.
    std::vector<std::string> lines() const;
    // Only the message parts (after "[LEVEL] ") of the lines whose label is level
    // ("INFO", "WARN", "ERROR", "DEBUG"), or of all lines when level is empty.
    std::vector<std::string> messages(const std::string& level = "") const;
    // Number of lines whose message contains text.
    int count(const std::string& text) const;
    bool contains(const std::string& text) const { return count(text) > 0; }
    // Polls (real time) until a line containing text appears.
    bool waitFor(const std::string& text,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;
    std::string dump() const;

    const std::string& folder() const { return dir_.path(); }

private:
    TempDir dir_;
};
