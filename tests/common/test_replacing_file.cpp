// The one writer every file goes through: what it refuses before any work, what a failed write
// leaves (the old file, no temporary, the path and the system's reason), modes and links,
// leftovers of killed saves, and a change of two files cut short between its renames.
#include "common/replacing_file.h"
#include "support/write_faults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kx;

namespace {

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QStringList namesIn(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

Status writeWhole(const QString& path, const QByteArray& bytes) {
    Result<std::unique_ptr<ReplacingFile>> f = ReplacingFile::begin(path);
    if (!f)
        return f.status();
    f.value()->write(bytes); // as a device: the writer remembers a failure itself
    return f.value()->commit();
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode;
}

} // namespace

TEST(WriteTarget, RefusedBeforeAnythingIsWritten) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("folder");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString fifo = dir.filePath("pipe.txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString readOnly = dir.filePath("ro.txt");
    put(readOnly, "keep");
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadOther));
    const QString socketPath = dir.filePath("sock");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, QFile::encodeName(socketPath).constData(),
                 sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    // A device node of our own, inside the test's folder, reached through a link.
    const QString device = dir.filePath("null");
    const bool haveDevice =
        ::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    ASSERT_TRUE(QFile::link(haveDevice ? device : fifo, dir.filePath("link.png")));

    struct Case {
        QString path;
        const char* said;
    };
    const Case cases[] = {
        {folder, "it is a folder, not a file"},
        {fifo, "it is a pipe, not a file"},
        {readOnly, "the file is read-only"},
        {socketPath, "it is a socket, not a file"},
        {dir.filePath("link.png"), haveDevice ? "it is a device, not a file" : "it is a pipe"},
        {dir.filePath("none/x.txt"), "the folder does not exist"},
    };
    const QStringList before = namesIn(dir.path());
    for (const Case& c : cases) {
        const Status s = writeWhole(c.path, "new");
        ASSERT_FALSE(s.ok()) << c.path.toStdString();
        EXPECT_TRUE(s.error().startsWith("Cannot write " + c.path + ": "))
            << s.error().toStdString();
        EXPECT_TRUE(s.error().contains(c.said)) << s.error().toStdString();
    }
    EXPECT_EQ(namesIn(dir.path()), before) << "nothing made, nothing replaced";
    EXPECT_EQ(bytesOf(readOnly), "keep");
    if (haveDevice) {
        EXPECT_TRUE(QFileInfo(device).exists() && !QFileInfo(device).isFile());
    }
    ::close(sock);
}

TEST(ReplacingFile, FailedWriteKeepsTheOldFileAndSaysWhy) {
    QTemporaryDir dir;
    const QString path = dir.filePath("old.txt");
    put(path, "the good old file");
    const QByteArray big(256 * 1024, 'x');
    {
        kxtest::FileSizeLimit limit(64 * 1024);
        Result<std::unique_ptr<ReplacingFile>> f = ReplacingFile::begin(path);
        ASSERT_TRUE(f.ok()) << f.error().toStdString();
        // A writer that ignores what write() returned (the PDF engine does) is still caught.
        f.value()->write(big);
        f.value()->write("more");
        const Status s = f.value()->commit();
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.error(), "Cannot write " + path + ": File too large");
    }
    EXPECT_EQ(bytesOf(path), "the good old file");
    EXPECT_EQ(namesIn(dir.path()), QStringList{"old.txt"}) << "no temporary left";
}

// The real thing where the system allows a small file system to be mounted.
TEST(ReplacingFile, FullDiskNamesThePathAndTheReason) {
    kxtest::SmallDisk disk(64);
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small file system here";
    const QString path = disk.filePath("old.txt");
    put(path, QByteArray(4000, 'o'));
    const Status s = writeWhole(path, QByteArray(256 * 1024, 'n'));
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), "Cannot write " + path + ": No space left on device");
    EXPECT_EQ(bytesOf(path), QByteArray(4000, 'o'));
    EXPECT_EQ(disk.names(), QStringList{"old.txt"});
}

TEST(ReplacingFile, KeepsModeOwnerAndGroup) {
    QTemporaryDir dir;
    const QString path = dir.filePath("private.db");
    put(path, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 4321, 8765), 0);
    }
    ASSERT_TRUE(writeWhole(path, "new").ok());
    EXPECT_EQ(bytesOf(path), "new");
    EXPECT_EQ(modeOf(path) & 07777, 0600u);
    if (root) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 8765u);
    }
}

TEST(ReplacingFile, WritesThroughSymbolicLinks) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("data/sub")));
    const QString real = dir.filePath("data/real.txt");
    put(real, "old");
    // A relative link, another link to it from a folder further down, and one to nothing yet.
    ASSERT_EQ(::symlink("data/real.txt", QFile::encodeName(dir.filePath("link.txt")).constData()),
              0);
    ASSERT_EQ(
        ::symlink("../../link.txt", QFile::encodeName(dir.filePath("data/sub/l2")).constData()), 0);
    ASSERT_EQ(::symlink("made.txt", QFile::encodeName(dir.filePath("data/dangling")).constData()),
              0);

    ASSERT_TRUE(writeWhole(dir.filePath("data/sub/l2"), "new").ok());
    EXPECT_EQ(bytesOf(real), "new");
    EXPECT_TRUE(QFileInfo(dir.filePath("link.txt")).isSymLink());
    EXPECT_TRUE(QFileInfo(dir.filePath("data/sub/l2")).isSymLink());

    ASSERT_TRUE(writeWhole(dir.filePath("data/dangling"), "made").ok());
    EXPECT_TRUE(QFileInfo(dir.filePath("data/dangling")).isSymLink());
    EXPECT_EQ(bytesOf(dir.filePath("data/made.txt")), "made");

    // A link to a read-only file is refused like the file.
    ASSERT_TRUE(QFile::setPermissions(real, QFile::ReadOwner));
    EXPECT_FALSE(writeWhole(dir.filePath("link.txt"), "x").ok());
    EXPECT_EQ(bytesOf(real), "new");

    // Links that go round in a circle.
    ASSERT_EQ(::symlink("b", QFile::encodeName(dir.filePath("a")).constData()), 0);
    ASSERT_EQ(::symlink("a", QFile::encodeName(dir.filePath("b")).constData()), 0);
    const Status loop = writeWhole(dir.filePath("a"), "x");
    ASSERT_FALSE(loop.ok());
    EXPECT_TRUE(loop.error().contains("symbolic links")) << loop.error().toStdString();
}

// A library that writes a file only by its name writes the temporary one; what it wrote is
// put in place with the old file's mode, and a temporary swapped for another file is refused.
TEST(ReplacingFile, TakesWhatALibraryWroteByName) {
    QTemporaryDir dir;
    const QString path = dir.filePath("book.xlsx");
    put(path, "old");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    {
        Result<std::unique_ptr<ReplacingFile>> f = ReplacingFile::begin(path);
        ASSERT_TRUE(f.ok()) << f.error().toStdString();
        put(f.value()->temporaryPath(), "written by name"); // opens, truncates, closes
        ASSERT_TRUE(f.value()->adoptWrittenFile().ok());
        EXPECT_EQ(f.value()->size(), 15);
        ASSERT_TRUE(f.value()->commit().ok());
    }
    EXPECT_EQ(bytesOf(path), "written by name");
    EXPECT_EQ(modeOf(path) & 07777, 0640u);
    EXPECT_EQ(namesIn(dir.path()), QStringList{"book.xlsx"});

    Result<std::unique_ptr<ReplacingFile>> f = ReplacingFile::begin(path);
    ASSERT_TRUE(f.ok());
    const QString temp = f.value()->temporaryPath();
    const QString other = dir.filePath("other");
    put(other, "not ours");
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(temp).constData()),
              0);
    const Status s = f.value()->adoptWrittenFile();
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(),
              "Cannot write " + path + ": its temporary file was replaced while it was written");
    EXPECT_FALSE(f.value()->commit().ok()) << "the failure stays";
    EXPECT_EQ(bytesOf(path), "written by name");
}

TEST(ReplacingFile, SweepsLeftoversOfKilledSavesOnly) {
    QTemporaryDir dir;
    const QString path = dir.filePath("x.txt");
    put(path, "old");
    const QStringList dead = {".x.txt.0123abcd.tmp", ".x.txt.89ef4567.old"};
    const QStringList kept = {".x.txt.fedcba98.tmp", // held by a live save
                              ".y.txt.0123abcd.tmp", // another file's
                              ".x.txt.tmp",          // not our naming
                              ".x.txt.0123ABCD.tmp", "x.txt.0123abcd.tmp"};
    for (const QString& n : dead + kept)
        put(dir.filePath(n), "left");
    const int held = ::open(QFile::encodeName(dir.filePath(kept[0])).constData(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    ASSERT_TRUE(writeWhole(path, "new").ok());
    ::close(held);
    for (const QString& n : dead)
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(n))) << n.toStdString();
    for (const QString& n : kept)
        EXPECT_TRUE(QFileInfo::exists(dir.filePath(n))) << n.toStdString();
    EXPECT_EQ(bytesOf(path), "new");
}

namespace {

int killAt = -1;
bool dieAtStep(int step) {
    return step != killAt;
}

struct Killed {
    explicit Killed(int step) {
        killAt = step;
        testhooks::setStepFunction(&dieAtStep);
    }
    ~Killed() { testhooks::setStepFunction(nullptr); }
};

// Replaces a and b, and removes c, in one change.
Status changePair(const QString& a, const QString& b, const QStringList& remove,
                  const QByteArray& text) {
    Result<std::unique_ptr<ReplacingFile>> fa = ReplacingFile::begin(a);
    Result<std::unique_ptr<ReplacingFile>> fb = ReplacingFile::begin(b);
    if (!fa || !fb)
        return fail(QStringLiteral("cannot begin"));
    fa.value()->write(text + "-a");
    fb.value()->write(text + "-b");
    return commitTogether({fa.value().get(), fb.value().get()}, remove);
}

} // namespace

TEST(ReplacingFile, ChangeCutShortBetweenRenamesIsFinished) {
    for (int step : {0, 1, 2}) {
        QTemporaryDir dir;
        const QString a = dir.filePath("t.db"), b = dir.filePath("t.px"), c = dir.filePath("t.PX");
        put(a, "old-a");
        put(b, "old-b");
        put(c, "stale");
        {
            Killed killed(step);
            const Status s = changePair(a, b, {c}, "new");
            ASSERT_FALSE(s.ok()) << step;
        }
        EXPECT_TRUE(QFileInfo::exists(dir.filePath(".t.db.commit"))) << step;
        EXPECT_EQ(bytesOf(a), step >= 1 ? "new-a" : "old-a") << step;
        ASSERT_TRUE(finishInterruptedReplace(a).ok()) << step;
        EXPECT_EQ(bytesOf(a), "new-a") << step;
        EXPECT_EQ(bytesOf(b), "new-b") << step;
        // A file of the table's that the change removes goes too (an older table's details
        // must not stay with the new one).
        EXPECT_EQ(namesIn(dir.path()), (QStringList{"t.db", "t.px"})) << step;
    }
}

TEST(ReplacingFile, ChangeUnderWayIsLeftToItsWriter) {
    QTemporaryDir dir;
    const QString a = dir.filePath("t.db"), b = dir.filePath("t.px");
    put(a, "old-a");
    put(b, "old-b");
    {
        Killed killed(1);
        ASSERT_FALSE(changePair(a, b, {}, "new").ok());
    }
    // A live process holds the marker: nothing is touched, not even by a sweep.
    const QString marker = dir.filePath(".t.db.commit");
    const int fd = ::open(QFile::encodeName(marker).constData(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_TRUE(finishInterruptedReplace(a).ok());
    EXPECT_EQ(bytesOf(b), "old-b");
    // A save of the index begun meanwhile sweeps nothing the change still needs.
    ASSERT_TRUE(ReplacingFile::begin(b).ok());
    ::close(fd);
    // Its writer gone, the next one to open it finishes the change.
    EXPECT_TRUE(finishInterruptedReplace(a).ok());
    EXPECT_EQ(bytesOf(b), "new-b");
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"t.db", "t.px"}));
}

// A change finds a marker beside its first target when it comes to list itself: a live save's
// (held locked) stops it with the old files and the other save's files left alone; one left by
// a change cut short is finished first, and then this change goes through.
TEST(ReplacingFile, ChangeMeetsAMarkerAlreadyThere) {
    struct Case {
        bool held;
        const char* message;
        QStringList names;
    };
    const Case cases[] = {
        {true,
         "another save of it is under way",
         {".t.db.0000abcd.tmp", ".t.db.commit", "t.db", "t.px"}},
        {false, "", {"t.db", "t.px"}},
    };
    for (const Case& c : cases) {
        QTemporaryDir tmp;
        const QDir dir(QFileInfo(tmp.path()).canonicalFilePath());
        const QString a = dir.filePath("t.db"), b = dir.filePath("t.px");
        const QString marker = dir.filePath(".t.db.commit");
        const QString earlier = dir.filePath(".t.db.0000abcd.tmp");
        put(a, "old-a");
        put(b, "old-b");
        Result<std::unique_ptr<ReplacingFile>> fa = ReplacingFile::begin(a);
        Result<std::unique_ptr<ReplacingFile>> fb = ReplacingFile::begin(b);
        ASSERT_TRUE(fa && fb);
        fa.value()->write("new-a");
        fb.value()->write("new-b");
        put(earlier, "earlier");
        put(marker, "kxlink-replace 1\nreplace " + QFile::encodeName(earlier).toPercentEncoding() +
                        " " + QFile::encodeName(a).toPercentEncoding() + "\n");
        const int fd = ::open(QFile::encodeName(marker).constData(), O_RDONLY);
        ASSERT_GE(fd, 0);
        if (c.held) {
            ASSERT_EQ(::flock(fd, LOCK_EX), 0);
        }
        const Status s = commitTogether({fa.value().get(), fb.value().get()});
        ::close(fd);
        EXPECT_EQ(s.ok(), !c.held) << s.error().toStdString();
        EXPECT_TRUE(s.error().contains(QLatin1String(c.message))) << s.error().toStdString();
        EXPECT_EQ(bytesOf(a), c.held ? "old-a" : "new-a");
        EXPECT_EQ(bytesOf(b), c.held ? "old-b" : "new-b");
        QStringList names = namesIn(dir.path());
        names.sort();
        EXPECT_EQ(names, c.names) << c.held;
    }
}

TEST(ReplacingFile, MarkersNotOfOurMakingAreNotFollowed) {
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString a = dir.filePath("t.db");
    auto enc = [](const QString& p) { return QFile::encodeName(p).toPercentEncoding(); };
    const QString ourTemp = dir.filePath(".t.db.0000abcd.tmp");
    const QString farTemp = elsewhere.filePath(".t.db.0000abcd.tmp");
    const QByteArray bad[] = {
        // a file that is no temporary of ours
        "replace " + enc(dir.filePath("victim")) + " " + enc(a),
        // a temporary in another folder, and a target there
        "replace " + enc(farTemp) + " " + enc(a),
        "replace " + enc(ourTemp) + " " + enc(a) + "\nreplace " + enc(farTemp) + " " +
            enc(elsewhere.filePath("t.db")),
        // a removal of a file that is not the table's (nor in its folder, nor the table
        // itself), a backup not of our naming, a path with a NUL or dots in it
        "replace " + enc(ourTemp) + " " + enc(a) + "\nremove " + enc(dir.filePath("victim")),
        "replace " + enc(ourTemp) + " " + enc(a) + "\nremove " + enc(elsewhere.filePath("t.px")),
        "replace " + enc(ourTemp) + " " + enc(a) + "\nremove " + enc(a),
        "replace " + enc(ourTemp) + " " + enc(a) + "\nbackup " + enc(dir.filePath("victim")),
        "replace " + enc(ourTemp) + " " + enc(a) + "%00" + enc("/x"),
        "replace " + enc(dir.filePath("sub/../.t.db.0000abcd.tmp")) + " " + enc(a),
    };
    for (const QByteArray& body : bad) {
        put(a, "mine");
        put(dir.filePath("victim"), "keep");
        put(ourTemp, "ours");
        put(farTemp, "far");
        put(dir.filePath(".t.db.commit"), "kxlink-replace 1\n" + body + "\n");
        EXPECT_FALSE(finishInterruptedReplace(a).ok()) << body.constData();
        EXPECT_EQ(bytesOf(a), "mine");
        EXPECT_EQ(bytesOf(dir.filePath("victim")), "keep");
        EXPECT_EQ(bytesOf(farTemp), "far");
        EXPECT_EQ(bytesOf(elsewhere.filePath("t.db")), "<missing>");
    }
}

namespace {

int faultCalls = 0;
int failingFsync(int) {
    ++faultCalls;
    errno = EIO;
    return -1;
}
int failingClose(int fd) {
    ::close(fd);
    return failingFsync(fd);
}
int failingRename(const char*, const char*) {
    return failingFsync(-1);
}

} // namespace

// A flush to disk or a close that fails is a failed save, as a failed rename is: a file whose
// data may not be on disk never takes the target's name.
TEST(ReplacingFile, FailedFlushCloseOrRenameKeepsTheOldFiles) {
    const std::pair<const char*, void (*)(bool)> faults[] = {
        {"fsync", [](bool on) { testhooks::setFsyncFunction(on ? &failingFsync : nullptr); }},
        {"close", [](bool on) { testhooks::setCloseFunction(on ? &failingClose : nullptr); }},
        {"rename", [](bool on) { testhooks::setRenameFunction(on ? &failingRename : nullptr); }},
    };
    for (const auto& [name, set] : faults) {
        for (const bool pair : {false, true}) {
            SCOPED_TRACE(std::string(name) + (pair ? " of a pair" : " of one file"));
            QTemporaryDir dir;
            const QString a = dir.filePath("t.db"), b = dir.filePath("t.px");
            put(a, "old-a");
            put(b, "old-b");
            faultCalls = 0;
            set(true);
            const Status s = pair ? changePair(a, b, {}, "new") : writeWhole(a, "new-a");
            set(false);
            EXPECT_GT(faultCalls, 0) << "the save never came to this step";
            EXPECT_EQ(s.error(), "Cannot write " + a + ": Input/output error");
            EXPECT_EQ(bytesOf(a), "old-a");
            EXPECT_EQ(bytesOf(b), "old-b");
            EXPECT_EQ(namesIn(dir.path()), (QStringList{"t.db", "t.px"})) << "no temporary left";
        }
    }
}
