// The settings file's reading and writing rules and the recent-files list kept in it.
#include "app/recent_files.h"
#include "app/settings_file.h"
#include "support/table_files.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;

namespace {

QString read(const QByteArray& file, const char* section, const char* key) {
    return profileString(file, QString::fromLatin1(section), QString::fromLatin1(key));
}

QByteArray write(const QByteArray& file, const char* section, const char* key,
                 const QString& value) {
    Result<QByteArray> r =
        withProfileString(file, QString::fromLatin1(section), QString::fromLatin1(key), value);
    EXPECT_TRUE(r.ok()) << r.error().toStdString();
    return r.ok() ? r.value() : QByteArray();
}

const QByteArray kFile = "; kept by the program\r\n"
                         "[Other]\r\n"
                         "No1=elsewhere\r\n"
                         "\r\n"
                         "[ HistoryFile ]\r\n"
                         "  no1 =   &1   /home/u/a.db  \r\n"
                         "No2=&2   \r\n"
                         "junk without an equals sign\r\n"
                         "\r\n"
                         "[Historyfile]\r\n"
                         "No3=second section is never read\r\n";

} // namespace

TEST(SettingsRead, NamesIgnoreCaseAndValuesAreTrimmed) {
    EXPECT_EQ(read(kFile, "Historyfile", "No1"), "&1   /home/u/a.db");
    EXPECT_EQ(read(kFile, "HISTORYFILE", "NO1"), "&1   /home/u/a.db");
    EXPECT_EQ(read(kFile, "Other", "no1"), "elsewhere");
    // A bare prefix reads back without its blanks and so stays hidden.
    EXPECT_EQ(read(kFile, "Historyfile", "No2"), "&2");
    // Missing keys and sections read as empty; the first section of a name is the one.
    EXPECT_EQ(read(kFile, "Historyfile", "No3"), "");
    EXPECT_EQ(read(kFile, "Nowhere", "No1"), "");
    EXPECT_EQ(read({}, "Historyfile", "No1"), "");
    EXPECT_EQ(read("No1=before any section\n", "Historyfile", "No1"), "");
    EXPECT_EQ(read("[Historyfile]\n;No1=commented\n", "Historyfile", "No1"), "");
    EXPECT_EQ(read("[Historyfile", "Historyfile", "No1"), "") << "unclosed, no keys";
    EXPECT_EQ(read("[Historyfile]\nNo1=a=b", "historyfile", "no1"), "a=b");
}

TEST(SettingsRead, ValuesAreCutAt2047Characters) {
    const QByteArray longValue(5000, 'x');
    EXPECT_EQ(read("[S]\nK=" + longValue + "\n", "S", "K"), QString(2047, QLatin1Char('x')));
    const QByteArray exact(2047, 'y');
    EXPECT_EQ(read("[S]\nK=" + exact, "S", "K").size(), 2047);
}

TEST(SettingsRead, ByteOrderMarkAndCodePage936) {
    EXPECT_EQ(read("\xEF\xBB\xBF[S]\nK=v\n", "S", "K"), "v");
    EXPECT_EQ(read("[S]\nK=/home/\xC3\xA9t\xC3\xA9.db\n", "S", "K"),
              QString::fromUtf8("/home/été.db"));
    // Not UTF-8: a file written on the meter's original PC.
    EXPECT_EQ(read("[S]\nK=G\xA6\xB8\n", "S", "K"), QString::fromUtf8("GΩ"));
}

// As editors on other systems save it: UTF-16 with its byte-order mark, either byte order.
TEST(SettingsUtf16, ReadAndWrittenBackInItsOwnEncoding) {
    const QString text =
        QString::fromUtf8("; \u00e9t\u00e9\r\n[Historyfile]\r\nNo1=&1   /data/\u00e9.db\r\n");
    for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        QStringEncoder encoder(encoding, QStringEncoder::Flag::WriteBom);
        const QByteArray file = encoder(text);
        EXPECT_EQ(read(file, "HistoryFile", "no1"), QString::fromUtf8("&1   /data/\u00e9.db"));

        const QByteArray changed =
            write(file, "Historyfile", "No2", QString::fromUtf8("&2   /b\u03a9.db"));
        QStringEncoder again(encoding, QStringEncoder::Flag::WriteBom);
        const QByteArray expected = again(text + QString::fromUtf8("No2=&2   /b\u03a9.db\r\n"));
        EXPECT_EQ(changed, expected) << "the same encoding, every other byte kept";
        EXPECT_EQ(read(changed, "Historyfile", "No2"), QString::fromUtf8("&2   /b\u03a9.db"));
    }
    // Damaged UTF-16 (half a character) is read as far as it goes but not rewritten.
    const QByteArray damaged = QByteArray("\xFF\xFE[\0S\0]\0\n\0K\0=\0v\0\n\0\x00\xD8", 20);
    EXPECT_EQ(read(damaged, "S", "K"), "v");
    EXPECT_FALSE(withProfileString(damaged, "S", "K", "w").ok());
}

TEST(SettingsWrite, ChangesOneLineAndKeepsEverythingElse) {
    const QByteArray after = write(kFile, "historyfile", "No1", QStringLiteral("&1   /x.db"));
    QByteArray expected = kFile;
    expected.replace("  no1 =   &1   /home/u/a.db  \r\n", "No1=&1   /x.db\r\n");
    EXPECT_EQ(after, expected);
    // Blanks of the value are written as they stand and trimmed when read.
    const QByteArray bare = write(after, "Historyfile", "No2", QStringLiteral("&2   "));
    EXPECT_TRUE(bare.contains("No2=&2   \r\n"));
    EXPECT_EQ(read(bare, "Historyfile", "No2"), "&2");
}

TEST(SettingsWrite, MissingKeyJoinsItsSectionMissingSectionGoesLast) {
    const QByteArray file = "[A]\nx=1\n\n[B]\ny=2\n";
    EXPECT_EQ(write(file, "a", "z", "3"), "[A]\nx=1\nz=3\n\n[B]\ny=2\n");
    EXPECT_EQ(write(file, "C", "k", "v"), "[A]\nx=1\n\n[B]\ny=2\n[C]\nk=v\n");
    // The file's own line ends; none yet gives the system's.
    EXPECT_EQ(write("[A]\r\nx=1\r\n", "A", "y", "2"), "[A]\r\nx=1\r\ny=2\r\n");
    EXPECT_EQ(write("[A]\r\nx=1", "A", "y", "2"), "[A]\r\nx=1\r\ny=2\r\n");
    EXPECT_EQ(write("[A]", "A", "y", "2"), "[A]\ny=2\n");
    EXPECT_EQ(write({}, "Historyfile", "No1", "&1   /a"), "[Historyfile]\nNo1=&1   /a\n");
    EXPECT_EQ(write("; only a comment", "S", "k", "v"), "; only a comment\n[S]\nk=v\n");
    // The template the build puts beside the program.
    const QByteArray tmpl =
        fileBytes(QStringLiteral(KX_SOURCE_DIR "/dist/templates/myseriesini.ini"));
    EXPECT_EQ(tmpl, "[Historyfile]\n");
    EXPECT_EQ(write(tmpl, "Historyfile", "No1", "&1   /a"), "[Historyfile]\nNo1=&1   /a\n");
}

TEST(SettingsWrite, RefusesWhatTheFormatCannotHold) {
    EXPECT_FALSE(withProfileString({}, "S", "K", "two\nlines").ok());
    EXPECT_FALSE(withProfileString({}, "S", "K", "cr\r").ok());
    EXPECT_FALSE(withProfileString({}, "S", "a=b", "v").ok());
    EXPECT_FALSE(withProfileString({}, "S", "", "v").ok());
    EXPECT_FALSE(withProfileString({}, "S]", "K", "v").ok());
    EXPECT_FALSE(withProfileString({}, "", "K", "v").ok());
    // A code page 936 file takes only what that code page can write.
    EXPECT_FALSE(withProfileString("[S]\nK=G\xA6\xB8\n", "S", "K", QString::fromUtf8("😀")).ok());
    const Result<QByteArray> cp =
        withProfileString("[S]\nK=G\xA6\xB8\n", "S", "L", QString::fromUtf8("MΩ"));
    ASSERT_TRUE(cp.ok());
    EXPECT_EQ(cp.value(), "[S]\nK=G\xA6\xB8\nL=M\xA6\xB8\n");
}

TEST(SettingsFileOnDisk, WritesThroughATemporaryAndRefusesReadOnlyFiles) {
    QTemporaryDir dir;
    const QString path = dir.filePath("myseriesini.ini");
    ASSERT_TRUE(putFile(path, "; mine\n[Historyfile]\n"));
    SettingsFile settings(path);
    EXPECT_TRUE(settings.exists());
    ASSERT_TRUE(settings.writeString("Historyfile", "No1", "&1   /a.db").ok());
    EXPECT_EQ(settings.readString("historyfile", "no1"), "&1   /a.db");
    EXPECT_EQ(fileBytes(path), "; mine\n[Historyfile]\nNo1=&1   /a.db\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{"myseriesini.ini"});

    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner));
    const Status s = settings.writeString("Historyfile", "No2", "&2   /b.db");
    ASSERT_FALSE(s.ok());
    EXPECT_TRUE(s.error().contains("read-only")) << s.error().toStdString();
    EXPECT_EQ(settings.readString("Historyfile", "No1"), "&1   /a.db");

    SettingsFile inFolder(dir.filePath("sub"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    EXPECT_FALSE(inFolder.exists());
    EXPECT_EQ(inFolder.readString("S", "K"), "");
    EXPECT_FALSE(inFolder.writeString("S", "K", "v").ok());
    EXPECT_FALSE(SettingsFile(dir.filePath("none/x.ini")).writeString("S", "K", "v").ok());

    const QString fifo = dir.filePath("pipe.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(SettingsFile(fifo).exists());
    EXPECT_EQ(SettingsFile(fifo).readString("S", "K"), "") << "no wait for a writer";
}

TEST(RecentFilesList, StartUpShowsEntriesLongerThanFourCharacters) {
    RecentFiles r;
    r.setStored({"", "", "", "", ""});
    EXPECT_FALSE(r.separatorVisible());
    for (int p = 1; p <= 5; ++p)
        EXPECT_FALSE(r.visible(p));

    // Only entry 3: shown, with no separator above it.
    r.setStored({"", "&2", "&3   /c.db", "abcd", "abcde"});
    EXPECT_FALSE(r.separatorVisible());
    EXPECT_FALSE(r.visible(2));
    EXPECT_TRUE(r.visible(3));
    EXPECT_EQ(r.caption(3), "&3   /c.db");
    EXPECT_FALSE(r.visible(4)) << "exactly four characters stay hidden";
    EXPECT_TRUE(r.visible(5)) << "five are shown";

    r.setStored({"&1   /a.db", "", "", "", ""});
    EXPECT_TRUE(r.separatorVisible());
}

TEST(RecentFilesList, OpeningShiftsTheListDown) {
    RecentFiles r;
    r.setStored({"", "", "&3   /three.db", "", ""});
    r.add("/new.db");
    EXPECT_TRUE(r.separatorVisible());
    EXPECT_EQ(r.caption(1), "&1   /new.db");
    EXPECT_EQ(r.caption(2), "&2   ") << "an entry that never held a file: its bare prefix";
    EXPECT_FALSE(r.visible(2));
    EXPECT_EQ(r.caption(3), "&3   ");
    EXPECT_EQ(r.caption(4), "&4   /three.db");
    EXPECT_TRUE(r.visible(4));

    RecentFiles six;
    for (int i = 1; i <= 6; ++i)
        six.add(QStringLiteral("/file%1.db").arg(i));
    for (int p = 1; p <= 5; ++p) {
        EXPECT_EQ(six.caption(p), QStringLiteral("&%1   /file%2.db").arg(p).arg(7 - p));
        EXPECT_TRUE(six.visible(p));
    }

    RecentFiles twice;
    twice.add("/same.db");
    twice.add("/same.db");
    EXPECT_EQ(twice.path(1), "/same.db");
    EXPECT_EQ(twice.path(2), "/same.db");
}

TEST(RecentFilesList, PathsAndMenuTexts) {
    EXPECT_EQ(RecentFiles::pathOf("&1   /home/u/a b.db"), "/home/u/a b.db");
    EXPECT_EQ(RecentFiles::pathOf("&1"), "");
    // A caption someone wrote without the prefix still names its file.
    EXPECT_EQ(RecentFiles::pathOf("/home/u/a.db"), "/home/u/a.db");
    EXPECT_EQ(RecentFiles::menuText("&1   /tmp/R&D/a&b.db"), "&1   /tmp/R&&D/a&&b.db");
    EXPECT_EQ(RecentFiles::pathOf("&1   /tmp/R&D/a&b.db"), "/tmp/R&D/a&b.db");
}

TEST(RecentFilesList, SavedAndReadBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath("myseriesini.ini");
    ASSERT_TRUE(putFile(path, "[Historyfile]\n[Other]\nkeep=1\n"));
    SettingsFile settings(path);
    RecentFiles r;
    r.load(settings);
    r.add("/a.db");
    r.add("/b.db");
    ASSERT_TRUE(r.save(settings).ok());
    EXPECT_EQ(fileBytes(path), "[Historyfile]\nNo1=&1   /b.db\nNo2=&2   /a.db\nNo3=&3   \n"
                               "No4=&4   \nNo5=&5   \n[Other]\nkeep=1\n");
    RecentFiles back;
    back.load(settings);
    EXPECT_EQ(back.caption(1), "&1   /b.db");
    EXPECT_EQ(back.caption(3), "&3");
    EXPECT_TRUE(back.visible(2));
    EXPECT_FALSE(back.visible(3));

    // The first key that cannot be written stops the rest.
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner));
    RecentFiles other;
    other.add("/c.db");
    const Status s = other.save(settings);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), "Unable to write to " + path);
}

// Two windows that read the same list: what each of them opened is kept when both leave,
// whichever leaves last.
TEST(RecentFilesList, TwoWindowsLeavingKeepWhatEachOpened) {
    const struct {
        const char* name;
        QStringList firstAdds, secondAdds;
        QStringList expected; // the paths listed at the end, entry 1 first
    } cases[] = {
        {"both opened files", {"/x.db"}, {"/y.db"}, {"/y.db", "/x.db", "/a.db", "/b.db"}},
        {"only the first", {"/x.db"}, {}, {"/x.db", "/a.db", "/b.db"}},
        {"the same file", {"/x.db"}, {"/x.db"}, {"/x.db", "/a.db", "/b.db"}},
        {"more than five",
         {"/1.db", "/2.db", "/3.db"},
         {"/4.db", "/5.db"},
         {"/5.db", "/4.db", "/3.db", "/2.db", "/1.db"}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("myseriesini.ini");
        ASSERT_TRUE(putFile(path, "[Historyfile]\nNo1=&1   /a.db\nNo2=&2   /b.db\n"));
        SettingsFile settings(path);
        RecentFiles first, second;
        first.load(settings);
        second.load(settings);
        for (const QString& p : k.firstAdds)
            first.add(p);
        for (const QString& p : k.secondAdds)
            second.add(p);
        ASSERT_TRUE(first.save(settings).ok());
        ASSERT_TRUE(second.save(settings).ok());
        RecentFiles back;
        back.load(settings);
        QStringList listed;
        for (int p = 1; p <= RecentFiles::kCount; ++p) {
            if (back.visible(p))
                listed << back.path(p);
        }
        EXPECT_EQ(listed, k.expected);
        EXPECT_EQ(second.path(1), k.expected[0]) << "the menu shows what was written";
    }
}

// An entry that no settings file can hold is dropped when read, so the list can be written
// again; the caller is given it to tell the user.
TEST(RecentFilesList, EntriesWithANulOrALineBreakAreDropped) {
    const struct {
        const char* name;
        QByteArray entry;
    } cases[] = {
        {"NUL", QByteArray("/tmp/a\0b.db", 11)},
        {"carriage return", "/tmp/a\rb.db"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("myseriesini.ini");
        ASSERT_TRUE(putFile(path, "[Historyfile]\nNo1=&1   " + k.entry + "\nNo2=&2   /good.db\n"));
        SettingsFile settings(path);
        RecentFiles r;
        const QStringList dropped = r.load(settings);
        ASSERT_EQ(dropped.size(), 1);
        EXPECT_TRUE(dropped[0].endsWith(QString::fromUtf8(k.entry)));
        EXPECT_FALSE(r.visible(1));
        EXPECT_EQ(r.path(2), "/good.db");
        ASSERT_TRUE(r.save(settings).ok());
        EXPECT_FALSE(fileBytes(path).contains(k.entry));
        EXPECT_TRUE(fileBytes(path).contains("/good.db"));
    }
}
