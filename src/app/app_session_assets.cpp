// The session's asset register: where it lives (the settings' Database entry, the
// demonstration's own register, a test's), kept open by the register session.
#include "app/app_session.h"
#include "app/file_commands.h"
#include "app/settings_file.h"
#include "assets/demo_register.h"

namespace kx {

namespace {

// The demonstration's register gets its assets and tests the first time it opens.
Status fillWhenEmpty(AssetRegister& reg) {
    AssetFilter every;
    every.includeRetired = true;
    Result<std::vector<AssetSummary>> assets = reg.list(every);
    if (!assets)
        return assets.status();
    return assets.value().empty() ? fillDemoRegister(reg) : Status();
}

} // namespace

void AppSession::chooseRegister(const SessionSetup& setup) {
    if (setup.database) {
        assets_.setLocation(*setup.database);
        return;
    }
    if (setup.demoRegister) {
        assets_.setLocation(demoDatabaseLocation(), fillWhenEmpty);
        return;
    }
    const QString url = databaseUrl();
    if (url.isEmpty())
        return; // the register session starts at the default location
    Result<DatabaseLocation> location = parseDatabaseUrl(url);
    if (location)
        assets_.setLocation(location.value());
    else
        assets_.setUnusable(tr("The settings' Database entry \"%1\" cannot be used: %2")
                                .arg(url, location.error()));
}

QString AppSession::databaseUrl() const {
    return databaseSetting(SettingsFile(files_->settingsPath()));
}

Status AppSession::setDatabaseUrl(const QString& url) {
    const QString given = url.trimmed();
    DatabaseLocation location = defaultDatabaseLocation();
    if (!given.isEmpty()) {
        Result<DatabaseLocation> parsed = parseDatabaseUrl(given);
        if (!parsed)
            return parsed.status();
        location = parsed.value();
    }
    SettingsFile settings(files_->settingsPath());
    if (const Status written = setDatabaseSetting(settings, given); !written)
        return written;
    assets_.setLocation(location);
    return {};
}

} // namespace kx
