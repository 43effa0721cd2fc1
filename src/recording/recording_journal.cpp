#include "recording/recording_journal.h"

#include "recording/readings_schema.h"
#include "recording/readings_table.h"
#include "recording/table_file_io.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <set>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kx {
namespace {

constexpr char kHeader[] = "KXJOURNAL 1\n";
// How often the journal is forced to disk; every reading reaches the system at once.
constexpr std::int64_t kSyncEveryMs = 5000;

QString systemError(const QString& what, const QString& path) {
    return QStringLiteral("%1 %2: %3")
        .arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

std::string hex(const std::string& s) {
    return QByteArray::fromRawData(s.data(), static_cast<qsizetype>(s.size()))
        .toHex()
        .toStdString();
}

bool fromHex(QByteArrayView h, std::string* out) {
    if (h.size() % 2 != 0)
        return false;
    for (const char c : h) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    *out = QByteArray::fromHex(h.toByteArray()).toStdString();
    return true;
}

bool toInt(QByteArrayView t, std::int32_t* out) {
    bool ok = false;
    const int v = t.toByteArray().toInt(&ok, 10);
    if (ok)
        *out = v;
    return ok;
}

} // namespace

Result<std::unique_ptr<RecordingJournal>>
RecordingJournal::create(const QString& path, const std::optional<JournalBase>& base) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return fail(systemError(QStringLiteral("Cannot create the recording journal"), path));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(
            QStringLiteral("Cannot use %1 as the recording journal: not a regular file").arg(path));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return fail(
            QStringLiteral("The recording journal %1 is in use by another program").arg(path));
    }
    std::unique_ptr<RecordingJournal> j(new RecordingJournal(path, fd));
    if (Status s = j->restart(base); !s)
        return fail(s.error());
    return j;
}

RecordingJournal::~RecordingJournal() {
    if (fd_ >= 0) {
        ::fdatasync(fd_);
        ::close(fd_);
    }
}

Status RecordingJournal::writeAll(const std::string& bytes) {
    if (fd_ < 0)
        return fail(QStringLiteral("The recording journal %1 is closed").arg(path_));
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(systemError(QStringLiteral("Cannot write the recording journal"), path_));
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    syncIfDue();
    return {};
}

void RecordingJournal::syncIfDue() {
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (now - lastSyncMs_ >= kSyncEveryMs) {
        ::fdatasync(fd_);
        lastSyncMs_ = now;
    }
}

Status RecordingJournal::append(const Reading& r) {
    std::string line = "R " + std::to_string(r.no) + ' ' +
                       (r.msOfDay ? std::to_string(*r.msOfDay) : std::string("-")) + ' ' +
                       hex(r.value) + ' ' + hex(r.unit) + ' ' + hex(r.function) + ' ' +
                       hex(r.mode) + '\n';
    return writeAll(line);
}

Status RecordingJournal::appendDeletion(std::int32_t no) {
    return writeAll("D " + std::to_string(no) + '\n');
}

Status RecordingJournal::restart(const std::optional<JournalBase>& base) {
    if (fd_ < 0)
        return fail(QStringLiteral("The recording journal %1 is closed").arg(path_));
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) < 0)
        return fail(systemError(QStringLiteral("Cannot empty the recording journal"), path_));
    lastSyncMs_ = 0; // the header goes to disk at once
    std::string start = kHeader;
    if (base)
        start += "B " + std::to_string(base->records) + ' ' +
                 (base->highestNo ? std::to_string(*base->highestNo) : std::string("-")) + '\n';
    return writeAll(start);
}

Status RecordingJournal::finish() {
    if (fd_ < 0)
        return {};
    // Removed while still locked, so no other program sees it half-way.
    const bool removed = ::unlink(QFile::encodeName(path_).constData()) == 0 || errno == ENOENT;
    const QString error =
        removed ? QString()
                : systemError(QStringLiteral("Cannot remove the recording journal"), path_);
    ::close(fd_);
    fd_ = -1;
    if (!removed)
        return fail(error);
    return {};
}

JournalContents parseJournal(QByteArrayView bytes) {
    JournalContents out;
    const QByteArrayView header(kHeader, sizeof kHeader - 1);
    if (!bytes.startsWith(header))
        return out;
    out.recognised = true;
    bytes = bytes.sliced(header.size());
    bool first = true;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        if (end < 0) { // cut short by a crash
            ++out.damagedLines;
            break;
        }
        const QByteArrayView line = bytes.first(end);
        bytes = bytes.sliced(end + 1);
        const QList<QByteArray> f = line.toByteArray().split(' ');
        RecordingJournal::Reading r;
        bool ok = false;
        const bool atStart = std::exchange(first, false);
        if (atStart && f.size() == 3 && f[0] == "B") {
            // The table the readings follow is named before any reading.
            JournalBase base;
            bool counted = false;
            base.records = f[1].toLongLong(&counted);
            std::int32_t highest = 0;
            ok = counted && base.records >= 0 && (f[2] == "-" || toInt(f[2], &highest));
            if (f[2] != "-")
                base.highestNo = highest;
            if (ok)
                out.base = base;
        } else if (f.size() == 7 && f[0] == "R") {
            ok = toInt(f[1], &r.no);
            if (ok && f[2] != "-") {
                std::int32_t ms = 0;
                ok = toInt(f[2], &ms) && ms >= 0 && ms < 86'400'000;
                r.msOfDay = ms;
            }
            ok = ok && fromHex(f[3], &r.value) && fromHex(f[4], &r.unit) &&
                 fromHex(f[5], &r.function) && fromHex(f[6], &r.mode);
            if (ok)
                out.readings.push_back(std::move(r));
        } else if (f.size() == 2 && f[0] == "D") {
            std::int32_t no = 0;
            ok = toInt(f[1], &no);
            if (ok) {
                // The last reading of that number is the one the user deleted.
                for (auto it = out.readings.rbegin(); it != out.readings.rend(); ++it) {
                    if (it->no == no) {
                        out.readings.erase(std::next(it).base());
                        break;
                    }
                }
            }
        }
        if (!ok)
            ++out.damagedLines;
    }
    return out;
}

QStringList leftOverJournals(const QString& folder) {
    QStringList out;
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("recording-*.journal")}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& fi : files) {
        if (journalLeftOver(fi.filePath()))
            out << fi.filePath();
    }
    return out;
}

QString newJournalPath(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("recording-%1-%2.journal")
                                     .arg(QDateTime::currentMSecsSinceEpoch())
                                     .arg(::getpid()));
}

namespace {

enum class JournalUse { Absent, LeftOver, InUse };

// Whether a journal with something in it lies at `path`, and whether a running program holds it.
JournalUse journalUse(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return JournalUse::Absent;
    struct stat st {};
    JournalUse use = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0
                         ? JournalUse::LeftOver
                         : JournalUse::Absent;
    if (use == JournalUse::LeftOver && ::flock(fd, LOCK_SH | LOCK_NB) != 0)
        use = JournalUse::InUse;
    ::close(fd);
    return use;
}

} // namespace

bool journalLeftOver(const QString& path) {
    return journalUse(path) == JournalUse::LeftOver;
}

bool journalInUse(const QString& path) {
    return journalUse(path) == JournalUse::InUse;
}

} // namespace kx

namespace kx {
namespace {

// Fills a table with no file behind it with the readings; numbers that repeat (the journal
// of a recording whose numbering was restarted) are renumbered from 1 so the key holds.
Status fillTable(ReadingsTable& t, const std::vector<RecordingJournal::Reading>& readings) {
    std::set<std::int32_t> seen;
    bool unique = true;
    for (const RecordingJournal::Reading& r : readings)
        unique = unique && seen.insert(r.no).second;
    t.openScratch(readingsFields());
    std::int32_t next = 1;
    for (RecordingJournal::Reading r : readings) {
        if (!unique)
            r.no = next++;
        if (Status s = t.appendReading(r); !s)
            return s;
    }
    return {};
}

} // namespace

Result<QString> recoverJournal(const QString& journalPath, const QString& folder,
                               const QDateTime& now) {
    QFile f(journalPath);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read the recording journal %1: %2")
                        .arg(journalPath, f.errorString()));
    const JournalContents contents = parseJournal(f.readAll());
    f.close();
    QString target;
    if (!contents.readings.empty()) {
        ReadingsTable table;
        if (Status s = fillTable(table, contents.readings); !s)
            return fail(s.error());
        const QString stem =
            QStringLiteral("recovered-") + now.toString(QStringLiteral("yyMMddHHmm"));
        target = QDir(folder).filePath(stem + QStringLiteral(".db"));
        for (int n = 2; QFileInfo::exists(target); ++n)
            target = QDir(folder).filePath(stem + QStringLiteral("-%1.db").arg(n));
        if (Status s = saveKeyedCopy(table, target); !s)
            return fail(s.error());
    }
    if (!QFile::remove(journalPath) && QFileInfo::exists(journalPath))
        return fail(QStringLiteral("Cannot remove the recording journal %1").arg(journalPath));
    return target;
}

} // namespace kx
