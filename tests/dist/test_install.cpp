// The program as a user gets it: installed under a prefix (staged in a scratch DESTDIR), run
// from there with a fresh home, and packed into a Debian package.
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ProcessRun {
    int exitCode = -1; // -2: crashed, -1: did not start or did not end in time
    QByteArray out;
    QByteArray err;
};

ProcessRun run(const QString& program, const QStringList& args, const QProcessEnvironment& env,
               int timeoutMs = 120000) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    ProcessRun r;
    if (!p.waitForStarted(timeoutMs))
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = p.readAllStandardError();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file under `dir`, relative to it.
QSet<QString> filesUnder(const QString& dir) {
    QSet<QString> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.insert(QDir(dir).relativeFilePath(it.next()));
    return files;
}

const QString kTemplates = QStringLiteral("usr/share/kxlink/");

// The files an installation under /usr holds, staged paths without the leading "/".
QStringList expectedFiles() {
    return {
        "usr/bin/kxlink",
        "usr/bin/kxlink-cli",
        kTemplates + "Pw60bdb.DB",
        kTemplates + "pw60SD.DB",
        kTemplates + "myseriesini.ini",
        "usr/share/applications/org.kxlink.kxlink.desktop",
        "usr/share/icons/hicolor/scalable/apps/org.kxlink.kxlink.svg",
        "usr/share/metainfo/org.kxlink.kxlink.metainfo.xml",
        "usr/share/man/man1/kxlink.1.gz",
        "usr/share/man/man1/kxlink-cli.1.gz",
        "usr/share/doc/kxlink/copyright",
        "usr/share/doc/kxlink/changelog.gz",
        QStringLiteral(KX_UDEV_RULES_DIR "/60-kxlink.rules").mid(1),
    };
}

// `make install DESTDIR=... PREFIX=/usr`, done by the same install step, into a scratch folder.
struct Installed : ::testing::Test {
    QTemporaryDir root;
    QString stage = root.filePath("stage");
    QString bin = stage + "/usr/bin/";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        QProcessEnvironment installEnv = env;
        installEnv.insert("DESTDIR", stage);
        const ProcessRun r =
            run(QStringLiteral(KX_CMAKE_COMMAND), {"--install", KX_BUILD_DIR, "--prefix", "/usr"},
                installEnv, 300000);
        ASSERT_EQ(r.exitCode, 0) << r.out.constData() << r.err.constData();
        env.insert("KXLINK_DEVICES", "none");
        env.insert("QT_QPA_PLATFORM", "offscreen");
    }

    ProcessRun cli(const QStringList& args) { return run(bin + "kxlink-cli", args, env); }

    QJsonObject firstJson(const ProcessRun& r) {
        return QJsonDocument::fromJson(r.out.split('\n').value(0)).object();
    }
};

} // namespace

TEST_F(Installed, EveryFileLandsInItsPlace) {
    for (const QString& f : expectedFiles())
        EXPECT_TRUE(QFileInfo(stage + "/" + f).isFile()) << f.toStdString();
    for (const char* exe : {"kxlink", "kxlink-cli"})
        EXPECT_TRUE(QFileInfo(bin + exe).isExecutable()) << exe;
    // Nothing strays outside the prefix but the udev rule.
    for (const QString& f : filesUnder(stage)) {
        EXPECT_TRUE(f.startsWith("usr/") || f.startsWith(QStringLiteral(KX_UDEV_RULES_DIR).mid(1)))
            << f.toStdString();
    }
    // Manual pages are compressed, as man and the packaging tools expect.
    EXPECT_TRUE(fileBytes(stage + "/usr/share/man/man1/kxlink.1.gz").startsWith("\x1f\x8b"));
    // The manual is installed once the build has one.
    EXPECT_EQ(QFileInfo::exists(stage + "/" + kTemplates + "help/index.html"),
              QFileInfo::exists(KX_BUILD_DIR "/help/index.html"));
}

TEST_F(Installed, TheInstalledCommandLineWorks) {
    const ProcessRun usage = cli({});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_TRUE(usage.err.contains("kxlink-cli table")) << usage.err.constData();

    // The installed default tables are the program's readings tables.
    ProcessRun r = cli({"table", "info", stage + "/" + kTemplates + "Pw60bdb.DB"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    QJsonObject info = firstJson(r);
    EXPECT_EQ(info["recordCount"].toInt(), 0);
    EXPECT_EQ(info["fields"].toArray().at(0)["name"].toString(), "No");

    r = cli({"table", "info", stage + "/" + kTemplates + "pw60SD.DB"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(firstJson(r)["fields"].toArray().at(0)["name"].toString(), "SNo");

    r = cli({"decode", "FFF700007D7AE07D5B100EE3A7368857D7DFD0EF0D0A"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(firstJson(r)["value"].toString(), "1.234");

    // A short recording from the simulated meter, written and read back.
    const QString out = root.filePath("run.db");
    r = cli({"record", "--demo", "--frames", "3", "--out", out});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const qint64 recorded = firstJson(r)["records"].toInteger();
    EXPECT_GT(recorded, 0);
    r = cli({"table", "info", out});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_EQ(firstJson(r)["recordCount"].toInteger(), recorded);
}

TEST_F(Installed, TheWindowStartsInAnEmptyHomeAndKeepsTheUsersFiles) {
    const QString home = root.filePath("home");
    ASSERT_TRUE(QDir().mkpath(home));
    QProcessEnvironment user = env;
    user.insert("HOME", home);
    for (const char* v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        user.remove(v);
    const QSet<QString> installed = filesUnder(stage);
    const QString data = home + "/.local/share/kxlink/";

    // First start: the data folder is made and filled, the window opens, EXIT ends it.
    ProcessRun r = run(bin + "kxlink", {"--exit-after-start"}, user);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    for (const char* f : {"myseriesini.ini", "Pw60bdb.DB", "pw60SD.DB"})
        EXPECT_TRUE(QFileInfo(data + f).isFile()) << f;
    EXPECT_EQ(QFileInfo::exists(data + "help/index.html"),
              QFileInfo::exists(stage + "/" + kTemplates + "help/index.html"));
    EXPECT_TRUE(fileBytes(data + "myseriesini.ini").contains("[Historyfile]"));
    // The installation itself is only read.
    EXPECT_EQ(filesUnder(stage), installed);
    EXPECT_EQ(fileBytes(stage + "/" + kTemplates + "Pw60bdb.DB"),
              fileBytes(KX_BUILD_DIR "/Pw60bdb.DB"));

    // The user's settings survive the next run; a table the user deleted comes back.
    QFile ini(data + "myseriesini.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write("[Historyfile]\nNo1=&1   /srv/site/a.db\n");
    ini.close();
    ASSERT_TRUE(QFile::remove(data + "Pw60bdb.DB"));
    r = run(bin + "kxlink", {"--exit-after-start"}, user);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(fileBytes(data + "myseriesini.ini").contains("No1=&1   /srv/site/a.db"));
    EXPECT_TRUE(QFileInfo(data + "Pw60bdb.DB").isFile());
}

TEST(Package, HoldsTheInstallationWithItsDependenciesAndUdevStep) {
    const QStringList debs =
        QDir(KX_BUILD_DIR).entryList({QStringLiteral("kxlink_" KX_VERSION "_*.deb")});
    if (debs.isEmpty())
        GTEST_SKIP() << "no package in " KX_BUILD_DIR "; `make package` builds it";
    const QString deb = QStringLiteral(KX_BUILD_DIR "/") + debs.first();
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    ProcessRun r = run("dpkg-deb", {"-c", deb}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QString list = QString::fromUtf8(r.out);
    for (const QString& f : expectedFiles())
        EXPECT_TRUE(list.contains(" ./" + f + "\n")) << f.toStdString();
    EXPECT_FALSE(list.contains("./usr/local/"));
    for (const QString& line : list.split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.contains(" root/root ")) << line.toStdString();

    r = run("dpkg-deb", {"-f", deb, "Package", "Version", "Depends", "Recommends"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("Package: kxlink\n"));
    EXPECT_TRUE(r.out.contains("Version: " KX_VERSION "\n"));
    EXPECT_TRUE(r.out.contains("libqt6widgets6")) << "from the libraries the programs use";
    EXPECT_TRUE(r.out.contains("fonts-liberation2"));
    EXPECT_TRUE(r.out.contains("Recommends: udev"));

    r = run("dpkg-deb", {"-I", deb, "postinst"}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("udevadm control --reload-rules"));
}

TEST(DesktopFiles, MenuEntryAndMetainfoValidateAndAgree) {
    const QString linux = QStringLiteral(KX_SOURCE_DIR "/dist/linux/");
    const QString desktop = linux + "org.kxlink.kxlink.desktop";
    const QString metainfo = linux + "org.kxlink.kxlink.metainfo.xml";
    // The menu entry starts the installed program and shows the installed icon; the
    // software centre's description points at that entry.
    const QByteArray entry = fileBytes(desktop);
    EXPECT_TRUE(entry.contains("\nExec=kxlink\n"));
    EXPECT_TRUE(entry.contains("\nIcon=org.kxlink.kxlink\n"));
    EXPECT_TRUE(QFileInfo::exists(linux + "org.kxlink.kxlink.svg"));
    EXPECT_TRUE(fileBytes(metainfo).contains(
        "<launchable type=\"desktop-id\">org.kxlink.kxlink.desktop</launchable>"));

    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const bool haveDesktop = !QStandardPaths::findExecutable("desktop-file-validate").isEmpty();
    const bool haveAppstream = !QStandardPaths::findExecutable("appstreamcli").isEmpty();
    if (haveDesktop) {
        const ProcessRun r = run("desktop-file-validate", {desktop}, env);
        EXPECT_EQ(r.exitCode, 0) << r.out.constData() << r.err.constData();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
    }
    if (haveAppstream) {
        const ProcessRun r =
            run("appstreamcli", {"validate", "--no-net", "--pedantic", metainfo}, env);
        EXPECT_EQ(r.exitCode, 0) << r.out.constData() << r.err.constData();
    }
    if (!haveDesktop || !haveAppstream)
        GTEST_SKIP()
            << "desktop-file-validate or appstreamcli missing; `make package` installs them";
}

TEST(ManualPages, RenderWithoutWarnings) {
    if (QStandardPaths::findExecutable("man").isEmpty())
        GTEST_SKIP() << "man is not installed";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    env.insert("MANWIDTH", "80");
    for (const char* page : {"kxlink.1", "kxlink-cli.1"}) {
        const ProcessRun r = run(
            "man",
            {"--warnings", "-E", "UTF-8", "-l", QStringLiteral(KX_SOURCE_DIR "/dist/man/") + page},
            env);
        EXPECT_EQ(r.exitCode, 0) << page;
        EXPECT_TRUE(r.err.isEmpty()) << page << ": " << r.err.constData();
        EXPECT_TRUE(r.out.contains("SYNOPSIS")) << page;
    }
}

TEST(ManualPages, TheCommandLinePageNamesEveryCommand) {
    // The front end lists its commands in its usage text; each has its place in the page.
    const ProcessRun usage =
        run(QStringLiteral(KX_CLI_PATH), {}, QProcessEnvironment::systemEnvironment());
    ASSERT_EQ(usage.exitCode, 2);
    const QByteArray page = fileBytes(QStringLiteral(KX_SOURCE_DIR "/dist/man/kxlink-cli.1"));
    int commands = 0;
    for (const QByteArray& line : usage.err.split('\n')) {
        const QByteArray t = line.trimmed();
        if (!t.startsWith("kxlink-cli "))
            continue;
        const QByteArray name = t.split(' ').value(1);
        QByteArray roff = name;
        roff.replace("-", "\\-");
        EXPECT_TRUE(page.contains(".B kxlink\\-cli " + roff) ||
                    page.contains(".B kxlink\\-cli " + roff + " "))
            << "kxlink-cli " << name.constData() << " is missing from the manual page";
        ++commands;
    }
    EXPECT_GE(commands, 6);
}
