#pragma once

#include "app/recent_files.h"
#include "common/result.h"
#include "exports/table_export.h"
#include "paradox/paradox_salvage.h"
#include "recording/recording_keeper.h"

#include <QDateTime>

#include <QString>
#include <QStringList>

#include <memory>

namespace kx {

class AppSession;
class SettingsFile;
struct DeletionQuestion;

// The File menu's data commands and what start-up and the exits do with the settings file:
// New, Open, the recent-file entries, Save As, the EXIT panel and File > Exit.
// Windows read their dialogs and call these; nothing here shows anything. Failures come back
// with the message the user sees.
class FileCommands {
public:
    explicit FileCommands(AppSession& session);
    ~FileCommands();

    static QString settingsFileName() { return QStringLiteral("myseriesini.ini"); }
    static QString missingSettingsMessage() {
        return QStringLiteral(
            " Warning:some component or files had been deleted,please setup again! ");
    }
    // Filters of the open and save dialogs, in Qt's form; both cases of an extension match.
    // The save dialog's first four are the program's own; then the workbook, CSV, the CSV for
    // spreadsheets that write a decimal comma, and JSON lines.
    static QStringList openFilters();
    static QStringList saveFilters();
    static constexpr int kSemicolonCsvFilter = 6;
    // The extension a name typed without one gets: "xls" under the first four filters, as
    // ever, and the filter's own under the others (a workbook chosen is a workbook written).
    static QString saveDefaultSuffix() { return QStringLiteral("xls"); }
    static QStringList saveFilterSuffixes();

    // The settings file in the program's folder.
    QString settingsPath() const;

    // Start-up: the chart pictures' folder is made once if it is missing; a failure is not
    // reported (the chart says so when it saves a picture).
    static void makeChartPicturesDir();
    // Start-up: takes the settings file and reads the recent list from it. False when the file
    // is missing: the program then ends.
    bool loadSettings();
    bool settingsLoaded() const { return settings_ != nullptr; }
    // What start-up had to drop from the settings file to keep it writable (entries holding
    // a NUL or a line break), in words; empty when nothing.
    const QString& settingsNote() const { return settingsNote_; }
    const RecentFiles& recent() const { return recent_; }
    // The window's "Reconnect automatically", kept in the settings file ([Connection]
    // Reconnect=1); off when unset or before the file was read.
    bool autoReconnectSetting() const;
    Status setAutoReconnectSetting(bool on);

    // New: the live table goes back to the program's scratch table, emptied, and the
    // numbering starts at 1, as at start. A data file the user opened is closed and keeps its
    // records; the readings recorded on it since the last save are dropped.
    Status newRecording();
    // What New asks before it drops the readings: on the scratch table the program's warning
    // and the scratch file; on a user's file, that the file keeps its records.
    DeletionQuestion newQuestion() const;

    // Open: the live table is closed and re-pointed at `path` (no copy: it works on that file
    // from now on) and opened; on success the path heads the recent list, and readings
    // recorded from now on are numbered after the file's highest number. On failure the table
    // stays closed under that name and the list is unchanged.
    Status openDataFile(const QString& path);
    // A recent entry (1 to 5): the same, without changing the list. The live table's file is
    // emptied first only when it is the program's scratch file; a user's data file keeps its
    // records.
    Status openRecent(int position);
    // Open met a table it could not read (`failure`): the question that offers to salvage it,
    // or an empty text when it reads whole or nothing can be read (salvageQuestion).
    static QString salvageQuestion(const QString& path, const QString& failure);
    // The user took the offer: what can still be read of `path` goes to NAME-salvaged.db
    // beside it (an earlier one is replaced, as the question said), which is then opened as
    // Open opens a file. The report says what was left out.
    Result<px::SalvageReport> salvage(const QString& path);

    // A table saved for the user (a recovered recording) heads the recent list as an opened
    // file would, without being opened; the list is written to the settings file at once.
    Status listFirst(const QString& path);
    // What the window asks before readings are appended to the file they continue.
    static QString appendQuestion(const LeftOverRecording& left);
    // What start-up says of runs whose journal never started.
    static QString unstartedMessage(int runs);
    // Start-up's recovery of a recording an earlier run left in its journal: its readings are
    // saved as a table of their own (recoverJournal), or, with `append`, appended to the file
    // they continue (foldJournalInto). The table that holds them then heads the recent list.
    // Gives what the user is told.
    Result<QString> recoverRecording(const LeftOverRecording& left, bool append,
                                     const QDateTime& now);
    // Save As: the filter chosen last is offered first next time.
    int saveFilter() const { return saveFilter_; }
    void setSaveFilter(int filter);
    // What the chosen filter asks of a save besides the name: under the semicolon filter a
    // .csv file is written with ';' and decimal commas, under any other with ',' and points.
    ExportOptions saveOptions() const;
    // Save As, and the stored-readings window's Save: saves the live table (ExportKind::Live)
    // or the stored one (ExportKind::Store) by the name's rule (saveTableAs) with the chosen
    // filter's options (saveOptions). The text export leaves the table (and its grid) on its
    // last record. A successful save of the live table, in any format, leaves no readings
    // unsaved but those recorded while it ran. A closed stored table is read from its file for
    // a keyed copy and stays closed; in any other format it is refused with the closed-table
    // message and nothing is written.
    SaveAsOutcome saveAs(const QString& path, ExportKind kind, const ExportProgress& progress = {});

    // The EXIT panel: closes both tables and writes the recent list, one key at a time. A key
    // that cannot be written stops the writing with "Unable to write to <file>"; the program
    // ends either way. Nothing is written when start-up never read the list (it would wipe the
    // stored one).
    Status exitPanel();
    // File > Exit: closes the live table and empties its file when it is the scratch file.
    Status fileExit();

private:
    Status repoint(const QString& path);

    AppSession& session_;
    std::unique_ptr<SettingsFile> settings_;
    QString settingsNote_;
    RecentFiles recent_;
    int saveFilter_ = 0;
};

} // namespace kx
