#pragma once

#include "app/app_session.h"
#include "link/hid_platform_sim.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace kxtest {

// The default tables and settings file copied into a folder of the test's own, so that windows of
// tests running side by side do not lock each other out of the program folder's files.
struct TableFolder {
    TableFolder() {
        for (const char* name : {"Pw60bdb.DB", "pw60SD.DB", "myseriesini.ini"}) {
            const QString from = QStringLiteral(KX_BUILD_DIR "/") + QString::fromLatin1(name);
            EXPECT_TRUE(QFile::copy(from, path(name))) << name;
            QFile::setPermissions(path(name), QFile::ReadOwner | QFile::WriteOwner);
        }
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    kx::SessionSetup setup(std::shared_ptr<kx::HidPlatform> platform = nullptr) const {
        kx::SessionSetup s;
        // No test depends on the machine's own devices: an empty simulated bus by default.
        s.platform = platform ? std::move(platform) : std::make_shared<kx::SimHidBus>();
        s.liveTable = path("Pw60bdb.DB");
        s.storeTable = path("pw60SD.DB");
        // The folder holds the settings file, so it is the program's folder as the build
        // folder is: nothing is taken from, or written to, the user's data folder.
        s.places = kx::AppDirPlaces{dir.path(), dir.path(), dir.path()};
        return s;
    }

    QTemporaryDir dir;
};

} // namespace kxtest
