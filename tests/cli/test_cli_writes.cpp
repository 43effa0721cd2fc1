// The command line's writes by the rules of every write: what each command refuses before it
// starts, a full disk that fails with the path and the reason, modes kept, a reader that goes
// away, and a table whose last save was cut short between its renames.
#include "cli_runner.h"
#include "support/table_files.h"
#include "support/write_faults.h"

#include "common/replacing_file.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "recording/readings_schema.h"

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

// A readings table of n records, as the program writes them.
QString readingsTable(const QTemporaryDir& dir, const char* name, int n) {
    std::vector<px::Record> rows;
    for (int i = 1; i <= n; ++i)
        rows.push_back({px::Value(std::int32_t(i)), px::Value::timeOfDay(i * 1000),
                        px::Value(QByteArray("1.234")), px::Value(QByteArray("V")),
                        px::Value(QByteArray("DCV  600V")), px::Value(QByteArray("Continuous"))});
    const QString path = dir.filePath(QString::fromLatin1(name));
    EXPECT_TRUE(px::writeKeyedTable(path, readingsFields(), rows).ok());
    return path;
}

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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KXLINK_DEVICES"), QStringLiteral("none"));
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
    const QString table = readingsTable(dir, "ro.db", 10);
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
    const QString source = readingsTable(dir, "src.db", 10);
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

TEST(CliWrites, PicturesAreCheckedBeforeTheyAreDrawn) {
    QTemporaryDir dir;
    const QString table = readingsTable(dir, "t.db", 5);
    const QString fifo = dir.filePath("pipe.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString readOnly = dir.filePath("old.png");
    ASSERT_TRUE(putFile(readOnly, "old picture"));
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    // A device node of the test's own behind a link: the node must stay a node.
    const QString device = dir.filePath("null");
    const bool haveDevice =
        ::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const QString linked = dir.filePath("linked.png");
    ASSERT_TRUE(QFile::link(haveDevice ? device : fifo, linked));
    for (const QString& out : {fifo, readOnly, linked}) {
        const CliRun r = runCli({"chart", table, "--out", out}, {}, 30000);
        EXPECT_EQ(r.exitCode, 1) << out.toStdString();
        EXPECT_TRUE(r.err.contains("Cannot create file")) << r.err.constData();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    EXPECT_EQ(fileBytes(readOnly), "old picture");
    if (haveDevice) {
        EXPECT_TRUE(QFileInfo(device).exists() && !QFileInfo(device).isFile());
    }

    // Through a link to a plain file, the picture goes where the link points.
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
    const QString small = readingsTable(dir, "r5.db", 5);
    const QString big = readingsTable(dir, "r1000.db", 1000);
    struct Out {
        const char* name;
        QStringList (*args)(const QString& src, const QString& out);
    };
    const Out outs[] = {
        {"old.txt",
         [](const QString& s, const QString& o) {
             return QStringList{"export", s, o};
         }},
        {"old.pdf",
         [](const QString& s, const QString& o) {
             return QStringList{"report", s, "--out", o};
         }},
        {"old.html",
         [](const QString& s, const QString& o) {
             return QStringList{"report", s, "--out", o};
         }},
        {"old.png",
         [](const QString& s, const QString& o) {
             return QStringList{"chart", s, "--out", o};
         }},
    };
    for (const Out& o : outs)
        ASSERT_EQ(runCli(o.args(small, disk.filePath(o.name))).exitCode, 0) << o.name;
    QMap<QString, QByteArray> before;
    for (const Out& o : outs)
        before[o.name] = fileBytes(disk.filePath(o.name));
    disk.fill(512);
    for (const Out& o : outs) {
        const QString target = disk.filePath(o.name);
        const CliRun r = runCli(o.args(big, target));
        EXPECT_EQ(r.exitCode, 1) << o.name;
        EXPECT_TRUE(r.err.contains("No space left on device")) << o.name << r.err.constData();
        EXPECT_TRUE(r.err.contains(QFile::encodeName(target))) << r.err.constData();
        EXPECT_EQ(fileBytes(target), before[o.name]) << o.name;
    }
    EXPECT_EQ(disk.names(), (QStringList{"old.html", "old.pdf", "old.png", "old.txt"}));
}

TEST(CliWrites, TableCommandsFinishASaveCutShortBetweenItsRenames) {
    QTemporaryDir dir;
    const QString table = readingsTable(dir, "cut.db", 10);
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
