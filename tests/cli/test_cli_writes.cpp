// The command line's writes by the rules of every write: what each command refuses (and every
// other failure of a command: it changes nothing), a full disk that fails with the path and the
// reason, modes kept, a reader that goes away, and a table whose last save was cut short
// between its renames.
#include "cli_runner.h"
#include "support/table_files.h"
#include "support/write_faults.h"

#include "common/replacing_file.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace kx;

namespace {

unsigned modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

int dieAt = -1;
bool untilKilled(int step) {
    return step != dieAt;
}

} // namespace

// `monitor --demo | head -2` used to end by SIGPIPE without a word.
TEST(CliWrites, ClosedOutputPipeEndsWithAMessageAndTheCableToldGoodbye) {
    QTemporaryDir dir;
    const QString err = dir.filePath("err");
    const QString script =
        QStringLiteral("'%1' monitor --demo 2>'%2' | head -2 >/dev/null; echo ${PIPESTATUS[0]}")
            .arg(QStringLiteral(KX_CLI_PATH), err);
    QProcess p;
    QProcessEnvironment env = cliEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("kx.link.hid.debug=true"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.readAllStandardOutput().trimmed(), "1") << "not killed by the signal";
    const QByteArray said = fileBytes(err);
    EXPECT_TRUE(said.contains("Cannot write to standard output: Broken pipe")) << said.constData();
    EXPECT_EQ(said.count("setup report sent"), 2) << "on connecting and on the way out\n"
                                                  << said.constData();
}

TEST(CliWrites, ReadOnlyTablesAreNeitherRecordedNorRepaired) {
    QTemporaryDir dir;
    const QString table = tableFile(dir, "ro.db", readingRows(10), true);
    const QString index = px::indexPathFor(table);
    for (const QString& protectedFile : {table, index}) {
        ASSERT_EQ(::chmod(QFile::encodeName(protectedFile).constData(), 0444), 0);
        const QByteArray t0 = fileBytes(table), i0 = fileBytes(index);
        for (const QStringList& args :
             {QStringList{"record", "--demo", "--frames", "2", "--out", table},
              QStringList{"table", "repair", table},
              QStringList{"table", "create", table, "--readings", "--replace"}}) {
            const CliRun r = runCli(args);
            EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString();
            EXPECT_TRUE(r.err.contains("read-only")) << r.err.constData();
            EXPECT_EQ(fileBytes(table), t0);
            EXPECT_EQ(fileBytes(index), i0);
        }
        ASSERT_EQ(::chmod(QFile::encodeName(protectedFile).constData(), 0644), 0);
    }
}

TEST(CliWrites, ReplacedFilesKeepTheirMode) {
    QTemporaryDir dir;
    const QString source = tableFile(dir, "src.db", readingRows(10), true);
    const QString copy = dir.filePath("copy.db");
    const QString text = dir.filePath("copy.txt");
    ASSERT_EQ(runCli({"export", source, copy}).exitCode, 0);
    ASSERT_EQ(runCli({"export", source, text}).exitCode, 0);
    const QStringList files = {copy, px::indexPathFor(copy), text};
    for (const QString& f : files)
        ASSERT_EQ(::chmod(QFile::encodeName(f).constData(), 0600), 0);
    ASSERT_EQ(runCli({"export", source, copy}).exitCode, 0);
    ASSERT_EQ(runCli({"export", source, text}).exitCode, 0);
    ASSERT_TRUE(QFile::remove(px::indexPathFor(copy)));
    ASSERT_TRUE(QFile::copy(px::indexPathFor(source), px::indexPathFor(copy)));
    ASSERT_EQ(::chmod(QFile::encodeName(px::indexPathFor(copy)).constData(), 0600), 0);
    ASSERT_EQ(runCli({"table", "repair", copy}).exitCode, 0);
    const CliRun r = runCli({"record", "--demo", "--frames", "2", "--out", copy});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    for (const QString& f : files)
        EXPECT_EQ(modeOf(f), 0600u) << f.toStdString();
}

// Whatever a command refuses, before it starts or on reading its input: exit 1, the reason
// on stderr once, nothing on stdout, and the folder as it was (no file made, changed or left).
TEST(CliFailures, EachSaysWhyPrintsNothingAndChangesNothing) {
    QTemporaryDir dir;
    auto at = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const QString db = tableFile(dir, "t.db", readingRows(5));
    const QString mine = tableFile(dir, "mine.db", readingRows(2), true);
    ASSERT_TRUE(px::writeTable(at("ids.db"), {{"Id", px::FieldType::Long, 4}},
                               {{px::Value(std::int32_t(1))}})
                    .ok());
    ASSERT_EQ(runCli({"table", "create", at("store.db"), "--store"}).exitCode, 0);
    ASSERT_TRUE(putFile(at("junk.db"), QByteArray(3000, 'x')));
    ASSERT_TRUE(putFile(at("bad.png"), "no picture"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub.txt") && QDir(dir.path()).mkdir("sub.jsonl") &&
                QDir(dir.path()).mkdir("folder.db"));
    for (const char* name : {"pipe.png", "pipe.db"})
        ASSERT_EQ(::mkfifo(QFile::encodeName(at(name)).constData(), 0600), 0);
    for (const char* name : {"ro.txt", "ro.xlsx", "ro.pdf", "ro.png"}) {
        ASSERT_TRUE(putFile(at(name), "mine"));
        ASSERT_EQ(::chmod(QFile::encodeName(at(name)).constData(), 0444), 0);
    }
    // A device node of the test's own behind a link: the node must stay a node.
    const bool haveDevice =
        ::mknod(QFile::encodeName(at("null")).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    ASSERT_TRUE(QFile::link(haveDevice ? at("null") : at("pipe.png"), at("linked.png")));

    struct Case {
        QStringList args;
        QString says;
    };
    const Case cases[] = {
        // The target's fault is told before the source is read.
        {{"export", at("absent.db"), at("no/folder/x.txt")}, "folder does not exist"},
        {{"export", at("absent.db"), at("ro.xlsx")}, "read-only"},
        {{"export", db, at("ro.txt")}, "read-only"},
        {{"export", db, at("sub.txt")}, "it is a folder"},
        {{"export", db, at("sub.jsonl")}, "it is a folder"},
        {{"export", db, db}, "it is the table being saved"},
        {{"export", mine, at("mine.PX")}, "it belongs to the table being saved (its index)"},
        {{"export", db, at("T.Results.json")}, "belongs to the table being saved (its test"},
        {{"export", at("absent.db"), at("y.txt")}, "Cannot open table file " + at("absent.db")},
        {{"export", "--store", at("ids.db"), at("o.txt")}, "does not hold readings"},
        {{"chart", at("none.db"), "--out", at("x.bmp")}, "Cannot open table file"},
        {{"chart", at("junk.db"), "--out", at("x.bmp")}, "is not a table file"},
        {{"chart", db, "--out", at("no/such/folder/x.bmp")}, "Cannot create file"},
        {{"chart", db, "--out", at("pipe.png")}, "Cannot create file"},
        {{"chart", db, "--out", at("ro.png")}, "Cannot create file"},
        {{"chart", db, "--out", at("linked.png")}, "Cannot create file"},
        {{"report", at("missing.db"), "--out", at("r.pdf")}, "Cannot open table file"},
        {{"report", db, "--out", at("ro.pdf")}, "read-only"},
        {{"report", at("ids.db"), "--store", "--out", at("ids.txt")}, "does not hold readings"},
        {{"report", db, "--kind", "data+graph", "--picture", at("bad.png"), "--out", at("b.pdf")},
         at("bad.png")},
        {{"record", "--demo", "--frames", "1", "--out", at("pipe.db")}, "it is a pipe, not a file"},
        {{"record", "--demo", "--frames", "1", "--out", at("folder.db")},
         "it is a folder, not a file"},
        // A stored-readings table has no field a recording sets; a damaged file is not read.
        {{"record", "--demo", "--frames", "1", "--append", at("store.db")}, "no field 'No'"},
        {{"record", "--demo", "--frames", "1", "--append", at("junk.db")}, "is not a table file"},
        {{"record", "--frames", "1", "--append", mine}, "not securely connected"},
        {{"monitor", "--frames", "1"},
         "USB interface cable is not securely connected, please check and re-try."},
        {{"results", at("missing.db")}, "Cannot open table file"},
        {{"results", at("ids.db")}, "no field \"No\""},
        {{"query", QStringLiteral("delete from \"%1\"").arg(db)},
         "The statement 'delete' is not supported"},
        {{"query", QStringLiteral("select * from \"%1\" where Colour='red'").arg(db)},
         "no field 'Colour'"},
        {{"query", QStringLiteral("select * from \"%1\"").arg(at("none.db"))},
         "Cannot open table file"},
        {{"replay", at("none.txt")}, "cannot read " + at("none.txt")},
    };
    const auto before = folderState(dir.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = runCli(c.args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
        EXPECT_TRUE(QString::fromUtf8(r.err).contains(c.says)) << r.err.constData();
        EXPECT_EQ(QString::fromUtf8(r.err).count(c.says), 1) << "said once: " << r.err.constData();
    }
    EXPECT_EQ(folderState(dir.path()), before);
}

TEST(CliWrites, APictureGoesWhereALinkToAPlainFilePoints) {
    QTemporaryDir dir;
    const QString table = tableFile(dir, "t.db", readingRows(5));
    const QString real = dir.filePath("real.png");
    ASSERT_TRUE(putFile(real, "old"));
    ASSERT_TRUE(QFile::link(real, dir.filePath("to-real.png")));
    ASSERT_EQ(runCli({"chart", table, "--out", dir.filePath("to-real.png")}).exitCode, 0);
    EXPECT_TRUE(QFileInfo(dir.filePath("to-real.png")).isSymLink());
    EXPECT_TRUE(fileBytes(real).startsWith("\x89PNG"));
}

TEST(CliWrites, FullDiskFailsEveryOutputWithThePath) {
    kxtest::SmallDisk disk(200);
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small file system here";
    QTemporaryDir dir;
    const QString small = tableFile(dir, "r5.db", readingRows(5), true);
    const QString big = tableFile(dir, "r1000.db", readingRows(1000), true);
    auto args = [](const QString& name, const QString& source, const QString& out) {
        if (name.endsWith(".txt"))
            return QStringList{"export", source, out};
        return QStringList{name.endsWith(".png") ? "chart" : "report", source, "--out", out};
    };
    const QStringList outs = {"old.txt", "old.pdf", "old.html", "old.png"};
    QMap<QString, QByteArray> before;
    for (const QString& o : outs) {
        ASSERT_EQ(runCli(args(o, small, disk.filePath(o))).exitCode, 0) << o.toStdString();
        before[o] = fileBytes(disk.filePath(o));
    }
    disk.fill(512);
    for (const QString& o : outs) {
        SCOPED_TRACE(o.toStdString());
        const QString target = disk.filePath(o);
        const CliRun r = runCli(args(o, big, target));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.count("No space left on device"), 1) << "said once: " << r.err.constData();
        EXPECT_TRUE(r.err.contains(QFile::encodeName(target))) << r.err.constData();
        EXPECT_EQ(fileBytes(target), before[o]);
    }
    EXPECT_EQ(disk.names(), (QStringList{"old.html", "old.pdf", "old.png", "old.txt"}));
}

TEST(CliWrites, TableCommandsFinishASaveCutShortBetweenItsRenames) {
    QTemporaryDir dir;
    const QString table = tableFile(dir, "cut.db", readingRows(10), true);
    dieAt = 1;
    testhooks::setStepFunction(&untilKilled);
    std::vector<px::Record> rows;
    for (int i = 1; i <= 300; ++i)
        rows.push_back({px::Value(std::int32_t(i)), px::Value(), px::Value(), px::Value(),
                        px::Value(), px::Value()});
    const Status s = px::writeKeyedTable(table, readingsFields(), rows);
    testhooks::setStepFunction(nullptr);
    ASSERT_FALSE(s.ok());
    const CliRun r = runCli({"table", "info", table});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(r.jsonLines().value(0)["recordCount"].toInt(), 300);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"cut.db", "cut.px"}));
}
