#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

// The lines of --check's report for a person:
//
//   OK   Configuration: C:\CorvaneHID\config\config.json loaded
//   WARN HID panels: none with VID 2E8A and PID 10C0 is plugged in; plug ...
//   FAIL SimConnect: C:\CorvaneHID\SimConnect.dll not found; copy ...
//
// the verdict padded to five characters, the subject, ": " and what was
// found, followed after "; " by what to do when something is to be done.
// The last line sums the verdicts up: "Checked: 5 OK, 2 WARN, 0 FAIL".

enum class Verdict { Ok, Warn, Fail };

// What a check found about its subject.
struct Finding {
    Verdict verdict = Verdict::Ok;
    std::string text;
};

inline Finding okFinding(std::string text) {
    return {Verdict::Ok, std::move(text)};
}
inline Finding warnFinding(std::string text) {
    return {Verdict::Warn, std::move(text)};
}
inline Finding failFinding(std::string text) {
    return {Verdict::Fail, std::move(text)};
}

// "OK   <subject>: <text>", its control bytes shown as \xNN (withoutControlBytes):
// a finding may quote what a server or a file holds.
std::string formatCheckLine(const std::string& subject, const Finding& finding);

// Counts the lines of a report as they are written.
class CheckTally {
public:
    void add(Verdict verdict);
    // "<n> OK, <n> WARN, <n> FAIL"
    std::string summary() const;
    // 0 when no line failed, else 1.
    int exitCode() const { return failed_ == 0 ? 0 : 1; }

private:
    int ok_ = 0;
    int warned_ = 0;
    int failed_ = 0;
};

// Writes the lines and flushes them at once (a later check may wait for
// hardware), counting them.
void writeCheckLines(const std::string& subject, const std::vector<Finding>& findings,
                     CheckTally& tally, std::ostream& out);
void writeCheckSummary(const CheckTally& tally, std::ostream& out);
