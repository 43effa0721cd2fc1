#pragma once

#include "common/result.h"
#include "display/reading_texts.h"
#include "readings/readings_schema.h"
#include "recording/recording_rules.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace kx {

class ReadingsTable;

// Decides which decoded readings become records of the live table, and numbers them:
// the record limit, the sampling interval and the repeat rule, in that order.
//
// The sampling interval keeps the edges of what the meter shows, so that a test's time and its
// last value survive sampling. A reading that begins a stretch (one with a number after one
// without, the first of all, or one under another function or mode than the last record) is
// recorded at once and the countdown starts again from it. The newest reading the countdown
// passed over is kept back; when the next reading begins or ends a stretch (a number comes or
// goes, the function or mode changes), the kept reading is recorded first, with the time it
// was shown. "A number" is what the test finder takes for one (insulationReading).
class RecordingControl : public QObject {
    Q_OBJECT
public:
    // Record-limit choices of the Record menu.
    static constexpr std::int32_t kLimitless = 10'000'000;

    using TimeOfDay = std::function<std::int32_t()>; // ms since local midnight

    RecordingControl(const ReadingTexts& texts, ReadingsTable& table, QObject* parent = nullptr);

    // Offer the current reading; target 1 is the live table, any other target does nothing.
    // Returns true when a record was appended: the reading, or a reading the countdown passed
    // over that it ends the stretch of. A table error is told by recordingFailed.
    bool INDataToTable(int target);

    // One tick of the one-second sampling timer.
    void SampInterTimeTimer();

    // The interval box's text changed. Fails with the message when the text cannot be
    // converted; the countdown then keeps its previous value.
    Status RecordSITimeChange(const QString& text);
    // Whether a typed character is kept by the interval box (digits and backspace only).
    static bool RecordSITimeKeyPress(QChar c);

    void setRecordLimit(std::int32_t limit);
    // Whether the record limit refuses every reading now (the next number lies above it).
    bool limitReached() const { return RecordLimit < NextRecordNo; }

    // Clear All after it was confirmed: empties the table when it holds records and restarts
    // the numbering. Fails with the table's message.
    Status clearAll();
    // The numbering starts again at 1 (a new recording on an emptied table).
    void restartNumbering();
    // A table that already holds records (a file the user opened) is recorded into: the next
    // number follows its highest `No`, so no number is given twice and the recording can be
    // saved as a keyed table. An empty table, or one without numbers, starts at 1.
    void continueNumbering();

    void setRepeat(bool ticked);
    bool repeat() const { return repeatTicked_; }
    void setIntervalEnabled(bool ticked);
    bool intervalEnabled() const { return intervalTicked_; }
    // The rules in force, as the test results need them: the interval in seconds when the
    // box is ticked (0 while its text does not convert), and the repeat rule.
    RecordingRules rules() const;

    void setTimeOfDay(TimeOfDay f) { timeOfDay_ = std::move(f); }
    // The time of day a reading recorded now is stamped with.
    std::int32_t timeOfDayNow() const { return timeOfDay_(); }

    // State shared with the rest of the window, under the names the program uses throughout.
    std::int32_t NextRecordNo = 1;
    std::int32_t RecordLimit = 10000;
    std::int32_t IntervalCountdown = 0;
    std::string LastRecordedValue;

    // The interval rule of the box's text: empty, "-" or "+" count as 0; otherwise a whole
    // decimal number in the 32-bit signed range, or nothing when it does not convert.
    static std::optional<std::int32_t> intervalFromText(const QString& text);

Q_SIGNALS:
    // The numbering or the limit changed outside an append (a limit chosen, Clear All, a
    // table opened), so whether the limit is reached may have changed.
    void numberingChanged();
    // The sampling interval or the repeat rule changed.
    void rulesChanged();
    // Appending a reading failed; told once for a run of failures, until a reading is
    // appended or the table is reset.
    void recordingFailed(const QString& message);

private:
    // What the sampling interval's edges look at in a reading.
    struct Stretch {
        bool number = false;
        std::string function;
        std::string mode;
        bool operator==(const Stretch&) const = default;
    };
    // Appends the reading under the next number; a failure is told by recordingFailed.
    bool append(Reading reading);

    const ReadingTexts& texts_;
    ReadingsTable& table_;
    std::optional<Stretch> lastShown_; // the reading offered before this one
    // The function and mode of the last record.
    std::optional<std::pair<std::string, std::string>> lastRecordedDial_;
    // The reading offered before this one, when the countdown passed over it (and the repeat
    // rule would have taken it); numbered when it is recorded.
    std::optional<Reading> passedOver_;
    bool repeatTicked_ = true;
    bool intervalTicked_ = false;
    QString intervalText_ = QStringLiteral("10");
    bool errorReported_ = false;
    TimeOfDay timeOfDay_;
};

} // namespace kx
