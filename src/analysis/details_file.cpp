#include "analysis/details_file.h"
#include "readings/details_companion.h"

#include "common/regular_file.h"
#include "common/replacing_file.h"
#include "paradox/paradox_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringList>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>

namespace kx {
namespace {

const QString kKind = QStringLiteral("kxlink test details");
constexpr int kVersion = 1;

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// At most `limit` UTF-16 units, never half a character.
QString cut(QString text, int limit) {
    if (text.size() > limit) {
        text.truncate(limit);
        if (text.back().isHighSurrogate())
            text.chop(1);
    }
    return text;
}

// A single-line field: line breaks and tabs become blanks, and it is cut to its limit.
QString oneLine(QString text, int limit) {
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return cut(std::move(text), limit);
}

QString notesText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\n'))
            c = QLatin1Char(' ');
    }
    return cut(std::move(text), kMaxNotesLength);
}

struct Reader {
    const QJsonObject& o;
    QStringList ignored;

    void text(const char* key, QString& out, bool notes = false) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return;
        if (!v.isString()) {
            ignored << QStringLiteral("\"%1\" is not a text").arg(QLatin1String(key));
            return;
        }
        out = notes ? notesText(v.toString()) : oneLine(v.toString(), kMaxDetailLength);
    }

    // A number within [min, max] (above min when `above`); `out` keeps its value otherwise.
    bool number(const char* key, double min, double max, double& out, bool above = false) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            return false;
        const double x = v.toDouble(std::nan(""));
        if (!v.isDouble() || !std::isfinite(x) || x > max || (above ? x <= min : x < min)) {
            ignored << QStringLiteral("\"%1\" is no number in its range").arg(QLatin1String(key));
            return false;
        }
        out = x;
        return true;
    }
};

// The "recording" object. Rules that cannot be read are no rules: the tests are then found
// by the readings' own pace rather than by a wrong interval.
std::optional<RecordingDetails> readRecording(const QJsonValue& v, QStringList& ignored) {
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    if (!v.isObject()) {
        ignored << QStringLiteral("\"recording\" is not an object");
        return std::nullopt;
    }
    const QJsonObject o = v.toObject();
    RecordingDetails r;
    const QJsonValue interval = o.value(QStringLiteral("interval"));
    if (!interval.isNull() && !interval.isUndefined()) {
        const double s = interval.toDouble(-1);
        if (!interval.isDouble() || !(s >= 0 && s <= kMaxRecordingInterval) || s != std::floor(s)) {
            ignored << QStringLiteral("\"recording\" has no interval in whole seconds");
            return std::nullopt;
        }
        r.rules.interval = static_cast<int>(s);
    }
    const QJsonValue repeat = o.value(QStringLiteral("repeat"));
    if (!repeat.isUndefined()) {
        if (!repeat.isBool()) {
            ignored << QStringLiteral("\"repeat\" of \"recording\" is not true or false");
            return std::nullopt;
        }
        r.rules.repeat = repeat.toBool();
    }
    const QJsonValue began = o.value(QStringLiteral("began"));
    if (!began.isUndefined() && !began.isNull()) {
        // Kept as the wall-clock time written, to the second.
        const QDateTime at = QDateTime::fromString(began.toString(), Qt::ISODate);
        if (at.isValid())
            r.began = QDateTime(at.date(),
                                QTime(at.time().hour(), at.time().minute(), at.time().second()));
        if (!began.isString() || !r.began.isValid())
            ignored << QStringLiteral("\"began\" of \"recording\" is no date and time");
    }
    return r;
}

QTime gapTime(const QJsonValue& v) {
    if (!v.isString())
        return {};
    const QString text = v.toString();
    QTime t = QTime::fromString(text, QStringLiteral("HH:mm:ss.zzz"));
    if (!t.isValid())
        t = QTime::fromString(text, QStringLiteral("HH:mm:ss"));
    return t;
}

// The "linkGaps" array. An entry that cannot be read is left out and told; the others stand.
std::vector<LinkGap> readLinkGaps(const QJsonValue& v, QStringList& ignored) {
    std::vector<LinkGap> gaps;
    if (v.isUndefined() || v.isNull())
        return gaps;
    if (!v.isArray()) {
        ignored << QStringLiteral("\"linkGaps\" is not a list");
        return gaps;
    }
    const QJsonArray list = v.toArray();
    for (qsizetype n = 0; n < list.size(); ++n) {
        const QJsonObject o = list.at(n).toObject();
        LinkGap g;
        g.from = gapTime(o.value(QStringLiteral("from")));
        g.to = gapTime(o.value(QStringLiteral("to")));
        const QJsonValue why = o.value(QStringLiteral("why"));
        if (!list.at(n).isObject() || !g.from.isValid() || !g.to.isValid() ||
            !(why.isString() || why.isUndefined() || why.isNull())) {
            ignored << QStringLiteral("entry %1 of \"linkGaps\" is no gap from a time of day "
                                      "to another")
                           .arg(n + 1);
            continue;
        }
        g.why = oneLine(why.toString(), kMaxDetailLength);
        gaps.push_back(std::move(g));
    }
    return gaps;
}

} // namespace

bool TestDetails::hasFields() const {
    return !asset.isEmpty() || !location.isEmpty() || !operatorName.isEmpty() ||
           !humidity.isEmpty() || !notes.isEmpty();
}

bool TestDetails::isDefault() const {
    const ResultSettings d;
    return !hasFields() && !recording && linkGaps.empty() && !settings.temperature &&
           settings.baseTemperature == d.baseTemperature && settings.minimumOhms == d.minimumOhms &&
           settings.piMinimum == d.piMinimum;
}

void TestDetails::clearFields() {
    asset.clear();
    location.clear();
    operatorName.clear();
    humidity.clear();
    notes.clear();
    recording.reset();
    linkGaps.clear();
}

bool TestDetails::operator==(const TestDetails& o) const {
    return asset == o.asset && location == o.location && operatorName == o.operatorName &&
           humidity == o.humidity && notes == o.notes &&
           settings.temperature == o.settings.temperature &&
           settings.baseTemperature == o.settings.baseTemperature &&
           settings.minimumOhms == o.settings.minimumOhms &&
           settings.piMinimum == o.settings.piMinimum && recording == o.recording &&
           linkGaps == o.linkGaps;
}

QString settingsProblem(const ResultSettings& s) {
    if (s.temperature &&
        !(*s.temperature >= kMinWindingTemperature && *s.temperature <= kMaxWindingTemperature))
        return QStringLiteral("The winding temperature must lie from %1 to %2 \u00B0C.")
            .arg(kMinWindingTemperature)
            .arg(kMaxWindingTemperature);
    if (s.baseTemperature != 40 && s.baseTemperature != 20)
        return QStringLiteral("The base temperature is 40 \u00B0C (machines) or 20 \u00B0C "
                              "(cables).");
    if (!(s.minimumOhms > 0 && s.minimumOhms <= kMaxMinimumOhms))
        return QStringLiteral("The minimum resistance must be above 0 and at most 10 T\u03A9.");
    if (!(s.piMinimum > 0 && s.piMinimum <= kMaxPiMinimum))
        return QStringLiteral("The PI minimum must be above 0 and at most %1.").arg(kMaxPiMinimum);
    return {};
}

TestDetailsRead parseTestDetails(QByteArrayView bytes, const QString& shownPath,
                                 const ResultSettings& defaults) {
    TestDetailsRead r;
    r.found = true;
    r.details.settings = defaults;
    const QString name = shown(shownPath);
    if (bytes.size() > kMaxDetailsFileBytes) {
        r.problem = QStringLiteral("The test details %1 are not read: the file is too large "
                                   "(%2 bytes) to be a details file.")
                        .arg(name)
                        .arg(bytes.size());
        return r;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        r.problem =
            QStringLiteral("The test details %1 are damaged (%2) and were not read; the "
                           "fields are left empty.")
                .arg(
                    name,
                    error.error != QJsonParseError::NoError
                        ? QStringLiteral("%1 at byte %2").arg(error.errorString()).arg(error.offset)
                        : QStringLiteral("no object"));
        return r;
    }
    const QJsonObject o = doc.object();
    Reader in{o, {}};
    const QJsonValue kind = o.value(QStringLiteral("kind"));
    if (!kind.isUndefined() && kind.toString() != kKind) {
        r.problem = QStringLiteral("%1 is not a file of test details (its kind is \"%2\"); it "
                                   "was not read.")
                        .arg(name, kind.toString().left(80));
        return r;
    }
    TestDetails& d = r.details;
    in.text("asset", d.asset);
    in.text("location", d.location);
    in.text("operator", d.operatorName);
    in.text("humidity", d.humidity);
    in.text("notes", d.notes, true);

    ResultSettings& s = d.settings;
    const QJsonValue t = o.value(QStringLiteral("temperature"));
    if (t.isNull()) {
        s.temperature.reset();
    } else {
        double c = 0;
        if (in.number("temperature", kMinWindingTemperature, kMaxWindingTemperature, c))
            s.temperature = c;
    }
    double base = s.baseTemperature;
    if (o.contains(QStringLiteral("baseTemperature"))) {
        const double b = o.value(QStringLiteral("baseTemperature")).toDouble(-1);
        if (b == 40 || b == 20)
            base = b;
        else
            in.ignored << QStringLiteral("\"baseTemperature\" is not 40 or 20");
    }
    s.baseTemperature = base;
    in.number("minimum", 0, kMaxMinimumOhms, s.minimumOhms, true);
    in.number("piMinimum", 0, kMaxPiMinimum, s.piMinimum, true);
    d.recording = readRecording(o.value(QStringLiteral("recording")), in.ignored);
    d.linkGaps = readLinkGaps(o.value(QStringLiteral("linkGaps")), in.ignored);
    if (!in.ignored.isEmpty())
        r.problem = QStringLiteral("The test details %1 are partly damaged: %2; the defaults "
                                   "are used instead.")
                        .arg(name, in.ignored.join(QStringLiteral("; ")));
    return r;
}

TestDetailsRead readTestDetails(const QString& tablePath, const ResultSettings& defaults) {
    const QString path = testDetailsPath(tablePath);
    TestDetailsRead r;
    r.details.settings = defaults;
    const FileKind kind = fileKind(path);
    if (kind == FileKind::Missing)
        return r;
    r.found = true;
    if (kind != FileKind::Regular) {
        r.problem = QStringLiteral("The test details %1 are not read: %2.")
                        .arg(shown(path), whatItIs(nonRegularKind(path)));
        return r;
    }
    Result<QByteArray> bytes = readDetailsBytes(path);
    if (!bytes) {
        r.problem = QStringLiteral("The test details are not read: %1").arg(bytes.error());
        return r;
    }
    return parseTestDetails(bytes.value(), path, defaults);
}

QByteArray testDetailsJson(const TestDetails& d) {
    QJsonObject o;
    o.insert(QStringLiteral("kind"), kKind);
    o.insert(QStringLiteral("version"), kVersion);
    o.insert(QStringLiteral("asset"), d.asset);
    o.insert(QStringLiteral("location"), d.location);
    o.insert(QStringLiteral("operator"), d.operatorName);
    o.insert(QStringLiteral("humidity"), d.humidity);
    o.insert(QStringLiteral("notes"), d.notes);
    o.insert(QStringLiteral("temperature"), d.settings.temperature
                                                ? QJsonValue(*d.settings.temperature)
                                                : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("baseTemperature"), d.settings.baseTemperature);
    o.insert(QStringLiteral("minimum"), d.settings.minimumOhms);
    o.insert(QStringLiteral("piMinimum"), d.settings.piMinimum);
    if (d.recording) {
        const RecordingRules& rules = d.recording->rules;
        const QDateTime& began = d.recording->began;
        o.insert(
            QStringLiteral("recording"),
            QJsonObject{{"interval", rules.interval ? QJsonValue(*rules.interval)
                                                    : QJsonValue(QJsonValue::Null)},
                        {"repeat", rules.repeat},
                        {"began", began.isValid() ? QJsonValue(began.toString(Qt::ISODate).left(19))
                                                  : QJsonValue(QJsonValue::Null)}});
    }
    if (!d.linkGaps.empty())
        o.insert(QStringLiteral("linkGaps"), linkGapsJson(d.linkGaps));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QJsonArray linkGapsJson(const std::vector<LinkGap>& gaps) {
    QJsonArray list;
    for (const LinkGap& g : gaps)
        list.append(QJsonObject{
            {"from", linkGapTimeText(g.from)}, {"to", linkGapTimeText(g.to)}, {"why", g.why}});
    return list;
}

Status writeTestDetails(const QString& tablePath, const TestDetails& d) {
    // A change of the table and its details cut short is finished first, so that it cannot
    // later undo this one.
    (void)finishInterruptedReplace(tablePath);
    const QString path = testDetailsPath(tablePath);
    if (d.isDefault())
        return removeDetails(path);
    Result<std::unique_ptr<ReplacingFile>> file = beginDetails(tablePath, testDetailsJson(d));
    if (!file)
        return file.status();
    return file.value()->commit();
}

Status writeRecordingDetails(const QString& tablePath, const RecordingDetails& recording,
                             bool keepOthers, const std::vector<LinkGap>& gaps) {
    TestDetails d;
    if (keepOthers)
        d = readTestDetails(tablePath).details;
    if (keepOthers && d.recording && d.recording->began.isValid())
        d.recording->rules = recording.rules;
    else
        d.recording = recording;
    d.linkGaps.insert(d.linkGaps.end(), gaps.begin(), gaps.end());
    return writeTestDetails(tablePath, d);
}

} // namespace kx
