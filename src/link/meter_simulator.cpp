#include "link/meter_simulator.h"

#include "display/frame_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

namespace kx {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

using E = Element;

void setDigit(DisplayState& s, Digit d, char glyph, bool flag = false) {
    DigitState& ds = s.digit(d);
    if (glyph == ' ') {
        ds.lit = false;
        return;
    }
    ds.lit = true;
    ds.glyph = glyph;
    const DigitLayout l = digitLayout(d);
    s.setLit(l.flag, flag);
    if (l.flag2 != Element::Count)
        s.setLit(l.flag2, flag);
}

// Four places, right-aligned, blanks in front.
std::array<char, 4> fourPlaces(int value) {
    std::array<char, 4> out{' ', ' ', ' ', ' '};
    for (int i = 3; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
        value /= 10;
        if (value == 0)
            break;
    }
    return out;
}

void setTimerDigits(DisplayState& s, const std::array<char, 4>& g, bool colon) {
    setDigit(s, Digit::H_Time1, g[0]);
    setDigit(s, Digit::H_Time2, g[1], colon);
    setDigit(s, Digit::M_Time1, g[2]);
    setDigit(s, Digit::M_Time2, g[3]);
}

} // namespace

std::string frameHex(const MeterFrame& frame) {
    std::string out;
    out.reserve(44);
    for (std::uint8_t b : frame) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0F]);
    }
    return out;
}

MeterFrame encodeFrame(const DisplayState& state) {
    std::array<std::uint8_t, 44> nib{};
    for (std::size_t i = 0; i < kElementCount; ++i) {
        const auto e = static_cast<Element>(i);
        if (!state.isLit(e))
            continue;
        if (const auto nb = annunciatorBit(e))
            nib[static_cast<std::size_t>(nb->position - 1)] |=
                static_cast<std::uint8_t>(1 << nb->bit);
    }
    for (std::size_t i = 0; i < kDigitCount; ++i) {
        const auto d = static_cast<Digit>(i);
        const DigitState& ds = state.digit(d);
        if (!ds.lit)
            continue;
        const DigitLayout l = digitLayout(d);
        bool flag = state.isLit(l.flag);
        if (l.flag2 != Element::Count)
            flag = flag || state.isLit(l.flag2);
        const auto code = l.tableA ? encodeSegA(ds.glyph, flag) : encodeSegB(ds.glyph, flag);
        const std::uint8_t c = code.value_or(0);
        // OR: position 9 also carries the GΩ mark of the timer display.
        nib[static_cast<std::size_t>(l.first - 1)] |= static_cast<std::uint8_t>(c >> 4);
        nib[static_cast<std::size_t>(l.second - 1)] |= static_cast<std::uint8_t>(c & 0x0F);
    }
    nib[40] = 0x0;
    nib[41] = 0xD;
    nib[42] = 0x0;
    nib[43] = 0xA;
    MeterFrame f{};
    for (std::size_t k = 0; k < f.size(); ++k)
        f[k] = static_cast<std::uint8_t>(nib[2 * k] << 4 | nib[2 * k + 1]);
    return f;
}

int barMarkFor(double ohms) {
    if (std::isnan(ohms) || ohms < 1e5)
        return 0;
    if (std::isinf(ohms))
        return 30;
    const int n = static_cast<int>(std::floor(4.0 * std::log10(ohms / 1e5) + 1e-9)) + 1;
    return std::clamp(n, 1, 29);
}

std::pair<std::string, MeterUnit> formatResistance(double ohms) {
    double v = ohms / 1e6;
    MeterUnit unit = MeterUnit::MOhm;
    if (v >= 999.95) {
        v /= 1000.0;
        unit = MeterUnit::GOhm;
    }
    if (v >= 999.95) {
        v /= 1000.0;
        unit = MeterUnit::TOhm;
    }
    const int decimals = v < 9.9995 ? 3 : v < 99.995 ? 2 : v < 999.95 ? 1 : 0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, std::min(v, 9999.0));
    return {buf, unit};
}

DisplayState displayStateFor(const MeterDisplay& d) {
    DisplayState s;
    s.DispInit(0);
    for (std::size_t i = 0; i < kDigitCount; ++i)
        s.digit(static_cast<Digit>(i)).lit = false;

    // Main reading.
    std::string_view r = d.reading;
    if (!r.empty() && r.front() == '-') {
        s.setLit(E::LabelF, true);
        r.remove_prefix(1);
    }
    std::vector<std::pair<char, bool>> places;
    for (char c : r) {
        if (c == '.') {
            if (!places.empty())
                places.back().second = true;
        } else if (places.size() < 4) {
            places.emplace_back(c == 'L' ? '@' : c, false);
        }
    }
    static constexpr std::array<Digit, 4> mainDigits = {Digit::LabelA, Digit::LabelB, Digit::LabelC,
                                                        Digit::LabelD};
    const std::size_t lead = 4 - places.size();
    for (std::size_t i = 0; i < places.size(); ++i)
        setDigit(s, mainDigits[lead + i], places[i].first, places[i].second);

    switch (d.unit) {
    case MeterUnit::None:
        break;
    case MeterUnit::V:
        s.setLit(E::Labv, true);
        break;
    case MeterUnit::Ohm:
        s.setLit(E::Labo, true);
        break;
    case MeterUnit::MOhm:
        s.setLit(E::Labmo1, true);
        break;
    case MeterUnit::GOhm:
        s.setLit(E::Labgo1, true);
        break;
    case MeterUnit::TOhm:
        if (s.digit(Digit::LabelD).lit)
            s.setLit(E::Labto, true);
        break;
    }

    // Function: test voltage or the voltage marks.
    const char* volts = nullptr;
    switch (d.function) {
    case MeterFunction::Ir500:
        volts = " 500";
        break;
    case MeterFunction::Ir1000:
        volts = "1000";
        break;
    case MeterFunction::Ir2500:
        volts = "2500";
        break;
    case MeterFunction::Ir5000:
        volts = "5000";
        break;
    case MeterFunction::DcV:
        for (E e : {E::labdc, E::Shape1, E::Shape2, E::Shape3, E::Shape4})
            s.setLit(e, true);
        break;
    case MeterFunction::AcV:
        s.setLit(E::labt, true);
        s.setLit(E::labac, true);
        break;
    }
    s.setStripShown(volts != nullptr);
    if (volts) {
        setDigit(s, Digit::Label3, volts[0], d.testing);
        setDigit(s, Digit::Label7, volts[1], d.mode == MeterMode::CompNg);
        setDigit(s, Digit::Label10, volts[2], d.mode == MeterMode::CompGood);
        setDigit(s, Digit::Label9, volts[3], true);
    }

    // Timer display: the running time, or the COMP limit with its MΩ mark.
    if (d.timerSeconds) {
        const int t = std::clamp(*d.timerSeconds, 0, 5999);
        const int mm = t / 60;
        const int ss = t % 60;
        setTimerDigits(s,
                       {static_cast<char>('0' + mm / 10), static_cast<char>('0' + mm % 10),
                        static_cast<char>('0' + ss / 10), static_cast<char>('0' + ss % 10)},
                       true);
    } else if (d.compLimitMOhm) {
        setTimerDigits(s, fourPlaces(std::clamp(*d.compLimitMOhm, 0, 9999)), false);
        s.setLit(E::labmo, true);
    }

    switch (d.mode) {
    case MeterMode::Continuous:
        break;
    case MeterMode::Timed:
        s.setLit(E::power, true);
        break;
    case MeterMode::Pi:
        s.setLit(E::labp1, true);
        break;
    case MeterMode::CompNg:
    case MeterMode::CompGood:
        if (s.digit(Digit::M_Time1).lit)
            s.setLit(E::labCOMP, true);
        break;
    }

    if (d.memory) {
        const int m = std::clamp(*d.memory, 0, 19);
        s.setLit(E::stor1, m >= 10);
        setDigit(s, Digit::stor2, static_cast<char>('0' + m % 10));
    }

    s.setLit(E::IGPower, true);
    static constexpr std::array<E, 3> levels = {E::powerV1, E::powerv2, E::powerv3};
    for (int i = 0; i < std::clamp(d.battery, 0, 3); ++i)
        s.setLit(levels[static_cast<std::size_t>(i)], true);

    if (d.barOhms) {
        const int top = barMarkFor(*d.barOhms);
        for (int n = 0; n <= top; ++n)
            s.setLit(barElement(n), true);
    }
    for (E e : d.extraMarks)
        s.setLit(e, true);
    return s;
}

// ---- cable ------------------------------------------------------------------------------

SimulatedCable::SimulatedCable(Script script, std::int64_t framePeriodUs)
    : script_(std::move(script)),
      // The meter cannot start a frame before the last one is on the wire; one report
      // period more leaves the idle report that ends each frame.
      framePeriodUs_(std::max(framePeriodUs, byteArrivalUs(0, std::tuple_size_v<MeterFrame> - 1) +
                                                 kReportPeriodUs)) {}

std::int64_t SimulatedCable::byteArrivalUs(std::int64_t startUs, std::size_t k) {
    // Ten bits at 2400 baud: 25000/6 microseconds a byte.
    return startUs + (static_cast<std::int64_t>(k + 1) * 25000 + 5) / 6;
}

InputReportSource::Report SimulatedCable::nextReport(std::int64_t nowUs) {
    // Nobody polled for a long time: the chip's small buffer would have overflowed, so the
    // frames of that stretch are simply lost instead of piling up.
    if (nowUs - nextFrameUs_ > kMaxBacklogUs) {
        const std::int64_t skip = (nowUs - nextFrameUs_ - kMaxBacklogUs) / framePeriodUs_ + 1;
        nextFrameUs_ += skip * framePeriodUs_;
        pending_.clear();
        lineFreeUs_ = std::min(lineFreeUs_, nextFrameUs_);
    }
    while (nextFrameUs_ <= nowUs) {
        if (script_) {
            if (const auto frame = script_(nextFrameUs_)) {
                const std::int64_t start = std::max(nextFrameUs_, lineFreeUs_);
                for (std::size_t k = 0; k < frame->size(); ++k)
                    pending_.push_back({byteArrivalUs(start, k), (*frame)[k]});
                lineFreeUs_ = byteArrivalUs(start, frame->size() - 1);
            }
        }
        nextFrameUs_ += framePeriodUs_;
    }
    Report r{};
    std::size_t n = 0;
    while (n < kMaxPayload && !pending_.empty() && pending_.front().arrivesUs <= nowUs) {
        r[1 + n++] = pending_.front().value;
        pending_.pop_front();
    }
    r[0] = static_cast<std::uint8_t>(0xF0 | n);
    return r;
}

// ---- demo script ------------------------------------------------------------------------

namespace {

constexpr std::int64_t kSec = 1000000;

// The parts of the cycle, in order, with their lengths in seconds.
enum class Part { Ir500, PiTest, DarTest, Timed1000, PiResult, CompGood, CompNg, DcV, AcV, Silent };
struct PartSpec {
    Part part;
    int seconds;
    std::string_view name;
};
constexpr std::array<PartSpec, 10> kParts = {{
    {Part::Ir500, 16, "500 V insulation test"},
    // Ten minutes and three seconds: the last reading stays on the display after the timer
    // stops at 10:00.
    {Part::PiTest, 603, "PI test"},
    {Part::DarTest, 63, "1-minute test"},
    {Part::Timed1000, 18, "timed 1000 V test"},
    {Part::PiResult, 6, "PI result"},
    {Part::CompGood, 6, "COMP test passed"},
    {Part::CompNg, 4, "COMP test failed"},
    {Part::DcV, 6, "DC voltage"},
    {Part::AcV, 6, "AC voltage"},
    {Part::Silent, 26, "meter silent"},
}};

void showResistance(MeterDisplay& d, double ohms) {
    auto [text, unit] = formatResistance(ohms);
    d.reading = std::move(text);
    d.unit = unit;
    d.barOhms = ohms;
}

// A small, repeatable wobble for voltage readings.
double wobble(std::int64_t tUs) {
    return std::sin(static_cast<double>(tUs) / 700000.0) * 0.5 +
           std::sin(static_cast<double>(tUs) / 230000.0) * 0.2;
}

} // namespace

DemoScript::DemoScript(Options options) {
    std::int64_t at = 0;
    for (const PartSpec& p : kParts) {
        if (p.part == Part::Silent && !options.silentStretch)
            continue;
        const std::int64_t end = at + p.seconds * kSec;
        stretches_.push_back({at, end, p.name});
        at = end;
    }
}

double DemoScript::piTestOhms(double s) {
    return 4e9 * (1.0 - 0.83 * std::exp(-s / 200.0) - 0.17 * std::exp(-s / 2.0));
}

double DemoScript::darTestOhms(double s) {
    return 500e6 * (1.0 - 0.8 * std::exp(-s / 60.0) - 0.2 * std::exp(-s / 1.5));
}

std::optional<MeterDisplay> DemoScript::displayAt(std::int64_t tUs) const {
    std::int64_t t = tUs % cycleUs();
    if (t < 0)
        t += cycleUs();
    std::size_t which = 0;
    while (which + 1 < stretches_.size() && t >= stretches_[which].endUs)
        ++which;
    const double s = static_cast<double>(t - stretches_[which].startUs) / kSec;
    // Stretches are kept in the order of kParts, less the silent one when it is left out.
    const Part part = kParts[which].part;

    MeterDisplay d;
    d.memory = 5;
    d.battery = 3;
    switch (part) {
    case Part::Ir500: // 500 V: charging the insulation, the reading climbs from 0 to ~480 MΩ
        d.function = MeterFunction::Ir500;
        d.testing = true;
        showResistance(d, 480e6 * (1.0 - std::exp(-s / 3.0)));
        break;
    case Part::PiTest: { // ten minutes at 2500 V, the timer counting to 10:00
        const double running = std::min(s, 600.0);
        d.function = MeterFunction::Ir2500;
        d.testing = s < 600.0;
        d.mode = MeterMode::Pi;
        d.timerSeconds = static_cast<int>(running);
        showResistance(d, piTestOhms(running));
        break;
    }
    case Part::DarTest: { // one minute at 500 V, timed
        const double running = std::min(s, 60.0);
        d.function = MeterFunction::Ir500;
        d.testing = s < 60.0;
        d.mode = MeterMode::Timed;
        d.timerSeconds = static_cast<int>(running);
        showResistance(d, darTestOhms(running));
        break;
    }
    case Part::Timed1000: // timed 1000 V test, the timer counting up
        d.function = MeterFunction::Ir1000;
        d.testing = true;
        d.mode = MeterMode::Timed;
        d.timerSeconds = static_cast<int>(s);
        showResistance(d, 2.4e9 * (1.0 - std::exp(-(s + 1.0) / 5.0)));
        break;
    case Part::PiResult: // polarisation index after a 10-minute test
        d.function = MeterFunction::Ir1000;
        d.mode = MeterMode::Pi;
        d.reading = "3.42";
        d.timerSeconds = 600;
        break;
    case Part::CompGood: // comparator: 250 MΩ against a 100 MΩ limit
        d.function = MeterFunction::Ir500;
        d.testing = true;
        d.mode = MeterMode::CompGood;
        d.compLimitMOhm = 100;
        showResistance(d, 250.0e6 + 2.0e6 * wobble(t));
        break;
    case Part::CompNg: // comparator: 52 MΩ fails the limit
        d.function = MeterFunction::Ir500;
        d.testing = true;
        d.mode = MeterMode::CompNg;
        d.compLimitMOhm = 100;
        showResistance(d, 52.34e6 + 0.2e6 * wobble(t));
        break;
    case Part::DcV: { // DC voltage
        d.function = MeterFunction::DcV;
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.2f", 12.6 + 0.05 * wobble(t));
        d.reading = buf;
        d.unit = MeterUnit::V;
        break;
    }
    case Part::AcV: { // AC voltage
        d.function = MeterFunction::AcV;
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.1f", 230.4 + 0.6 * wobble(t));
        d.reading = buf;
        d.unit = MeterUnit::V;
        break;
    }
    case Part::Silent:
        return std::nullopt;
    }
    return d;
}

std::optional<MeterFrame> DemoScript::frameAt(std::int64_t tUs) const {
    if (const auto d = displayAt(tUs))
        return encodeFrame(*d);
    return std::nullopt;
}

} // namespace kx
