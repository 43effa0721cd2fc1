#include "recording/recording_journal.h"

#include "common/replacing_file.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "readings/table_file_io.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <algorithm>
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
// The lost line's field: wide enough for any record number, overwritten in place.
constexpr int kLostWidth = 11;
const std::string kNoneLost(kLostWidth, '-');

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
RecordingJournal::create(const QString& path, const std::optional<JournalBase>& base,
                         const QString& follows) {
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
    if (Status s = j->restart(base, follows); !s)
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

std::string RecordingJournal::line(const Reading& r) {
    return "R " + std::to_string(r.no) + ' ' +
           (r.msOfDay ? std::to_string(*r.msOfDay) : std::string("-")) + ' ' + hex(r.value) + ' ' +
           hex(r.unit) + ' ' + hex(r.function) + ' ' + hex(r.mode) + '\n';
}

Status RecordingJournal::append(const Reading& r) {
    return writeAll(line(r));
}

Status RecordingJournal::appendDeletion(std::int32_t no) {
    return writeAll("D " + std::to_string(no) + '\n');
}

std::string RecordingJournal::head() const {
    std::string start = kHeader;
    if (base_)
        start += "B " + std::to_string(base_->records) + ' ' +
                 (base_->highestNo ? std::to_string(*base_->highestNo) : std::string("-")) + '\n';
    if (!follows_.isEmpty())
        start += "F " + hex(follows_.toStdString()) + '\n';
    return start + "G " + kNoneLost + '\n';
}

Status RecordingJournal::restart(const std::optional<JournalBase>& base, const QString& follows) {
    if (fd_ < 0)
        return fail(QStringLiteral("The recording journal %1 is closed").arg(path_));
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) < 0)
        return fail(systemError(QStringLiteral("Cannot empty the recording journal"), path_));
    lastSyncMs_ = 0; // the header goes to disk at once
    base_ = base;
    follows_ = follows;
    const std::string start = head();
    lostAt_ = static_cast<off_t>(start.size()) - kLostWidth - 1;
    return writeAll(start);
}

void RecordingJournal::markLost(std::int32_t no) {
    if (fd_ < 0 || lostAt_ < 0 || no < 0)
        return;
    std::string field = std::to_string(no);
    field.insert(0, static_cast<std::size_t>(kLostWidth) - field.size(), '0');
    if (::pwrite(fd_, field.data(), field.size(), lostAt_) == static_cast<ssize_t>(field.size()))
        ::fdatasync(fd_);
}

Status RecordingJournal::rewrite(const std::vector<Reading>& readings) {
    if (fd_ < 0)
        return fail(QStringLiteral("The recording journal %1 is closed").arg(path_));
    std::string bytes = head();
    const off_t lostAt = static_cast<off_t>(bytes.size()) - kLostWidth - 1;
    for (const Reading& r : readings)
        bytes += line(r);
    Result<std::unique_ptr<ReplacingFile>> out = ReplacingFile::begin(path_);
    if (!out)
        return out.status();
    if (Status s = out.value()->writeAt(0, bytes.data(), static_cast<qint64>(bytes.size())); !s)
        return s;
    // The new file is locked before it takes the name, so it is never free for a recovery.
    const int fd = out.value()->takeLock();
    if (fd < 0) {
        out.value()->abandon();
        return fail(QStringLiteral("Cannot lock the recording journal %1").arg(path_));
    }
    if (Status s = out.value()->commit(); !s) {
        ::close(fd);
        return s;
    }
    ::lseek(fd, 0, SEEK_END);
    ::close(fd_);
    fd_ = fd;
    lostAt_ = lostAt;
    lastSyncMs_ = QDateTime::currentMSecsSinceEpoch();
    return {};
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
            out.damagedAfter.push_back(out.readings.empty() ? 0 : out.readings.back().no);
            break;
        }
        const QByteArrayView line = bytes.first(end);
        bytes = bytes.sliced(end + 1);
        const QList<QByteArray> f = line.toByteArray().split(' ');
        RecordingJournal::Reading r;
        bool ok = false;
        const bool atStart = std::exchange(first, false);
        if (f.size() == 2 && f[0] == "F") {
            std::string name;
            ok = fromHex(f[1], &name);
            if (ok)
                out.follows = QString::fromStdString(name);
        } else if (f.size() == 2 && f[0] == "G" && f[1].size() == kLostWidth) {
            std::int32_t no = 0;
            const bool none = f[1] == QByteArray::fromStdString(kNoneLost);
            ok = none || (toInt(f[1], &no) && no >= 0);
            if (ok && !none)
                out.lostFrom = no;
        } else if (atStart && f.size() == 3 && f[0] == "B") {
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
        if (!ok) {
            ++out.damagedLines;
            out.damagedAfter.push_back(out.readings.empty() ? 0 : out.readings.back().no);
        }
    }
    return out;
}

QStringList unrecoveredStretches(const JournalContents& contents) {
    QStringList out;
    if (contents.lostFrom)
        out << QStringLiteral("the readings from No. %1 on (the recording journal could not be "
                              "written)")
                   .arg(*contents.lostFrom);
    const std::int32_t last = contents.readings.empty() ? 0 : contents.readings.back().no;
    for (const std::int32_t no : contents.damagedAfter) {
        // The line cut short where the journal stopped is the first reading it lost.
        if (contents.lostFrom && no == last && *contents.lostFrom > last)
            continue;
        out << (no == 0 ? QStringLiteral("a damaged line before the first reading")
                        : QStringLiteral("a damaged line after reading No. %1").arg(no));
    }
    return out;
}

QString recoveredReadingsText(const std::vector<RecordingJournal::Reading>& readings) {
    if (readings.empty())
        return QStringLiteral("no readings");
    const auto [lo, hi] = std::minmax_element(
        readings.begin(), readings.end(), [](const auto& a, const auto& b) { return a.no < b.no; });
    const QString range = lo->no == hi->no
                              ? QStringLiteral("No. %1").arg(lo->no)
                              : QStringLiteral("No. %1\u2013%2").arg(lo->no).arg(hi->no);
    return (readings.size() == 1 ? QStringLiteral("1 reading")
                                 : QStringLiteral("%1 readings").arg(readings.size())) +
           QStringLiteral(" (%1)").arg(range);
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

QStringList unstartedJournals(const QString& folder) {
    QStringList out;
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("recording-*.journal")}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo& fi : files) {
        const int fd = ::open(QFile::encodeName(fi.filePath()).constData(),
                              O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 &&
            ::flock(fd, LOCK_SH | LOCK_NB) == 0)
            out << fi.filePath();
        ::close(fd);
    }
    return out;
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
