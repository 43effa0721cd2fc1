#pragma once

// A table file with the journal of a recording beside it, as a killed recorder leaves it or
// as a running one keeps it, for the tests of every command that opens a table.

#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "readings/table_file_io.h"
#include "recording/recording_keeper.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>
#include <vector>

namespace kxtest {

// How the table's journal stands when the file is opened.
enum class Journal {
    LeftOver,  // a recorder killed after its checkpoint: the file and its folder writable
    ReadOnly,  // the same, the table read-only
    Running,   // a recording into the table runs (in this process)
    TwoAtOnce, // the same, read by two at once
    Held,      // no journal; the file held as the window holds the files it opens
};

// One insulation test of kInFile readings a second apart, and kJournalled more after it.
inline constexpr int kInFile = 12;
inline constexpr int kJournalled = 3;

inline kx::Reading testReading(std::int32_t no) {
    return {no, 1000 * no, "1.5", "M\xA6\xB8", "IR:500V 20G\xA6\xB8", "Continuous"};
}

// The first field of every record of a table file; empty when it cannot be read.
inline std::vector<int> numbersIn(const QString& path) {
    std::vector<int> out;
    const kx::Result<std::vector<kx::px::Record>> rows = kx::px::readTable(path);
    if (rows.ok()) {
        for (const kx::px::Record& r : rows.value())
            out.push_back(static_cast<int>(r[0].toInt()));
    }
    return out;
}

inline std::vector<int> oneTo(int n) {
    std::vector<int> v;
    for (int i = 1; i <= n; ++i)
        v.push_back(i);
    return v;
}

// A keyed readings table "K.db" of kInFile readings in a folder of its own, with the journal
// the case asks for.
struct JournalScene {
    QTemporaryDir dir;
    QString table = dir.filePath(QStringLiteral("K.db"));
    kx::ReadingsTable live;
    std::unique_ptr<kx::RecordingKeeper> keeper;
    kx::ReadingsTable holder;

    explicit JournalScene(Journal kind) {
        live.openScratch(kx::readingsFields());
        for (int n = 1; n <= kInFile; ++n)
            EXPECT_TRUE(live.appendReading(testReading(n)).ok());
        EXPECT_TRUE(kx::saveKeyedCopy(live, table).ok());
        if (kind == Journal::Held) {
            holder.setTableName(table);
            EXPECT_TRUE(holder.open().ok());
            return;
        }
        live.openScratch(kx::readingsFields());
        keeper = std::make_unique<kx::RecordingKeeper>(live);
        const kx::Result<kx::KeptFile> kept =
            keeper->keepInFile(table, true, QDateTime::currentDateTime());
        EXPECT_TRUE(kept.ok()) << kept.error().toStdString();
        for (int n = kInFile + 1; n <= kInFile + kJournalled; ++n)
            EXPECT_TRUE(live.appendReading(testReading(n)).ok());
        if (kind == Journal::LeftOver || kind == Journal::ReadOnly)
            keeper->leave(); // what a kill leaves: the journal, unlocked
        if (kind == Journal::ReadOnly) {
            EXPECT_EQ(::chmod(QFile::encodeName(table).constData(), 0444), 0);
        }
    }
    ~JournalScene() {
        if (keeper)
            keeper->leave();
    }
    JournalScene(const JournalScene&) = delete;
    JournalScene& operator=(const JournalScene&) = delete;

    QString journal() const { return kx::RecordingKeeper::journalBeside(table); }
    QStringList recovered() const {
        return QDir(dir.path()).entryList({QStringLiteral("recovered-*.db")}, QDir::Files);
    }
};

} // namespace kxtest
