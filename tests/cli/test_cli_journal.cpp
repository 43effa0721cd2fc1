// Every command that reads a table file gives the journal of a recording into it its due: the
// readings a killed recorder left are added to the file (or shown, when it cannot be written),
// and a recording that runs keeps no reader out.
#include "cli_runner.h"
#include "support/journal_scene.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace kxtest;

namespace {

using Scene = JournalScene;

struct Reader {
    const char* name;
    QStringList (*args)(const Scene&);
    // The records the reader showed.
    qint64 (*seen)(const CliRun&);
    bool writes; // refused while anyone holds the file
};

qint64 lastObject(const CliRun& r, const char* key) {
    const QList<QJsonObject> o = r.jsonLines();
    return o.isEmpty() ? -1 : o.last()[QLatin1String(key)].toInteger(-1);
}

const Reader kReaders[] = {
    {"table info",
     [](const Scene& s) {
         return QStringList{"table", "info", s.table};
     },
     [](const CliRun& r) { return lastObject(r, "recordCount"); }, false},
    {"table dump",
     [](const Scene& s) {
         return QStringList{"table", "dump", s.table};
     },
     [](const CliRun& r) { return qint64(r.out.trimmed().split('\n').size()) - 1; }, false},
    {"query",
     [](const Scene& s) {
         return QStringList{"query",
                            QStringLiteral("select * from \"%1\" where Unit=\"MΩ\"").arg(s.table)};
     },
     [](const CliRun& r) { return lastObject(r, "rows"); }, false},
    {"export",
     [](const Scene& s) {
         return QStringList{"export", s.table, s.dir.filePath("e.jsonl")};
     },
     [](const CliRun& r) { return lastObject(r, "records"); }, false},
    {"results",
     [](const Scene& s) {
         return QStringList{"results", s.table};
     },
     // The one test runs to the last record.
     [](const CliRun& r) { return qint64(r.jsonLines().value(0)["last"].toInt(-1)); }, false},
    {"report",
     [](const Scene& s) {
         return QStringList{"report", s.table, "--out", s.dir.filePath("r.csv")};
     },
     [](const CliRun& r) { return lastObject(r, "records"); }, false},
    {"chart",
     [](const Scene& s) {
         return QStringList{"chart", s.table, "--out", s.dir.filePath("c.png")};
     },
     [](const CliRun& r) { return lastObject(r, "points"); }, false},
    {"table repair",
     [](const Scene& s) {
         return QStringList{"table", "repair", s.table};
     },
     [](const CliRun& r) { return lastObject(r, "records"); }, true},
};

// Two runs of the command-line front end side by side.
std::pair<CliRun, CliRun> runTwoAtOnce(const QStringList& args) {
    QProcess a, b;
    for (QProcess* p : {&a, &b}) {
        p->setProcessEnvironment(cliEnvironment());
        p->start(QStringLiteral(KX_CLI_PATH), args);
    }
    auto collect = [](QProcess& p) {
        CliRun r;
        if (p.waitForFinished(60000)) {
            r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
            r.out = p.readAllStandardOutput();
            r.err = p.readAllStandardError();
        }
        return r;
    };
    CliRun first = collect(a);
    return {first, collect(b)};
}

} // namespace

TEST(CliJournalBesideTheTable, EveryReaderShowsItsReadingsAndSaysWhereTheyAre) {
    struct Case {
        const char* name;
        Journal kind;
        const char* says;  // on stderr, for every reader that succeeds
        bool fileGetsThem; // the file holds the journalled readings afterwards
        bool journalStays;
    };
    const Case cases[] = {
        {"left over", Journal::LeftOver,
         "3 readings of a recording into %1 that did not end normally were added to it", true,
         false},
        {"left over, table read-only", Journal::ReadOnly,
         "3 readings of a recording into %1 that did not end normally are shown, but not yet "
         "in the file",
         false, true},
        {"recording runs", Journal::Running,
         "A recording into %1 is in progress: 3 readings after its last checkpoint are shown",
         false, true},
        {"recording runs, two readers at once", Journal::TwoAtOnce,
         "A recording into %1 is in progress: 3 readings after its last checkpoint are shown",
         false, true},
        {"held by the window", Journal::Held, "", false, false},
    };
    for (const Case& c : cases) {
        for (const Reader& reader : kReaders) {
            SCOPED_TRACE(std::string(c.name) + ": " + reader.name);
            Scene scene(c.kind);
            const QString says = *c.says ? QString::fromUtf8(c.says).arg(scene.table) : QString();
            const bool held = c.kind == Journal::Running || c.kind == Journal::TwoAtOnce ||
                              c.kind == Journal::Held;
            std::vector<CliRun> runs;
            if (c.kind == Journal::TwoAtOnce) {
                auto [a, b] = runTwoAtOnce(reader.args(scene));
                runs = {a, b};
            } else {
                runs = {runCli(reader.args(scene))};
            }
            for (const CliRun& run : runs) {
                if (reader.writes && (held || c.kind == Journal::ReadOnly)) {
                    // A writer stays refused; a repair cannot write a read-only table.
                    EXPECT_EQ(run.exitCode, 1) << run.err.constData();
                    continue;
                }
                ASSERT_EQ(run.exitCode, 0) << run.err.constData();
                const int expected = kInFile + (c.kind == Journal::Held ? 0 : kJournalled);
                EXPECT_EQ(reader.seen(run), expected) << run.out.constData();
                if (says.isEmpty()) {
                    EXPECT_FALSE(run.err.contains("recording")) << run.err.constData();
                } else {
                    EXPECT_TRUE(QString::fromUtf8(run.err).contains(says)) << run.err.constData();
                }
            }
            const int inFile = kInFile + (c.fileGetsThem ? kJournalled : 0);
            EXPECT_EQ(numbersIn(scene.table), oneTo(inFile));
            EXPECT_EQ(QFile::exists(scene.journal()), c.journalStays);
            EXPECT_TRUE(scene.recovered().isEmpty());
        }
    }
}

// A new recording over a file that a killed one left readings beside keeps them beside it,
// since the file is to hold the new recording.
TEST(CliJournalBesideTheTable, RecordOutOverItKeepsTheReadingsBesideTheFile) {
    Scene scene(Journal::LeftOver);
    const CliRun r = runCli({"record", "--demo", "--frames", "2", "--out", scene.table});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_FALSE(r.err.contains("added")) << r.err.constData();
    const QStringList saved = scene.recovered();
    ASSERT_EQ(saved.size(), 1) << r.err.constData();
    EXPECT_TRUE(QString::fromUtf8(r.err).contains(
        QStringLiteral("3 readings of a recording into %1 that did not end normally were saved "
                       "beside it as %2")
            .arg(scene.table, scene.dir.filePath(saved[0]))))
        << r.err.constData();
    EXPECT_EQ(numbersIn(scene.dir.filePath(saved[0])), (std::vector<int>{13, 14, 15}));
    EXPECT_EQ(numbersIn(scene.table), oneTo(2));
    EXPECT_FALSE(QFile::exists(scene.journal()));
}
