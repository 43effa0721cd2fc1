#pragma once

#include "analysis/insulation_analyser.h"
#include "common/result.h"
#include "readings/details_companion.h"
#include "readings/link_gaps.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QJsonArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace kx {

// What a technician notes about a test besides the readings, kept with the readings table in
// a small file beside it, NAME.results.json for NAME.db: the asset tested, where, by whom, the
// air's humidity, free notes, and the settings the tests are judged with (winding
// temperature, base temperature, minimum resistance, PI minimum).
//
// The file is JSON (UTF-8) so that it can be read and mended with any editor and by scripts;
// the name keeps the table's base name, so the two travel together, and says what it holds.
//
//   {"kind": "kxlink test details", "version": 1,
//    "asset": "Pump motor 3", "location": "Hall B", "operator": "J. Doe",
//    "humidity": "55 %", "notes": "...",
//    "temperature": 31.5, "baseTemperature": 40, "minimum": 100000000, "piMinimum": 2,
//    "recording": {"interval": 10, "repeat": true, "began": "2026-12-10T09:15:02"}}
//
// `temperature` is null when none was given; `minimum` is in ohms, as in the results.
// `recording` says how the readings were recorded (the sampling interval in seconds, null when
// every reading was offered; whether repeated values were recorded) and when the recording
// began, in local time: the table holds only times of day. Files without it (older ones, or
// tables recorded elsewhere) are read as before, and their tests are found by the readings'
// own pace.
//
// `linkGaps` lists the stretches the link to the meter was down while the readings were
// recorded, in times of day, with why it went down:
//    "linkGaps": [{"from": "10:42:13.250", "to": "10:42:31.004", "why": "No data for 5 s"}]
// A test ends at a gap longer than its gap rule, and the views mark the reading after one.
// Files without it have none; an entry that cannot be read is told and left out.

// How the readings of a table were recorded, and when.
struct RecordingDetails {
    RecordingRules rules;
    QDateTime began; // local time, to the second; invalid when not known
    bool operator==(const RecordingDetails&) const = default;
};

struct TestDetails {
    QString asset;
    QString location;
    QString operatorName;
    QString humidity;
    QString notes;
    ResultSettings settings;
    std::optional<RecordingDetails> recording;
    std::vector<LinkGap> linkGaps; // in the order they happened

    // Whether any free field holds a text.
    bool hasFields() const;
    // No free field, the default settings, no recording and no gap: nothing worth a file.
    bool isDefault() const;
    // The free fields, the recording and its gaps emptied, the settings kept (a new recording
    // of another asset).
    void clearFields();
    bool operator==(const TestDetails& other) const;
};

// The limits of the settings, the same for the window, the file and the command line.
inline constexpr double kMinWindingTemperature = -50;
inline constexpr double kMaxWindingTemperature = 200;
inline constexpr double kMaxMinimumOhms = 1e13; // 10 TΩ
inline constexpr double kMaxPiMinimum = 100;
// The longest sampling interval a recording is made with, in seconds.
inline constexpr double kMaxRecordingInterval = 2147483647;
// The longest free field kept; notes may be longer than the others.
inline constexpr int kMaxDetailLength = 200;
inline constexpr int kMaxNotesLength = 4000;

// Empty when the settings are within their limits; else what is wrong, in words.
QString settingsProblem(const ResultSettings& s);


// What reading a details file gave. Reading never fails: a damaged file or a field that
// cannot be used is told in `problem` and the defaults stand in for what could not be read.
struct TestDetailsRead {
    bool found = false; // a file lies beside the table
    TestDetails details;
    QString problem; // the file or some of its fields could not be read, and why
};

// The file's contents; `defaults` stands in for what is missing or damaged. `shownPath` names
// the file in the problem's text.
TestDetailsRead parseTestDetails(QByteArrayView bytes, const QString& shownPath,
                                 const ResultSettings& defaults = {});
// The details beside the table at `tablePath`.
TestDetailsRead readTestDetails(const QString& tablePath, const ResultSettings& defaults = {});

// The file's contents for `d`.
QByteArray testDetailsJson(const TestDetails& d);
// The gaps as the file lists them (the command line prints the same).
QJsonArray linkGapsJson(const std::vector<LinkGap>& gaps);

// Writes the details beside the table, atomically by the rules of every write, with the
// table's mode and owner. Details with nothing to keep (isDefault) remove an existing file
// instead, so that a table never carries another one's details.
Status writeTestDetails(const QString& tablePath, const TestDetails& d);
// The details beside the table at `tablePath` told how its readings were recorded: those of
// a recording into a new table, or with `keepOthers` (a recording appended to the table) the
// details already there with the recording's rules replaced (and its beginning kept, when
// they had one). The recording's link gaps `gaps` follow those already there.
Status writeRecordingDetails(const QString& tablePath, const RecordingDetails& recording,
                             bool keepOthers, const std::vector<LinkGap>& gaps = {});

} // namespace kx
