// Where the program keeps its files: the executable's folder when it carries its settings
// file, otherwise the user's data folder, filled from the installed templates.
#include "common/app_dir.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kx;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Temporary copies a fill leaves behind would pile up in the user's folder.
QStringList leftovers(const QString& dir) {
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        if (QFileInfo(f).fileName().startsWith(QLatin1String(".kxlink-copy")))
            found << f;
    }
    return found;
}

// An installation in a scratch folder: bin/ without a settings file, share/kxlink/ with the
// templates, and a home whose data folder does not exist yet.
struct Installed : ::testing::Test {
    QTemporaryDir root;
    QString bin = root.filePath("usr/bin");
    QString templates = root.filePath("usr/share/kxlink");
    QString data = root.filePath("home/.local/share/kxlink");

    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        QDir().mkpath(bin);
        write(templates + "/myseriesini.ini", "[Historyfile]\n");
        write(templates + "/Pw60bdb.DB", QByteArray(2048, 'L'));
        write(templates + "/pw60SD.DB", QByteArray(2048, 'S'));
        write(templates + "/help/index.html", "<html>manual</html>");
        write(templates + "/help/images/panel.png", QByteArray(100, 'P'));
    }
    AppDirPlaces places() const { return {bin, data, templates}; }
};

} // namespace

TEST_F(Installed, TheDataFolderIsUsedUnlessTheExecutablesFolderHasItsSettings) {
    EXPECT_EQ(resolveAppDir(places()), data + "/");
    EXPECT_FALSE(QFileInfo::exists(data)) << "resolving changes nothing on disk";

    write(bin + "/myseriesini.ini", "[Historyfile]\n");
    EXPECT_EQ(resolveAppDir(places()), bin + "/") << "a folder carried with its settings";
    // A portable folder is used as it is: nothing is copied into the data folder.
    ASSERT_TRUE(prepareAppDir(places()).ok());
    EXPECT_FALSE(QFileInfo::exists(data));

    // Without any data folder, the executable's folder is all there is.
    EXPECT_EQ(resolveAppDir({bin + "/", QString(), templates}), bin + "/");
}

TEST_F(Installed, FirstStartFillsTheDataFolderFromTheTemplates) {
    ASSERT_TRUE(prepareAppDir(places()).ok());
    for (const char* f : {"myseriesini.ini", "Pw60bdb.DB", "pw60SD.DB", "help/index.html",
                          "help/images/panel.png"}) {
        EXPECT_EQ(readAll(data + "/" + f), readAll(templates + "/" + f)) << f;
        EXPECT_TRUE(QFileInfo(data + "/" + f).isWritable()) << f;
    }
    EXPECT_TRUE(leftovers(data).isEmpty()) << leftovers(data).join(' ').toStdString();
    // The installed templates are only read.
    EXPECT_EQ(readAll(templates + "/Pw60bdb.DB"), QByteArray(2048, 'L'));
}

TEST_F(Installed, AUsersFilesAreNeverReplacedAndMissingOnesComeBack) {
    ASSERT_TRUE(fillAppDir(data, templates).ok());
    write(data + "/myseriesini.ini", "[Historyfile]\nNo1=&1   /home/tech/site.db\n");
    QFile::remove(data + "/Pw60bdb.DB");
    // A link the user made to a table elsewhere stays a link to it.
    write(root.filePath("elsewhere/stored.DB"), "the user's stored readings");
    QFile::remove(data + "/pw60SD.DB");
    ASSERT_TRUE(QFile::link(root.filePath("elsewhere/stored.DB"), data + "/pw60SD.DB"));

    ASSERT_TRUE(fillAppDir(data, templates).ok());
    EXPECT_EQ(readAll(data + "/myseriesini.ini"), "[Historyfile]\nNo1=&1   /home/tech/site.db\n");
    EXPECT_TRUE(QFileInfo(data + "/pw60SD.DB").isSymLink());
    EXPECT_EQ(readAll(root.filePath("elsewhere/stored.DB")), "the user's stored readings");
    EXPECT_EQ(readAll(data + "/Pw60bdb.DB"), QByteArray(2048, 'L')) << "a deleted table returns";

    // Even a link that leads nowhere is the user's, outside the program's manual.
    QFile::remove(data + "/pw60SD.DB");
    ASSERT_TRUE(QFile::link(root.filePath("nowhere"), data + "/pw60SD.DB"));
    ASSERT_TRUE(fillAppDir(data, templates).ok());
    EXPECT_TRUE(QFileInfo(data + "/pw60SD.DB").isSymLink());
}

TEST_F(Installed, TheManualFollowsTheInstalledOne) {
    ASSERT_TRUE(fillAppDir(data, templates).ok());
    const QDateTime firstCopy = QFileInfo(data + "/help/index.html").lastModified();

    // The same manual again: the copy is left alone.
    ASSERT_TRUE(fillAppDir(data, templates).ok());
    EXPECT_EQ(QFileInfo(data + "/help/index.html").lastModified(), firstCopy);

    // A broken page of the manual is mended.
    QFile::remove(data + "/help/images/panel.png");
    ASSERT_TRUE(QFile::link(root.filePath("nowhere"), data + "/help/images/panel.png"));
    ASSERT_TRUE(fillAppDir(data, templates).ok());
    EXPECT_FALSE(QFileInfo(data + "/help/images/panel.png").isSymLink());
    EXPECT_EQ(readAll(data + "/help/images/panel.png"), QByteArray(100, 'P'));

    // An update of the program brings a new manual; the user's settings stay.
    write(data + "/myseriesini.ini", "[Historyfile]\nNo1=&1   /x.db\n");
    write(templates + "/help/index.html", "<html>the new manual</html>");
    write(templates + "/myseriesini.ini", "[Historyfile]\n; a new template\n");
    ASSERT_TRUE(fillAppDir(data, templates).ok());
    EXPECT_EQ(readAll(data + "/help/index.html"), "<html>the new manual</html>");
    EXPECT_EQ(readAll(data + "/myseriesini.ini"), "[Historyfile]\nNo1=&1   /x.db\n");
    EXPECT_TRUE(leftovers(data).isEmpty());
}

TEST_F(Installed, MissingTemplatesAreReportedWhenTheyAreNeeded) {
    const QString gone = root.filePath("usr/share/elsewhere");
    const Status s = fillAppDir(data, gone);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains(gone)) << s.error().toStdString();
    EXPECT_TRUE(s.error().contains("install kxlink again")) << s.error().toStdString();
    EXPECT_FALSE(QFileInfo::exists(data)) << "nothing is made for nothing to copy";

    // Templates without their settings file are no installation either.
    QFile::remove(templates + "/myseriesini.ini");
    EXPECT_FALSE(fillAppDir(data, templates).ok());

    // A data folder that already has its settings works on without templates.
    write(data + "/myseriesini.ini", "[Historyfile]\n");
    EXPECT_TRUE(fillAppDir(data, gone).ok());
}

TEST_F(Installed, AFolderThatCannotBeMadeIsReportedWithItsPath) {
    // A file stands where the data folder belongs.
    write(root.filePath("home/.local/share/kxlink"), "not a folder");
    Status s = prepareAppDir(places());
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains(data)) << s.error().toStdString();
    EXPECT_TRUE(s.error().contains("not a folder")) << s.error().toStdString();

    // A file where a folder of the data folder's own should be.
    QFile::remove(data);
    write(data + "/help", "a file named help");
    s = fillAppDir(data, templates);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains(data + "/help")) << s.error().toStdString();
    EXPECT_TRUE(leftovers(data).isEmpty());
    EXPECT_EQ(readAll(data + "/help"), "a file named help");

    // Under a file, nothing can be created at all: the system's reason is given.
    const QString under = root.filePath("home/.local/share/kxlink/help/deeper");
    s = fillAppDir(under, templates);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains(under)) << s.error().toStdString();
}

TEST_F(Installed, AnUnwritableDataFolderIsReported) {
    QDir().mkpath(data);
    QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile probe(data + "/probe");
    if (probe.open(QIODevice::WriteOnly)) { // the superuser writes anywhere
        probe.remove();
        QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
        GTEST_SKIP() << "permissions do not hold for this user";
    }
    const Status s = fillAppDir(data, templates);
    QFile::setPermissions(data,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains(data)) << s.error().toStdString();
}

TEST(AppDirOfTheRunningProgram, IsWorkedOutOnceWithItsSeparator) {
    const QString dir = AppDir();
    EXPECT_TRUE(dir.endsWith('/'));
    EXPECT_EQ(AppDir(), dir);
    EXPECT_EQ(resolveInAppDir("Pw60bdb.DB"), dir + "Pw60bdb.DB");
    EXPECT_EQ(resolveInAppDir("/abs/x.db"), "/abs/x.db");
    EXPECT_EQ(resolveInAppDir("sub/x.db"), "sub/x.db");

    const AppDirPlaces p = AppDirPlaces::system();
    EXPECT_TRUE(p.dataDir.endsWith("/kxlink")) << p.dataDir.toStdString();
    EXPECT_TRUE(p.templatesDir.endsWith("/share/kxlink")) << p.templatesDir.toStdString();
    EXPECT_FALSE(p.templatesDir.contains("/../"));
}
