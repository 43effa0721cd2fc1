#include "recording/recording_control.h"

#include "readings/reading_quantity.h"
#include "readings/readings_table.h"

#include <QTime>

#include <algorithm>
#include <limits>
#include <utility>

namespace kx {

RecordingControl::RecordingControl(const ReadingTexts& texts, ReadingsTable& table, QObject* parent)
    : QObject(parent), texts_(texts), table_(table) {
    // Another table (or the same one emptied or re-opened) is a new run: its first failure is
    // reported again.
    // A reading kept back belongs to the table it was shown for.
    connect(&table_, &ReadingsTable::didReset, this, [this] {
        errorReported_ = false;
        passedOver_.reset();
    });
    timeOfDay_ = [] { return QTime::currentTime().msecsSinceStartOfDay(); };
}

std::optional<std::int32_t> RecordingControl::intervalFromText(const QString& text) {
    if (text.isEmpty() || text == QLatin1String("-") || text == QLatin1String("+"))
        return 0;
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return v;
}

bool RecordingControl::INDataToTable(int target) {
    if (target != 1)
        return false;
    const Stretch shown{insulationReading(texts_.ReadingValue, texts_.UnitText).kind !=
                            InsulationKind::NoNumber,
                        texts_.FunctionText, texts_.ModeText};
    const bool sameDial =
        lastRecordedDial_ && *lastRecordedDial_ == std::pair{shown.function, shown.mode};
    const bool begins = !sameDial || (shown.number && !(lastShown_ && lastShown_->number));
    const bool edge = !lastShown_ || *lastShown_ != shown;
    lastShown_ = shown;
    std::optional<Reading> passedOver = std::exchange(passedOver_, std::nullopt);

    if (RecordLimit < NextRecordNo)
        return false;
    // While the box holds text that does not convert nothing is recorded; the message was
    // shown when the text changed.
    const std::optional<std::int32_t> countdown = intervalFromText(intervalText_);
    if (!countdown)
        return false;
    // The last reading of a stretch, passed over by the countdown, goes in before the one
    // that ends it.
    bool appended = false;
    if (edge && passedOver)
        appended = append(std::move(*passedOver));
    if (RecordLimit < NextRecordNo)
        return appended;

    const bool repeated = !repeatTicked_ && texts_.ReadingValue == LastRecordedValue;
    if (repeated)
        return appended;
    Reading reading{0,
                    timeOfDay_(),
                    texts_.ReadingValue,
                    texts_.UnitText,
                    texts_.FunctionText,
                    texts_.ModeText};
    if (intervalTicked_ && IntervalCountdown != 0 && !begins) {
        passedOver_ = std::move(reading);
        return appended;
    }
    IntervalCountdown = *countdown;
    return append(std::move(reading)) || appended;
}

bool RecordingControl::append(Reading reading) {
    reading.no = NextRecordNo;
    const Status s = table_.appendReading(reading);
    if (!s) {
        if (!errorReported_)
            Q_EMIT recordingFailed(s.error());
        errorReported_ = true;
        return false;
    }
    errorReported_ = false;
    ++NextRecordNo;
    lastRecordedDial_ = std::pair{std::move(reading.function), std::move(reading.mode)};
    LastRecordedValue = std::move(reading.value);
    return true;
}

void RecordingControl::SampInterTimeTimer() {
    if (intervalTicked_ && IntervalCountdown > 0)
        --IntervalCountdown;
}

void RecordingControl::setRepeat(bool ticked) {
    const bool changed = ticked != repeatTicked_;
    repeatTicked_ = ticked;
    if (changed)
        Q_EMIT rulesChanged();
}

void RecordingControl::setIntervalEnabled(bool ticked) {
    const bool changed = ticked != intervalTicked_;
    intervalTicked_ = ticked;
    if (changed)
        Q_EMIT rulesChanged();
}

RecordingRules RecordingControl::rules() const {
    RecordingRules r;
    r.repeat = repeatTicked_;
    if (intervalTicked_)
        r.interval = std::max(0, intervalFromText(intervalText_).value_or(0));
    return r;
}

Status RecordingControl::RecordSITimeChange(const QString& text) {
    const RecordingRules before = rules();
    intervalText_ = text;
    if (rules() != before)
        Q_EMIT rulesChanged();
    const std::optional<std::int32_t> v = intervalFromText(text);
    if (!v)
        return fail(QStringLiteral("'%1' is not a valid integer value").arg(text));
    IntervalCountdown = *v;
    return {};
}

bool RecordingControl::RecordSITimeKeyPress(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c.unicode() == 8;
}

Status RecordingControl::clearAll() {
    const Result<qint64> count = table_.recordCount();
    if (!count)
        return count.status();
    if (count.value() > 0) {
        table_.close();
        if (Status s = table_.emptyTable(); !s)
            return s;
        if (Status s = table_.open(); !s)
            return s;
    }
    restartNumbering();
    return {};
}

void RecordingControl::setRecordLimit(std::int32_t limit) {
    RecordLimit = limit;
    Q_EMIT numberingChanged();
}

void RecordingControl::restartNumbering() {
    NextRecordNo = 1;
    Q_EMIT numberingChanged();
}

void RecordingControl::continueNumbering() {
    const std::optional<std::int32_t> highest = table_.highestNo();
    // A table numbered up to the largest number can take no more: the limit refuses.
    NextRecordNo = !highest || *highest < 1                               ? 1
                   : *highest == std::numeric_limits<std::int32_t>::max() ? *highest
                                                                          : *highest + 1;
    Q_EMIT numberingChanged();
}

} // namespace kx
