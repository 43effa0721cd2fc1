#pragma once

#include "common/result.h"

#include <QString>

#include <cstdint>
#include <mutex>
#include <vector>

namespace kx {

// One stretch of trouble on the simulated link, timed in microseconds of cable time (from the
// cable's first setup report, which is the link's start).
struct LinkFault {
    enum class Kind {
        Silent,  // the meter sends nothing; the cable goes on with idle reports
        Unplug,  // the cable goes away from the bus and comes back at the end
        Damaged, // the cable's reports arrive with their meter bytes garbled
    };
    Kind kind = Kind::Silent;
    std::int64_t startUs = 0;
    std::int64_t lengthUs = 0;

    std::int64_t endUs() const { return startUs + lengthUs; }
    bool covers(std::int64_t tUs) const { return tUs >= startUs && tUs < endUs(); }
    bool operator==(const LinkFault&) const = default;
};

// The demo's fault script: a comma-separated list of KIND@START+LENGTH, START and LENGTH in
// seconds from the link's start (decimals allowed, at most six places), KIND one of silent,
// unplug, damaged; blanks around an item are allowed. Faults of one kind may not overlap (a
// stretch is one stretch); faults of different kinds may. LENGTH is above 0, and both stay
// within kMaxSeconds.
class FaultScript {
public:
    static constexpr std::int64_t kMaxSeconds = 10LL * 365 * 24 * 3600;

    static Result<FaultScript> parse(const QString& text);
    static QString kindName(LinkFault::Kind kind);

    // Thread-safe: the cable's reading thread asks while the window adds faults.
    bool active(LinkFault::Kind kind, std::int64_t tUs) const;
    // A fault added while the link runs (the demo's menu). Refused when it overlaps one of
    // its kind.
    bool add(const LinkFault& fault);
    std::vector<LinkFault> faults() const;

    FaultScript() = default;
    FaultScript(const FaultScript& other) : faults_(other.faults()) {}
    FaultScript& operator=(const FaultScript& other);

private:
    mutable std::mutex mutex_;
    std::vector<LinkFault> faults_;
};

} // namespace kx
