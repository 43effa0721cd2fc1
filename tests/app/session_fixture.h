#pragma once

#include "app/app_session.h"
#include "link/connection_control.h"
#include "link/hid_platform_sim.h"
#include "link/meter_simulator.h"
#include "paradox/paradox_reader.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kxtest {

// A program folder of the test's own: the default tables and the settings file as the build
// makes them, so that windows of tests running side by side do not lock each other out of the
// program folder's files, and no test touches the build's own settings or the user's data
// folder.
struct TableFolder {
    TableFolder() {
        for (const char* name : {"Pw60bdb.DB", "pw60SD.DB"}) {
            const QString from = QStringLiteral(KX_BUILD_DIR "/") + QString::fromLatin1(name);
            EXPECT_TRUE(QFile::copy(from, path(name))) << name;
            QFile::setPermissions(path(name), QFile::ReadOwner | QFile::WriteOwner);
        }
        EXPECT_TRUE(QFile::copy(settingsTemplate(), settingsPath()));
        QFile::setPermissions(settingsPath(), QFile::ReadOwner | QFile::WriteOwner);
    }
    static QString settingsTemplate() {
        return QStringLiteral(KX_SOURCE_DIR "/dist/templates/myseriesini.ini");
    }
    QString settingsPath() const { return path("myseriesini.ini"); }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    kx::SessionSetup setup(std::shared_ptr<kx::HidPlatform> platform = nullptr) const {
        kx::SessionSetup s;
        // No test depends on the machine's own devices: an empty simulated bus by default.
        s.platform = platform ? std::move(platform) : std::make_shared<kx::SimHidBus>();
        s.liveTable = path("Pw60bdb.DB");
        s.storeTable = path("pw60SD.DB");
        s.appDir = dir.path();
        s.journalFolder = dir.filePath(QStringLiteral("journal"));
        return s;
    }

    QTemporaryDir dir;
};

// The frame the meter sends while it shows `value` in `unit`.
inline std::string frameShowing(const std::string& value,
                                kx::MeterUnit unit = kx::MeterUnit::None) {
    kx::MeterDisplay d;
    d.reading = value;
    d.unit = unit;
    return kx::frameHex(kx::encodeFrame(d));
}

// Records a table file holds, read past any lock a window holds; -1 when it cannot be read.
inline qint64 recordsOnDisk(const QString& path) {
    const kx::Result<kx::px::TableReader> r = kx::px::TableReader::open(path);
    return r.ok() ? r.value().info().recordCount : -1;
}

// A connected meter falls silent: idle reports up to the limit, then the watchdog's ticks.
inline void silenceMeter(kx::AppSession& session) {
    const std::uint8_t idle[8] = {0xF0};
    for (int i = 0; i < kx::ConnectionControl::kIdleReportLimit; ++i)
        session.receiver().ReadPw60(0, idle, 8);
    for (int i = 0; i < 3; ++i)
        session.link().ConTimerTimer();
}

} // namespace kxtest
