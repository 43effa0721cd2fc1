#pragma once

#include "recording/readings_table.h"
#include "recording/recording_control.h"

#include <QString>

namespace kx {

// The recording side of the main window: the two readings tables and the rules that decide
// which decoded readings reach the live table.
struct RecordingSession {
    static QString defaultLiveTableName() { return QStringLiteral("Pw60bdb"); }
    static QString defaultStoreTableName() { return QStringLiteral("pw60SD"); }

    RecordingSession(const ReadingTexts& texts, const QString& liveTableName,
                     const QString& storeTableName)
        : control(texts, LiveTable) {
        LiveTable.setTableName(liveTableName);
        StoreTable.setTableName(storeTableName);
        scratchPath = LiveTable.filePath();
    }

    // Whether the live table is the program's own scratch file, which holds no records of
    // the user's between runs and may be emptied freely (a data file the user opened may not).
    bool liveIsScratch() const { return LiveTable.filePath() == scratchPath; }

    ReadingsTable LiveTable;  // "DBPW60"
    ReadingsTable StoreTable; // "pw60sd"
    RecordingControl control;
    QString scratchPath;
};

} // namespace kx
