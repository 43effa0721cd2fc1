// The session's asset register: where it lives (the settings' Database entry, or the
// caller's: the demonstration's own register, a test's), kept open by the register session.
#include "app/app_session.h"
#include "app/file_commands.h"
#include "app/settings_file.h"

namespace kx {

void AppSession::chooseRegister(const SessionSetup& setup) {
    if (setup.database) {
        assets_.setLocation(*setup.database, setup.prepareRegister);
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
