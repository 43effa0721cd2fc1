#pragma once

#include "link/input_report_source.h"
#include "support/wait_for.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <deque>
#include <functional>
#include <vector>

namespace kx::test {

// Serves the given reports in order, then idle reports; remembers the times it was asked at.
class ScriptedSource : public InputReportSource {
public:
    explicit ScriptedSource(std::vector<Report> reports, std::vector<std::int64_t>* times = nullptr)
        : reports_(reports.begin(), reports.end()), times_(times) {}

    Report nextReport(std::int64_t nowUs) override {
        if (times_)
            times_->push_back(nowUs);
        if (reports_.empty())
            return Report{0xF0, 0, 0, 0, 0, 0, 0, 0};
        const Report r = reports_.front();
        reports_.pop_front();
        return r;
    }

private:
    std::deque<Report> reports_;
    std::vector<std::int64_t>* times_;
};

// The cable's setup report: report 0, 2400 baud, 8 data bits.
inline std::vector<std::uint8_t> cableSetupReport() {
    return {0x00, 0x60, 0x09, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
}

} // namespace kx::test
