#include "app/file_commands.h"

#include "analysis/live_results.h"
#include "app/app_session.h"
#include "app/settings_file.h"
#include "common/app_dir.h"
#include "readings/table_salvage.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

namespace kx {
namespace {
Q_LOGGING_CATEGORY(lcFiles, "kx.files")
}

FileCommands::FileCommands(AppSession& session) : session_(session) {}
FileCommands::~FileCommands() = default;

QStringList FileCommands::openFilters() {
    return {QStringLiteral("access data files (*.DB *.db)"), QStringLiteral("All files (*)")};
}

QStringList FileCommands::saveFilters() {
    return {QStringLiteral("DB File(*.db *.DB)"),
            QStringLiteral("Txt File(*.txt *.TXT)"),
            QStringLiteral("Excel File(*.xls *.XLS)"),
            QStringLiteral("All File(*)"),
            QStringLiteral("Excel Workbook(*.xlsx *.XLSX)"),
            QStringLiteral("CSV UTF-8(*.csv *.CSV)"),
            QStringLiteral("CSV UTF-8 (semicolon, decimal comma)(*.csv *.CSV)"),
            QStringLiteral("JSON Lines(*.jsonl *.JSONL)")};
}

QStringList FileCommands::saveFilterSuffixes() {
    const QString xls = saveDefaultSuffix();
    return {xls,
            xls,
            xls,
            xls,
            QStringLiteral("xlsx"),
            QStringLiteral("csv"),
            QStringLiteral("csv"),
            QStringLiteral("jsonl")};
}

QString FileCommands::settingsPath() const {
    return session_.AppDir + settingsFileName();
}

void FileCommands::makeChartPicturesDir() {
    const QString dir = chartPicturesDir();
    if (!QFileInfo::exists(dir) && !QDir().mkdir(dir))
        qCInfo(lcFiles).noquote() << "Cannot create" << QDir::toNativeSeparators(dir);
}

bool FileCommands::autoReconnectSetting() const {
    return settings_ && settings_->readString(QStringLiteral("Connection"),
                                              QStringLiteral("Reconnect")) == QLatin1String("1");
}

Status FileCommands::setAutoReconnectSetting(bool on) {
    if (!settings_)
        return {};
    return settings_->writeString(QStringLiteral("Connection"), QStringLiteral("Reconnect"),
                                  on ? QStringLiteral("1") : QStringLiteral("0"));
}

bool FileCommands::loadSettings() {
    auto settings = std::make_unique<SettingsFile>(settingsPath());
    if (!settings->exists())
        return false;
    settings_ = std::move(settings);
    const QStringList dropped = recent_.load(*settings_);
    settingsNote_.clear();
    if (!dropped.isEmpty()) {
        QStringList shown;
        for (QString d : dropped)
            shown << d.replace(QChar(u'\0'), QStringLiteral("\\0"))
                         .replace(QLatin1Char('\n'), QStringLiteral("\\n"))
                         .replace(QLatin1Char('\r'), QStringLiteral("\\r"));
        settingsNote_ =
            QStringLiteral("The list of recent files in %1 held %2 that no settings "
                           "file can keep (a NUL or a line break in its name), so "
                           "it was dropped:\n\n%3")
                .arg(QDir::toNativeSeparators(settingsPath()),
                     dropped.size() == 1 ? QStringLiteral("an entry")
                                         : QStringLiteral("%1 entries").arg(dropped.size()),
                     shown.join(QLatin1Char('\n')));
    }
    return true;
}

Status FileCommands::repoint(const QString& path) {
    if (Status s = session_.openLive(path); !s)
        return s;
    // New readings follow the file's own: numbers given twice would make it unsavable as a
    // keyed table.
    session_.recording().continueNumbering();
    return {};
}

Status FileCommands::newRecording() {
    if (Status s = session_.openLive(session_.scratchPath(), true); !s)
        return s;
    session_.recording().restartNumbering();
    // Another recording is of another asset; the settings it is judged by stay.
    session_.results().newRecording();
    return {};
}

DeletionQuestion FileCommands::newQuestion() const {
    const QString file = session_.liveTable().filePath();
    if (session_.liveIsScratch())
        return {QStringLiteral(" Warning:all Records will be deleted! "), file};
    const qint64 n = session_.unsavedReadings();
    if (n == 0)
        return {QStringLiteral("Start a new recording? This file is closed and keeps its records:"),
                file};
    return {
        QStringLiteral("Start a new recording? %1 recorded since the last save will be "
                       "deleted; this file keeps its records:")
            .arg(n == 1 ? QStringLiteral("The reading") : QStringLiteral("The %1 readings").arg(n)),
        file};
}

Status FileCommands::openDataFile(const QString& path) {
    if (Status s = repoint(path); !s)
        return s;
    // A name with a line break cannot be kept in the settings file; the file is open all the
    // same, it is just not listed.
    if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r'))) {
        qCWarning(lcFiles) << "Not listed among the recent files:" << path;
        return {};
    }
    recent_.add(path);
    return {};
}

Status FileCommands::openRecent(int position) {
    if (position < 1 || position > RecentFiles::kCount || !recent_.visible(position))
        return {};
    const QString path = recent_.path(position);
    ReadingsTable& live = session_.liveTable();
    live.close();
    // Only the scratch file is emptied, and only when it is there: a missing scratch file is
    // no reason to refuse the user's own file.
    if (session_.liveIsScratch() && QFileInfo::exists(live.filePath())) {
        if (Status s = live.emptyTable(); !s)
            return s;
    }
    return repoint(path);
}

QString FileCommands::salvageQuestion(const QString& path, const QString& failure) {
    return kx::salvageQuestion(path, failure);
}

Result<px::SalvageReport> FileCommands::salvage(const QString& path) {
    Result<px::SalvageReport> report = salvageTableFile(path, true);
    if (!report)
        return report;
    if (Status s = openDataFile(report.value().target); !s)
        return fail(s.error());
    return report;
}

void FileCommands::setSaveFilter(int filter) {
    if (filter >= 0 && filter < saveFilters().size())
        saveFilter_ = filter;
}

ExportOptions FileCommands::saveOptions() const {
    ExportOptions options;
    if (saveFilter_ == kSemicolonCsvFilter) {
        options.csv.delimiter = ';';
        options.csv.decimalComma = true;
    }
    return options;
}

SaveAsOutcome FileCommands::saveAs(const QString& path, ExportKind kind,
                                   const ExportProgress& progress) {
    const ExportOptions options = saveOptions();
    if (kind == ExportKind::Store)
        return saveTableAs(session_.storeTable(), path, kind, progress, options);
    const qint64 mark = session_.appendedReadings();
    // The live table's test details go with a keyed copy, also those of the scratch table,
    // which are kept in memory only; a workbook judges its tests by their settings.
    SaveAsOutcome outcome = saveTableAs(session_.liveTable(), path, kind, progress, options,
                                        &session_.results().details());
    if (outcome.saved()) {
        session_.savedUpTo(mark);
        session_.results().savedAs(path);
    }
    return outcome;
}

Status FileCommands::exitPanel() {
    session_.closeTablesForExit();
    if (!settings_)
        return {};
    const Status s = recent_.save(*settings_);
    settings_.reset();
    return s;
}

Status FileCommands::fileExit() {
    return session_.exitWithoutSaving();
}

Status FileCommands::listFirst(const QString& path) {
    if (!recent_.visible(1) || recent_.path(1) != path)
        recent_.add(path);
    // Written now: a recovered table must stay listed whichever way the program ends.
    if (!settings_)
        return {};
    return recent_.save(*settings_);
}

QString FileCommands::appendQuestion(const LeftOverRecording& left) {
    return QStringLiteral("%1 continue %2, which holds %3 records.\n\nAppend them to that file? "
                          "OK appends them; Cancel saves them as a file of their own.")
        .arg(leftOverText(left), QDir::toNativeSeparators(left.continues))
        .arg(left.continuesRecords);
}

QString FileCommands::unstartedMessage(int runs) {
    return QStringLiteral("%1 that did not end normally could not keep its readings safe (the "
                          "recording journal could not be written): they could not be recovered.")
        .arg(runs == 1 ? QStringLiteral("A run of the program")
                       : QStringLiteral("%1 runs of the program").arg(runs));
}

Result<QString> FileCommands::recoverRecording(const LeftOverRecording& left, bool append,
                                               const QDateTime& now) {
    const QStringList missing = unrecoveredStretches(left.contents);
    const QString notRecovered =
        missing.isEmpty()
            ? QString()
            : QStringLiteral("\n\nNot recovered: %1.").arg(missing.join(QStringLiteral("; ")));
    QString text;
    QString table;
    if (append) {
        Result<QStringList> folded = foldJournalInto(left.journal, left.continues, now);
        if (!folded)
            return fail(folded.error());
        table = left.continues;
        // The fold says where they went when not into the file (it changed meanwhile).
        const QString shown = QDir::toNativeSeparators(table);
        const QString notes = folded.value().join(QLatin1Char('\n'));
        if (notes.isEmpty())
            text = leftOverText(left) + QStringLiteral(" were already in %1.").arg(shown);
        else if (notes.endsWith(QStringLiteral("were added to it")))
            text = leftOverText(left) + QStringLiteral(" were added to %1.").arg(shown);
        else
            text = notes + QLatin1Char('.');
    } else {
        Result<QString> saved = recoverJournal(left.journal, session_.AppDir, now);
        if (!saved)
            return fail(saved.error());
        table = saved.value();
        if (table.isEmpty())
            return QString(); // the journal held no readings
        text = leftOverText(left) +
               QStringLiteral(" were saved as\n\n%1").arg(QDir::toNativeSeparators(table));
        if (const QString context = leftOverContext(left); !context.isEmpty())
            text += QStringLiteral("\n\n") + context;
    }
    text += notRecovered;
    if (const Status s = listFirst(table); !s)
        text += QStringLiteral("\n\nIt could not be listed for good: %1").arg(s.error());
    else
        text += QStringLiteral("\n\nIt heads the list of recent files in the File menu.");
    return text;
}

} // namespace kx
