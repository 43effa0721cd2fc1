#pragma once

#include "display/display_state.h"
#include "link/input_report_source.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// One frame as the meter sends it: 22 bytes, the last two CR LF.
using MeterFrame = std::array<std::uint8_t, 22>;

// The frame as the receiver hands it on: 44 upper-case hexadecimal characters.
std::string frameHex(const MeterFrame& frame);

// Encodes a display state with the decoder's own tables, so that decoding the frame gives the
// state back. What the wire cannot carry is dropped: the flag mark of a blank digit, and the
// strip flag, which the decoder derives from the DC and AC marks.
MeterFrame encodeFrame(const DisplayState& state);

enum class MeterFunction : std::uint8_t { Ir500, Ir1000, Ir2500, Ir5000, DcV, AcV };
enum class MeterMode : std::uint8_t { Continuous, Timed, Pi, CompNg, CompGood };
enum class MeterUnit : std::uint8_t { None, V, Ohm, MOhm, GOhm, TOhm };

// What the meter shows, in the terms of its user.
struct MeterDisplay {
    // The main reading as displayed: an optional leading "-", then up to four glyphs ("0" to
    // "9", "L"), each of the first three optionally followed by ".". Right-aligned; the
    // unused places stay blank. Empty blanks the main display.
    std::string reading;
    MeterUnit unit = MeterUnit::None;
    MeterFunction function = MeterFunction::Ir500;
    // High voltage on the terminals. The warning mark rides on the thousands digit of the
    // test voltage, so it shows at 1000 V and above only.
    bool testing = false;
    MeterMode mode = MeterMode::Continuous;
    std::optional<int> timerSeconds;  // shown as mm:ss, 0 to 5999
    std::optional<int> compLimitMOhm; // COMP: the limit, shown in the timer display (0..9999)
    std::optional<int> memory;        // memory number 0 to 19
    int battery = 3;                  // level bars 0 to 3
    // Resistance for the bar graph in ohms (infinity for an open circuit); none: no marks.
    std::optional<double> barOhms;
    std::vector<Element> extraMarks; // further annunciators to light (S1, SAVE, ...)
};

// The highest bar mark lit for a resistance: 0 below 100 kOhm, then four marks a decade from
// 1 at 100 kOhm to 29 at 1 TOhm and above, 30 for infinity.
int barMarkFor(double ohms);

// The main reading of a resistance with four significant digits and its unit (MΩ, GΩ, TΩ).
std::pair<std::string, MeterUnit> formatResistance(double ohms);

DisplayState displayStateFor(const MeterDisplay& d);
inline MeterFrame encodeFrame(const MeterDisplay& d) {
    return encodeFrame(displayStateFor(d));
}

// The cable: the meter's bytes at 2400 baud (ten bits a byte) cut into the 8-byte input
// reports its serial-to-HID chip delivers every 12 ms (header 0xF0 | n, n <= 7 bytes; 0xF0 alone
// when nothing arrived). The script says which frame, if any, the meter starts sending at a
// given time; the meter starts one every framePeriodUs.
class SimulatedCable : public InputReportSource {
public:
    using Script = std::function<std::optional<MeterFrame>(std::int64_t tUs)>;

    static constexpr std::int64_t kReportPeriodUs = 12000;
    static constexpr std::int64_t kFramePeriodUs = 500000;
    static constexpr std::size_t kMaxPayload = 7;
    static constexpr std::int64_t kMaxBacklogUs = 1000000;

    explicit SimulatedCable(Script script, std::int64_t framePeriodUs = kFramePeriodUs);

    Report nextReport(std::int64_t nowUs) override;

    // Time at which the k-th byte (0-based) of a transmission that started at startUs has
    // fully arrived.
    static std::int64_t byteArrivalUs(std::int64_t startUs, std::size_t k);

private:
    struct PendingByte {
        std::int64_t arrivesUs;
        std::uint8_t value;
    };

    Script script_;
    std::int64_t framePeriodUs_;
    std::int64_t nextFrameUs_ = 0;
    std::int64_t lineFreeUs_ = 0;
    std::deque<PendingByte> pending_;
};

// A demonstration cycle of realistic readings: a 500 V insulation test rising from 0 to
// hundreds of MΩ; a 10-minute PI test at 2500 V whose resistance rises by dielectric
// absorption from MΩ into GΩ (polarization index about 2.5), its timer counting; a 1-minute
// timed test at 500 V for the absorption ratio; a short timed 1000 V test; a PI result; a COMP
// test that passes and one that fails; DC and AC voltage readings. The meter never falls
// silent unless asked to.
class DemoScript {
public:
    struct Stretch {
        std::int64_t startUs;
        std::int64_t endUs;
        std::string_view name;
    };
    struct Options {
        // Ends each cycle with 26 s in which the meter sends nothing: long enough for the
        // link's watchdog to drop the connection.
        bool silentStretch = false;
    };

    DemoScript() : DemoScript(Options{}) {}
    explicit DemoScript(Options options);

    // What the meter shows at time tUs into the script (it repeats); none while silent.
    std::optional<MeterDisplay> displayAt(std::int64_t tUs) const;
    std::optional<MeterFrame> frameAt(std::int64_t tUs) const;

    std::int64_t cycleUs() const { return stretches_.back().endUs; }
    const std::vector<Stretch>& stretches() const { return stretches_; }

    // The resistance the PI test shows `s` seconds after it started: a fast charging rise and
    // a slow absorption one, R(600 s) / R(60 s) about 2.5.
    static double piTestOhms(double s);
    // The resistance of the 1-minute test, R(60 s) / R(30 s) about 1.37.
    static double darTestOhms(double s);

private:
    std::vector<Stretch> stretches_;
};

} // namespace kx
