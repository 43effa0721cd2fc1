#pragma once

#include "assets/asset_register.h"
#include "common/result.h"

#include <QDate>
#include <QString>

#include <optional>
#include <vector>

namespace kx {

// Where a test's date came from.
enum class TestDateSource {
    Recording, // the recording's beginning, kept in the table's details
    Given,     // the user's (--date, or confirmed in the window)
    FileDate,  // the table file's last change: to be confirmed
};

// The tests of a readings table as they would be filed: their results (found as the results
// command finds them), the conditions and the asset named in the table's details, the file's
// path and SHA-256, and each test's readings.
struct TableTests {
    QString tablePath;
    QString detailsAsset;    // the asset the details name; empty when none
    QString detailsLocation; // where the details say the test was made
    TestDateSource dateSource = TestDateSource::FileDate;
    std::vector<FiledTest> tests;
    QStringList notes; // what the reader had to say (a recording folded in, damaged details)
};

// Reads the table and its details. `test`: only that test (1, 2, ...); fails when the table
// has no such test. `date`: the day the recording began when the details do not keep it (or
// to override them); without one, such a table's tests are dated by the file.
Result<TableTests> tableTestsToFile(const QString& tablePath, std::optional<int> test = {},
                                    std::optional<QDate> date = {});

// Every readings table under `folder` (recursively) whose details name an asset, in path
// order.
Result<QStringList> tablesNamingAnAsset(const QString& folder);

} // namespace kx
