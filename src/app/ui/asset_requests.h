#pragma once

#include "assets/ui/asset_dialogs.h"

namespace kx {

class AppSession;
class FileDialogs;
class MessageBoxes;

// What the Assets window and an asset's page ask of the program: the asset history report
// and the register's workbook, saved where the user chooses, and the register's location
// kept in the settings.
class AssetRequests : public AssetWindowRequests {
public:
    AssetRequests(AppSession& session, FileDialogs& dialogs, MessageBoxes& boxes)
        : session_(session), dialogs_(dialogs), boxes_(boxes) {}

    void printAssetReport(QWidget* owner, const QString& tag) override;
    void exportRegister(QWidget* owner) override;
    QString databaseUrl() const override;
    Status setDatabaseUrl(const QString& url) override;

private:
    AppSession& session_;
    FileDialogs& dialogs_;
    MessageBoxes& boxes_;
};

} // namespace kx
