#pragma once

#include "assets/register_session.h"

#include <QString>

#include <optional>
#include <vector>

class QWidget;

namespace kx {

// The dialogs of the Assets window and of filing, behind an interface so that tests answer
// them. Each gives nothing when the user cancels.
class AssetDialogs {
public:
    virtual ~AssetDialogs() = default;
    // An asset's fields, to add (`start.id` 0) or to edit.
    virtual std::optional<Asset> askAsset(QWidget* parent, const Asset& start) = 0;
    // The asset to file under (or a new one), the date and the conditions.
    virtual std::optional<FilingChoice> askFiling(QWidget* parent, const FilingQuestion& q) = 0;
    // The register's location as the user writes it (sqlite:PATH, postgresql://...).
    virtual std::optional<QString> askDatabase(QWidget* parent, const QString& current) = 0;
};

class QtAssetDialogs : public AssetDialogs {
public:
    std::optional<Asset> askAsset(QWidget* parent, const Asset& start) override;
    std::optional<FilingChoice> askFiling(QWidget* parent, const FilingQuestion& q) override;
    std::optional<QString> askDatabase(QWidget* parent, const QString& current) override;
};

// The choice a filing dialog starts with: the asset the details name (or the only one
// filed under before), the date the table gave, the conditions of its first test.
FilingChoice initialFilingChoice(const FilingQuestion& q);
// What the filing dialog says of the date: where it came from, and to confirm it when it is
// only the file's date.
QString filingDateNote(TestDateSource source);

// What the Assets window and an asset's page ask of the program around them: the report
// and the workbook (made by the reports and exports), and the register's location kept in
// the settings.
class AssetWindowRequests {
public:
    virtual void printAssetReport(QWidget* owner, const QString& tag) = 0;
    virtual void exportRegister(QWidget* owner) = 0;
    // The location as the settings keep it (empty: the default register).
    virtual QString databaseUrl() const = 0;
    // Keeps the location in the settings and opens the register there next.
    virtual Status setDatabaseUrl(const QString& url) = 0;

protected:
    ~AssetWindowRequests() = default;
};

} // namespace kx
