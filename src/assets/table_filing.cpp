// The tests of a readings table as they are filed under an asset: found as the results
// window finds them, dated from the recording's beginning, tied to the file by its hash.
#include "assets/table_filing.h"

#include "analysis/details_file.h"
#include "analysis/insulation_curve.h"
#include "analysis/live_results.h"
#include "readings/readings_table.h"
#include "recording/journalled_readings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <algorithm>

namespace kx {
namespace {

// The recording's beginning is kept to the second while the meter's clock gives its own
// times: a first test a little before it is the same day, not the next.
constexpr int kBeganSlackMs = 60'000;

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

Result<QString> sha256Of(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read %1: %2").arg(shown(path), f.errorString()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f))
        return fail(QStringLiteral("Cannot read %1: %2").arg(shown(path), f.errorString()));
    return QString::fromLatin1(hash.result().toHex());
}

// Each test's day, counted from `firstDay` with the time of day `fromMs` before the first test:
// a test that begins earlier in the day than the one before it (or than `fromMs`) is on the
// next day.
std::vector<QDateTime> testTimes(const std::vector<InsulationResult>& tests, QDate firstDay,
                                 int fromMs) {
    std::vector<QDateTime> times;
    int previous = fromMs;
    qint64 days = 0;
    for (const InsulationResult& t : tests) {
        if (t.startMs < previous)
            ++days;
        previous = t.startMs;
        times.emplace_back(firstDay.addDays(days), QTime::fromMSecsSinceStartOfDay(t.startMs));
    }
    return times;
}

// Dates by the file's last change, which ends the last test's day: the days are counted back
// from it, and a last test that begins later in the day than that change was the day before.
std::vector<QDateTime> fileDateTimes(const std::vector<InsulationResult>& tests,
                                     const QDateTime& changed) {
    std::vector<QDateTime> times = testTimes(tests, changed.date(), 0);
    if (times.empty())
        return times;
    qint64 back = times.back().date().daysTo(changed.date());
    if (tests.back().startMs > changed.time().msecsSinceStartOfDay())
        --back;
    for (QDateTime& t : times)
        t = QDateTime(t.date().addDays(back), t.time());
    return times;
}

} // namespace

Result<TableTests> tableTestsToFile(const QString& tablePath, std::optional<int> test,
                                    std::optional<QDate> date) {
    const QString path = QFileInfo(tablePath).absoluteFilePath();
    ReadingsTable table;
    const Result<JournalledReadings> opened =
        openTableToRead(table, path, QDateTime::currentDateTime());
    if (!opened)
        return fail(opened.error());
    const TestDetailsRead read = readTestDetails(table.filePath());
    Result<TableResults> found = resultsOfTable(table, read.details);
    if (!found)
        return fail(found.error());
    const Result<ReadingsColumns> columns = ReadingsColumns::find(table.fields());
    if (!columns)
        return fail(QStringLiteral("%1: %2").arg(shown(path), columns.error()));
    // The hash is of the bytes as they are now: a journal the open folded in is part of them.
    Result<QString> hash = sha256Of(path);
    if (!hash)
        return fail(hash.error());

    TableTests out;
    out.tablePath = path;
    out.detailsAsset = read.details.asset.trimmed();
    out.detailsLocation = read.details.location.trimmed();
    if (!opened.value().message.isEmpty())
        out.notes << opened.value().message;
    if (!read.problem.isEmpty())
        out.notes << read.problem;

    const std::vector<InsulationResult>& all = found.value().tests;
    const QDateTime began = read.details.recording ? read.details.recording->began : QDateTime();
    // The days are counted over the whole table, whichever test is filed.
    const int beganMs =
        began.isValid() ? std::max(0, began.time().msecsSinceStartOfDay() - kBeganSlackMs) : 0;
    std::vector<QDateTime> times;
    if (date) {
        out.dateSource = TestDateSource::Given;
        times = testTimes(all, *date, beganMs);
    } else if (began.isValid()) {
        out.dateSource = TestDateSource::Recording;
        times = testTimes(all, began.date(), beganMs);
    } else {
        out.dateSource = TestDateSource::FileDate;
        times = fileDateTimes(all, QFileInfo(path).lastModified());
    }

    std::vector<std::size_t> chosen;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (!test || all[i].test == *test)
            chosen.push_back(i);
    }
    if (test && chosen.empty())
        return fail(QStringLiteral("%1 has no test %2 (it has %3)")
                        .arg(shown(path))
                        .arg(*test)
                        .arg(all.size()));

    for (const std::size_t i : chosen) {
        FiledTest f;
        f.testedAt = times[i];
        f.result = all[i];
        f.humidity = read.details.humidity;
        f.operatorName = read.details.operatorName;
        f.notes = read.details.notes;
        f.sourcePath = path;
        f.sourceHash = hash.value();
        f.sourceTest = all[i].test;
        for (const CurvePoint& p : testCurve(table.records(), columns.value(), all[i]))
            f.readings.push_back({p.seconds, p.ohms});
        out.tests.push_back(std::move(f));
    }
    return out;
}

Result<QStringList> tablesNamingAnAsset(const QString& folder) {
    const QFileInfo info(folder);
    if (!info.isDir())
        return fail(QStringLiteral("%1 is no folder").arg(shown(folder)));
    QStringList tables;
    // Symbolic links to folders are not followed, so a link back up the tree cannot loop.
    QDirIterator it(info.absoluteFilePath(), QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.endsWith(QLatin1String(".db"), Qt::CaseInsensitive) || it.fileInfo().isSymLink())
            continue;
        if (!readTestDetails(path).details.asset.trimmed().isEmpty())
            tables << path;
    }
    std::sort(tables.begin(), tables.end());
    return tables;
}

} // namespace kx
