#include "app/check_report.h"

#include <ostream>

#include "log/outside_text.h"

namespace {

const char* label(Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok:
            return "OK   ";
        case Verdict::Warn:
            return "WARN ";
        case Verdict::Fail:
            return "FAIL ";
    }
    return "FAIL ";
}

}  // namespace

std::string formatCheckLine(const std::string& subject, const Finding& finding) {
    return label(finding.verdict) + withoutControlBytes(subject + ": " + finding.text);
}

void CheckTally::add(Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok:
            ++ok_;
            return;
        case Verdict::Warn:
            ++warned_;
            return;
        case Verdict::Fail:
            ++failed_;
            return;
    }
}

std::string CheckTally::summary() const {
    return std::to_string(ok_) + " OK, " + std::to_string(warned_) + " WARN, " +
           std::to_string(failed_) + " FAIL";
}

void writeCheckLines(const std::string& subject, const std::vector<Finding>& findings,
                     CheckTally& tally, std::ostream& out) {
    for (const Finding& finding : findings) {
        tally.add(finding.verdict);
        out << formatCheckLine(subject, finding) << '\n';
    }
    out.flush();
}

void writeCheckSummary(const CheckTally& tally, std::ostream& out) {
    out << "Checked: " << tally.summary() << '\n';
    out.flush();
}
