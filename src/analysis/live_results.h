#pragma once

#include "analysis/details_file.h"
#include "analysis/insulation_analyser.h"
#include "analysis/insulation_curve.h"
#include "common/result.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <vector>

namespace kx {

class ReadingsTable;

// The insulation tests of the live table, kept current as it changes, with the details and
// settings they are judged by. The session owns one; the results window, its list and the
// insulation test report read it, and the command line uses the same whole-table command
// (resultsOfTableFile).
//
// Each reading appended to the table is analysed as it comes (a constant, small cost); a
// table that is emptied, re-opened or loses a record is analysed again as a whole, at the
// next turn of the event loop. Views hear of changes through the two signals, at most five
// times a second however fast readings come.
//
// The tests are numbered from 0 here: the completed ones in table order, then the one in
// progress once it has lasted the 10 s that make it a test. What the accessors give is the
// state as of the last signal (or flush()), so that a view's row count never changes under
// it.
//
// Details and settings: a table the user opened carries them in the file beside it
// (test_details.h), read when it is opened and written whenever they change. The program's
// own scratch table has none on disk: they stay here until the readings are saved, and Save
// As gives them to the copy.
class TestResults : public QObject {
    Q_OBJECT
public:
    // `scratchPath` is the program's own scratch table, which never gets a details file.
    TestResults(ReadingsTable& table, QString scratchPath, QObject* parent = nullptr);
    ~TestResults() override;

    int count() const;
    // The test at `index` (0 to count() - 1).
    const InsulationResult& test(int index) const;
    // The last run, not yet ended by a record that does not belong to it, once it has a
    // resistance reading; it is a test (the last one) from 10 s on.
    const std::optional<InsulationResult>& current() const { return current_; }
    // Whether `index` is the test in progress: the last one, while readings are coming that
    // may add to it. The last test of a table just opened is not in progress, nor is one the
    // meter has stopped adding to for longer than the gap that ends a test.
    bool isRunning(int index) const;
    // Changes whenever the tests were worked out again as a whole (a view starts over).
    std::uint64_t generation() const { return generation_; }

    // The R(t) curve of a test; a curve of the test in progress walks only new records.
    const std::vector<CurvePoint>& curve(int index);
    // The fields the analysis reads, when the table has them.
    const std::optional<ReadingsColumns>& columns() const { return columns_; }
    // Why there are no tests to show: a table without the fields the analysis needs.
    const QString& tableProblem() const { return tableProblem_; }

    // The details of the table as it is now (a table just opened has its file read first).
    const TestDetails& details();
    const ResultSettings& settings() { return details().settings; }
    // New details: the tests are judged again at once. A table of the user's gets them in
    // its details file at once; a failure to write it is returned (the details stand).
    Status setDetails(const TestDetails& details);
    Status setSettings(const ResultSettings& settings);
    // A new recording (File > New): the free fields go, the settings stay.
    void newRecording();
    // Why the table's details file could not be read, or empty.
    const QString& detailsProblem() const { return detailsProblem_; }
    // The details belong to the program's scratch table (nothing on disk).
    bool scratch() const;

    // Brings everything up to date and signals what changed, now.
    void flush();

    // A reading was recorded into the table under `rules` (the rules in force) at `now`. The
    // first reading of a table, or of a table without them, sets the details' recording
    // (rules and beginning); later readings under other rules replace the rules. The tests
    // are then found by them, the whole table again when it holds more than one record.
    void recordedWith(const RecordingRules& rules, const QDateTime& now);
    // The rules in force changed: while this table is being recorded into, it takes them at
    // once (as recordedWith does).
    void rulesChanged(const RecordingRules& rules);
    // The link to the meter went down at `at` while recording into this table, because of
    // `why`; linkRestored (the link came back, or the recording ended) keeps the gap in the
    // details (a table of the user's gets it in its file at once). A gap already open goes on.
    void linkLost(const QDateTime& at, const QString& why);
    void linkRestored(const QDateTime& at);
    // The gap in progress: the link is down.
    const std::optional<LinkGap>& openLinkGap() const { return openGap_; }
    // A reading came from the meter that the rules did not record (a repeat, or one between
    // two samples): the test in progress goes on.
    void readingHeld();
    // The readings were saved as the file at `path` (Save As); a report names it.
    void savedAs(const QString& path);
    // The last file the readings were saved as since the recording began, or empty.
    const QString& savedPath() const { return savedPath_; }
    // The records the table held when they were saved.
    qint64 rowsSaved() const { return rowsSaved_; }

    static constexpr int kSignalIntervalMs = 200;
    // A test no reading has come for in this long has ended: the pause that ends a test under
    // the recording's rules, and a second for the reading's way from the meter.
    int quietMs() const;

Q_SIGNALS:
    // Tests were added or worked out again; count() may have changed.
    void testsChanged();
    // The figures of the test in progress (its elapsed time and each value as it becomes
    // known), or the judgement of every test, changed.
    void figuresChanged();
    // New details or settings (from the table's file or set here), or the file's problem
    // came or went.
    void detailsChanged();
    // The table's details file could not be read; the defaults stand in.
    void detailsProblemFound(const QString& message);

private:
    void rowAppended(qint64 row);
    void restartQuiet();
    void rowRemoved();
    void markStale();
    void schedule();
    void analyseWhole();
    void loadDetails();

    ReadingsTable& table_;
    QString scratchPath_;
    InsulationAnalyser analyser_;
    std::optional<ReadingsColumns> columns_;
    QString tableProblem_;
    bool stale_ = true;
    bool readingWhileStale_ = false;
    bool pending_ = false;     // readings analysed since the last signal
    bool listChanged_ = false; // tests added since the last signal
    std::optional<std::int64_t> lastNo_;
    std::uint64_t generation_ = 0;
    std::uint64_t curveGeneration_ = 0;

    // The state views see.
    std::size_t completed_ = 0;
    std::optional<InsulationResult> current_;
    bool currentCounts_ = false;

    TestDetails details_;
    std::optional<LinkGap> openGap_;
    bool recordingHere_ = false; // readings were recorded into the table since it was reset
    QString savedPath_;
    qint64 rowsSaved_ = 0;
    QString detailsFor_; // the table file the details belong to
    QString detailsProblem_;

    QTimer signalTimer_;
    QElapsedTimer sinceSignal_;
    QElapsedTimer sinceReading_; // since the last reading appended while recording
    QTimer quietTimer_;
    TestCurveCache curveCache_;
    int curveIndex_ = -1;
    std::vector<CurvePoint> completedCurve_;
};

// Texts the results are shown with, the same in the window and the report.
// "545.0 MΩ", "1.234 GΩ": four significant figures in the unit that keeps them below 1000.
QString ohmsText(double ohms);
// "2.50".
QString ratioText(double ratio);
// "31.5 °C".
QString celsiusText(double c);
// "0:45", "10:03", "1:02:03": a test's length.
QString elapsedText(double seconds);
// "PASS", "FAIL", "INCONCLUSIVE".
QString verdictCaption(Verdict v);

// The verdict as shown: "PASS", "FAIL", "INCONCLUSIVE"; for a test in progress "IN PROGRESS"
// until its 1-minute resistance is known, then the verdict so far ("PASS (so far)").
QString verdictShown(const InsulationResult& r, bool running);
// The reasons as shown: those of a test in progress say what is still to come rather than
// that the test ended too soon.
QStringList reasonsShown(const InsulationResult& r, bool running);

// The figures shown for a test.
enum class ResultFigure { Voltage, R15, R30, R60, R600, Dar, Dar15, Pi, Corrected };
// A figure as the window and the report show it: its value, or for a test still in progress
// when it will be known ("after 1 min"), or why there is none ("not available", "no
// temperature given").
QString resultFigureText(const InsulationResult& r, ResultFigure f, bool running);

// What the command line and the report work on: a table file's tests under its details file's
// settings, with the changes given on the command line.
struct ResultOverrides {
    std::optional<double> temperature;
    std::optional<double> baseTemperature;
    std::optional<double> minimumOhms;
    std::optional<double> piMinimum;
    bool storeNamesFirst = false;
};
void applyOverrides(ResultSettings& s, const ResultOverrides& o);

struct TableResults {
    std::vector<InsulationResult> tests;
    TestDetails details;       // as read, the overrides applied
    bool detailsFound = false; // a details file lies beside the table
    QString detailsProblem;    // it could not (all) be read
    qint64 records = 0;
    QString journalNote; // what the journal of a recording into the file added (openTableToRead)
};

// The tests of an open table, judged under `details`' settings (testCurve() draws each).
Result<TableResults> resultsOfTable(const ReadingsTable& table, const TestDetails& details,
                                    bool storeNamesFirst = false);
// Reads the table file at `path` with the readings a recording journalled beside it
// (openTableToRead), reads the details beside it and works out its tests (found by the details'
// recording rules, when they have them). Fails when the table cannot be opened or holds no
// readings.
Result<TableResults> resultsOfTableFile(const QString& path, const ResultOverrides& overrides = {});

} // namespace kx
