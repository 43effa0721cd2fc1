#pragma once

#include "assets/asset_register.h"
#include "assets/table_filing.h"
#include "common/result.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kx {

// What the user confirmed before a table's test is filed: the asset (a new one is added
// first), the date and the conditions. Empty texts and no temperature keep what the table's
// details said.
struct FilingChoice {
    QString tag;
    std::optional<Asset> newAsset; // added under `tag` before the test is filed
    QDateTime testedAt;            // invalid: the date the table gave
    std::optional<double> temperature;
    QString humidity;
    QString operatorName;
    QString notes;
};

// What "File under asset…" asks: the test(s) about to be filed, and the assets to choose
// from (the table's details may name one).
struct FilingQuestion {
    TableTests table;
    std::vector<AssetSummary> assets;
};

// The asset register as the windows use it: opened when first needed, from the location
// the program was given, kept open, and every change told through typed signals, so that the
// Assets window, an asset's page and the Test Results window's filing stay in step. A
// register that cannot be opened leaves the rest of the program working: failure() says why,
// and each command fails with that message until another location is chosen.
class RegisterSession : public QObject {
    Q_OBJECT
public:
    explicit RegisterSession(QObject* parent = nullptr);
    ~RegisterSession() override;

    // Where the register is; a register already open is closed, the next command opens the
    // new one. `prepare` runs once on the register when it opens (the demonstration fills an
    // empty one).
    void setLocation(const DatabaseLocation& location,
                     std::function<Status(AssetRegister&)> prepare = {});
    const DatabaseLocation& location() const { return location_; }
    // No register can be opened until another location is set: `message` says why (a
    // location in the settings that cannot be read).
    void setUnusable(const QString& message);

    // Opens the register when it is not open. Fails with the user's message.
    Result<AssetRegister*> open();
    bool isOpen() const { return reg_ != nullptr; }
    // Why the register could not be opened last time, or empty.
    const QString& failure() const { return failure_; }
    // Why the register is read-only (a newer program's database), or empty.
    QString readOnlyReason() const;

    Result<std::vector<AssetSummary>> list(const AssetFilter& filter = {});
    Result<std::optional<Asset>> asset(const QString& tag);
    Result<Asset> addAsset(const Asset& asset);
    Status editAsset(const Asset& asset);
    Status retireAsset(const QString& tag);
    Result<std::vector<FiledTest>> tests(const QString& tag);
    Result<FiledTest> test(qint64 testId);
    Result<Trend> trend(const QString& tag);

    // The question before test `test` (1, 2, ...) of the table file is filed: its figures,
    // date and conditions as the table gives them, and the assets in service.
    Result<FilingQuestion> filingQuestion(const QString& tablePath, int test);
    // Files the tests of `table` (as tableTestsToFile gave them) under the asset chosen, with
    // the date and conditions confirmed; a new asset is added first. One test's date is set
    // to the date confirmed; with several, each keeps its time and takes the day confirmed.
    Result<FilingOutcome> fileTable(const TableTests& table, const FilingChoice& choice);

    // "Filed under M-101." / "Already filed (under M-101 or another asset)." / both counts.
    static QString outcomeText(const FilingOutcome& outcome, const QString& tag);

Q_SIGNALS:
    // Another register was opened, or the one open was closed.
    void registerChanged();
    // An asset was added, edited or retired, or tests were filed.
    void assetsChanged();
    // Tests were filed under the asset.
    void testsFiled(const QString& tag);
    // The register could not be opened: the message the user sees.
    void openFailed(const QString& message);

private:
    Status changed(Status status);

    DatabaseLocation location_;
    std::function<Status(AssetRegister&)> prepare_;
    std::unique_ptr<AssetRegister> reg_;
    QString failure_;
    QString unusable_;
};

// The tests as they are filed under the choice: the date and the conditions put in.
std::vector<FiledTest> testsAsChosen(const TableTests& table, const FilingChoice& choice);

} // namespace kx
