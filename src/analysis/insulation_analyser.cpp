#include "analysis/insulation_analyser.h"

#include "common/cp936.h"
#include "readings/reading_quantity.h"
#include "readings/readings_schema.h"

#include <QJsonArray>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <map>

namespace kx {
namespace {

// Above this 1-minute resistance the polarization index says little about the insulation.
constexpr double kPiMeaningfulOhms = 5000e6;
constexpr double kPiJudgedAt = 40;

const QString kOhmSign = QStringLiteral("\u03A9");
const QString kDegrees = QStringLiteral("\u00B0C");

std::optional<double> ratio(const std::optional<double>& a, const std::optional<double>& b) {
    if (!a || !b || !(*b > 0))
        return std::nullopt;
    const double q = *a / *b;
    if (!std::isfinite(q))
        return std::nullopt;
    return q;
}

// "545 MΩ", "1.543 GΩ": the unit that keeps the number below a thousand.
QString resistanceText(double ohms) {
    static constexpr std::array<std::pair<double, const char*>, 4> kUnits = {
        {{1e12, "T"}, {1e9, "G"}, {1e6, "M"}, {1e3, "k"}}};
    for (const auto& [factor, prefix] : kUnits) {
        if (std::fabs(ohms) >= factor)
            return QString::number(ohms / factor, 'g', 4) + QLatin1Char(' ') +
                   QLatin1String(prefix) + kOhmSign;
    }
    return QString::number(ohms, 'g', 4) + QLatin1Char(' ') + kOhmSign;
}

QString temperatureText(double c) {
    return QString::number(c, 'g', 4) + QLatin1Char(' ') + kDegrees;
}

// "2.0", "1.5", "2.25".
QString limitText(double x) {
    const double tenths = x * 10;
    if (std::fabs(tenths - std::round(tenths)) < 1e-9)
        return QString::number(x, 'f', 1);
    return QString::number(x, 'g', 4);
}

// "45 s", "2 min 05 s".
QString durationText(double seconds) {
    const long long s = std::llround(std::max(0.0, std::min(seconds, 1e12)));
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QJsonValue jsonNumber(const std::optional<double>& v) {
    if (!v || !std::isfinite(*v))
        return QJsonValue(QJsonValue::Null);
    return QJsonValue(*v);
}

bool sameName(const QByteArray& a, std::string_view b) {
    return a.compare(QByteArrayView(b.data(), static_cast<qsizetype>(b.size())),
                     Qt::CaseInsensitive) == 0;
}

} // namespace

QString verdictText(Verdict v) {
    switch (v) {
    case Verdict::Pass:
        return QStringLiteral("pass");
    case Verdict::Fail:
        return QStringLiteral("fail");
    case Verdict::Inconclusive:
        break;
    }
    return QStringLiteral("inconclusive");
}

void judge(InsulationResult& r, const ResultSettings& s) {
    r.temperature = s.temperature;
    r.baseTemperature = s.baseTemperature;
    r.minimum = s.minimumOhms;
    r.r60Corrected.reset();
    r.reasons.clear();

    if (!r.r60) {
        r.verdict = Verdict::Inconclusive;
        if (r.duration < 60)
            r.reasons << QStringLiteral("No 1-minute resistance: the test ended after %1, "
                                        "before the 1-minute mark.")
                             .arg(durationText(r.duration));
        else
            r.reasons << QStringLiteral("No 1-minute resistance: no reading within 2 s of the "
                                        "1-minute mark.");
        return;
    }

    double judged = *r.r60;
    QString which;
    if (s.temperature) {
        const double corrected = *r.r60 * std::pow(0.5, (s.baseTemperature - *s.temperature) / 10);
        if (!std::isfinite(corrected)) {
            r.verdict = Verdict::Inconclusive;
            r.reasons << QStringLiteral(
                             "The 1-minute resistance cannot be corrected from %1 to %2.")
                             .arg(temperatureText(*s.temperature),
                                  temperatureText(s.baseTemperature));
            return;
        }
        r.r60Corrected = corrected;
        judged = corrected;
        which = QStringLiteral("1-minute resistance %1 at %2, corrected to %3: %4")
                    .arg(resistanceText(*r.r60), temperatureText(*s.temperature),
                         temperatureText(s.baseTemperature), resistanceText(corrected));
    } else {
        which = QStringLiteral("1-minute resistance %1 (not corrected: no winding temperature "
                               "given)")
                    .arg(resistanceText(*r.r60));
    }

    bool failed = false;
    if (judged < s.minimumOhms) {
        failed = true;
        r.reasons << QStringLiteral("%1 is below the minimum of %2.")
                         .arg(which, resistanceText(s.minimumOhms));
    } else {
        r.reasons << QStringLiteral("%1 meets the minimum of %2.")
                         .arg(which, resistanceText(s.minimumOhms));
    }

    if (r.pi) {
        const QString pi = QString::number(*r.pi, 'f', 2);
        // Whether PI means anything is judged at 40 °C, the machines' base, whatever base the
        // minimum is judged at.
        double forPi = *r.r60;
        QString at;
        if (s.temperature) {
            forPi = *r.r60 * std::pow(0.5, (kPiJudgedAt - *s.temperature) / 10);
            at = QStringLiteral(" at ") + temperatureText(kPiJudgedAt);
        }
        if (std::isfinite(forPi) && forPi > kPiMeaningfulOhms) {
            r.reasons << QStringLiteral("Polarization index %1 not judged: PI not meaningful "
                                        "above 5000 M%2 (the 1-minute resistance%3 is %4).")
                             .arg(pi, kOhmSign, at, resistanceText(forPi));
        } else if (*r.pi < s.piMinimum) {
            failed = true;
            r.reasons << QStringLiteral("Polarization index %1 is below the minimum of %2.")
                             .arg(pi, limitText(s.piMinimum));
        } else {
            r.reasons << QStringLiteral("Polarization index %1 meets the minimum of %2.")
                             .arg(pi, limitText(s.piMinimum));
        }
    } else if (r.duration < 600) {
        r.reasons << QStringLiteral("No polarization index: the test lasted %1, less than the "
                                    "10 minutes it needs.")
                         .arg(durationText(r.duration));
    } else {
        r.reasons << QStringLiteral("No polarization index: no reading within 2 s of the "
                                    "10-minute mark.");
    }
    r.verdict = failed ? Verdict::Fail : Verdict::Pass;
}

std::optional<int> testVoltageOf(std::string_view function) {
    const std::size_t at = function.find("IR:");
    if (at == std::string_view::npos)
        return std::nullopt;
    std::size_t i = at + 3;
    int volts = 0;
    int digits = 0;
    for (; i < function.size() && function[i] >= '0' && function[i] <= '9'; ++i) {
        if (++digits > 6)
            return std::nullopt; // no meter tests at a million volts
        volts = volts * 10 + (function[i] - '0');
    }
    if (digits == 0)
        return std::nullopt;
    return volts;
}

QString startText(int msOfDay) {
    const int ms = std::clamp(msOfDay, 0, static_cast<int>(px::kMsPerDay) - 1);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QJsonObject insulationResultJson(const InsulationResult& r) {
    QJsonObject o;
    o.insert(QStringLiteral("test"), r.test);
    o.insert(QStringLiteral("mode"), fromCp936(QByteArrayView(r.mode)));
    o.insert(QStringLiteral("function"), fromCp936(QByteArrayView(r.function)));
    o.insert(QStringLiteral("testVoltage"),
             r.testVoltage ? QJsonValue(*r.testVoltage) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("first"), static_cast<qint64>(r.first));
    o.insert(QStringLiteral("last"), static_cast<qint64>(r.last));
    o.insert(QStringLiteral("start"), startText(r.startMs));
    o.insert(QStringLiteral("duration"), r.duration);
    o.insert(QStringLiteral("r15"), jsonNumber(r.r15));
    o.insert(QStringLiteral("r30"), jsonNumber(r.r30));
    o.insert(QStringLiteral("r60"), jsonNumber(r.r60));
    o.insert(QStringLiteral("r600"), jsonNumber(r.r600));
    o.insert(QStringLiteral("dar"), jsonNumber(r.dar));
    o.insert(QStringLiteral("dar15"), jsonNumber(r.dar15));
    o.insert(QStringLiteral("pi"), jsonNumber(r.pi));
    o.insert(QStringLiteral("temperature"), jsonNumber(r.temperature));
    o.insert(QStringLiteral("baseTemperature"), r.baseTemperature);
    o.insert(QStringLiteral("r60Corrected"), jsonNumber(r.r60Corrected));
    o.insert(QStringLiteral("minimum"), r.minimum);
    o.insert(QStringLiteral("verdict"), verdictText(r.verdict));
    o.insert(QStringLiteral("reasons"), QJsonArray::fromStringList(r.reasons));
    return o;
}

// ---- columns ----------------------------------------------------------------------------

Result<ReadingsColumns> ReadingsColumns::find(const std::vector<px::FieldDef>& fields,
                                              bool storeNamesFirst) {
    // The fields of one naming, -1 where missing.
    auto lookUp = [&](bool store) {
        std::array<int, 6> at{};
        at.fill(-1);
        for (std::size_t n = 0; n < kReadingsSchema.size(); ++n) {
            const std::string_view name =
                store ? kReadingsSchema[n].storeName : kReadingsSchema[n].name;
            for (std::size_t f = 0; f < fields.size() && at[n] < 0; ++f) {
                if (sameName(fields[f].name, name))
                    at[n] = static_cast<int>(f);
            }
        }
        return at;
    };
    const std::array<int, 6> plain = lookUp(false);
    const std::array<int, 6> stored = lookUp(true);
    auto complete = [](const std::array<int, 6>& at) {
        return std::find(at.begin(), at.end(), -1) == at.end();
    };
    const bool usePlain =
        storeNamesFirst ? !complete(stored) : complete(plain) || !complete(stored);
    const std::array<int, 6>& at = usePlain ? plain : stored;
    for (std::size_t n = 0; n < kReadingsSchema.size(); ++n) {
        const std::string_view name = kReadingsSchema[n].name;
        if (at[n] < 0)
            return fail(QStringLiteral("The table has no field \"%1\": it is not a readings table.")
                            .arg(QLatin1String(name.data(), static_cast<qsizetype>(name.size()))));
    }
    ReadingsColumns c;
    c.no = at[0];
    c.time = at[1];
    c.value = at[2];
    c.unit = at[3];
    c.function = at[4];
    c.mode = at[5];
    const px::FieldDef& time = fields[static_cast<std::size_t>(c.time)];
    if (time.type == px::FieldType::Timestamp)
        c.timeOfDay = false;
    else if (time.type != px::FieldType::Time)
        return fail(QStringLiteral("The field \"%1\" holds no times (it is of type %2).")
                        .arg(QString::fromLatin1(time.name), px::typeName(time.type)));
    return c;
}

// ---- analyser ---------------------------------------------------------------------------

namespace {

double ofDay(double ms) {
    const double d = std::fmod(ms, static_cast<double>(px::kMsPerDay));
    return d < 0 ? d + static_cast<double>(px::kMsPerDay) : d;
}

// From one time of day forward to another, across midnight.
double forwardMs(double from, double to) {
    return ofDay(to - from);
}

} // namespace

InsulationAnalyser::InsulationAnalyser(ResultSettings settings) : settings_(settings) {}

std::optional<double> InsulationAnalyser::resistanceOf(std::string_view value,
                                                       std::string_view unit) {
    const Classified c = classify(value, unit);
    if (c.kind == Kind::Numeric)
        return c.ohms;
    return std::nullopt;
}

void InsulationAnalyser::reset() {
    run_ = Run{};
    medianSpacingMs_ = 0;
    tests_.clear();
}

void InsulationAnalyser::setSettings(const ResultSettings& settings) {
    settings_ = settings;
    for (InsulationResult& r : tests_)
        judge(r, settings_);
}

std::vector<InsulationResult> InsulationAnalyser::takeTests() {
    std::vector<InsulationResult> out = std::move(tests_);
    tests_.clear();
    return out;
}

bool InsulationAnalyser::add(const Reading& r) {
    if (!r.timeMs || !std::isfinite(*r.timeMs))
        return closeRun(); // a record that cannot be placed in time ends the run

    const auto [kind, ohms] = classify(r.value, r.unit);

    const double raw = *r.timeMs;
    bool completed = false;
    if (run_.open) {
        double t = raw + run_.dayOffset;
        bool wrapped = false;
        // A time of day more than 12 hours before the last one is on the next day.
        if (r.timeOfDay && run_.lastRaw - raw > kDayTurnMs) {
            t += px::kMsPerDay;
            wrapped = true;
        }
        const bool forward = t >= run_.lastT;
        // The link was down between the last record and this one for longer than a pause
        // may last: nothing is known of what the meter showed meanwhile.
        const LinkGap* down =
            gaps_.empty() ? nullptr
                          : linkGapBetween(gaps_, static_cast<std::int64_t>(ofDay(run_.lastRaw)),
                                           static_cast<std::int64_t>(ofDay(raw)));
        const bool cut = down && static_cast<double>(down->lengthMs()) > gapLimitMs();
        const bool continues = forward && !cut && (heldValues() || t - run_.lastT <= gapLimitMs());
        const bool same = r.mode == run_.mode && r.function == run_.function;
        if (continues && same && kind != Kind::Foreign) {
            if (wrapped)
                run_.dayOffset += px::kMsPerDay;
            run_.lastT = t;
            run_.lastRaw = raw;
            run_.lastNo = r.no;
            run_.lastMemberT = t;
            if (kind == Kind::Numeric)
                takeNumeric(t - run_.t0, ohms);
            else if (heldValues())
                run_.havePrev = false; // the blank is what the meter showed from here on
            return false;
        }
        // Unrecorded repeats: the last value stood until this record came, or until the link
        // went down.
        if (heldValues() && forward) {
            double until = t;
            if (cut) {
                // (Lost a moment before the last record was stamped: held until that one.)
                const double downAt =
                    forwardMs(ofDay(run_.lastRaw), down->from.msecsSinceStartOfDay());
                until = run_.lastT + (downAt <= t - run_.lastT ? downAt : 0);
            }
            holdUntil(until);
        }
        completed = closeRun();
    }
    // A run starts at a resistance reading or at a record without a number: a test whose first
    // readings show dashes starts there.
    if (kind != Kind::Foreign)
        startRun(r, raw, kind == Kind::Numeric, ohms);
    return completed;
}

double InsulationAnalyser::intervalMs() const {
    if (rules_)
        return rules_->interval && *rules_->interval > 0 ? *rules_->interval * 1000.0 : 0;
    return medianSpacingMs_ > 1000 ? medianSpacingMs_ : 0;
}

void InsulationAnalyser::holdUntil(double t) {
    if (!run_.anyNumeric)
        return;
    const double elapsed = t - run_.t0;
    while (run_.nextMark < kResultMarks.size() && kResultMarks[run_.nextMark] * 1000.0 < elapsed) {
        if (run_.havePrev)
            run_.marks[run_.nextMark] = run_.prevR;
        ++run_.nextMark;
    }
    // The test lasted until the record that ended it.
    run_.lastMemberT = std::max(run_.lastMemberT, t);
}

bool InsulationAnalyser::finish() {
    return closeRun();
}

void InsulationAnalyser::startRun(const Reading& r, double t, bool numeric, double ohms) {
    run_ = Run{};
    run_.open = true;
    run_.mode.assign(r.mode);
    run_.function.assign(r.function);
    run_.firstNo = run_.lastNo = r.no;
    run_.startMs = std::clamp(static_cast<int>(ofDay(t)), 0, static_cast<int>(px::kMsPerDay) - 1);
    run_.t0 = run_.lastT = run_.lastRaw = run_.lastMemberT = t;
    if (numeric)
        takeNumeric(0, ohms);
}

void InsulationAnalyser::takeNumeric(double elapsedMs, double ohms) {
    run_.anyNumeric = true;
    while (run_.nextMark < kResultMarks.size()) {
        const double mark = kResultMarks[run_.nextMark] * 1000.0;
        if (elapsedMs < mark)
            break;
        std::optional<double> value;
        // With a sampling interval the readings around the mark are as close as the recording
        // made them, but a straight line between them stands for the curve only near the
        // mark: each must lie within half the mark's time of it. (At a minute's interval R30
        // would otherwise be half of R60, read off the line from the test's first reading.)
        const double window = intervalMs() > 0
                                  ? std::min(gapLimitMs(), std::max(kMarkWindowMs, mark / 2))
                                  : kMarkWindowMs;
        if (elapsedMs == mark) {
            value = ohms;
        } else if (heldValues() &&
                   !(intervalMs() > 0 && run_.havePrev && elapsedMs - run_.prevT <= gapLimitMs())) {
            // (A gap no longer than the sampling interval's is the sampling's, read as below.)
            if (run_.havePrev)
                value = run_.prevR; // the value recorded before the mark stood until now
        } else if (run_.havePrev && mark - run_.prevT <= window && elapsedMs - mark <= window) {
            value =
                run_.prevR + (ohms - run_.prevR) * (mark - run_.prevT) / (elapsedMs - run_.prevT);
        } else if (intervalMs() > 0 && elapsedMs - mark <= kMarkWindowMs) {
            value = ohms; // sampled a moment after the mark; the one before is too far back
        } else if (intervalMs() > 0 && run_.havePrev && mark - run_.prevT <= kMarkWindowMs) {
            value = run_.prevR;
        }
        run_.marks[run_.nextMark++] = value;
    }
    run_.havePrev = true;
    run_.prevT = elapsedMs;
    run_.prevR = ohms;
}

bool InsulationAnalyser::closeRun() {
    if (!run_.open)
        return false;
    run_.open = false;
    if (!run_.anyNumeric || run_.lastMemberT - run_.t0 < kMinTestMs)
        return false;
    // A test that ended just short of a mark (a sample taken a moment early) gives that mark
    // its last reading.
    if (run_.nextMark < kResultMarks.size() && run_.havePrev &&
        kResultMarks[run_.nextMark] * 1000.0 - run_.prevT <= kMarkWindowMs)
        run_.marks[run_.nextMark] = run_.prevR;
    InsulationResult r = resultOf(run_);
    r.test = static_cast<int>(tests_.size()) + 1;
    tests_.push_back(std::move(r));
    return true;
}

std::optional<InsulationResult> InsulationAnalyser::current() const {
    if (!run_.open || !run_.anyNumeric)
        return std::nullopt;
    InsulationResult r = resultOf(run_);
    r.test = static_cast<int>(tests_.size()) + 1;
    return r;
}

InsulationResult InsulationAnalyser::resultOf(const Run& run) const {
    InsulationResult r;
    r.mode = run.mode;
    r.function = run.function;
    r.testVoltage = testVoltageOf(run.function);
    r.first = run.firstNo;
    r.last = run.lastNo;
    r.startMs = run.startMs;
    r.duration = (run.lastMemberT - run.t0) / 1000.0;
    // Marks not reached yet are not known (yet).
    r.r15 = run.marks[0];
    r.r30 = run.marks[1];
    r.r60 = run.marks[2];
    r.r600 = run.marks[3];
    r.dar = ratio(r.r60, r.r30);
    r.dar15 = ratio(r.r60, r.r15);
    r.pi = ratio(r.r600, r.r60);
    judge(r, settings_);
    return r;
}

// ---- tables -----------------------------------------------------------------------------

namespace {

std::int64_t numberAt(const RecordStore& records, const ReadingsColumns& c, std::size_t row) {
    if (RecordStore::storageOf(records.fields()[static_cast<std::size_t>(c.no)].type) ==
        RecordStore::Storage::Double) {
        const double d = records.doubleValue(row, c.no);
        return std::isfinite(d) ? static_cast<std::int64_t>(std::clamp(d, -9.0e18, 9.0e18)) : 0;
    }
    return records.intValue(row, c.no);
}

} // namespace

InsulationAnalyser::Reading readingAt(const RecordStore& records, const ReadingsColumns& c,
                                      std::size_t row) {
    InsulationAnalyser::Reading r;
    r.no = numberAt(records, c, row);
    r.timeOfDay = c.timeOfDay;
    if (!records.isNull(row, c.time)) {
        if (c.timeOfDay) {
            const std::int64_t ms = records.intValue(row, c.time);
            if (ms >= 0 && ms < px::kMsPerDay)
                r.timeMs = static_cast<double>(ms);
        } else {
            const double ms = records.doubleValue(row, c.time);
            if (px::timestampInRange(ms))
                r.timeMs = ms;
        }
    }
    r.value = records.textValue(row, c.value);
    r.unit = records.textValue(row, c.unit);
    r.function = records.textValue(row, c.function);
    r.mode = records.textValue(row, c.mode);
    return r;
}

namespace {

// The median spacing of the records of one stretch, in steps of 10 ms.
class SpacingMedian {
public:
    void add(double ms) {
        ++counts_[std::llround(std::clamp(ms, 0.0, 1e12) / 10)];
        ++total_;
    }
    double take() {
        double median = 0;
        std::int64_t seen = 0;
        for (const auto& [step, count] : counts_) {
            seen += count;
            if (2 * seen >= total_) {
                median = static_cast<double>(step) * 10;
                break;
            }
        }
        counts_.clear();
        total_ = 0;
        return median;
    }

private:
    std::map<long long, std::int64_t> counts_;
    std::int64_t total_ = 0;
};

// Where each stretch that only a pause could split begins (its place in the walk), with the
// median spacing of its records. A stretch keeps one mode and function and times that go on.
struct Stretch {
    std::size_t at = 0;
    double medianMs = 0;
};

template <typename Walk>
std::vector<Stretch> stretchesOf(const RecordStore& records, const ReadingsColumns& c, Walk walk) {
    std::vector<Stretch> out;
    SpacingMedian spacing;
    bool open = false;
    std::string_view mode, function;
    double last = 0;
    auto close = [&] {
        if (open)
            out.back().medianMs = spacing.take();
        open = false;
    };
    std::size_t at = 0;
    walk([&](std::size_t row) {
        const InsulationAnalyser::Reading r = readingAt(records, c, row);
        const std::size_t here = at++;
        if (!r.timeMs) {
            close();
            return;
        }
        double t = *r.timeMs;
        if (open && r.timeOfDay && last - t > InsulationAnalyser::kDayTurnMs)
            t += px::kMsPerDay;
        if (open && r.mode == mode && r.function == function && t >= last) {
            spacing.add(t - last);
        } else {
            close();
            out.push_back({here, 0});
            open = true;
            mode = r.mode;
            function = r.function;
        }
        last = *r.timeMs;
    });
    close();
    return out;
}

} // namespace

std::optional<std::int64_t> feedInsulationAnalyser(InsulationAnalyser& analyser,
                                                   const RecordStore& records,
                                                   const ReadingsColumns& c) {
    const std::size_t n = records.rowCount();
    auto numberOf = [&](std::size_t row) { return numberAt(records, c, row); };
    // Tables keep their records in `No` order; only a table that does not gets sorted.
    bool ordered = true;
    for (std::size_t row = 0; row < n && ordered; ++row) {
        if (records.isNull(row, c.no) || (row > 0 && numberOf(row) < numberOf(row - 1)))
            ordered = false;
    }
    std::vector<std::pair<std::int64_t, std::size_t>> order;
    if (!ordered) {
        order.reserve(n);
        for (std::size_t row = 0; row < n; ++row) {
            if (!records.isNull(row, c.no))
                order.emplace_back(numberOf(row), row);
        }
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    auto walk = [&](const auto& each) {
        if (ordered) {
            for (std::size_t row = 0; row < n; ++row)
                each(row);
        } else {
            for (const auto& entry : order)
                each(entry.second);
        }
    };

    // Without the recording's rules, each stretch's own pace stands for its interval.
    std::vector<Stretch> stretches;
    if (!analyser.rules())
        stretches = stretchesOf(records, c, walk);
    std::size_t at = 0;
    std::size_t next = 0;
    walk([&](std::size_t row) {
        if (next < stretches.size() && stretches[next].at == at)
            analyser.setMedianSpacing(stretches[next++].medianMs);
        ++at;
        analyser.add(readingAt(records, c, row));
    });

    if (ordered)
        return n > 0 ? std::optional<std::int64_t>(numberOf(n - 1)) : std::nullopt;
    return order.empty() ? std::nullopt : std::optional<std::int64_t>(order.back().first);
}

Result<std::vector<InsulationResult>>
findInsulationTests(const RecordStore& records, const ResultSettings& settings,
                    bool storeNamesFirst, const std::optional<RecordingRules>& rules,
                    const std::vector<LinkGap>& gaps) {
    Result<ReadingsColumns> found = ReadingsColumns::find(records.fields(), storeNamesFirst);
    if (!found)
        return fail(found.error());
    InsulationAnalyser analyser(settings);
    analyser.setRules(rules);
    analyser.setLinkGaps(gaps);
    feedInsulationAnalyser(analyser, records, found.value());
    analyser.finish();
    return analyser.takeTests();
}

} // namespace kx
