#include "recording/recording_control.h"

#include "readings/readings_table.h"

#include <QTime>

#include <algorithm>
#include <limits>

namespace kx {

RecordingControl::RecordingControl(const ReadingTexts& texts, ReadingsTable& table, QObject* parent)
    : QObject(parent), texts_(texts), table_(table) {
    // Another table (or the same one emptied or re-opened) is a new run: its first failure is
    // reported again.
    connect(&table_, &ReadingsTable::didReset, this, [this] { errorReported_ = false; });
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
    if (RecordLimit < NextRecordNo)
        return false;
    if (intervalTicked_ && IntervalCountdown != 0)
        return false;
    if (!repeatTicked_ && texts_.ReadingValue == LastRecordedValue)
        return false;

    // While the box holds text that does not convert nothing is recorded; the message was
    // shown when the text changed.
    const std::optional<std::int32_t> countdown = intervalFromText(intervalText_);
    if (!countdown)
        return false;
    IntervalCountdown = *countdown;

    const Status s =
        table_.appendReading(Reading{NextRecordNo, timeOfDay_(), texts_.ReadingValue,
                                     texts_.UnitText, texts_.FunctionText, texts_.ModeText});
    if (!s) {
        if (!errorReported_)
            Q_EMIT recordingFailed(s.error());
        errorReported_ = true;
        return false;
    }
    errorReported_ = false;
    ++NextRecordNo;
    LastRecordedValue = texts_.ReadingValue;
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
