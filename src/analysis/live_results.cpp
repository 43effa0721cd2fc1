#include "analysis/live_results.h"

#include "readings/readings_table.h"
#include "recording/journalled_readings.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <utility>

namespace kx {
namespace {
// What the analysis found, for those who ask (QT_LOGGING_RULES="kx.results.debug=true").
Q_LOGGING_CATEGORY(lcResults, "kx.results", QtInfoMsg)

std::optional<RecordingRules> rulesOf(const TestDetails& d) {
    if (d.recording)
        return d.recording->rules;
    return std::nullopt;
}
} // namespace

TestResults::TestResults(ReadingsTable& table, QString scratchPath, QObject* parent)
    : QObject(parent), table_(table), scratchPath_(std::move(scratchPath)) {
    signalTimer_.setSingleShot(true);
    connect(&signalTimer_, &QTimer::timeout, this, &TestResults::flush);
    // When the readings stop, the test in progress has ended: views show its verdict.
    quietTimer_.setSingleShot(true);
    connect(&quietTimer_, &QTimer::timeout, this, [this] { Q_EMIT figuresChanged(); });
    connect(&table_, &ReadingsTable::didReset, this, [this] {
        // Another table, or this one emptied: a recording into it begins afresh.
        recordingHere_ = false;
        savedPath_.clear();
        markStale();
    });
    connect(&table_, &ReadingsTable::rowAppended, this, &TestResults::rowAppended);
    connect(&table_, &ReadingsTable::rowRemoved, this, &TestResults::markStale);
    analyser_.setSettings(details_.settings);
    schedule();
}

TestResults::~TestResults() = default;

bool TestResults::scratch() const {
    // A table opened on a structure alone has no file, and so no details file either.
    return table_.tableName().isEmpty() || table_.filePath() == scratchPath_;
}

int TestResults::count() const {
    return static_cast<int>(completed_) + (currentCounts_ ? 1 : 0);
}

bool TestResults::isRunning(int index) const {
    return current_ && currentCounts_ && index == count() - 1 && sinceReading_.isValid() &&
           sinceReading_.elapsed() < quietMs();
}

int TestResults::quietMs() const {
    return static_cast<int>(std::min(analyser_.gapLimitMs(), 86'400'000.0)) + 1000;
}

void TestResults::restartQuiet() {
    sinceReading_.start();
    quietTimer_.start(quietMs());
}

const InsulationResult& TestResults::test(int index) const {
    if (index >= 0 && static_cast<std::size_t>(index) < completed_)
        return analyser_.tests()[static_cast<std::size_t>(index)];
    return *current_;
}

void TestResults::markStale() {
    stale_ = true;
    schedule();
}

void TestResults::schedule() {
    if (signalTimer_.isActive())
        return;
    // The first change after a quiet spell is shown at once, later ones at most five times
    // a second.
    int wait = 0;
    if (sinceSignal_.isValid() && sinceSignal_.elapsed() < kSignalIntervalMs)
        wait = kSignalIntervalMs - static_cast<int>(sinceSignal_.elapsed());
    signalTimer_.start(wait);
}

void TestResults::rowAppended(qint64 row) {
    if (stale_) {
        readingWhileStale_ = true; // the whole table is analysed again anyway
        return;
    }
    if (!columns_ || row != table_.rowCount() - 1) {
        markStale();
        return;
    }
    const RecordStore& records = table_.records();
    const auto at = static_cast<std::size_t>(row);
    if (records.isNull(at, columns_->no))
        return; // a record without a number is no part of any test
    const InsulationAnalyser::Reading r = readingAt(records, *columns_, at);
    if (lastNo_ && r.no < *lastNo_) {
        markStale(); // out of order: the whole table is walked in `No` order
        return;
    }
    lastNo_ = r.no;
    if (analyser_.add(r))
        listChanged_ = true;
    pending_ = true;
    restartQuiet();
    schedule();
}

void TestResults::loadDetails() {
    if (!table_.isOpen() || table_.filePath() == detailsFor_)
        return;
    detailsFor_ = table_.filePath();
    const TestDetails before = details_;
    const QString problemBefore = detailsProblem_;
    detailsProblem_.clear();
    if (scratch()) {
        // A new recording on the scratch table keeps the settings; the asset is another.
        details_.clearFields();
    } else {
        // The settings in force stand in for those a file does not give.
        TestDetailsRead read = readTestDetails(detailsFor_, details_.settings);
        if (read.found)
            details_ = read.details;
        else
            details_.clearFields();
        detailsProblem_ = read.problem;
    }
    analyser_.setSettings(details_.settings);
    analyser_.setRules(rulesOf(details_));
    analyser_.setLinkGaps(details_.linkGaps);
    if (!(details_ == before) || detailsProblem_ != problemBefore)
        Q_EMIT detailsChanged();
    if (!detailsProblem_.isEmpty()) {
        qCWarning(lcResults).noquote() << detailsProblem_;
        Q_EMIT detailsProblemFound(detailsProblem_);
    }
}

void TestResults::analyseWhole() {
    stale_ = false;
    // The records are the table's: the last test goes on only when readings are coming.
    if (readingWhileStale_) {
        restartQuiet();
    } else {
        sinceReading_.invalidate();
        quietTimer_.stop();
    }
    readingWhileStale_ = false;
    ++generation_;
    ++curveGeneration_;
    curveIndex_ = -1;
    analyser_.reset();
    lastNo_.reset();
    columns_.reset();
    tableProblem_.clear();
    listChanged_ = true;
    pending_ = true;
    loadDetails();
    if (!table_.isOpen() || table_.fields().empty())
        return;
    Result<ReadingsColumns> found = ReadingsColumns::find(table_.fields());
    if (!found) {
        tableProblem_ = found.error();
        return;
    }
    columns_ = found.value();
    lastNo_ = feedInsulationAnalyser(analyser_, table_.records(), *columns_);
    qCDebug(lcResults) << "analysed" << table_.rowCount() << "records:" << analyser_.tests().size()
                       << "tests";
}

void TestResults::flush() {
    signalTimer_.stop();
    if (stale_)
        analyseWhole();
    const int before = count();
    const std::size_t completedBefore = completed_;
    completed_ = analyser_.tests().size();
    if (pending_)
        current_ = analyser_.current();
    currentCounts_ = current_ && current_->duration * 1000 >= InsulationAnalyser::kMinTestMs;
    const bool listChanged = listChanged_ || count() != before || completed_ != completedBefore;
    const bool figures = pending_;
    listChanged_ = false;
    pending_ = false;
    sinceSignal_.start();
    if (listChanged)
        Q_EMIT testsChanged();
    if (figures)
        Q_EMIT figuresChanged();
}

const std::vector<CurvePoint>& TestResults::curve(int index) {
    static const std::vector<CurvePoint> kNone;
    if (!columns_ || index < 0 || index >= count())
        return kNone;
    const InsulationResult& t = test(index);
    if (static_cast<std::size_t>(index) >= completed_)
        return curveCache_.update(table_.records(), *columns_, t, curveGeneration_);
    if (curveIndex_ != index) {
        completedCurve_ = testCurve(table_.records(), *columns_, t);
        curveIndex_ = index;
    }
    return completedCurve_;
}

const TestDetails& TestResults::details() {
    if (stale_)
        flush();
    return details_;
}

void TestResults::newRecording() {
    openGap_.reset();
    if (!details_.hasFields() && !details_.recording && details_.linkGaps.empty())
        return;
    details_.clearFields();
    analyser_.setRules(std::nullopt);
    analyser_.setLinkGaps({});
    Q_EMIT detailsChanged();
}

Status TestResults::setSettings(const ResultSettings& settings) {
    TestDetails d = details_;
    d.settings = settings;
    return setDetails(d);
}

Status TestResults::setDetails(const TestDetails& details) {
    if (const QString problem = settingsProblem(details.settings); !problem.isEmpty())
        return fail(problem);
    if (stale_)
        flush();
    if (details == details_)
        return {};
    TestDetails oldSettings;
    oldSettings.settings = details_.settings;
    TestDetails newSettings;
    newSettings.settings = details.settings;
    const bool rejudge = !(oldSettings == newSettings);
    // A gap the recording adds lies after every reading so far: it ends the test in progress
    // when the next reading comes, and what was found stands.
    const bool gapsAdded =
        recordingHere_ && details.linkGaps.size() > details_.linkGaps.size() &&
        std::equal(details_.linkGaps.begin(), details_.linkGaps.end(), details.linkGaps.begin());
    const bool refind = rulesOf(details) != rulesOf(details_) ||
                        (details.linkGaps != details_.linkGaps && !gapsAdded);
    details_ = details;
    analyser_.setLinkGaps(details_.linkGaps);
    if (refind) {
        analyser_.setRules(rulesOf(details_));
        // Tests found by other rules are found again; a single record is found alike.
        if (table_.rowCount() > 1) {
            readingWhileStale_ = readingWhileStale_ || recordingHere_;
            markStale();
        }
    }
    Status written;
    if (!scratch() && table_.isOpen()) {
        written = writeTestDetails(table_.filePath(), details_);
        if (written)
            detailsProblem_.clear();
    }
    Q_EMIT detailsChanged();
    if (rejudge) {
        analyser_.setSettings(details_.settings);
        if (current_)
            judge(*current_, details_.settings);
        Q_EMIT figuresChanged();
    }
    return written;
}

void TestResults::recordedWith(const RecordingRules& rules, const QDateTime& now) {
    recordingHere_ = true;
    const TestDetails& was = details();
    const bool begins = table_.rowCount() <= 1 || !was.recording;
    if (!begins && was.recording->rules == rules)
        return;
    TestDetails d = was;
    if (begins) {
        QDateTime began = now;
        began.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
        d.recording = RecordingDetails{rules, began};
    } else {
        d.recording->rules = rules;
    }
    if (Status s = setDetails(d); !s) {
        detailsProblem_ = s.error();
        Q_EMIT detailsProblemFound(detailsProblem_);
    }
}

void TestResults::rulesChanged(const RecordingRules& rules) {
    if (!recordingHere_ || !details_.recording || details_.recording->rules == rules)
        return;
    TestDetails d = details_;
    d.recording->rules = rules;
    if (Status s = setDetails(d); !s) {
        detailsProblem_ = s.error();
        Q_EMIT detailsProblemFound(detailsProblem_);
    }
}

void TestResults::linkLost(const QDateTime& at, const QString& why) {
    if (!openGap_)
        openGap_ = LinkGap{at.time(), {}, why};
}

void TestResults::linkRestored(const QDateTime& at) {
    if (!openGap_)
        return;
    LinkGap gap = *std::exchange(openGap_, std::nullopt);
    gap.to = at.time();
    TestDetails d = details();
    d.linkGaps.push_back(std::move(gap));
    if (Status s = setDetails(d); !s) {
        detailsProblem_ = s.error();
        Q_EMIT detailsProblemFound(detailsProblem_);
    }
}

void TestResults::readingHeld() {
    if (recordingHere_ && sinceReading_.isValid() && sinceReading_.elapsed() < quietMs())
        restartQuiet();
}

void TestResults::savedAs(const QString& path) {
    savedPath_ = path;
    rowsSaved_ = table_.rowCount();
}

// ---- texts ------------------------------------------------------------------------------

QString ohmsText(double ohms) {
    static constexpr std::array<std::pair<double, const char*>, 4> kUnits = {
        {{1e12, "T"}, {1e9, "G"}, {1e6, "M"}, {1e3, "k"}}};
    for (const auto& [factor, prefix] : kUnits) {
        if (std::fabs(ohms) >= factor * 0.99995) {
            const double v = ohms / factor;
            const int decimals = v < 9.9995 ? 3 : v < 99.995 ? 2 : v < 999.95 ? 1 : 0;
            return QString::number(v, 'f', decimals) + QLatin1Char(' ') + QLatin1String(prefix) +
                   QStringLiteral("\u03A9");
        }
    }
    return QString::number(ohms, 'f', 0) + QStringLiteral(" \u03A9");
}

QString ratioText(double ratio) {
    return QString::number(ratio, 'f', 2);
}

QString celsiusText(double c) {
    return QString::number(c, 'g', 4) + QStringLiteral(" \u00B0C");
}

QString elapsedText(double seconds) {
    const long long s = std::llround(std::clamp(seconds, 0.0, 1e9));
    if (s < 3600)
        return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString verdictCaption(Verdict v) {
    return verdictText(v).toUpper();
}

QString verdictShown(const InsulationResult& r, bool running) {
    if (!running)
        return verdictCaption(r.verdict);
    if (!r.r60)
        return QStringLiteral("IN PROGRESS");
    return verdictCaption(r.verdict) + QStringLiteral(" (so far)");
}

QStringList reasonsShown(const InsulationResult& r, bool running) {
    if (!running)
        return r.reasons;
    if (!r.r60 && r.duration < 60)
        return {QStringLiteral("The verdict comes with the 1-minute resistance, at 1 min.")};
    QStringList shown;
    for (const QString& reason : r.reasons) {
        // Judged as if the test ended now, a test short of ten minutes has no PI yet.
        if (!r.pi && r.duration < 600 && reason.startsWith(QLatin1String("No polarization index")))
            shown << QStringLiteral("The polarization index comes at 10 min, if the test lasts.");
        else
            shown << reason;
    }
    return shown;
}

QString resultFigureText(const InsulationResult& r, ResultFigure f, bool running) {
    const QString none = QStringLiteral("not available");
    // A figure of a test in progress that its mark has not reached yet comes later.
    auto pending = [&](int seconds, const QString& when) {
        return running && r.duration < seconds ? QStringLiteral("after ") + when : none;
    };
    auto ohms = [&](const std::optional<double>& v, int seconds, const QString& when) {
        return v && std::isfinite(*v) ? ohmsText(*v) : pending(seconds, when);
    };
    auto ratio = [&](const std::optional<double>& v, int seconds, const QString& when) {
        return v && std::isfinite(*v) ? ratioText(*v) : pending(seconds, when);
    };
    const QString s15 = QStringLiteral("15 s");
    const QString s30 = QStringLiteral("30 s");
    const QString m1 = QStringLiteral("1 min");
    const QString m10 = QStringLiteral("10 min");
    switch (f) {
    case ResultFigure::Voltage:
        return r.testVoltage ? QStringLiteral("%1 V").arg(*r.testVoltage) : none;
    case ResultFigure::R15:
        return ohms(r.r15, 15, s15);
    case ResultFigure::R30:
        return ohms(r.r30, 30, s30);
    case ResultFigure::R60:
        return ohms(r.r60, 60, m1);
    case ResultFigure::R600:
        return ohms(r.r600, 600, m10);
    case ResultFigure::Dar:
        return ratio(r.dar, 60, m1);
    case ResultFigure::Dar15:
        return ratio(r.dar15, 60, m1);
    case ResultFigure::Pi:
        return ratio(r.pi, 600, m10);
    case ResultFigure::Corrected:
        if (r.r60Corrected)
            return ohmsText(*r.r60Corrected);
        if (!r.temperature)
            return QStringLiteral("no temperature given");
        return pending(60, m1);
    }
    return none;
}

// ---- whole tables -----------------------------------------------------------------------

void applyOverrides(ResultSettings& s, const ResultOverrides& o) {
    if (o.temperature)
        s.temperature = o.temperature;
    if (o.baseTemperature)
        s.baseTemperature = *o.baseTemperature;
    if (o.minimumOhms)
        s.minimumOhms = *o.minimumOhms;
    if (o.piMinimum)
        s.piMinimum = *o.piMinimum;
}

Result<TableResults> resultsOfTable(const ReadingsTable& table, const TestDetails& details,
                                    bool storeNamesFirst) {
    if (!table.isOpen())
        return fail(ReadingsTable::closedMessage());
    Result<std::vector<InsulationResult>> tests = findInsulationTests(
        table.records(), details.settings, storeNamesFirst, rulesOf(details), details.linkGaps);
    if (!tests)
        return fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(table.filePath()),
                                                 tests.error()));
    TableResults r;
    r.tests = tests.take();
    r.details = details;
    r.records = table.rowCount();
    return r;
}

Result<TableResults> resultsOfTableFile(const QString& path, const ResultOverrides& overrides) {
    ReadingsTable table;
    const Result<JournalledReadings> opened =
        openTableToRead(table, QFileInfo(path).absoluteFilePath(), QDateTime::currentDateTime());
    if (!opened)
        return fail(opened.error());
    TestDetailsRead read = readTestDetails(table.filePath());
    applyOverrides(read.details.settings, overrides);
    if (const QString problem = settingsProblem(read.details.settings); !problem.isEmpty())
        return fail(problem);
    Result<TableResults> r = resultsOfTable(table, read.details, overrides.storeNamesFirst);
    if (r) {
        r.value().detailsFound = read.found;
        r.value().detailsProblem = read.problem;
        r.value().journalNote = opened.value().message;
    }
    return r;
}

} // namespace kx
