#pragma once

#include "common/result.h"

#include <QString>

#include <array>

namespace kx {

class ReadingsTable;
class TableQueryModel;

// The quantities the search offers, in the order of the dialog's buttons.
struct SearchChoice {
    const char* caption; // the radio button's caption
    const char* unit;    // the Unit text it looks for
};
inline constexpr std::array<SearchChoice, 7> kSearchChoices = {{
    {"Voltage", "V"},
    {"Current", "A"},
    {"Active_Power", "KW"},
    {"Apparent_Power", "KVA"},
    {"Power_Factor", "PF"},
    {"Active_Energy", "KWh"},
    {"Tempe", "0C"},
}};
inline constexpr int kTempeChoice = 6;

// The statements the search runs, rebuilt each time the dialog comes up.
struct SearchTexts {
    QString tablePath;                                     // the live table's file
    QString base;                                          // every record
    std::array<QString, kSearchChoices.size()> conditions; // one per quantity
};

// The live table's name is the path of its file, except for the program's own scratch
// table, named bare, which lives in the program's folder.
SearchTexts buildSearchTexts(const QString& liveTableName, const QString& appDir);

// The search dialog's work without its widgets: which statement runs when, and what the
// user is told. The statements read the live table's file on disk, committed records only;
// whether there is anything to search at all is asked of the open live table.
class SearchControl {
public:
    SearchControl(ReadingsTable& live, TableQueryModel& query, QString appDir);

    const SearchTexts& texts() const { return texts_; }

    // The dialog comes up: rebuilds the statements and lists every record. A statement that
    // cannot be opened as a query is executed as a statement instead; that execution's error
    // is returned.
    Status activate();

    enum class Outcome {
        Listed,        // the query ran; the grid shows its rows
        EmptyDatabase, // "no records in database!"; the grid keeps its rows
        NoMatch,       // " No records for you searching ! "
    };
    // A search for the quantity `choice` (an index into kSearchChoices); returns what to tell
    // the user, or the execution's error as above.
    Result<Outcome> search(int choice);

    static QString emptyDatabaseMessage() { return QStringLiteral("no records in database!"); }
    static QString noMatchMessage() { return QStringLiteral(" No records for you searching ! "); }

private:
    // Closes the query, makes `statement` its only text and opens it; falls back to
    // executing it.
    Status run(const QString& statement);

    ReadingsTable& live_;
    TableQueryModel& query_;
    QString appDir_;
    SearchTexts texts_;
};

} // namespace kx
