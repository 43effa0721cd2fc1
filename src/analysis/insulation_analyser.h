// Room analysis: the insulation tests (finder and calculator, live results and their model,
// curves, details file). Uses the rooms up to recording (a recording's rules, the readings a
// journal holds); ui/ the Test Results window and the curve.
#pragma once

#include "common/result.h"
#include "paradox/paradox_value.h"
#include "readings/link_gaps.h"
#include "readings/reading_quantity.h"
#include "readings/record_store.h"
#include "recording/recording_rules.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// Insulation tests found in a recording and the figures a technician reports for each: the
// resistance after 15 s, 30 s, 1 min and 10 min, the absorption ratios, the polarization
// index, the 1-minute resistance corrected to a base temperature, and a verdict.
//
// A test is a maximal run of consecutive records (in `No` order) of resistance readings with
// the same mode (`I_Range`) and function (`V_Range`), whose `Time` never goes back and never
// jumps by more than the recording's interval plus 5 s (RecordingRules); records without a
// number (blank, dashes, overload) under the run's mode and function belong to it, also those
// that lead into it. A run that lasts less than 10 s is not a test. A record under another
// mode or function ends the run, with or without a number (the meter stamps both on every
// reading, so such a record means the dial moved); so do a reading with a number in another
// unit (a voltage check) and a record without a time. A time of day more than 12 hours before
// the one before it is on the next day. A gap the link to the meter was down in (the
// recording's details keep them) that is longer than the pause that ends a test ends it too,
// also when the readings' times alone would not (unrecorded repeats).

enum class Verdict : unsigned char { Pass, Fail, Inconclusive };
// "pass", "fail", "inconclusive".
QString verdictText(Verdict v);

// How the tests are judged; the user sets these.
struct ResultSettings {
    std::optional<double> temperature; // winding temperature in °C; none: no correction
    double baseTemperature = 40;       // 40 °C for machines, 20 °C for cables
    double minimumOhms = 100e6;        // the 1-minute resistance must reach this
    double piMinimum = 2.0;            // the polarization index must reach this
};

struct InsulationResult {
    int test = 0;                   // 1, 2, ... in table order
    std::string mode;               // `I_Range` of the test (code page 936)
    std::string function;           // `V_Range` of the test (code page 936)
    std::optional<int> testVoltage; // the number after "IR:" in the function
    std::int64_t first = 0;         // `No` of the first record
    std::int64_t last = 0;          // `No` of the last record
    int startMs = 0;                // time of day of the first record, ms since midnight
    double duration = 0;            // seconds from the first to the last record

    // Resistance in ohms at 15, 30, 60 and 600 s; none when no reading lies within 2 s on
    // each side of the mark (see kMarkWindowMs), unless the test ended less than 2 s before
    // it: then its last reading.
    std::optional<double> r15, r30, r60, r600;
    std::optional<double> dar;   // r60 / r30
    std::optional<double> dar15; // r60 / r15
    std::optional<double> pi;    // r600 / r60

    // The judgement under the settings it was made with (see judge()).
    std::optional<double> temperature;
    double baseTemperature = 40;
    std::optional<double> r60Corrected;
    double minimum = 100e6;
    Verdict verdict = Verdict::Inconclusive;
    QStringList reasons; // each rule applied, in the technician's words
};

// The marks R(T) is taken at, in seconds.
inline constexpr std::array<int, 4> kResultMarks = {15, 30, 60, 600};

// (Re)judges a result under the settings: fills temperature, baseTemperature, r60Corrected,
// minimum, verdict and reasons from the measured figures. Rules:
// - no 1-minute resistance: "inconclusive";
// - the 1-minute resistance (corrected to the base temperature when a winding temperature is
//   given; it halves for every 10 °C rise) below the minimum: "fail";
// - a polarization index below the PI minimum: "fail", unless the 1-minute resistance is
//   above 5000 MΩ, where PI is not meaningful and the rule is not applied. That resistance is
//   the one corrected to 40 °C when a winding temperature is given, whatever the base, else
//   the one measured;
// - otherwise "pass".
void judge(InsulationResult& r, const ResultSettings& settings);

// The number after "IR:" ("IR:2500 100GΩ" gives 2500); none when there is none.
std::optional<int> testVoltageOf(std::string_view function);

// The object the command line prints for a test: test, mode, function, testVoltage, first,
// last, start ("HH:MM:SS.zzz"), duration (s), r15, r30, r60, r600 (Ω), dar, dar15, pi,
// temperature, baseTemperature, r60Corrected, minimum (Ω), verdict, reasons. Figures that
// are not available are null.
QJsonObject insulationResultJson(const InsulationResult& r);
// "HH:MM:SS.zzz".
QString startText(int msOfDay);

// The fields of a readings table the analysis reads, found by name: `No`, `Time`, `Value`,
// `Unit`, `V_Range` and `I_Range`, or their S-prefixed twins of a stored-readings table.
struct ReadingsColumns {
    int no = -1;
    int time = -1;
    int value = -1;
    int unit = -1;
    int function = -1;
    int mode = -1;
    bool timeOfDay = true; // `Time` is a time of day (else a timestamp)

    // Fails with a message naming the missing field, or a `Time` that holds no times. The
    // plain names are taken when all are there, unless `storeNamesFirst` asks for the
    // S-prefixed ones first.
    static Result<ReadingsColumns> find(const std::vector<px::FieldDef>& fields,
                                        bool storeNamesFirst = false);
};

// Follows a recording record by record and keeps the test in progress, so that a live view
// shows the elapsed time and each figure as soon as it is known; the same walk over a whole
// table gives its tests (findInsulationTests). Each record costs a constant, small amount of
// work: nothing is kept per reading.
class InsulationAnalyser {
public:
    // One record as the analysis sees it. The texts need to live only during add().
    struct Reading {
        std::int64_t no = 0;
        std::optional<double> timeMs; // ms since midnight, or since day 1 for a timestamp
        bool timeOfDay = true;        // times of day wrap at midnight
        std::string_view value;
        std::string_view unit;
        std::string_view function;
        std::string_view mode;
    };

    explicit InsulationAnalyser(ResultSettings settings = {});

    // The next record in `No` order. Returns true when it completed a test (tests() has grown).
    bool add(const Reading& r);
    // The end of the recording: completes the test in progress. Returns true when it did.
    bool finish();
    // Forgets everything (a new or re-opened recording).
    void reset();

    const ResultSettings& settings() const { return settings_; }
    // How the readings are recorded, from the next record on; none when not known, where
    // feedInsulationAnalyser takes each run's median spacing above 1 s for the interval.
    void setRules(const std::optional<RecordingRules>& rules) { rules_ = rules; }
    const std::optional<RecordingRules>& rules() const { return rules_; }
    // The spacing of the records that stands for the interval while the rules are not known
    // (feedInsulationAnalyser sets it for each run).
    void setMedianSpacing(double ms) { medianSpacingMs_ = ms; }
    // The longest pause that does not end a test under the rules in force.
    double gapLimitMs() const { return kMaxGapMs + intervalMs(); }
    // The stretches the link was down while the readings were recorded, from the next record
    // on.
    void setLinkGaps(std::vector<LinkGap> gaps) { gaps_ = std::move(gaps); }
    const std::vector<LinkGap>& linkGaps() const { return gaps_; }
    // Re-judges the completed tests; the test in progress is judged with them from now on.
    void setSettings(const ResultSettings& settings);

    const std::vector<InsulationResult>& tests() const { return tests_; }
    std::vector<InsulationResult> takeTests();

    // The run in progress with the figures known so far, judged as if it ended now; none
    // while no run with a resistance reading is open. It counts as a test once its duration
    // reaches 10 s.
    std::optional<InsulationResult> current() const;

    // A pause longer than the interval and this much more ends a test.
    static constexpr double kMaxGapMs = 5000;
    static constexpr double kMinTestMs = 10000;
    // R(T) is interpolated between readings this close to T; with a sampling interval,
    // between the readings around T, whatever their distance within the test.
    static constexpr double kMarkWindowMs = 2000;
    // A time of day this much before the one before it is on the next day.
    static constexpr double kDayTurnMs = 12 * 3600 * 1000.0;

    // The record's number as a resistance in ohms, when it is one (used by views that draw a
    // test's curve with the same reading of the texts).
    static std::optional<double> resistanceOf(std::string_view value, std::string_view unit);

    // What a record is to a test (insulationReading): the recording keeps the edges of these
    // stretches by the same reading.
    using Kind = InsulationKind;
    using Classified = InsulationReading;
    static Classified classify(std::string_view value, std::string_view unit) {
        return insulationReading(value, unit);
    }

private:
    struct Run {
        bool open = false;
        bool anyNumeric = false;
        std::string mode;
        std::string function;
        std::int64_t firstNo = 0;
        std::int64_t lastNo = 0;
        int startMs = 0;
        double t0 = 0;          // unwrapped time of the first record
        double lastT = 0;       // unwrapped time of the last record seen
        double lastRaw = 0;     // that record's time as stored
        double dayOffset = 0;   // days crossed at midnight, in ms
        double lastMemberT = 0; // unwrapped time of the last record of the run
        std::size_t nextMark = 0;
        std::array<std::optional<double>, 4> marks;
        bool havePrev = false; // a numeric reading before the next mark
        double prevT = 0;
        double prevR = 0;
    };

    void startRun(const Reading& r, double t, bool numeric, double ohms);
    void takeNumeric(double elapsedMs, double ohms);
    void holdUntil(double t);
    double intervalMs() const;
    bool heldValues() const { return rules_ && !rules_->repeat; }
    bool closeRun();
    InsulationResult resultOf(const Run& run) const;

    ResultSettings settings_;
    std::optional<RecordingRules> rules_;
    double medianSpacingMs_ = 0;
    std::vector<LinkGap> gaps_;
    Run run_;
    std::vector<InsulationResult> tests_;
};

// The record at `row` of a store, for InsulationAnalyser::add(). Views into the store's texts.
InsulationAnalyser::Reading readingAt(const RecordStore& records, const ReadingsColumns& columns,
                                      std::size_t row);

// Gives the analyser every record of a store in `No` order (records without a `No` are left
// out), without finishing the last run, so that records appended later can follow. When the
// analyser has no rules, each stretch that only a pause could split (one mode and function,
// times going on) is first measured: its median spacing above 1 s stands for the interval.
// Returns
// the highest `No` given, none for a store without numbered records.
std::optional<std::int64_t> feedInsulationAnalyser(InsulationAnalyser& analyser,
                                                   const RecordStore& records,
                                                   const ReadingsColumns& columns);

// Every test of a readings table, in `No` order (records without a `No` are left out). Fails
// only when the table lacks a field the analysis needs.
// `rules`: how the table was recorded (its details), none when not known; `gaps`: the
// stretches the link was down in (its details).
Result<std::vector<InsulationResult>>
findInsulationTests(const RecordStore& records, const ResultSettings& settings = {},
                    bool storeNamesFirst = false,
                    const std::optional<RecordingRules>& rules = std::nullopt,
                    const std::vector<LinkGap>& gaps = {});

} // namespace kx
